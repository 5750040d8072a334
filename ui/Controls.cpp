/*
 * The two picture buttons of the settings dialog: the channel button, which
 * reports clicks to its dialog and leaves its look to the dialog, and the step
 * button (less or more), a push button with mouse capture that sends the
 * dialog a command on release. Both paint the host's bitmap for their state;
 * the pictures and their meaning for the module belong to others.
 */
#include "ui/Controls.h"

#include "host/LibraryHandles.h"
#include "host/HostServices.h"

#define CHANNEL_BUTTON_CLASS  "OLM:CONTROLKANAL"
#define STEP_BUTTON_CLASS     "OLM:CONTROLLESSMORE"
#define CHANNEL_BUTTON_WIDTH  22
#define CHANNEL_BUTTON_HEIGHT 30
#define STEP_BUTTON_WIDTH     24
#define STEP_BUTTON_HEIGHT    32
#define STATE_WORD_OFFSET     0
#define STATE_WORD_BYTES      2
#define CHANNEL_BITMAP_COUNT  4 /* states 0 to 3 */
#define STEP_BITMAP_COUNT     6 /* states 0 to 5 */

/* ---- State word ------------------------------------------------------------ */

static WORD ControlState(HWND control) {
    return static_cast<WORD>(GetWindowWord(control, STATE_WORD_OFFSET));
}

static void SetControlState(HWND control, WORD state) {
    SetWindowWord(control, STATE_WORD_OFFSET, state);
}

/* ---- Painting ---------------------------------------------------------------- */

void BlitStateBitmap(HDC dc, HBITMAP bitmap) {
    BITMAP info;
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info))
        return;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory)
        return;
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetMapMode(memory, GetMapMode(dc));
    POINT extent = {info.bmWidth, info.bmHeight};
    DPtoLP(dc, &extent, 1);
    BitBlt(dc, 0, 0, extent.x, extent.y, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

/* The bitmaps are the host's, one per state it must supply; a state beyond them
   (set by some other sender) or a host that gave none leaves the background. */
static void PaintState(HWND control, const HBITMAP* bitmaps, WORD stateCount) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control, &paint);
    WORD state = ControlState(control);
    if (bitmaps && state < stateCount)
        BlitStateBitmap(dc, bitmaps[state]);
    EndPaint(control, &paint);
}

static void ShowNewState(HWND control, WORD state) {
    SetControlState(control, state);
    InvalidateRect(control, nullptr, FALSE);
}

/* The template's rectangle is in dialog units; the pictures need exact pixels. */
static LRESULT SizeToPicture(HWND control, LPARAM lParam, int width, int height) {
    const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    MoveWindow(control, create->x, create->y, width, height, TRUE);
    return 0;
}

/* ---- Channel button ---------------------------------------------------------- */

static LRESULT ChannelButton_Notify(HWND button, UINT notification) {
    SendMessageA(GetParent(button), notification, reinterpret_cast<WPARAM>(button),
                 static_cast<LPARAM>(ControlState(button)));
    return 0;
}

/* While an experiment runs a double click is swallowed, not passed on. */
static LRESULT ChannelButton_OnDoubleClick(HWND button, UINT notification) {
    if (Shared().bExperimentIsRunning == 0)
        ChannelButton_Notify(button, notification);
    return 0;
}

static LRESULT ChannelButton_OnDeselect(HWND button) {
    if (ControlState(button) == CHANNEL_SELECTED)
        ShowNewState(button, CHANNEL_PRESENT);
    return 0;
}

/* Both controls store the low 16 bits of the new state and repaint without erasing. */
static LRESULT Control_OnSetState(HWND control, WPARAM state) {
    ShowNewState(control, static_cast<WORD>(state));
    return 0;
}

static LRESULT WINAPI ChannelButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return SizeToPicture(button, lParam, CHANNEL_BUTTON_WIDTH, CHANNEL_BUTTON_HEIGHT);
    case WM_PAINT:
        PaintState(button, ChannelButtonBitmaps(), CHANNEL_BITMAP_COUNT);
        return 0;
    case CTLM_SETSTATE: /* before DefWindowProcA: 254 is also WM_INPUT_DEVICE_CHANGE */
        return Control_OnSetState(button, wParam);
    case CTLM_DESELECT:
        return ChannelButton_OnDeselect(button);
    case WM_LBUTTONDOWN:
        return ChannelButton_Notify(button, CTLN_LBUTTONDOWN);
    case WM_LBUTTONUP:
        return ChannelButton_Notify(button, CTLN_LBUTTONUP);
    case WM_LBUTTONDBLCLK:
        return ChannelButton_OnDoubleClick(button, CTLN_LBUTTONDBLCLK);
    case WM_RBUTTONDBLCLK:
        return ChannelButton_OnDoubleClick(button, CTLN_RBUTTONDBLCLK);
    }
    return DefWindowProcA(button, message, wParam, lParam);
}

/* ---- Step button --------------------------------------------------------------- */

static int IsStepDisabled(WORD state) {
    return state == STEP_LESS_DISABLED || state == STEP_MORE_DISABLED;
}

/* States 0 to 2 make a less button, everything above a more button. */
static int IsLessFamily(WORD state) {
    return state < STEP_MORE_DISABLED;
}

/* The pressed look must be on screen before the capture starts. */
static void ShowNow(HWND button, WORD state) {
    ShowNewState(button, state);
    UpdateWindow(button);
}

static LRESULT StepButton_OnLButtonDown(HWND button) {
    WORD state = ControlState(button);
    if (IsStepDisabled(state))
        return 0;
    ShowNow(button, IsLessFamily(state) ? STEP_LESS_PRESSED : STEP_MORE_PRESSED);
    SetCapture(button);
    return 0;
}

/* The new look is stored before the command goes out, so a state the parent
   sets while handling the command (disabled at a limit) is the one that stays. */
static LRESULT StepButton_OnLButtonUp(HWND button) {
    if (GetCapture() != button)
        return 0;
    WORD state = ControlState(button);
    if (IsStepDisabled(state))
        return 0;
    ReleaseCapture();
    int less = IsLessFamily(state);
    ShowNow(button, less ? STEP_LESS_ENABLED : STEP_MORE_ENABLED);
    SendMessageA(GetParent(button), WM_COMMAND, less ? CMD_STEP_LESS : CMD_STEP_MORE, 0);
    return 0;
}

static LRESULT WINAPI StepButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return SizeToPicture(button, lParam, STEP_BUTTON_WIDTH, STEP_BUTTON_HEIGHT);
    case WM_PAINT:
        PaintState(button, StepButtonBitmaps(), STEP_BITMAP_COUNT);
        return 0;
    case CTLM_SETSTATE: /* before DefWindowProcA: 254 is also WM_INPUT_DEVICE_CHANGE */
        return Control_OnSetState(button, wParam);
    case WM_LBUTTONDOWN:
        return StepButton_OnLButtonDown(button);
    case WM_LBUTTONUP:
        return StepButton_OnLButtonUp(button);
    }
    return DefWindowProcA(button, message, wParam, lParam);
}

/* ---- Registration ---------------------------------------------------------------- */

static void RegisterButtonClass(const char* name, UINT style, WNDPROC procedure) {
    WNDCLASSA windowClass = {};
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.cbWndExtra = STATE_WORD_BYTES;
    windowClass.hInstance = LibraryInstance();
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH));
    windowClass.lpszClassName = name;
    RegisterClassA(&windowClass);
}

void RegisterControlClasses(void) {
    RegisterButtonClass(CHANNEL_BUTTON_CLASS, CS_DBLCLKS, ChannelButtonProc);
    RegisterButtonClass(STEP_BUTTON_CLASS, 0, StepButtonProc);
}

void UnregisterControlClasses(void) {
    UnregisterClassA(CHANNEL_BUTTON_CLASS, LibraryInstance());
    UnregisterClassA(STEP_BUTTON_CLASS, LibraryInstance());
}
