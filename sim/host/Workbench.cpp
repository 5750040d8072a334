/*
 * The interactive workbench: the host window with a list of the worksheet's
 * modules (name, card, port, direction, channel count). The extension's menu
 * entry creates a module through its device selection dialog; a double click
 * or the edit menu opens a module's settings; the file menu saves and loads
 * worksheets; the experiment menu starts, pauses, stops a run and pulls the
 * selected module's card. While a run goes on the title shows its progress,
 * the live view draws its channels (opened at the start until the user closes
 * it; the view menu opens and closes it) and the worksheet cannot be changed.
 */
#include "sim/host/HostProgram.h"
#include "sim/host/HostInternal.h"
#include "sim/host/LiveView.h"

#include <commdlg.h>
#include <cstdio>
#include <cstring>
#include <string>

#define ID_MODULE_LIST WORKBENCH_LIST_ID
#define PROGRESS_TIMER 1u
#define HOST_TITLE     "Orvik リファレンスホスト"

static HWND s_list;
static HFONT s_font;
static const ProgramOptions* s_options;
static int s_liveWanted = 1; /* the user has not closed the live view */
static int s_liveWasOpen;    /* it was open when the workbench last looked */

/* A view that was open and is gone was closed by the user, with its close box. */
static void NoteLiveViewClosed(void) {
    if (s_liveWasOpen && !LiveView_Window()) {
        s_liveWanted = 0;
    }
    s_liveWasOpen = LiveView_Window() != nullptr;
}

static void FormatModuleLine(size_t index, char* text, size_t size) {
    ModuleRecord* record = RefModule_Record(RefHost_Module(index));
    const ModuleSettings* settings = record->settings;
    char port = settings->port < 3 ? static_cast<char>('A' + settings->port) : '?';
    int output = record->inputCount > 0;
    std::snprintf(text, size, "%-12.12s   ソケット %2u  ポート %c   %s   %lu チャンネル",
                  record->name, settings->socket, port, output ? "出力" : "入力",
                  static_cast<unsigned long>(output ? record->inputCount : record->outputCount));
}

static void RefreshList(void) {
    LRESULT selected = SendMessageA(s_list, LB_GETCURSEL, 0, 0);
    SendMessageA(s_list, LB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        char line[160];
        FormatModuleLine(i, line, sizeof line);
        SendMessageA(s_list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    if (selected != LB_ERR && static_cast<size_t>(selected) < RefHost_ModuleCount()) {
        SendMessageA(s_list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    }
}

static RefModule* SelectedModule(void) {
    LRESULT selected = SendMessageA(s_list, LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? nullptr : RefHost_Module(static_cast<size_t>(selected));
}

/* The worksheet stays as it is while a run goes on. */
static int Editable(void) {
    if (RefHost_RunActive()) {
        MessageBeep(MB_ICONWARNING);
        return 0;
    }
    return 1;
}

static int AskFileName(HWND window, int save, char* path, DWORD size) {
    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = "ワークシート (*.ows)\0*.ows\0すべてのファイル (*.*)\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = size;
    dialog.lpstrDefExt = "ows";
    dialog.Flags = save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
    return save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
}

static void OnOpenWorksheet(HWND window) {
    char path[MAX_PATH] = "";
    if (!Editable() || !AskFileName(window, 0, path, sizeof path)) {
        return;
    }
    int loaded = RefHost_LoadWorksheet(path);
    RefreshList();
    if (RefHost_WorksheetProblemCount() > 0) {
        std::string text;
        for (size_t i = 0; i < RefHost_WorksheetProblemCount(); ++i) {
            text += RefHost_WorksheetProblem(i);
            text += "\n";
        }
        char head[80];
        std::snprintf(head, sizeof head, "%d 個のモジュールを読み込みました。\n\n",
                      loaded < 0 ? 0 : loaded);
        MessageBoxA(window, (head + text).c_str(), "ワークシート", MB_OK | MB_ICONWARNING);
    }
}

static void OnSaveWorksheet(HWND window) {
    char path[MAX_PATH] = "";
    if (AskFileName(window, 1, path, sizeof path) && !RefHost_SaveWorksheet(path)) {
        MessageBoxA(window, path, "保存できませんでした", MB_OK | MB_ICONERROR);
    }
}

static void OnCreateModule(void) {
    if (Editable()) {
        RefHost_CreateModule();
        RefreshList();
    }
}

static void OnOpenSettings(void) {
    RefModule* module = SelectedModule();
    if (module && Editable()) {
        RefHost_OpenModule(module);
        RefreshList();
    }
}

static void OnDeleteModule(void) {
    RefModule* module = SelectedModule();
    if (module && Editable()) {
        RefHost_DeleteModule(module);
        RefreshList();
    }
}

static void OnShowJournal(HWND window) {
    char text[2048];
    int n = std::snprintf(text, sizeof text,
                          "ルックアップ %u / %u、警告 %u、契約違反 %u、リーク %u\n"
                          "確保中のブロック %u、フォント %u\n\n",
                          static_cast<unsigned>(RefHost_CountKind(J_GETVAR)),
                          static_cast<unsigned>(RefHost_CountKind(J_GETFUNC)),
                          static_cast<unsigned>(RefHost_CountKind(J_WARNING)),
                          static_cast<unsigned>(RefHost_CountKind(J_VIOLATION)),
                          static_cast<unsigned>(RefHost_CountKind(J_LEAK)),
                          static_cast<unsigned>(RefHost_LiveBlocks()),
                          static_cast<unsigned>(RefHost_OutstandingFonts()));
    for (size_t i = RefHost_JournalSize(); i-- > 0 && n > 0 && n < 1800;) {
        const JournalEntry* entry = RefHost_JournalEntry(i);
        if (entry->kind == J_WARNING || entry->kind == J_VIOLATION) {
            n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%s\n", entry->text);
        }
    }
    MessageBoxA(window, text, "ジャーナル", MB_OK);
}

static void ShowRunTitle(HWND window) {
    const RunReport* report = RefHost_RunProgress();
    if (!report) {
        return;
    }
    char title[200];
    std::snprintf(title, sizeof title,
                  "%s - 実験中 %.1f 秒  ブロック %llu / %llu  遅れ 平均 %.1f ms%s", HOST_TITLE,
                  report->seconds, report->blocksReleased, report->blocksTaken, report->lateMeanMs,
                  RefHost_RunPaused() ? "  (一時停止)" : "");
    SetWindowTextA(window, title);
}

static void OnStartRun(HWND window) {
    if (RefHost_RunActive()) {
        return;
    }
    RunOptions run = s_options->run;
    run.seconds = 0.0; /* until stopped */
    run.blocks = 0;
    run.pullSocket = -1;
    run.pauseAtSeconds = 0.0;
    run.millisecondsPerSample = RefHost_WorksheetRate();
    run.blockSize = RefHost_WorksheetBlockSize();
    NoteLiveViewClosed();
    if (s_liveWanted) {
        LiveView_Open(window);
    }
    SetTimer(window, PROGRESS_TIMER, 250, nullptr);
    RunReport report;
    RefHost_Run(&run, &report);
    KillTimer(window, PROGRESS_TIMER);
    NoteLiveViewClosed();
    char title[200];
    std::snprintf(title, sizeof title, "%s - %s (%.1f 秒、ブロック %llu)", HOST_TITLE,
                  RefHost_RunEndText(report.end), report.seconds, report.blocksReleased);
    SetWindowTextA(window, title);
    if (report.end != RUN_REFUSED) {
        WriteRunFiles(s_options, stdout);
    }
    RefreshList();
}

static void OnPullCard(void) {
    RefModule* module = SelectedModule();
    const SimCalls* sim = SimLink();
    if (module && sim && RefModule_Record(module)->settings->socket < SIM_SOCKETS) {
        sim->SimCard_Pull(RefModule_Record(module)->settings->socket);
    } else {
        MessageBeep(MB_ICONWARNING);
    }
}

static void OnToggleLiveView(HWND window) {
    if (LiveView_Window()) {
        LiveView_Close();
        s_liveWanted = 0;
    } else {
        s_liveWanted = LiveView_Open(window);
    }
    s_liveWasOpen = LiveView_Window() != nullptr;
}

static void OnExtensionSetup(void) {
    if (RefHost_MenuEntryHandler()) {
        RefHost_MenuEntryHandler()();
    }
}

static int OnCommand(HWND window, UINT command, UINT notification) {
    const ModuleClassDescriptor* descriptor = RefHost_ModuleClass();
    if (command == ID_MODULE_LIST) {
        if (notification == LBN_DBLCLK) {
            OnOpenSettings();
        }
        return 1;
    }
    if (descriptor && command == descriptor->createCommand) {
        OnCreateModule();
        return 1;
    }
    switch (command) {
    case IDM_FILE_OPEN:
        OnOpenWorksheet(window);
        return 1;
    case IDM_FILE_SAVE:
        OnSaveWorksheet(window);
        return 1;
    case IDM_FILE_EXIT:
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 1;
    case IDM_EDIT_SETTINGS:
        OnOpenSettings();
        return 1;
    case IDM_EDIT_DELETE:
        OnDeleteModule();
        return 1;
    case IDM_VIEW_JOURNAL:
        OnShowJournal(window);
        return 1;
    case IDM_VIEW_LIVE:
        OnToggleLiveView(window);
        return 1;
    case IDM_RUN_START:
        OnStartRun(window);
        return 1;
    case IDM_RUN_PAUSE:
        RefHost_RequestRunPause(!RefHost_RunPaused());
        return 1;
    case IDM_RUN_STOP:
        RefHost_RequestRunStop();
        return 1;
    case IDM_RUN_PULL:
        OnPullCard();
        return 1;
    case IDM_RUN_SETUP:
        OnExtensionSetup();
        return 1;
    }
    return 0;
}

static int WorkbenchHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    switch (message) {
    case WM_COMMAND:
        return OnCommand(window, LOWORD(wParam), HIWORD(wParam));
    case WM_SIZE:
        MoveWindow(s_list, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 1;
    case WM_TIMER:
        ShowRunTitle(window);
        return 1;
    case WM_INITMENUPOPUP:
        CheckMenuItem(RefHost_MainMenu(), IDM_VIEW_LIVE,
                      MF_BYCOMMAND | (LiveView_Window() ? MF_CHECKED : MF_UNCHECKED));
        return 0; /* the window's own handling goes on */
    case WM_CLOSE:
        /* The host is torn down after the message loop, modules first. */
        RefHost_RequestRunStop();
        PostQuitMessage(0);
        return 1;
    }
    return 0;
}

int AttachWorkbench(const ProgramOptions* options) {
    s_options = options;
    s_liveWanted = 1;
    s_liveWasOpen = 0;
    HWND window = RefHost_MainWindow();
    RECT client;
    GetClientRect(window, &client);
    s_list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                             0, 0, client.right, client.bottom, window,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(ID_MODULE_LIST)),
                             GetModuleHandleA(nullptr), nullptr);
    if (!s_list) {
        return 0;
    }
    s_font =
        CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "ＭＳ ゴシック");
    SendMessageA(s_list, WM_SETFONT,
                 reinterpret_cast<WPARAM>(s_font ? s_font : GetStockObject(DEFAULT_GUI_FONT)),
                 TRUE);
    SetHostMessageHook(WorkbenchHook);
    RefreshList();
    return 1;
}

void DetachWorkbench(void) {
    SetHostMessageHook(nullptr);
    LiveView_Close();
    if (s_list) {
        DestroyWindow(s_list);
        s_list = nullptr;
    }
    if (s_font) {
        DeleteObject(s_font);
        s_font = nullptr;
    }
}

HWND WorkbenchList(void) {
    return s_list;
}

int RunWorkbench(const ProgramOptions* options) {
    if (!AttachWorkbench(options)) {
        return 2;
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DetachWorkbench();
    return 0;
}
