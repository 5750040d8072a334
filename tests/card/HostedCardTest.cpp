/*
 * Card access with the extension admitted by the reference host: the
 * notification window and the card-removal notice, the warning after a failed
 * direction programming, and the shut-down order.
 */
#include <gtest/gtest.h>

#include "card/DeviceTable.h"
#include "card/Driver.h"
#include "card/DriverAbi.h"
#include "card/Ppi8255.h"
#include "card/PortDirections.h"
#include "extension/Library.h"
#include "host/HostServices.h"
#include "sim/card/SimCard.h"
#include "sim/host/RefHost.h"

#include "CardTrace.h"

#include <cstring>
#include <string>

static const char kRemovalWarning[] = "RZX-DK08 警告\n実行にカードを抜かないでください\n"
                                      "継続する場合はカードを差込み、Orvikを再起動してください";

class HostedCard : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLibraryInstance(GetModuleHandleA(nullptr));
        ASSERT_EQ(1, SimCard_Reset(nullptr));
        ASSERT_EQ(1, RefHost_Create(GetModuleHandleA(nullptr), 0));
    }
    void TearDown() override {
        RefHost_UnloadExtension();
        RefHost_Destroy();
        EXPECT_FALSE(DriverLibraryLoaded());
    }
    void Admit() {
        ASSERT_EQ(1, RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL));
        ASSERT_TRUE(DriverLibraryLoaded());
        RefHost_ClearJournal();
        SimCard_ClearTrace();
    }
    static void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    static std::string Warning(size_t n) {
        size_t seen = 0;
        for (size_t i = 0; i < RefHost_JournalSize(); ++i) {
            const JournalEntry* e = RefHost_JournalEntry(i);
            if (e->kind == J_WARNING && seen++ == n)
                return e->text;
        }
        return "(no warning)";
    }
    static int NotifyClassRegistered() {
        WNDCLASSA info;
        return GetClassInfoA(GetModuleHandleA(nullptr), "DK08MSGPROC", &info) != 0;
    }
};

TEST_F(HostedCard, NotifyWindowIsHiddenOwnedByTheHostAndGivenToEveryCreate) {
    SimCard_ClearTrace();
    Admit();
    HWND window = NotifyWindow();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(RefHost_MainWindow(), GetWindow(window, GW_OWNER));
    /* The system adds WS_CLIPSIBLINGS to every overlapped window. */
    EXPECT_EQ(static_cast<LONG_PTR>(WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN),
              GetWindowLongPtrA(window, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CLIPSIBLINGS));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(HostInstance()),
              GetWindowLongPtrA(window, GWLP_HINSTANCE));
    EXPECT_EQ(CS_DBLCLKS | CS_NOCLOSE, GetClassLongA(window, GCL_STYLE));
    char title[16] = "";
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ("GETMSG", title) << "other messages go to DefWindowProcA";

    for (DWORD socket = 0; socket < 2; ++socket) {
        SimCardState state;
        ASSERT_EQ(1, SimCard_GetState(socket, &state));
        EXPECT_EQ(window, state.notifyWindow);
        EXPECT_EQ(static_cast<UINT>(WM_DK08_CARD_REMOVED), state.notifyMessage);
    }
    EXPECT_EQ(1u, DeviceTable()[0].status);
    EXPECT_EQ(1u, DeviceTable()[1].status);
    EXPECT_EQ(0u, DeviceTable()[2].status);
}

TEST_F(HostedCard, PulledCardStopsAndWarnsEvenWithoutARun) {
    Admit();
    ASSERT_FALSE(Shared().bExperimentIsRunning);
    SimCard_Pull(1);
    Pump();
    EXPECT_EQ(1u, RefHost_CountCalls("StopExperiment"));
    ASSERT_EQ(1u, RefHost_CountKind(J_WARNING));
    EXPECT_EQ(kRemovalWarning, Warning(0));
    EXPECT_EQ(1u, DeviceTable()[1].status) << "a pulled card stays in the table";

    SendMessageA(NotifyWindow(), WM_DK08_CARD_REMOVED + 1, 0, 0);
    EXPECT_EQ(1u, RefHost_CountKind(J_WARNING)) << "only 1344 is the notice";
}

TEST_F(HostedCard, FailedProgrammingShowsOneWarningAndStopsAtTheFailingCall) {
    Admit();
    ModuleSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.socket = 1;
    settings.port = PORT_A;
    ModuleRecord module;
    memset(&module, 0, sizeof module);
    module.settings = &settings;
    DeviceTable()[1].portInUse[PORT_A] = 1;
    DeviceTable()[1].portIsOutput[PORT_A] = 1;

    /* All four calls of the A-out row; the n-th fails. */
    const Traffic row[] = {
        {SIM_SETDIRECTION, 1, 0, 0x15, 0, SIMF_INJECTED},
        {SIM_OUTPORT, 1, PORT_CTRL, 0x8B, 0, SIMF_INJECTED},
        {SIM_SETDIRECTION, 1, 0, 0x17, 0, SIMF_INJECTED},
        {SIM_SETDIRECTION, 1, 0, 0x02, 0, SIMF_INJECTED},
    };
    static const LONG kCodes[] = {4711, -3, 0, 12};
    for (unsigned failing = 0; failing < 4; ++failing) {
        SCOPED_TRACE(failing + 1);
        RefHost_ClearJournal();
        SimCard_ClearTrace();
        SimCard_FailNth(SIM_ANY_CALL, failing + 1, kCodes[failing]);

        EXPECT_EQ(0, ProgramPortDirections(&module));

        std::vector<Traffic> expected;
        for (unsigned i = 0; i < failing; ++i)
            expected.push_back({row[i].call, 1, row[i].port, row[i].value, 1, 0});
        expected.push_back(row[failing]);
        expected.push_back({SIM_GETLASTERROR, 1, 0, 0, kCodes[failing], 0});
        std::vector<Traffic> actual = CardTraffic();
        bool same = actual.size() == expected.size();
        for (size_t i = 0; same && i < actual.size(); ++i)
            same = SameTraffic(actual[i], expected[i]);
        EXPECT_TRUE(same) << "card trace:\n"
                          << DescribeTraffic(actual) << "expected:\n"
                          << DescribeTraffic(expected);

        ASSERT_EQ(1u, RefHost_CountKind(J_WARNING));
        char text[160];
        snprintf(text, sizeof text,
                 "RZX-DK08:エラー\n初期化に失敗しました\nドライバからのエラーコード： %ld",
                 kCodes[failing]);
        EXPECT_EQ(text, Warning(0));
        EXPECT_EQ(0u, RefHost_CountCalls("StopExperiment"));
    }
}

TEST_F(HostedCard, ClassAlreadyRegisteredSkipsTheCardSetUpAndStaysRegistered) {
    WNDCLASSA other;
    memset(&other, 0, sizeof other);
    other.lpfnWndProc = DefWindowProcA;
    other.hInstance = GetModuleHandleA(nullptr);
    other.lpszClassName = "DK08MSGPROC";
    ASSERT_NE(0, RegisterClassA(&other));
    SimCard_ClearTrace();

    ASSERT_EQ(1, RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL));
    EXPECT_FALSE(DriverLibraryLoaded());
    EXPECT_EQ(nullptr, RefHost_ModuleClass());
    EXPECT_EQ(0u, RefHost_MenuEntryCommand());
    ExpectNoCardTraffic();

    RefHost_UnloadExtension();
    EXPECT_TRUE(NotifyClassRegistered()) << "the extension unregisters only its own class";
    UnregisterClassA("DK08MSGPROC", GetModuleHandleA(nullptr));
}

/* The window's procedure lives in the extension: it goes before the cards are
   closed and the driver released, and a second admission can register again. */
TEST_F(HostedCard, ShutDownRemovesTheWindowAndClassBeforeClosingTheCards) {
    Admit();
    HWND window = NotifyWindow();
    ASSERT_TRUE(NotifyClassRegistered());

    RefHost_UnloadExtension();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(NotifyClassRegistered());
    EXPECT_EQ(nullptr, NotifyWindow());
    EXPECT_FALSE(DriverLibraryLoaded());
    static const Traffic kShutDown[] = {
        {SIM_CLOSE, 0, 0, 0, 1, SIMF_NO_WINDOW},
        {SIM_CLOSE, 1, 0, 0, 1, SIMF_NO_WINDOW},
    };
    EXPECT_CARD_TRACE(kShutDown);

    SimCard_Reset(nullptr);
    Admit();
    EXPECT_TRUE(IsWindow(NotifyWindow()));
    EXPECT_EQ(1u, DeviceTable()[0].status);
}
