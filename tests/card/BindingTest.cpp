/*
 * The driver binding with no simulator linked in: the library the extension
 * binds is whichever rzxdk08.dll this program loaded first, by full path (an
 * already loaded module of that base name is what LoadLibraryA returns), or
 * else the simulator beside the program.
 */
#include <gtest/gtest.h>

#include "card/Driver.h"
#include "card/DriverAbi.h"

#include <cstring>
#include <string>

static std::string BesideProgram(const char* relative) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\') + 1) + relative;
}

class Binding : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(DriverLibraryLoaded());
        ASSERT_EQ(nullptr, GetModuleHandleA(DRIVER_LIBRARY_NAME));
    }
    void TearDown() override {
        if (DriverLibraryLoaded())
            UnloadDriverLibrary();
        EXPECT_EQ(nullptr, GetModuleHandleA(DRIVER_LIBRARY_NAME));
    }
};

TEST_F(Binding, DriverLackingAnEntryIsRefusedAndReleased) {
    static const char* const kBroken[] = {"broken\\no-version\\rzxdk08.dll",
                                          "broken\\no-lasterror\\rzxdk08.dll"};
    for (const char* broken : kBroken) {
        SCOPED_TRACE(broken);
        HMODULE own = LoadLibraryA(BesideProgram(broken).c_str());
        ASSERT_NE(nullptr, own);
        ASSERT_EQ(own, GetModuleHandleA(DRIVER_LIBRARY_NAME));

        EXPECT_EQ(0, LoadDriverLibrary());
        EXPECT_FALSE(DriverLibraryLoaded());
        BYTE value;
        EXPECT_EQ(0, CardInPort(0, 0, &value));

        FreeLibrary(own);
        EXPECT_EQ(nullptr, GetModuleHandleA(DRIVER_LIBRARY_NAME))
            << "the extension kept a reference";
    }
}

TEST_F(Binding, SecondLoadIsRefusedAndTheFirstBindingKeepsWorking) {
    ASSERT_EQ(1, LoadDriverLibrary());
    EXPECT_EQ(0, LoadDriverLibrary());
    EXPECT_TRUE(DriverLibraryLoaded());
    EXPECT_EQ(101, CardGetLastError(0x99)) << "the simulator's answer for an unknown handle";
    EXPECT_EQ(1, UnloadDriverLibrary());
    EXPECT_EQ(nullptr, GetModuleHandleA(DRIVER_LIBRARY_NAME))
        << "the refused load kept a reference";
    EXPECT_EQ(0, UnloadDriverLibrary());
}

/* Every guarded call answers 0 without reaching a driver. */
static void ExpectEveryGuardRefuses(void) {
    DWORD socket = 0;
    BYTE value = 0;
    DriverResource resource;
    EXPECT_EQ(0, CardCreate(&socket, nullptr, WM_DK08_CARD_REMOVED, 0));
    EXPECT_EQ(0, CardClose(0));
    EXPECT_EQ(0, CardGetResource(0, &resource));
    EXPECT_EQ(0, CardInPort(0, 0, &value));
    EXPECT_EQ(0, CardOutPort(0, 0, 0));
    EXPECT_EQ(0, CardSetDirection(0, 0x15));
    EXPECT_EQ(0, CardGetLastError(0));
}

/* The entry addresses outlive the library on purpose; the guards must not. */
TEST_F(Binding, GuardsAfterUnloadNeverReachTheReleasedLibrary) {
    ASSERT_EQ(1, LoadDriverLibrary());
    ASSERT_EQ(1, UnloadDriverLibrary());
    ASSERT_EQ(nullptr, GetModuleHandleA(DRIVER_LIBRARY_NAME));
    ExpectEveryGuardRefuses();
}

/* ---- A release that fails ---------------------------------------------------------- */

static BOOL WINAPI RefuseToFree(HMODULE) {
    return FALSE;
}

/* Points this program's own import of KERNEL32!FreeLibrary, the one the
   binding code linked into it calls, somewhere else; returns the old target. */
static DWORD_PTR RedirectFreeLibrary(DWORD_PTR target) {
    BYTE* image = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(image + imports.VirtualAddress);
    for (; library->Name; ++library) {
        if (lstrcmpiA(reinterpret_cast<char*>(image + library->Name), "KERNEL32.dll") != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(image + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(image + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(image + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), "FreeLibrary") != 0)
                continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            DWORD_PTR old = slots->u1.Function;
            slots->u1.Function = target;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return old;
        }
    }
    return 0;
}

/* A driver that lacks its first entry, loaded after a good one was released,
   and whose own release then fails, stays recorded: its other entries must
   not be the released library's addresses, which point at unmapped code. */
TEST_F(Binding, ReloadThatFailsToReleaseLeavesNoOldEntriesBehind) {
    ASSERT_EQ(1, LoadDriverLibrary());
    ASSERT_EQ(1, UnloadDriverLibrary());
    ASSERT_EQ(nullptr, GetModuleHandleA(DRIVER_LIBRARY_NAME));

    HMODULE own = LoadLibraryA(BesideProgram("broken\\no-version\\rzxdk08.dll").c_str());
    ASSERT_NE(nullptr, own);
    DWORD_PTR realFree = RedirectFreeLibrary(reinterpret_cast<DWORD_PTR>(RefuseToFree));
    ASSERT_NE(0u, realFree);
    EXPECT_EQ(0, LoadDriverLibrary());
    EXPECT_EQ(0, UnloadDriverLibrary());
    RedirectFreeLibrary(realFree);
    ASSERT_TRUE(DriverLibraryLoaded()) << "the failed release keeps the handle";

    ExpectEveryGuardRefuses();

    EXPECT_EQ(1, UnloadDriverLibrary());
    FreeLibrary(own);
}
