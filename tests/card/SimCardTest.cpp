/*
 * The card simulator on its own, called through its driver entries: the 8255
 * model, the line drivers and cables, the input sources, the configuration
 * text and the faults the extension's tests rely on.
 */
#include <gtest/gtest.h>

#include "card/DriverAbi.h"
#include "card/Ppi8255.h"
#include "sim/card/SimCard.h"

#include "CardTrace.h"

#include <cstring>

static const char kOneCard[] = "card 0 0x300 4 0x310 16\n"
                               "input 0 A constant 0x5A\n"
                               "input 0 C constant 0x3C\n";

static void OpenSocket(DWORD socket, HWND window = nullptr) {
    DWORD variable = socket;
    ASSERT_EQ(1, Dk08Create(&variable, window, WM_DK08_CARD_REMOVED, 0));
}

static BYTE Read(DWORD socket, DWORD port) {
    BYTE value = 0xEE;
    EXPECT_EQ(1, Dk08InPort(socket, port, &value));
    return value;
}

static SimCardState StateOf(DWORD socket) {
    SimCardState state;
    memset(&state, 0, sizeof state);
    EXPECT_EQ(1, SimCard_GetState(socket, &state));
    return state;
}

TEST(SimCard, ModeSetProgramsDirectionsAndClearsTheLatches) {
    ASSERT_EQ(1, SimCard_Reset(kOneCard));
    OpenSocket(0);
    EXPECT_EQ(0x5A, Read(0, PORT_A)) << "power-on: every port input";

    ASSERT_EQ(1, Dk08OutPort(0, PORT_CTRL, CW_MODE_SET));
    ASSERT_EQ(1, Dk08OutPort(0, PORT_A, 0x11));
    EXPECT_EQ(0x11, Read(0, PORT_A)) << "an output port reads back its latch";

    ASSERT_EQ(1, Dk08OutPort(0, PORT_CTRL, 0x9B));
    EXPECT_EQ(0, StateOf(0).latch[PORT_A]);
    EXPECT_EQ(0x5A, Read(0, PORT_A));
    EXPECT_EQ(0, Dk08OutPort(0, PORT_A, 0x22));
    EXPECT_EQ(SIMERR_PORT_IS_INPUT, Dk08GetLastError(0));

    /* Upper C input, lower C output: each half follows its own bit. */
    ASSERT_EQ(1, Dk08OutPort(0, PORT_CTRL, CW_MODE_SET | CW_A_INPUT | CW_C_HI_INPUT | CW_B_INPUT));
    ASSERT_EQ(1, Dk08OutPort(0, PORT_C, 0xFF));
    EXPECT_EQ(0x3F, Read(0, PORT_C));
    ASSERT_EQ(1, Dk08OutPort(0, PORT_CTRL, (1u << 1) | 0u)); /* reset C line 1 */
    EXPECT_EQ(0x3D, Read(0, PORT_C));

    EXPECT_EQ(0, Dk08OutPort(0, PORT_CTRL, CW_MODE_SET | 0x20u));
    EXPECT_EQ(SIMERR_BAD_MODE, Dk08GetLastError(0));
    BYTE value;
    EXPECT_EQ(0, Dk08InPort(0, PORT_CTRL, &value));
    EXPECT_EQ(SIMERR_BAD_PORT, Dk08GetLastError(0));
}

/* The demo setup: socket 0 port B is wired to socket 1 port A. */
TEST(SimCard, CableCarriesTheLatchOnlyWhileTheOtherCardDrivesThePort) {
    ASSERT_EQ(1, SimCard_Reset(nullptr));
    OpenSocket(0);
    OpenSocket(1);
    EXPECT_EQ(0xFF, Read(1, PORT_A)) << "undriven cable";

    ASSERT_EQ(1, Dk08OutPort(0, PORT_CTRL, 0x99));
    SimCard_ClearTrace();
    ASSERT_EQ(1, Dk08OutPort(0, PORT_B, 0xA5));
    EXPECT_EQ(0xFF, Read(1, PORT_A)) << "the line driver is still off";
    ASSERT_EQ(1, Dk08SetDirection(0, DIR_B_OUTPUT));
    EXPECT_EQ(0xA5, Read(1, PORT_A));
    EXPECT_EQ(0u, StateOf(0).mismatch);

    static const Traffic kExpected[] = {
        {SIM_OUTPORT, 0, PORT_B, 0xA5, 1, SIMF_MISMATCH},
        {SIM_INPORT, 1, PORT_A, 0xFF, 1, 0},
        {SIM_SETDIRECTION, 0, 0, DIR_B_OUTPUT, 1, 0},
        {SIM_INPORT, 1, PORT_A, 0xA5, 1, 0},
    };
    EXPECT_CARD_TRACE(kExpected);

    SimCard_Pull(0);
    EXPECT_EQ(0xFF, Read(1, PORT_A)) << "the other card is gone";
}

TEST(SimCard, CounterAndSquareWaveAdvancePerRead) {
    ASSERT_EQ(1, SimCard_Reset("card 0 0 0 0 0\n"
                               "input 0 A counter 0xFE\n"
                               "input 0 B square 2 4 0 6 ; lines 4..7 stay low\n"));
    OpenSocket(0);
    static const BYTE kCounter[] = {0xFE, 0xFF, 0x00};
    static const BYTE kSquare[] = {0x00, 0x01, 0x02, 0x0B, 0x08, 0x09, 0x02};
    for (BYTE expected : kCounter)
        EXPECT_EQ(expected, Read(0, PORT_A));
    for (size_t i = 0; i < sizeof kSquare; ++i)
        EXPECT_EQ(kSquare[i], Read(0, PORT_B)) << "read " << i;
}

TEST(SimCard, ConfigurationErrorsNameTheLineAndLeaveNoCard) {
    static const struct {
        const char* text;
        const char* error;
    } kCases[] = {
        {"card 16 0 0 0 0\n", "line 1: no such socket '16'"},
        {"card 0 0 0 0\n", "line 1: card wants"},
        {"# fine\ninput 3 A constant 1\n", "line 2: no card line above for socket '3'"},
        {"card 0 0 0 0 0\ninput 0 D constant 1\n", "line 2: not a port 'D'"},
        {"card 0 0 0 0 0\ninput 0 A constant 0x100\n", "line 2: constant wants one byte"},
        {"card 0 0 0 0 0\ninput 0 A square 2 1\n", "line 2: not a period"},
        {"card 0 0 0 0 0\ninput 0 A cable 5 B\n", "line 2: no card line above for socket '5'"},
        {"card 0 0 0 0 0\nfault 0 pull-after-calls 0\n", "line 2: not a count '0'"},
        {"card 0 0 0 0 0\nfault nth outport x\n", "line 2: not a count 'x'"},
        {"card 0 0 0 0 0\ncard 0 0 0 0 0\n", "line 2: second card line"},
        {"cards 0\n", "line 1: unknown statement 'cards'"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(0, SimCard_Reset(c.text));
        EXPECT_EQ(0, strncmp(SimCard_ConfigError(), c.error, strlen(c.error)))
            << SimCard_ConfigError();
        EXPECT_EQ(0u, StateOf(0).present);
    }
    ASSERT_EQ(1, SimCard_Reset(nullptr));
    EXPECT_STREQ("", SimCard_ConfigError());
    EXPECT_STREQ("default", SimCard_ConfigSource());
    EXPECT_EQ(1u, StateOf(0).present);
    EXPECT_EQ(1u, StateOf(1).present);
    EXPECT_EQ(0u, StateOf(2).present);
}

TEST(SimCard, InjectedFaultsFailOnceWithTheirCode) {
    ASSERT_EQ(1, SimCard_Reset("card 0 0 0 0 0\n"
                               "card 1 0 0 0 0\n"
                               "fault 1 create 2\n"
                               "card 2 0 0 0 0\n"
                               "fault 2 resource\n"
                               "fault nth inport 2 -7\n"));
    OpenSocket(0);
    DWORD variable = 1;
    EXPECT_EQ(2, Dk08Create(&variable, nullptr, WM_DK08_CARD_REMOVED, 0));
    DriverResource resource;
    EXPECT_EQ(0, Dk08GetResource(1, &resource)) << "answering 2 opened nothing";
    EXPECT_EQ(SIMERR_NOT_OPEN, Dk08GetLastError(1));
    OpenSocket(2);
    EXPECT_EQ(0, Dk08GetResource(2, &resource));

    BYTE value;
    EXPECT_EQ(1, Dk08InPort(0, PORT_A, &value));
    EXPECT_EQ(0, Dk08InPort(0, PORT_A, &value));
    EXPECT_EQ(-7, Dk08GetLastError(0));
    EXPECT_EQ(1, Dk08InPort(0, PORT_A, &value));

    SimCard_FailNth(SIM_ANY_CALL, 2, 55);
    EXPECT_EQ(1, Dk08SetDirection(0, 0x15));
    EXPECT_EQ(0, Dk08GetResource(0, &resource));
    EXPECT_EQ(55, Dk08GetLastError(0));
    EXPECT_EQ(1, Dk08GetResource(0, &resource));
}

/* A plain hidden window to receive the driver's notice. */
struct NoticeWindow {
    HWND window;
    NoticeWindow()
        : window(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr)) {}
    ~NoticeWindow() {
        DestroyWindow(window);
    }
    NoticeWindow(const NoticeWindow&) = delete;
    NoticeWindow& operator=(const NoticeWindow&) = delete;

    /* The socket of the removal notice waiting in the queue, or -1. */
    int TakeNotice() {
        MSG msg;
        if (!PeekMessageA(&msg, window, WM_DK08_CARD_REMOVED, WM_DK08_CARD_REMOVED, PM_REMOVE))
            return -1;
        return static_cast<int>(msg.wParam);
    }
};

TEST(SimCard, CardPulledAfterCallsPostsTheNoticeAndRefusesLaterCalls) {
    ASSERT_EQ(1, SimCard_Reset(nullptr));
    NoticeWindow notice;
    OpenSocket(0);
    OpenSocket(1, notice.window);
    SimCard_PullAfterCalls(1, 2);
    SimCard_ClearTrace();
    BYTE value;
    EXPECT_EQ(1, Dk08InPort(1, PORT_A, &value));
    EXPECT_EQ(-1, notice.TakeNotice());
    EXPECT_EQ(1, Dk08InPort(1, PORT_A, &value));
    EXPECT_EQ(1, notice.TakeNotice());
    EXPECT_EQ(0, Dk08InPort(1, PORT_A, &value));
    EXPECT_EQ(0, Dk08Close(1));

    static const Traffic kExpected[] = {
        {SIM_INPORT, 1, PORT_A, 0xFF, 1, 0}, {SIM_INPORT, 1, PORT_A, 0xFF, 1, 0},
        {SIM_PULLED, 1, 0, 1, 1, 0},         {SIM_INPORT, 1, PORT_A, 0, 0, 0},
        {SIM_CLOSE, 1, 0, 0, 0, 0},
    };
    EXPECT_CARD_TRACE(kExpected);
    EXPECT_EQ(SIMERR_PULLED, Dk08GetLastError(1));
    EXPECT_EQ(1, Dk08InPort(0, PORT_A, &value)) << "the other card is unaffected";

    SimCard_Insert(1);
    EXPECT_EQ(1, Dk08InPort(1, PORT_A, &value));
    EXPECT_EQ(1, Dk08Close(1));
}

TEST(SimCard, CardPulledByTimeWhileTheCallerPumpsMessages) {
    ASSERT_EQ(1, SimCard_Reset(nullptr));
    NoticeWindow notice;
    OpenSocket(0, notice.window);
    SimCard_PullAfterMs(0, 30);
    DWORD start = GetTickCount();
    int socket = -1;
    while (socket < 0 && GetTickCount() - start < 2000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_DK08_CARD_REMOVED && msg.hwnd == notice.window)
                socket = static_cast<int>(msg.wParam);
            else
                DispatchMessageA(&msg);
        }
    }
    EXPECT_EQ(0, socket);
    EXPECT_GE(GetTickCount() - start, 25u);
    EXPECT_EQ(1u, StateOf(0).pulled);
}

TEST(SimCard, FastModeKeepsNoTrace) {
    ASSERT_EQ(1, SimCard_Reset(nullptr));
    SimCard_SetTracing(0);
    OpenSocket(0);
    BYTE value;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(1, Dk08InPort(0, PORT_A, &value));
    ExpectNoCardTraffic();
    SimCard_SetTracing(1);
    EXPECT_EQ(1, Dk08InPort(0, PORT_A, &value));
    EXPECT_EQ(1u, SimCard_TraceCount());
}
