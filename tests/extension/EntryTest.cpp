/*
 * The real Orvik_qx4.dll in the reference host: admission and refusal, what it
 * registers, what it leaves out without a usable card setup, and shut-down.
 */
#include <gtest/gtest.h>

#include "sim/card/SimCard.h"
#include "sim/host/RefHost.h"

#include <cstring>
#include <string>

#define EXTENSION_DLL "Orvik_qx4.dll"

class Entry : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(1, SimCard_Reset(nullptr));
        RefHost_ClearJournal();
        RefHost_ClearRefusals();
        RefHost_FailDefineDllModule(0);
        RefHost_FailDefineDllVariable(nullptr);
        ASSERT_EQ(1, RefHost_Create(GetModuleHandleA(nullptr), 0));
        menuItemsBefore = GetMenuItemCount(RefHost_MainMenu());
    }
    void TearDown() override {
        RefHost_ClearRefusals();
        RefHost_FailDefineDllModule(0);
        RefHost_FailDefineDllVariable(nullptr);
        RefHost_Destroy();
    }
    static size_t Lookups(void) {
        return RefHost_CountKind(J_GETVAR) + RefHost_CountKind(J_GETFUNC);
    }
    static bool NotifyWindowExists(void) {
        return FindWindowA("DK08MSGPROC", "GETMSG") != nullptr;
    }
    int menuItemsBefore = 0;
};

TEST_F(Entry, RefusalsAtEachStageOfTheLookup) {
    static const struct {
        const char* refused; /* name the host does not know */
        LONG result;
        size_t lookups;
        size_t moduleDefinitions;
    } cases[] = {
        {"hInstOrvik", 0, 1, 0},                                    /* the first variable */
        {"DateTrenn", 0, 22, 0},                                    /* a required variable */
        {"bDateYearLong", 1, 161, 1},                               /* optional: stored as 0 */
        {"bTimeLeadingZero", 1, 161, 1}, {"NewMemAlloc", 0, 60, 0}, /* the first function */
        {"TimeBaseDialog", 0, 161, 0},                              /* the last function */
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        RefHost_Destroy();
        RefHost_ClearJournal();
        ASSERT_EQ(1, RefHost_Create(GetModuleHandleA(nullptr), 0));
        RefHost_ClearRefusals();
        RefHost_RefuseName(c.refused);
        EXPECT_EQ(c.result, RefHost_LoadExtension(EXTENSION_DLL));
        EXPECT_EQ(c.lookups, Lookups());
        EXPECT_EQ(c.moduleDefinitions, RefHost_CountCalls("DefineDllModule"));
        EXPECT_EQ(c.result == 1, NotifyWindowExists());
        RefHost_UnloadExtension();
        RefHost_ClearRefusals();
    }
}

TEST_F(Entry, FailedRegistrationWithTheHostRefusesAdmission) {
    RefHost_FailDefineDllModule(1);
    EXPECT_EQ(0, RefHost_LoadExtension(EXTENSION_DLL));
    EXPECT_EQ(0u, RefHost_CountCalls("DefineDllVariable"));
    EXPECT_FALSE(NotifyWindowExists());
    RefHost_UnloadExtension();

    RefHost_FailDefineDllModule(0);
    RefHost_ClearJournal();
    RefHost_FailDefineDllVariable("bAnimation");
    EXPECT_EQ(0, RefHost_LoadExtension(EXTENSION_DLL));
    EXPECT_EQ(3u, RefHost_CountCalls("DefineDllVariable")); /* the third one failed */
    EXPECT_FALSE(NotifyWindowExists());
    EXPECT_EQ(menuItemsBefore, GetMenuItemCount(RefHost_MainMenu()));
    RefHost_UnloadExtension();
}

TEST_F(Entry, AdmittedExtensionRegistersVariablesMenuAndModuleClass) {
    ASSERT_EQ(1, RefHost_LoadExtension(EXTENSION_DLL));
    static const struct {
        const char* name;
        DWORD size;
    } kVariables[] = {
        {"fGlobalMilliSecondsPerSample", 8},
        {"uiGlobalBlockSize", 4},
        {"bAnimation", 4},
        {"bExperimentIsRunning", 4},
        {"bExperimentIsPaused", 4},
        {"dwExperimentStartTimeTicks", 4},
        {"BBoxModul", 4},
    };
    for (const auto& v : kVariables) {
        SCOPED_TRACE(v.name);
        EXPECT_NE(nullptr, RefHost_VariableAddress(v.name));
        EXPECT_EQ(v.size, RefHost_VariableSize(v.name));
    }
    EXPECT_EQ(7u, RefHost_CountCalls("DefineDllVariable"));

    HMENU menu = RefHost_MainMenu();
    ASSERT_EQ(menuItemsBefore + 1, GetMenuItemCount(menu));
    char title[32] = "";
    GetMenuStringA(menu, 3, title, sizeof title, MF_BYPOSITION);
    EXPECT_STREQ("VELMO(&V)", title);
    HMENU popup = GetSubMenu(menu, 3);
    ASSERT_NE(nullptr, popup);
    EXPECT_EQ(CMD_CREATE_DK08_MODULE, GetMenuItemID(popup, 0));
    EXPECT_EQ(4990u, RefHost_MenuEntryCommand());

    const ModuleClassDescriptor* d = RefHost_ModuleClass();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(GetModuleHandleA(EXTENSION_DLL), d->instance);
    EXPECT_STREQ("VL:MMDK08", d->classKey);
    EXPECT_EQ(208u, d->settingsSize);
    EXPECT_EQ(0u, d->reserved12);
    EXPECT_EQ(12u, d->channelStateSize);
    EXPECT_EQ(2951u, d->createCommand);
    EXPECT_STREQ("RZX-DK08 ", d->shortName);
    EXPECT_STREQ("RZX-DK08", d->longName);
    BITMAP small, large;
    ASSERT_TRUE(GetObjectA(d->smallPicture, sizeof small, &small));
    ASSERT_TRUE(GetObjectA(d->largePicture, sizeof large, &large));
    EXPECT_EQ(26, small.bmWidth);
    EXPECT_EQ(24, small.bmHeight);
    EXPECT_EQ(64, large.bmWidth);
    EXPECT_EQ(46, large.bmHeight);
    EXPECT_NE(nullptr, d->eventHandler);
    EXPECT_NE(nullptr, d->process);

    WNDCLASSA cls;
    HINSTANCE dll = GetModuleHandleA(EXTENSION_DLL);
    EXPECT_TRUE(GetClassInfoA(dll, "OLM:CONTROLKANAL", &cls));
    EXPECT_TRUE(GetClassInfoA(dll, "OLM:CONTROLLESSMORE", &cls));

    EXPECT_EQ(1, RefHost_UnloadExtension());
    EXPECT_EQ(0u, RefHost_CountCalls("DeleteStackedObject")); /* no dialog font was made */
    EXPECT_FALSE(NotifyWindowExists());
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION));
}

TEST_F(Entry, NoUsableCardSetupStillAdmitsWithoutMenuOrModuleClass) {
    /* A notification window class already registered for the host instance
       leaves out the card and module set-up, as a missing driver does. */
    WNDCLASSA cls;
    memset(&cls, 0, sizeof cls);
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "DK08MSGPROC";
    ASSERT_TRUE(RegisterClassA(&cls));
    SimCard_ClearTrace();
    EXPECT_EQ(1, RefHost_LoadExtension(EXTENSION_DLL));
    EXPECT_EQ(nullptr, RefHost_ModuleClass());
    EXPECT_EQ(menuItemsBefore, GetMenuItemCount(RefHost_MainMenu()));
    EXPECT_EQ(0u, SimCard_TraceCount());
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(EXTENSION_DLL), "OLM:CONTROLKANAL", &cls));
    EXPECT_EQ(1, RefHost_UnloadExtension());
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "DK08MSGPROC", &cls)); /* not ours */
    UnregisterClassA("DK08MSGPROC", GetModuleHandleA(nullptr));
}
