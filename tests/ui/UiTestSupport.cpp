#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <set>

#include "sim/host/RefHost.h"

/* ---- Message sequences ------------------------------------------------------- */

static std::string Describe(const Message* messages, size_t count) {
    std::string text;
    char line[96];
    for (size_t i = 0; i < count; ++i) {
        snprintf(line, sizeof line, "  {0x%04x, 0x%08lx, 0x%08lx}\n", messages[i].message,
                 static_cast<unsigned long>(messages[i].wParam),
                 static_cast<unsigned long>(messages[i].lParam));
        text += line;
    }
    return text.empty() ? "  (none)\n" : text;
}

void ExpectSequence(const std::vector<Message>& actual, const Message* expected, size_t count) {
    int same = actual.size() == count;
    for (size_t i = 0; same && i < count; ++i) {
        same = actual[i].message == expected[i].message && actual[i].wParam == expected[i].wParam &&
               actual[i].lParam == expected[i].lParam;
    }
    EXPECT_TRUE(same) << "expected:\n"
                      << Describe(expected, count) << "actual:\n"
                      << Describe(actual.data(), actual.size());
}

#define PARENT_CLASS "OrvikUiTestParent"
#define WM_SEPARATOR (WM_APP + 1)

static int IsRecorded(UINT message) {
    return message == WM_COMMAND || (message >= 1025 && message <= 1028);
}

static LRESULT CALLBACK RecordingParentProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    RecordingParent* parent =
        reinterpret_cast<RecordingParent*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (parent && IsRecorded(message)) {
        parent->log.push_back({message, wParam, lParam});
        if (message == WM_COMMAND && parent->onCommand)
            parent->onCommand(wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static void RegisterParentClass(void) {
    WNDCLASSA windowClass = {};
    if (GetClassInfoA(GetModuleHandleA(nullptr), PARENT_CLASS, &windowClass))
        return;
    windowClass.lpfnWndProc = RecordingParentProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = PARENT_CLASS;
    RegisterClassA(&windowClass);
}

RecordingParent::RecordingParent() : window(nullptr) {
    RegisterParentClass();
    window = CreateWindowExA(0, PARENT_CLASS, "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                             300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    UpdateWindow(window);
    Drain();
}

RecordingParent::~RecordingParent() {
    DestroyWindow(window);
}

void RecordingParent::Drain() {
    PostMessageA(window, WM_SEPARATOR, 0, 0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == window && message.message == WM_SEPARATOR)
            break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void PumpMessages(HWND dialog, DWORD milliseconds) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog && IsDialogMessageA(dialog, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(1);
    } while (GetTickCount() - start < milliseconds);
}

/* ---- Modal dialogs ------------------------------------------------------------ */

#define SCRIPT_DELAY_MS   20u
#define WATCHDOG_MS       8000u
#define DIALOG_CLASS_ATOM "#32770"

static HHOOK s_hook;
static std::deque<DialogScript> s_scripts;
static std::set<HWND> s_seen;
static std::deque<HWND> s_pending;
static size_t s_started;

static void CALLBACK Watchdog(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    if (IsWindow(window)) {
        ADD_FAILURE() << "a scripted dialog was still open; ending it";
        EndDialog(window, -2);
    }
}

static void CALLBACK RunPendingScript(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (s_pending.empty())
        return;
    HWND dialog = s_pending.front();
    /* Focus set during initialisation activates a dialog before it shows; a
       user only meets it once it is on the screen. */
    if (IsWindow(dialog) && !IsWindowVisible(dialog)) {
        SetTimer(nullptr, 0, SCRIPT_DELAY_MS, RunPendingScript);
        return;
    }
    s_pending.pop_front();
    if (s_scripts.empty() || !IsWindow(dialog))
        return;
    DialogScript script = s_scripts.front();
    s_scripts.pop_front();
    ++s_started;
    SetTimer(dialog, 0x5EED, WATCHDOG_MS, Watchdog);
    script(dialog);
}

static int IsDialogWindow(HWND window) {
    char name[16];
    return GetClassNameA(window, name, sizeof name) && strcmp(name, DIALOG_CLASS_ATOM) == 0;
}

static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && IsDialogWindow(window) && s_seen.insert(window).second) {
        s_pending.push_back(window);
        SetTimer(nullptr, 0, SCRIPT_DELAY_MS, RunPendingScript);
    }
    return CallNextHookEx(s_hook, code, wParam, lParam);
}

DialogDriver::DialogDriver(std::vector<DialogScript> scripts) {
    s_scripts.assign(scripts.begin(), scripts.end());
    s_seen.clear();
    s_pending.clear();
    s_started = 0;
    s_hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
}

DialogDriver::~DialogDriver() {
    UnhookWindowsHookEx(s_hook);
    s_hook = nullptr;
    s_scripts.clear();
    s_pending.clear();
}

size_t DialogDriver::Started() const {
    return s_started;
}

void ClickButton(HWND dialog, int control) {
    SendDlgItemMessageA(dialog, control, BM_CLICK, 0, 0);
}

void PressKey(HWND dialog, UINT key) {
    HWND focus = GetFocus();
    HWND target = focus && IsChild(dialog, focus) ? focus : dialog;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
    PumpMessages(dialog, 50);
}

std::string ItemText(HWND dialog, int control) {
    char text[256] = "";
    GetDlgItemTextA(dialog, control, text, sizeof text);
    return text;
}

WORD ButtonState(HWND control) {
    return static_cast<WORD>(GetWindowWord(control, 0));
}

void ClickControl(HWND control) {
    SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

/* ---- The host ------------------------------------------------------------------ */

size_t HostCalls(const char* service) {
    return RefHost_CountCalls(service);
}

const JournalEntry* HostCall(const char* service, size_t i) {
    for (size_t k = 0; k < RefHost_JournalSize(); ++k) {
        const JournalEntry* entry = RefHost_JournalEntry(k);
        if (entry->kind == J_CALL && strcmp(entry->text, service) == 0 && i-- == 0)
            return entry;
    }
    return nullptr;
}

std::vector<std::string> HostWarnings(void) {
    std::vector<std::string> warnings;
    for (size_t k = 0; k < RefHost_JournalSize(); ++k) {
        const JournalEntry* entry = RefHost_JournalEntry(k);
        if (entry->kind == J_WARNING)
            warnings.push_back(entry->text);
    }
    return warnings;
}

const WayOut kDialogWaysOut[3] = {
    {"cancel button", [](HWND dialog) { ClickButton(dialog, IDCANCEL); }},
    {"close box", [](HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    {"escape", [](HWND dialog) { PressKey(dialog, VK_ESCAPE); }},
};
