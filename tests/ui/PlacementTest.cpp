/*
 * Dialog placement over the host window, the cached normal-weight dialog font
 * and the About box.
 */
#include <gtest/gtest.h>

#include "extension/Library.h"
#include "resources/ResourceIds.h"
#include "sim/host/RefHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Placement.h"

#include <cstdlib>
#include <cstring>
#include <map>

/* ---- Position arithmetic ------------------------------------------------------------ */

struct PlacementCase {
    const char* name;
    POINT centre; /* of the reference's client area, on screen */
    SIZE dialog;
    SIZE screen;
    POINT expected;
};

TEST(DialogPosition, CentresOnThePointAndKeepsToThePrimaryScreen) {
    static const PlacementCase kCases[] = {
        {"centred", {500, 350}, {400, 300}, {1024, 768}, {300, 200}},
        {"past the right edge", {1100, 200}, {400, 300}, {1024, 768}, {624, 50}},
        {"monitor left of the primary", {-600, 400}, {400, 300}, {1024, 768}, {0, 250}},
        {"monitor above the primary", {400, -600}, {400, 300}, {1024, 768}, {200, 0}},
        {"past the bottom edge", {400, 800}, {400, 300}, {1024, 768}, {200, 468}},
        {"wider than the screen", {512, 384}, {1200, 300}, {1024, 768}, {0, 234}},
        {"larger than the screen both ways", {512, 384}, {1200, 900}, {1024, 768}, {0, 0}},
        {"odd dialog width", {400, 300}, {401, 301}, {1024, 768}, {200, 150}},
        {"desktop from the origin", {640, 512}, {300, 200}, {1280, 1024}, {490, 412}},
    };
    for (const PlacementCase& test : kCases) {
        SCOPED_TRACE(test.name);
        POINT at = ComputeDialogPosition(test.dialog, test.centre, test.screen);
        EXPECT_EQ(test.expected.x, at.x);
        EXPECT_EQ(test.expected.y, at.y);
    }
}

/* ---- Modeless copies of the templates ------------------------------------------------- */

static INT_PTR CALLBACK PassiveDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

struct ModelessDialog {
    explicit ModelessDialog(const char* templateName)
        : window(CreateDialogParamA(LibraryInstance(), templateName, RefHost_MainWindow(),
                                    PassiveDialogProc, 0)) {}
    ~ModelessDialog() {
        DestroyWindow(window);
    }
    ModelessDialog(const ModelessDialog&) = delete;
    ModelessDialog& operator=(const ModelessDialog&) = delete;
    HWND window;
};

static SIZE WindowSize(HWND window) {
    RECT rectangle;
    GetWindowRect(window, &rectangle);
    SIZE size = {rectangle.right - rectangle.left, rectangle.bottom - rectangle.top};
    return size;
}

static HWND CreateReference(DWORD extendedStyle, int x, int y, int width, int height) {
    return CreateWindowExA(extendedStyle, "STATIC", "", WS_POPUP | WS_VISIBLE, x, y, width, height,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

TEST(DialogPlacement, MovesTheDialogOverTheReferenceClientArea) {
    ModelessDialog dialog("ABOUT");
    ASSERT_NE(nullptr, dialog.window);
    SIZE size = WindowSize(dialog.window);

    /* An odd client width centres on the truncated half. */
    static const struct { int width, height; } kReferences[] = {{800, 600}, {801, 601}};
    for (const auto& reference : kReferences) {
        SCOPED_TRACE(reference.width);
        HWND window = CreateReference(0, 100, 50, reference.width, reference.height);
        PlaceDialog(dialog.window, window);
        RECT placed;
        GetWindowRect(dialog.window, &placed);
        EXPECT_EQ(100 + reference.width / 2 - size.cx / 2, placed.left);
        EXPECT_EQ(50 + reference.height / 2 - size.cy / 2, placed.top);
        EXPECT_EQ(size.cx, placed.right - placed.left);
        EXPECT_EQ(size.cy, placed.bottom - placed.top);
        DestroyWindow(window);
    }

    RECT desktop, placed;
    GetWindowRect(GetDesktopWindow(), &desktop);
    PlaceDialog(dialog.window, nullptr);
    GetWindowRect(dialog.window, &placed);
    EXPECT_EQ((desktop.right - desktop.left) / 2 - size.cx / 2, placed.left);
    EXPECT_EQ((desktop.bottom - desktop.top) / 2 - size.cy / 2, placed.top);
}

/* A mirrored host window's client x runs from its right edge: its origin on
   screen is its right side, and only the converted centre lands over it. */
TEST(DialogPlacement, CentresOverAMirroredHostWindow) {
    HWND window = CreateReference(WS_EX_LAYOUTRTL, 100, 50, 600, 400);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
    ModelessDialog dialog("ABOUT");
    ASSERT_NE(nullptr, dialog.window);

    PlaceDialog(dialog.window, window);
    RECT host, placed;
    GetWindowRect(window, &host);
    GetWindowRect(dialog.window, &placed);
    LONG hostCentre = (host.left + host.right) / 2;
    LONG dialogCentre = (placed.left + placed.right) / 2;
    EXPECT_LE(labs(hostCentre - dialogCentre), 1)
        << "host " << host.left << ".." << host.right << ", dialog " << placed.left << ".."
        << placed.right;
    EXPECT_EQ(50 + 200 - (placed.bottom - placed.top) / 2, placed.top);
    DestroyWindow(window);
}

/* ---- Font ---------------------------------------------------------------------------------- */

static std::map<HWND, WNDPROC> s_childProcs;
static std::map<HWND, std::vector<Message>> s_fontsSet;

static LRESULT CALLBACK FontRecorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETFONT)
        s_fontsSet[window].push_back({message, wParam, lParam});
    return CallWindowProcA(s_childProcs[window], window, message, wParam, lParam);
}

static BOOL CALLBACK RecordFonts(HWND child, LPARAM) {
    if (!s_childProcs.count(child))
        s_childProcs[child] = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FontRecorder)));
    return TRUE;
}

static std::string ClassOf(HWND window) {
    char name[100] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

static int KeepsTemplateFont(const std::string& className) {
    return lstrcmpiA(className.c_str(), "EDIT") == 0 ||
           lstrcmpiA(className.c_str(), "LISTBOX") == 0 ||
           lstrcmpiA(className.c_str(), "COMBOBOX") == 0;
}

/* A class of the test program that carries one of the excluded names in a
   mixed case, as a window of its own (not the system class). */
#define MIXED_CASE_CLASS "cOmBoBoX"

static HWND CreateMixedCaseChild(HWND parent) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = MIXED_CASE_CLASS;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, MIXED_CASE_CLASS, "", WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

class DialogFontTest : public testing::Test {
  protected:
    void SetUp() override {
        ReleaseDialogFont(); /* start without a cached font */
        RefHost_ClearJournal();
        s_fontsSet.clear();
    }
    void TearDown() override {
        for (auto& child : s_childProcs)
            if (IsWindow(child.first))
                SetWindowLongPtrA(child.first, GWLP_WNDPROC,
                                  reinterpret_cast<LONG_PTR>(child.second));
        s_childProcs.clear();
    }
};

TEST_F(DialogFontTest, StaticsAndButtonsGetIt_EditsAndListsKeepTheirs) {
    ModelessDialog dialog("DEV_SEL");
    ASSERT_NE(nullptr, dialog.window);
    HWND radio = GetDlgItem(dialog.window, IDC_DIR_INPUT);
    HWND grandchild = CreateWindowExA(0, "BUTTON", "x", WS_CHILD, 0, 0, 5, 5, radio, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
    HWND custom = CreateWindowExA(0, "OLM:CONTROLKANAL", "", WS_CHILD, 0, 0, 5, 5, dialog.window,
                                  nullptr, LibraryInstance(), nullptr);
    HWND mixedCase = CreateMixedCaseChild(dialog.window);
    ASSERT_EQ(MIXED_CASE_CLASS, ClassOf(mixedCase));
    EnumChildWindows(dialog.window, RecordFonts, 0);

    PlaceDialog(dialog.window, RefHost_MainWindow());

    ASSERT_EQ(1u, HostCalls("CreateStackedFontIndirect"));
    HFONT made = reinterpret_cast<HFONT>(HostCall("CreateStackedFontIndirect", 0)->value);
    ASSERT_NE(nullptr, made);
    size_t kept = 0, given = 0;
    for (auto& child : s_childProcs) {
        std::string className = ClassOf(child.first);
        SCOPED_TRACE(className);
        if (KeepsTemplateFont(className)) {
            EXPECT_NO_MESSAGES(s_fontsSet[child.first]);
            ++kept;
        } else {
            const Message expected[] = {{WM_SETFONT, reinterpret_cast<WPARAM>(made), 0}};
            EXPECT_SEQUENCE(s_fontsSet[child.first], expected);
            ++given;
        }
    }
    EXPECT_EQ(6u, kept) << "three edits, the list, the combo box and its mixed-case namesake";
    EXPECT_GE(given, 12u);
    EXPECT_EQ(1u, s_fontsSet.count(grandchild));
    EXPECT_EQ(1u, s_fontsSet.count(custom));
    DestroyWindow(mixedCase);
    UnregisterClassA(MIXED_CASE_CLASS, GetModuleHandleA(nullptr));
}

TEST_F(DialogFontTest, IsANormalWeightCopyOfTheDialogFont) {
    ModelessDialog dialog("DK08_SET");
    ASSERT_NE(nullptr, dialog.window);
    LOGFONTA original = {}, made = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog.window, WM_GETFONT, 0, 0)),
               sizeof original, &original);
    PlaceDialog(dialog.window, nullptr);
    ASSERT_EQ(1u, HostCalls("CreateStackedFontIndirect"));
    GetObjectA(reinterpret_cast<HFONT>(HostCall("CreateStackedFontIndirect", 0)->value),
               sizeof made, &made);
    EXPECT_EQ(400, made.lfWeight);
    EXPECT_EQ(original.lfHeight, made.lfHeight);
    EXPECT_EQ(original.lfCharSet, made.lfCharSet);
    EXPECT_STREQ(original.lfFaceName, made.lfFaceName);
    EXPECT_STREQ("ＭＳ ゴシック", made.lfFaceName);
}

TEST_F(DialogFontTest, IsMadeOnceAndReleasedOnce) {
    HFONT first = nullptr;
    for (const char* name : {"DEV_SEL", "ABOUT"}) {
        SCOPED_TRACE(name);
        ModelessDialog dialog(name);
        s_fontsSet.clear();
        EnumChildWindows(dialog.window, RecordFonts, 0);
        PlaceDialog(dialog.window, nullptr);
        HWND ok = GetDlgItem(dialog.window, IDOK);
        ASSERT_EQ(1u, s_fontsSet[ok].size());
        HFONT given = reinterpret_cast<HFONT>(s_fontsSet[ok][0].wParam);
        if (!first)
            first = given;
        EXPECT_EQ(first, given) << "whatever the font of the dialog placed later";
    }
    EXPECT_EQ(1u, HostCalls("CreateStackedFontIndirect"));
    EXPECT_EQ(1u, RefHost_OutstandingFonts());

    ReleaseDialogFont();
    ReleaseDialogFont();
    EXPECT_EQ(1u, HostCalls("DeleteStackedObject"));
    ASSERT_NE(nullptr, HostCall("DeleteStackedObject", 0));
    EXPECT_EQ(reinterpret_cast<DWORD>(first), HostCall("DeleteStackedObject", 0)->value);
    EXPECT_EQ(0u, RefHost_OutstandingFonts());
}

/* ---- About box ------------------------------------------------------------------------------ */

TEST(AboutBox, ShowsTheVersionAndOnlyOkClosesIt) {
    DialogDriver driver({[](HWND box) {
        EXPECT_EQ("RZX-DK08 Module Version 2.00", ItemText(box, IDC_ABOUT_VERSION));
        EXPECT_EQ("このﾓｼﾞｭｰﾙについて", [box] {
            char caption[64] = "";
            GetWindowTextA(box, caption, sizeof caption);
            return std::string(caption);
        }());

        SendMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(IsWindowVisible(box)) << "close box";
        SendMessageA(box, WM_CLOSE, 0, 0);
        EXPECT_TRUE(IsWindowVisible(box)) << "Alt+F4";
        PressKey(box, VK_ESCAPE);
        EXPECT_TRUE(IsWindowVisible(box)) << "Escape";
        SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);
        EXPECT_TRUE(IsWindowVisible(box)) << "command 1 with a notification code";
        ClickButton(box, IDOK);
    }});
    RunAboutBox(RefHost_MainWindow());
    EXPECT_EQ(1u, driver.Started());
}

TEST(AboutBox, EnterClosesIt) {
    DialogDriver driver({[](HWND box) { PressKey(box, VK_RETURN); }});
    RunAboutBox(RefHost_MainWindow());
    EXPECT_EQ(1u, driver.Started());
}
