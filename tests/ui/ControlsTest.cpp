/*
 * The channel and step buttons as their dialog sees them: the notifications
 * and commands they send for mouse input, their state word, when they repaint,
 * and what they paint.
 */
#include <gtest/gtest.h>

#include "extension/Library.h"
#include "host/HostServices.h"
#include "sim/host/RefHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Controls.h"

#include <map>

static const char kChannelClass[] = "OLM:CONTROLKANAL";
static const char kStepClass[] = "OLM:CONTROLLESSMORE";
#define TEST_CONTROL_ID 23000

/* ---- Paint recording ------------------------------------------------------------ */

static std::vector<Message> s_paints;
static std::map<HWND, WNDPROC> s_original;

static LRESULT CALLBACK PaintRecorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT || message == WM_ERASEBKGND)
        s_paints.push_back({message, 0, 0});
    return CallWindowProcA(s_original[window], window, message, wParam, lParam);
}

class ControlTest : public testing::Test {
  protected:
    /* One parent for the suite: a window that goes away costs Wine a wait for
       the window manager when the display has none. */
    static void SetUpTestSuite() {
        s_parent = new RecordingParent;
    }
    static void TearDownTestSuite() {
        delete s_parent;
        s_parent = nullptr;
    }

    void TearDown() override {
        RefHost_SetRunning(0);
        for (HWND control : m_controls)
            DestroyWindow(control);
        m_parent.onCommand = nullptr;
        m_parent.log.clear();
    }

    /* A control in the recording parent, painted, with the given state and
       nothing recorded yet. */
    HWND Create(const char* className, WORD state, int x = 10, int y = 10, int width = 11,
                int height = 15) {
        HWND control = CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE, x, y, width, height,
                                       m_parent.window, reinterpret_cast<HMENU>(TEST_CONTROL_ID),
                                       LibraryInstance(), nullptr);
        EXPECT_NE(nullptr, control);
        s_original[control] = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PaintRecorder)));
        SendMessageA(control, CTLM_SETSTATE, state, 0);
        UpdateWindow(control);
        m_parent.Drain();
        m_parent.log.clear();
        s_paints.clear();
        m_controls.push_back(control);
        return control;
    }

    static RecordingParent* s_parent;
    RecordingParent& m_parent = *s_parent;
    std::vector<HWND> m_controls;
};

RecordingParent* ControlTest::s_parent;

/* ---- Classes and sizes ------------------------------------------------------------ */

TEST_F(ControlTest, ClassesAreRegisteredForTheLibrary) {
    static const struct {
        const char* name;
        UINT style;
    } kClasses[] = {
        {kChannelClass, CS_DBLCLKS}, /* double clicks arrive as such */
        {kStepClass, 0},             /* every press is a button-down */
    };
    for (const auto& expected : kClasses) {
        SCOPED_TRACE(expected.name);
        WNDCLASSA windowClass;
        ASSERT_TRUE(GetClassInfoA(LibraryInstance(), expected.name, &windowClass));
        EXPECT_EQ(expected.style, windowClass.style);
        EXPECT_EQ(0, windowClass.cbClsExtra);
        EXPECT_EQ(2, windowClass.cbWndExtra);
        EXPECT_EQ(GetStockObject(DKGRAY_BRUSH), windowClass.hbrBackground);
        EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), windowClass.hCursor);
        EXPECT_EQ(nullptr, windowClass.hIcon);
    }
}

TEST_F(ControlTest, ControlsTakeThePictureSizeAtTheirPosition) {
    static const struct {
        const char* className;
        int width, height;         /* asked for */
        int wantWidth, wantHeight; /* got */
    } kSizes[] = {
        {kChannelClass, 11, 15, 22, 30},
        {kChannelClass, 60, 5, 22, 30},
        {kStepClass, 12, 16, 24, 32},
        {kStepClass, 1, 90, 24, 32},
    };
    for (const auto& size : kSizes) {
        SCOPED_TRACE(size.className);
        HWND control =
            CreateWindowExA(0, size.className, "", WS_CHILD, 17, 9, size.width, size.height,
                            m_parent.window, nullptr, LibraryInstance(), nullptr);
        RECT rectangle;
        GetWindowRect(control, &rectangle);
        MapWindowPoints(nullptr, m_parent.window, reinterpret_cast<POINT*>(&rectangle), 2);
        EXPECT_EQ(17, rectangle.left);
        EXPECT_EQ(9, rectangle.top);
        EXPECT_EQ(size.wantWidth, rectangle.right - rectangle.left);
        EXPECT_EQ(size.wantHeight, rectangle.bottom - rectangle.top);
        EXPECT_EQ(0, ButtonState(control));
        DestroyWindow(control);
    }
}

/* ---- Channel button ---------------------------------------------------------------- */

struct ChannelClickCase {
    const char* name;
    LONG running;
    UINT input[6];
    size_t inputCount;
    UINT expected[4];
    size_t expectedCount;
};

TEST_F(ControlTest, ChannelButtonReportsClicksToItsParent) {
    static const ChannelClickCase kCases[] = {
        {"left click", 0, {WM_LBUTTONDOWN, WM_LBUTTONUP}, 2, {CTLN_LBUTTONDOWN, CTLN_LBUTTONUP}, 2},
        {"left double click",
         0,
         {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
         4,
         {CTLN_LBUTTONDOWN, CTLN_LBUTTONUP, CTLN_LBUTTONDBLCLK, CTLN_LBUTTONUP},
         4},
        {"left double click while running",
         1,
         {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
         4,
         {CTLN_LBUTTONDOWN, CTLN_LBUTTONUP, CTLN_LBUTTONUP},
         3},
        {"right click", 0, {WM_RBUTTONDOWN, WM_RBUTTONUP}, 2, {}, 0},
        {"right double click",
         0,
         {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_RBUTTONUP},
         4,
         {CTLN_RBUTTONDBLCLK},
         1},
        {"right double click while running",
         1,
         {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_RBUTTONUP},
         4,
         {},
         0},
    };
    for (const ChannelClickCase& test : kCases) {
        SCOPED_TRACE(test.name);
        HWND button = Create(kChannelClass, CHANNEL_PRESENT);
        RefHost_SetRunning(test.running);
        for (size_t i = 0; i < test.inputCount; ++i)
            EXPECT_EQ(0, SendMessageA(button, test.input[i], 0, MAKELPARAM(5, 5)));
        m_parent.Drain();
        std::vector<Message> expected;
        for (size_t i = 0; i < test.expectedCount; ++i)
            expected.push_back(
                {test.expected[i], reinterpret_cast<WPARAM>(button), CHANNEL_PRESENT});
        ExpectSequence(m_parent.log, expected.data(), expected.size());
        EXPECT_EQ(CHANNEL_PRESENT, ButtonState(button)) << "a click never changes the look";
        EXPECT_NE(button, GetCapture());
        EXPECT_NE(button, GetFocus());
        RefHost_SetRunning(0);
    }
}

TEST_F(ControlTest, SetStateStoresTheLowWordAndRepaintsWithoutErasing) {
    static const WORD kFrom[] = {0, CHANNEL_SELECTED, CHANNEL_ABSENT};
    for (const char* className : {kChannelClass, kStepClass}) {
        for (WORD from : kFrom) {
            SCOPED_TRACE(className);
            HWND control = Create(className, from);
            EXPECT_EQ(0, SendMessageA(control, CTLM_SETSTATE, 0x10000u | CHANNEL_PRESENT, 0));
            EXPECT_EQ(CHANNEL_PRESENT, ButtonState(control));
            UpdateWindow(control);
            const Message painted[] = {{WM_PAINT, 0, 0}};
            EXPECT_SEQUENCE(s_paints, painted);
        }
    }
}

TEST_F(ControlTest, DeselectTurnsOnlySelectedIntoPresent) {
    static const struct {
        WORD from, to;
        int repaints;
    } kCases[] = {
        {CHANNEL_SELECTED, CHANNEL_PRESENT, 1},
        {CHANNEL_PRESENT, CHANNEL_PRESENT, 0},
        {CHANNEL_ABSENT, CHANNEL_ABSENT, 0},
        {0, 0, 0},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(testing::Message() << "from state " << test.from);
        HWND button = Create(kChannelClass, test.from);
        EXPECT_EQ(0, SendMessageA(button, CTLM_DESELECT, 0, 0));
        EXPECT_EQ(test.to, ButtonState(button));
        UpdateWindow(button);
        const Message painted[] = {{WM_PAINT, 0, 0}};
        ExpectSequence(s_paints, painted, test.repaints ? 1 : 0);
    }
}

/* ---- Step button ---------------------------------------------------------------------- */

/* P: press, R: release on the button, O: release far outside it. */
struct StepCase {
    const char* name;
    WORD initial;
    const char* actions;
    WORD final;
    WPARAM commands[2];
    size_t commandCount;
};

static void Act(HWND button, char action) {
    switch (action) {
    case 'P':
        SendMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        break;
    case 'R':
        SendMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
        break;
    case 'O':
        SendMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(-600, 900));
        break;
    }
}

TEST_F(ControlTest, StepButtonCompletesClicksByItsStateFamily) {
    /* Every button has control id 23000: only the state decides the command. */
    static const StepCase kCases[] = {
        {"disabled less", STEP_LESS_DISABLED, "PR", STEP_LESS_DISABLED, {}, 0},
        {"disabled more", STEP_MORE_DISABLED, "PR", STEP_MORE_DISABLED, {}, 0},
        {"less", STEP_LESS_ENABLED, "PR", STEP_LESS_ENABLED, {CMD_STEP_LESS}, 1},
        {"less left pressed", STEP_LESS_PRESSED, "PR", STEP_LESS_ENABLED, {CMD_STEP_LESS}, 1},
        {"more", STEP_MORE_ENABLED, "PR", STEP_MORE_ENABLED, {CMD_STEP_MORE}, 1},
        {"more left pressed", STEP_MORE_PRESSED, "PR", STEP_MORE_ENABLED, {CMD_STEP_MORE}, 1},
        {"state above the table", 9, "PR", STEP_MORE_ENABLED, {CMD_STEP_MORE}, 1},
        {"less dragged off", STEP_LESS_ENABLED, "PO", STEP_LESS_ENABLED, {CMD_STEP_LESS}, 1},
        {"release without press", STEP_LESS_ENABLED, "R", STEP_LESS_ENABLED, {}, 0},
        {"two quick clicks",
         STEP_MORE_ENABLED,
         "PRPR",
         STEP_MORE_ENABLED,
         {CMD_STEP_MORE, CMD_STEP_MORE},
         2},
        {"press only", STEP_LESS_ENABLED, "P", STEP_LESS_PRESSED, {}, 0},
    };
    for (const StepCase& test : kCases) {
        SCOPED_TRACE(test.name);
        HWND button = Create(kStepClass, test.initial, 10, 10, 12, 16);
        for (const char* action = test.actions; *action; ++action)
            Act(button, *action);
        m_parent.Drain();
        EXPECT_EQ(test.final, ButtonState(button));
        std::vector<Message> expected;
        for (size_t i = 0; i < test.commandCount; ++i)
            expected.push_back({WM_COMMAND, test.commands[i], 0});
        ExpectSequence(m_parent.log, expected.data(), expected.size());
        int pressed = test.final == STEP_LESS_PRESSED || test.final == STEP_MORE_PRESSED;
        EXPECT_EQ(pressed, GetCapture() == button);
        ReleaseCapture();
    }
}

TEST_F(ControlTest, DisabledStepButtonTakesNoCaptureAndDoesNotRepaint) {
    for (WORD state : {STEP_LESS_DISABLED, STEP_MORE_DISABLED}) {
        HWND button = Create(kStepClass, state, 10, 10, 12, 16);
        Act(button, 'P');
        UpdateWindow(button);
        EXPECT_EQ(nullptr, GetCapture());
        EXPECT_NO_MESSAGES(s_paints);
    }
}

TEST_F(ControlTest, PressedLookIsPaintedBeforeThePressReturns) {
    HWND button = Create(kStepClass, STEP_MORE_ENABLED, 10, 10, 12, 16);
    Act(button, 'P');
    const Message painted[] = {{WM_PAINT, 0, 0}};
    EXPECT_SEQUENCE(s_paints, painted);
    EXPECT_EQ(button, GetCapture());
    s_paints.clear();
    Act(button, 'R');
    EXPECT_SEQUENCE(s_paints, painted);
    EXPECT_EQ(nullptr, GetCapture());
}

TEST_F(ControlTest, ReleaseAfterAPressElsewhereDoesNothing) {
    HWND button = Create(kStepClass, STEP_LESS_ENABLED, 10, 10, 12, 16);
    SetCapture(m_parent.window); /* the press went to the dialog background */
    Act(button, 'R');
    m_parent.Drain();
    EXPECT_NO_MESSAGES(m_parent.log);
    EXPECT_EQ(STEP_LESS_ENABLED, ButtonState(button));
    EXPECT_EQ(m_parent.window, GetCapture());
    ReleaseCapture();
}

TEST_F(ControlTest, StateSetByTheParentDuringTheCommandStays) {
    HWND button = Create(kStepClass, STEP_LESS_ENABLED, 10, 10, 12, 16);
    m_parent.onCommand = [button](WPARAM) {
        SendMessageA(button, CTLM_SETSTATE, STEP_LESS_DISABLED, 0);
    };
    ClickControl(button);
    m_parent.onCommand = nullptr;
    EXPECT_EQ(STEP_LESS_DISABLED, ButtonState(button));
}

/* ---- Real mouse input ------------------------------------------------------------------ */

static void MouseAt(HWND control, DWORD flags) {
    RECT rectangle;
    GetWindowRect(control, &rectangle);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = ((rectangle.left + 5) * 65536 + 65535) / GetSystemMetrics(SM_CXSCREEN);
    input.mi.dy = ((rectangle.top + 5) * 65536 + 65535) / GetSystemMetrics(SM_CYSCREEN);
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | flags;
    SendInput(1, &input, sizeof input);
}

static void DoubleClickAt(HWND control, RecordingParent& parent) {
    MouseAt(control, 0);
    for (int i = 0; i < 2; ++i) {
        MouseAt(control, MOUSEEVENTF_LEFTDOWN);
        MouseAt(control, MOUSEEVENTF_LEFTUP);
    }
    PumpMessages(nullptr, 150);
    parent.Drain();
}

/* The system, not the test, turns the second press into a double click here. */
TEST_F(ControlTest, RealDoubleClicksFollowTheClassStyle) {
    SetForegroundWindow(m_parent.window);
    HWND channel = Create(kChannelClass, CHANNEL_PRESENT, 20, 20);
    DoubleClickAt(channel, m_parent);
    if (m_parent.log.empty())
        GTEST_SKIP() << "this display delivers no injected mouse input";
    WPARAM sender = reinterpret_cast<WPARAM>(channel);
    const Message channelExpected[] = {{CTLN_LBUTTONDOWN, sender, CHANNEL_PRESENT},
                                       {CTLN_LBUTTONUP, sender, CHANNEL_PRESENT},
                                       {CTLN_LBUTTONDBLCLK, sender, CHANNEL_PRESENT},
                                       {CTLN_LBUTTONUP, sender, CHANNEL_PRESENT}};
    EXPECT_SEQUENCE(m_parent.log, channelExpected);

    HWND step = Create(kStepClass, STEP_MORE_ENABLED, 80, 20, 12, 16);
    Sleep(GetDoubleClickTime() + 50); /* not a continuation of the first double click */
    DoubleClickAt(step, m_parent);
    const Message stepExpected[] = {{WM_COMMAND, CMD_STEP_MORE, 0}, {WM_COMMAND, CMD_STEP_MORE, 0}};
    EXPECT_SEQUENCE(m_parent.log, stepExpected);
}

/* ---- Painting --------------------------------------------------------------------------- */

/* The pixels of a width x height area of a device context, as 32-bit values. */
static std::vector<DWORD> Pixels(HDC source, int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ previous = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<const DWORD*>(bits),
                              static_cast<const DWORD*>(bits) + width * height);
    for (DWORD& pixel : pixels)
        pixel &= 0xFFFFFFu; /* colour only; GDI leaves the top byte as it likes */
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(copy);
    return pixels;
}

static SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    SIZE size = {info.bmWidth, info.bmHeight};
    return size;
}

static std::vector<DWORD> BitmapPixels(HBITMAP bitmap) {
    SIZE size = BitmapSize(bitmap);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    std::vector<DWORD> pixels = Pixels(memory, size.cx, size.cy);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

struct PaintedState {
    const char* className;
    const HBITMAP* (*bitmaps)(void);
    WORD state;
};

static const PaintedState kPaintedStates[] = {
    {kChannelClass, ChannelButtonBitmaps, 0},
    {kChannelClass, ChannelButtonBitmaps, 1},
    {kChannelClass, ChannelButtonBitmaps, 2},
    {kChannelClass, ChannelButtonBitmaps, 3},
    {kStepClass, StepButtonBitmaps, STEP_LESS_DISABLED},
    {kStepClass, StepButtonBitmaps, 1},
    {kStepClass, StepButtonBitmaps, 2},
    {kStepClass, StepButtonBitmaps, 3},
    {kStepClass, StepButtonBitmaps, 4},
    {kStepClass, StepButtonBitmaps, 5},
};

TEST(StateBitmap, BlitCopiesTheWholeBitmapToTheOrigin) {
    for (const PaintedState& painted : kPaintedStates) {
        SCOPED_TRACE(testing::Message() << painted.className << " state " << painted.state);
        HBITMAP bitmap = painted.bitmaps()[painted.state];
        SIZE size = BitmapSize(bitmap);
        ASSERT_GT(size.cx, 0);
        HDC screen = GetDC(nullptr);
        HDC target = CreateCompatibleDC(screen);
        HBITMAP canvas = CreateCompatibleBitmap(screen, size.cx + 4, size.cy + 4);
        ReleaseDC(nullptr, screen);
        HGDIOBJ previous = SelectObject(target, canvas);
        PatBlt(target, 0, 0, size.cx + 4, size.cy + 4, WHITENESS);
        BlitStateBitmap(target, bitmap);
        std::vector<DWORD> all = Pixels(target, size.cx + 4, size.cy + 4);
        std::vector<DWORD> inside;
        for (int y = 0; y < size.cy; ++y)
            for (int x = 0; x < size.cx; ++x)
                inside.push_back(all[y * (size.cx + 4) + x]);
        EXPECT_TRUE(inside == BitmapPixels(bitmap));
        EXPECT_EQ(0xFFFFFFu, all[size.cy * (size.cx + 4) + size.cx] & 0xFFFFFFu)
            << "nothing is drawn beyond the bitmap";
        SelectObject(target, previous);
        DeleteObject(canvas);
        DeleteDC(target);
    }
}

TEST_F(ControlTest, PaintShowsTheHostBitmapOfTheState) {
    for (const PaintedState& painted : kPaintedStates) {
        SCOPED_TRACE(testing::Message() << painted.className << " state " << painted.state);
        HWND control = Create(painted.className, painted.state);
        HBITMAP bitmap = painted.bitmaps()[painted.state];
        SIZE size = BitmapSize(bitmap);
        HDC dc = GetDC(control);
        std::vector<DWORD> shown = Pixels(dc, size.cx, size.cy);
        ReleaseDC(control, dc);
        EXPECT_TRUE(shown == BitmapPixels(bitmap));
    }
}
