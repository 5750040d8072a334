/*
 * The program around the user-interface tests: the extension is linked in and
 * admitted once by the reference host, with simulated cards in sockets 3 and 7,
 * and shut down at the end (which must leave no font and no window class).
 */
#include <gtest/gtest.h>

#include "extension/Library.h"
#include "sim/card/SimCard.h"
#include "sim/host/RefHost.h"

static const char kCards[] = "card 3 0x300 4 0 0\n"
                             "card 7 0x320 4 0x330 16\n";

class UiEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        SetLibraryInstance(GetModuleHandleA(nullptr));
        ASSERT_EQ(1, SimCard_Reset(kCards)) << SimCard_ConfigError();
        ASSERT_EQ(1, RefHost_Create(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
        ASSERT_EQ(1, RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL));
    }

    void TearDown() override {
        EXPECT_EQ(1, RefHost_UnloadExtension());
        EXPECT_EQ(0u, RefHost_OutstandingFonts());
        WNDCLASSA windowClass;
        EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "OLM:CONTROLKANAL", &windowClass));
        EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "OLM:CONTROLLESSMORE", &windowClass));
        RefHost_Destroy();
    }
};

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new UiEnvironment);
    return RUN_ALL_TESTS();
}
