/*
 * Opens the extension's three dialogs in the reference host, one after the
 * other, for a camera outside Wine (scripts/screenshots): the device selection
 * as a module is placed, the settings of an input module with three channels
 * and channel 1 selected, the About box over them, and the live view three
 * seconds into a loopback run on the simulator's cabled cards.
 *
 *   orvik_screenshots.exe FOLDER
 *
 * For each dialog it writes FOLDER/<name>.rect ("left top width height" on the
 * screen) once the dialog is painted, and waits, still painting, until
 * FOLDER/<name>.done appears. Names: dev_sel, dk08_set, about, live_view.
 */
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "extension/Library.h"
#include "resources/ResourceIds.h"
#include "sim/card/SimCard.h"
#include "sim/host/LiveView.h"
#include "sim/host/RefHost.h"

#define SETTLE_MS      400u
#define CAMERA_WAIT_MS 30000u

static const char kCards[] = "card 0 0x300 4 0x310 16\n"
                             "card 1 0x320 4 0x330 16\n";

static std::string s_folder;
static std::deque<void (*)(HWND)> s_scripts;
static HHOOK s_hook;

static void Pump(DWORD milliseconds) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

static int FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

/* Shows the dialog to the camera and returns once it has taken the picture. */
static void Photograph(HWND dialog, const char* name) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    Pump(SETTLE_MS);
    RECT rectangle;
    GetWindowRect(dialog, &rectangle);
    std::string rect = s_folder + "/" + name + ".rect";
    std::string done = s_folder + "/" + name + ".done";
    FILE* file = fopen((rect + ".tmp").c_str(), "w");
    if (!file)
        return;
    fprintf(file, "%ld %ld %ld %ld\n", rectangle.left, rectangle.top,
            rectangle.right - rectangle.left, rectangle.bottom - rectangle.top);
    fclose(file);
    MoveFileA((rect + ".tmp").c_str(), rect.c_str());
    DWORD start = GetTickCount();
    while (!FileExists(done) && GetTickCount() - start < CAMERA_WAIT_MS)
        Pump(50);
    DeleteFileA(done.c_str());
}

static void Press(HWND control) {
    SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

/* ---- What happens in each dialog -------------------------------------------------- */

static void DeviceSelection(HWND dialog) {
    Photograph(dialog, "dev_sel");
    SendDlgItemMessageA(dialog, IDCANCEL, BM_CLICK, 0, 0);
}

static void Settings(HWND dialog) {
    Press(GetDlgItem(dialog, IDC_CHANNEL_FIRST + 1));
    Photograph(dialog, "dk08_set");
    SendDlgItemMessageA(dialog, IDC_VERSION_BUTTON, BM_CLICK, 0, 0);
    SendDlgItemMessageA(dialog, IDCANCEL, BM_CLICK, 0, 0);
}

static void About(HWND box) {
    Photograph(box, "about");
    SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
}

/* ---- Scripting the modal dialogs ------------------------------------------------------ */

static HWND s_pending;

static void CALLBACK RunScript(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND dialog = s_pending;
    s_pending = nullptr;
    if (!dialog || s_scripts.empty())
        return;
    void (*script)(HWND) = s_scripts.front();
    s_scripts.pop_front();
    script(dialog);
}

static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    char name[16];
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && GetClassNameA(window, name, sizeof name) &&
        strcmp(name, "#32770") == 0 && !GetPropA(window, "OrvikSeen")) {
        SetPropA(window, "OrvikSeen", reinterpret_cast<HANDLE>(1));
        s_pending = window;
        SetTimer(nullptr, 0, 50, RunScript);
    }
    return CallNextHookEx(s_hook, code, wParam, lParam);
}

/* ---- The session ------------------------------------------------------------------------ */

static RefModule* InputModuleWithThreeChannels(void) {
    ModuleSettings settings = {};
    for (int k = 0; k < 8; ++k)
        snprintf(settings.channelNames[k], sizeof settings.channelNames[k], "Bit %d", 7 - k);
    settings.socket = 0;
    settings.port = 0;
    return RefHost_RestoreModule("DIO 入力", "カード 0 ポート A の下位 3 ビット", 0, 3, &settings);
}

/* ---- The live view during a run ------------------------------------------------------- */

static void CALLBACK PhotographLiveView(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (LiveView_Window())
        Photograph(LiveView_Window(), "live_view");
    RefHost_RequestRunStop();
}

static RefModule* LoopModule(const char* name, WORD socket, DWORD port, DWORD inputs, DWORD outputs,
                             const char* channelFormat) {
    ModuleSettings settings = {};
    for (int k = 0; k < 8; ++k)
        snprintf(settings.channelNames[k], sizeof settings.channelNames[k], channelFormat, k);
    settings.socket = socket;
    settings.port = port;
    return RefHost_RestoreModule(name, "", inputs, outputs, &settings);
}

/* The simulator's default cards, whose cable joins socket 0 port B to socket 1
   port A: four patterns go out on B and come back on A. */
static int LiveViewDuringARun(void) {
    RefHost_UnloadExtension();
    if (!SimCard_Reset(nullptr) || RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL) != 1)
        return 0;
    RefModule* writer = LoopModule("出力 B", 0, 1, 4, 0, "パターン %d");
    RefModule* reader = LoopModule("入力 A", 1, 0, 0, 8, "ビット %d");
    static const char* const kPatterns[] = {"square:400", "square:1000", "counter:8", "square:250"};
    for (UINT i = 0; writer && i < 4; ++i)
        RefHost_SetInputPattern(writer, i, kPatterns[i]);
    int shown = writer && reader && LiveView_Open(RefHost_MainWindow());
    if (shown) {
        MoveWindow(LiveView_Window(), 60, 40, 760, 560, TRUE);
        RunOptions options;
        RefHost_DefaultRunOptions(&options);
        options.millisecondsPerSample = 1.0;
        options.blockSize = 100;
        options.seconds = 30.0; /* the photograph stops it */
        RunReport report;
        SetTimer(nullptr, 0, 3000, PhotographLiveView);
        shown = RefHost_Run(&options, &report);
        LiveView_Close();
    }
    if (writer)
        RefHost_DeleteModule(writer);
    if (reader)
        RefHost_DeleteModule(reader);
    return shown;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: orvik_screenshots FOLDER\n");
        return 2;
    }
    s_folder = argv[1];
    SetLibraryInstance(GetModuleHandleA(nullptr));
    if (!SimCard_Reset(kCards) || !RefHost_Create(GetModuleHandleA(nullptr), SW_SHOWNORMAL) ||
        !RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL)) {
        fprintf(stderr, "orvik_screenshots: the host did not admit the extension\n");
        return 1;
    }
    MoveWindow(RefHost_MainWindow(), 0, 0, 900, 640, TRUE);
    Pump(SETTLE_MS);
    s_hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());

    s_scripts = {DeviceSelection};
    RefHost_CreateModule(); /* cancelled in the dialog: no module */

    RefModule* module = InputModuleWithThreeChannels();
    s_scripts = {Settings, About};
    if (module)
        RefHost_OpenModule(module);

    UnhookWindowsHookEx(s_hook);
    if (module)
        RefHost_DeleteModule(module);
    int live = LiveViewDuringARun();
    RefHost_UnloadExtension();
    RefHost_Destroy();
    return module && live ? 0 : 1;
}
