/*
 * The driver binding with no simulator linked in: the library the extension
 * binds is whichever rzxdk08.dll this program loaded first, by full path (an
 * already loaded module of that base name is what LoadLibraryA returns), or
 * else the simulator beside the program.
 */
#include <gtest/gtest.h>

#include "card/Driver.h"
#include "card/DriverAbi.h"

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

/* The entry addresses outlive the library on purpose; the guards must not. */
TEST_F(Binding, GuardsAfterUnloadNeverReachTheReleasedLibrary) {
    ASSERT_EQ(1, LoadDriverLibrary());
    ASSERT_EQ(1, UnloadDriverLibrary());
    ASSERT_EQ(nullptr, GetModuleHandleA(DRIVER_LIBRARY_NAME));
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
