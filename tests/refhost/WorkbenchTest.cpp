/*
 * The interactive workbench with the real extension: the extension's menu
 * command creates a module through the device selection dialog, a double click
 * in the list opens the settings dialog, and the list shows the module's new
 * name and channel count after OK. The modal dialogs are driven from a CBT
 * hook as a user would drive them.
 */
#include "HostFixture.h"
#include "sim/host/HostProgram.h"

namespace {

#define IDC_MODULE_NAME 23018
#define IDC_STEP_MORE   23001

typedef void (*DialogScript)(HWND dialog);
DialogScript s_script;
HHOOK s_hook;
int s_dialogs;

LRESULT CALLBACK DriveDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && s_script) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16];
        GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, "#32770") == 0) {
            ++s_dialogs;
            DialogScript script = s_script;
            s_script = nullptr;
            script(window);
        }
    }
    return CallNextHookEx(s_hook, code, wParam, lParam);
}

void PressOk(HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void RenameAndAddTwoChannels(HWND dialog) {
    SetDlgItemTextA(dialog, IDC_MODULE_NAME, "renamed");
    PostMessageA(dialog, WM_COMMAND, IDC_STEP_MORE, 0);
    PostMessageA(dialog, WM_COMMAND, IDC_STEP_MORE, 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

std::string ListLine(int i) {
    char text[256] = "";
    SendMessageA(WorkbenchList(), LB_GETTEXT, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(text));
    return text;
}

class WorkbenchTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        SetEnvironmentVariableA("RZXDK08_CONFIG", nullptr);
        ASSERT_EQ(1, RefHost_LoadExtension("Orvik_qx4.dll"));
        ASSERT_NE(nullptr, RefHost_ModuleClass());
        DefaultProgramOptions(&options);
        ASSERT_EQ(1, AttachWorkbench(&options));
        s_dialogs = 0;
        s_hook = SetWindowsHookExA(WH_CBT, DriveDialogs, nullptr, GetCurrentThreadId());
    }
    void TearDown() override {
        UnhookWindowsHookEx(s_hook);
        DetachWorkbench();
        HostTest::TearDown();
    }
    ProgramOptions options;
};

TEST_F(WorkbenchTest, TheMenuCreatesAModuleAndTheSettingsChangeItsLine) {
    s_script = PressOk;
    SendMessageA(RefHost_MainWindow(), WM_COMMAND, RefHost_ModuleClass()->createCommand, 0);
    EXPECT_EQ(1, s_dialogs);
    ASSERT_EQ(1u, RefHost_ModuleCount());
    ASSERT_EQ(1, SendMessageA(WorkbenchList(), LB_GETCOUNT, 0, 0));
    std::string line = ListLine(0);
    EXPECT_NE(std::string::npos, line.find("ソケット  0  ポート A   入力   1 チャンネル")) << line;

    SendMessageA(WorkbenchList(), LB_SETCURSEL, 0, 0);
    s_script = RenameAndAddTwoChannels;
    SendMessageA(RefHost_MainWindow(), WM_COMMAND, MAKEWPARAM(WORKBENCH_LIST_ID, LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(WorkbenchList()));
    EXPECT_EQ(2, s_dialogs);
    line = ListLine(0);
    EXPECT_EQ(0u, line.find("renamed")) << line;
    EXPECT_NE(std::string::npos, line.find("3 チャンネル")) << line;
    EXPECT_EQ(3u, RefModule_Record(RefHost_Module(0))->outputCount);
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
}

} // namespace
