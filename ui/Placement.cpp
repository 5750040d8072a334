/*
 * Where the settings dialog appears and how its texts look: centred over the
 * host's main window and kept on the primary screen, statics and buttons in a
 * normal-weight copy of the dialog font (made once through the host, released
 * at shut-down), edits and lists left in the template font. Also the "ABOUT"
 * box. The device selection dialog keeps its template position and font.
 */
#include "ui/Placement.h"

#include "host/LibraryHandles.h"
#include "host/HostServices.h"
#include "resources/ResourceIds.h"

#define NORMAL_FONT_WEIGHT 400
#define CLASS_NAME_BYTES   100
#define VERSION_TEXT_BYTES 128

static HFONT s_dialogFont;
static char s_className[CLASS_NAME_BYTES];

/* ---- Position ------------------------------------------------------------------ */

static LONG KeepOnScreen(LONG at, LONG extent, LONG screen) {
    if (at + extent > screen)
        at = screen - extent;
    return at;
}

POINT ComputeDialogPosition(SIZE dialog, POINT centreOnScreen, SIZE screen) {
    POINT at;
    at.x = KeepOnScreen(centreOnScreen.x - dialog.cx / 2, dialog.cx, screen.cx);
    at.y = KeepOnScreen(centreOnScreen.y - dialog.cy / 2, dialog.cy, screen.cy);
    /* After the edge rules, so a dialog larger than the screen shows its top left. */
    if (at.x < 0)
        at.x = 0;
    if (at.y < 0)
        at.y = 0;
    return at;
}

/* The centre of the reference window's client area on screen; without one the
   centre of the desktop's size, taken from the screen origin. The centre
   itself goes through ClientToScreen, so a window with a right-to-left layout,
   whose client x runs from its right edge, is centred over too. */
static POINT ReferenceCentre(HWND reference) {
    RECT area;
    if (reference)
        GetClientRect(reference, &area);
    else
        GetWindowRect(GetDesktopWindow(), &area);
    POINT centre = {(area.right - area.left) / 2, (area.bottom - area.top) / 2};
    if (reference)
        ClientToScreen(reference, &centre);
    return centre;
}

static void CentreDialog(HWND dialog, HWND reference) {
    RECT own;
    GetWindowRect(dialog, &own);
    SIZE size = {own.right - own.left, own.bottom - own.top};
    SIZE screen = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    POINT at = ComputeDialogPosition(size, ReferenceCentre(reference), screen);
    MoveWindow(dialog, at.x, at.y, size.cx, size.cy, FALSE);
}

/* ---- Font ------------------------------------------------------------------------ */

/* A normal-weight copy of the dialog's font, owned by the host's font stack;
   null when the dialog has no font or the host made none. */
static HFONT CreateNormalWeightFont(HWND dialog) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA description;
    if (!font || !GetObjectA(font, sizeof description, &description))
        return nullptr;
    description.lfWeight = NORMAL_FONT_WEIGHT;
    if (!Host().CreateStackedFontIndirect)
        return nullptr;
    return Host().CreateStackedFontIndirect(&description);
}

/* Text the user types keeps the template font. */
static int KeepsTemplateFont(const char* className) {
    return lstrcmpiA(className, "EDIT") == 0 || lstrcmpiA(className, "LISTBOX") == 0 ||
           lstrcmpiA(className, "COMBOBOX") == 0;
}

static BOOL CALLBACK ApplyDialogFont(HWND child, LPARAM) {
    if (!GetClassNameA(child, s_className, sizeof s_className))
        s_className[0] = '\0';
    if (!KeepsTemplateFont(s_className))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(s_dialogFont), 0);
    return TRUE;
}

void PlaceDialog(HWND dialog, HWND reference) {
    CentreDialog(dialog, reference);
    if (!s_dialogFont)
        s_dialogFont = CreateNormalWeightFont(dialog);
    EnumChildWindows(dialog, ApplyDialogFont, 0);
}

void ReleaseDialogFont(void) {
    if (!s_dialogFont)
        return;
    if (Host().DeleteStackedObject)
        Host().DeleteStackedObject(s_dialogFont);
    s_dialogFont = nullptr;
}

/* ---- About box ---------------------------------------------------------------------- */

static INT_PTR AboutBox_OnInitDialog(HWND box) {
    char text[VERSION_TEXT_BYTES];
    if (!LoadStringA(LibraryInstance(), IDS_MODULE_VERSION, text, sizeof text))
        text[0] = '\0';
    SetDlgItemTextA(box, IDC_ABOUT_VERSION, text);
    return TRUE;
}

/* Only the OK button or Enter (command 1, notification 0) ends the box. */
static INT_PTR AboutBox_OnCommand(HWND box, WPARAM wParam) {
    if (wParam == IDOK)
        EndDialog(box, 0);
    return TRUE;
}

static INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return AboutBox_OnInitDialog(box);
    case WM_COMMAND:
        return AboutBox_OnCommand(box, wParam);
    case WM_CLOSE: /* the close box and Alt+F4 leave it open */
        return TRUE;
    }
    return FALSE;
}

void RunAboutBox(HWND parent) {
    DialogBoxParamA(LibraryInstance(), "ABOUT", parent, AboutBoxProc, 0);
}
