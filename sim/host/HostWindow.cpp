/*
 * The host's main window: its menu bar (four menus of its own; the extension
 * inserts its popup at position 3), the answers to the lookup messages with a
 * journal entry for each, and the menu commands of the module class and the
 * extension's menu entry. The workbench adds its list and commands through a
 * message hook.
 */
#include "sim/host/HostInternal.h"
#include "sim/host/LiveView.h"

#include <cstring>
#include <string>

#define HOST_WINDOW_CLASS "OrvikRefHostMain"

static HINSTANCE s_instance;
static HWND s_window;
static HMENU s_menu;
static std::vector<std::string> s_refusedNames;
static HostMessageHook s_hook;

void SetHostMessageHook(HostMessageHook hook) {
    s_hook = hook;
}

void RefHost_RefuseName(const char* name) {
    if (name) {
        s_refusedNames.push_back(name);
    }
}

void RefHost_ClearRefusals(void) {
    s_refusedNames.clear();
}

static int IsRefused(const char* name) {
    for (size_t i = 0; i < s_refusedNames.size(); ++i) {
        if (s_refusedNames[i] == name) {
            return 1;
        }
    }
    return 0;
}

static LRESULT Lookup(JournalKind kind, LPARAM lParam) {
    const char* name = reinterpret_cast<const char*>(lParam);
    if (!name) {
        JournalAdd(kind, "", 0, 0, 0);
        return 0;
    }
    LRESULT answer = 0;
    if (!IsRefused(name)) {
        answer = kind == J_GETVAR ? AnswerVariable(name) : AnswerFunction(name);
    }
    JournalAdd(kind, name, static_cast<DWORD>(answer), 0, 0);
    return answer;
}

static LRESULT HostWindow_OnGetVar(HWND, WPARAM, LPARAM lParam) {
    return Lookup(J_GETVAR, lParam);
}

static LRESULT HostWindow_OnGetFunc(HWND, WPARAM, LPARAM lParam) {
    return Lookup(J_GETFUNC, lParam);
}

static LRESULT HostWindow_OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    UINT command = LOWORD(wParam);
    const ModuleClassDescriptor* descriptor = RefHost_ModuleClass();
    if (descriptor && command == descriptor->createCommand) {
        RefHost_CreateModule();
        return 0;
    }
    if (command != 0 && command == RefHost_MenuEntryCommand() && RefHost_MenuEntryHandler()) {
        RefHost_MenuEntryHandler()();
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

static LRESULT HostWindow_OnDestroy(HWND, WPARAM, LPARAM) {
    s_window = nullptr;
    return 0;
}

struct MessageHandler {
    UINT message;
    LRESULT (*handle)(HWND window, WPARAM wParam, LPARAM lParam);
};

static const MessageHandler kHandlers[] = {
    {HM_GETVAR, HostWindow_OnGetVar},
    {HM_GETFUNC, HostWindow_OnGetFunc},
    {WM_COMMAND, HostWindow_OnCommand},
    {WM_DESTROY, HostWindow_OnDestroy},
};

static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (message != HM_GETVAR && message != HM_GETFUNC && s_hook &&
        s_hook(window, message, wParam, lParam, &result)) {
        return result;
    }
    for (size_t i = 0; i < sizeof kHandlers / sizeof kHandlers[0]; ++i) {
        if (kHandlers[i].message == message) {
            return kHandlers[i].handle(window, wParam, lParam);
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct MenuItem {
    UINT command; /* 0: separator */
    const char* text;
};

static HMENU BuildPopup(const MenuItem* items, size_t count) {
    HMENU popup = CreatePopupMenu();
    for (size_t i = 0; i < count; ++i) {
        if (items[i].command == 0) {
            AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuA(popup, MF_STRING, items[i].command, items[i].text);
        }
    }
    return popup;
}

static const MenuItem kFileMenu[] = {
    {IDM_FILE_OPEN, "ワークシートを開く(&O)..."},
    {IDM_FILE_SAVE, "ワークシートを保存(&S)..."},
    {0, nullptr},
    {IDM_FILE_EXIT, "終了(&X)"},
};
static const MenuItem kEditMenu[] = {
    {IDM_EDIT_SETTINGS, "モジュールの設定(&P)..."},
    {IDM_EDIT_DELETE, "モジュールの削除(&D)"},
};
static const MenuItem kViewMenu[] = {
    {IDM_VIEW_JOURNAL, "ジャーナル(&J)"},
    {IDM_VIEW_LIVE, "ライブビュー(&L)"},
};
static const MenuItem kRunMenu[] = {
    {IDM_RUN_START, "開始(&S)"},        {IDM_RUN_PAUSE, "一時停止／再開(&P)"},
    {IDM_RUN_STOP, "停止(&T)"},         {0, nullptr},
    {IDM_RUN_PULL, "カードを抜く(&R)"}, {IDM_RUN_SETUP, "拡張のセットアップ(&U)"},
};

#define MENU_ITEMS(items) items, sizeof items / sizeof items[0]

static HMENU BuildMenuBar(void) {
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildPopup(MENU_ITEMS(kFileMenu))),
                "ファイル(&F)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildPopup(MENU_ITEMS(kEditMenu))),
                "編集(&E)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildPopup(MENU_ITEMS(kViewMenu))),
                "表示(&W)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildPopup(MENU_ITEMS(kRunMenu))),
                "実験(&X)");
    return bar;
}

static int RegisterHostClass(HINSTANCE instance) {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = HOST_WINDOW_CLASS;
    if (RegisterClassA(&wc)) {
        return 1;
    }
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int RefHost_Create(HINSTANCE instance, int showWindow) {
    if (s_window) {
        return 0;
    }
    s_instance = instance;
    if (!RegisterHostClass(instance) || !CreateHostBitmaps()) {
        DeleteHostBitmaps();
        return 0;
    }
    s_menu = BuildMenuBar();
    s_window =
        CreateWindowExA(0, HOST_WINDOW_CLASS, "Orvik リファレンスホスト", WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, 720, 480, nullptr, s_menu, instance, nullptr);
    if (!s_window) {
        DestroyMenu(s_menu);
        s_menu = nullptr;
        DeleteHostBitmaps();
        return 0;
    }
    BuildLookupAnswers(instance, s_menu);
    if (showWindow) {
        ShowWindow(s_window, showWindow);
        UpdateWindow(s_window);
    }
    return 1;
}

void RefHost_Destroy(void) {
    DeleteAllModules();
    RefHost_UnloadExtension();
    RefHost_CheckLeaks();
    if (s_window) {
        DestroyWindow(s_window); /* the menu goes with it */
    }
    s_window = nullptr;
    s_menu = nullptr;
    s_hook = nullptr;
    ReleaseLookupObjects();
    DeleteHostBitmaps();
    ReleaseAllocator();
    ForgetRegistrations();
    ResetModuleNumbers();
    RefHost_ClearRefusals();
    UnregisterClassA(HOST_WINDOW_CLASS, s_instance);
}

HWND RefHost_MainWindow(void) {
    return s_window;
}

HMENU RefHost_MainMenu(void) {
    return s_menu;
}
