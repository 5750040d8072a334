/*
 * What the reference host's tests share: a fixture that creates and destroys
 * the host, the host's services fetched through the lookup protocol as the
 * extension fetches them, and a module class of the test's own for tests that
 * do not need the extension.
 */
#pragma once

#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "sim/host/RefHost.h"

/* A host service by name, exactly as the extension obtains it. */
template <typename T> T Service(const char* name) {
    LRESULT address =
        SendMessageA(RefHost_MainWindow(), HM_GETFUNC, 0, reinterpret_cast<LPARAM>(name));
    return reinterpret_cast<T>(address);
}

/* The test's module class: records the events it gets and answers each with
   the result the test sets (1 unless told). */
struct FakeClass {
    static std::vector<UINT> events;
    static LONG answer[256];
    static int processCalls;
    static LONG WINAPI Event(void* record, UINT code, DWORD, DWORD) {
        events.push_back(code);
        ModuleRecord* module = static_cast<ModuleRecord*>(record);
        if (code == ME_CREATE && answer[code] == 1) {
            module->outputCount = 2; /* as a module on an input port does */
        }
        return code < 256 ? answer[code] : 1;
    }
    /* Takes every waiting input block, as a module on an output port does. */
    static LONG WINAPI Process(void* record) {
        ++processCalls;
        ModuleRecord* module = static_cast<ModuleRecord*>(record);
        for (UINT i = 0; i < module->inputCount; ++i) {
            if (Service<PFN_GetInputBlock>("GetInputBlock")(record, i)) {
                Service<PFN_NewReleaseInputBlock>("NewReleaseInputBlock")(record, i, "fake", 1);
            }
        }
        return 1;
    }
    static void Register(void) {
        events.clear();
        processCalls = 0;
        for (LONG& a : answer) {
            a = 1;
        }
        static ModuleClassDescriptor descriptor;
        std::memset(&descriptor, 0, sizeof descriptor);
        descriptor.settingsSize = sizeof(ModuleSettings);
        descriptor.channelStateSize = sizeof(ChannelState);
        descriptor.createCommand = CMD_CREATE_DK08_MODULE;
        descriptor.shortName = "TEST ";
        descriptor.longName = "test class";
        descriptor.eventHandler = Event;
        descriptor.process = Process;
        Service<PFN_RegisterModuleClass>("RegisterModuleClass")(&descriptor);
    }
};

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(1, RefHost_Create(GetModuleHandleA(nullptr), 0));
        RefHost_ClearJournal();
    }
    void TearDown() override {
        RefHost_Destroy();
    }
    /* The journal's violations, one per line, for failure messages. */
    static std::string Violations(void) {
        std::string text;
        for (size_t i = 0; i < RefHost_JournalSize(); ++i) {
            const JournalEntry* e = RefHost_JournalEntry(i);
            if (e->kind == J_VIOLATION) {
                text += e->text;
                text += "\n";
            }
        }
        return text;
    }
    static int LastViolationContains(const char* words) {
        for (size_t i = RefHost_JournalSize(); i-- > 0;) {
            const JournalEntry* e = RefHost_JournalEntry(i);
            if (e->kind == J_VIOLATION) {
                return std::strstr(e->text, words) != nullptr;
            }
        }
        return 0;
    }
};

/* The 208 bytes of a ModuleSettings as a worksheet stores them (upper-case hex). */
std::string SettingsToHex(const ModuleSettings& settings);
/* A worksheet module block in the hex form, channels named D0..D7; counts holds
   the block's lines between the name and the settings. */
std::string HexModule(const char* name, const char* counts, WORD socket, DWORD port);
/* A file's bytes, or an empty string when it cannot be read. */
std::string ReadWholeFile(const std::string& path);
