/*
 * The "DEV_SEL" dialog that asks, when a module is placed, which card and which
 * free port it uses and in which direction. It edits a scratch copy of the
 * device table; only a commit writes the copy back, with the chosen port
 * claimed. What the module does with the choice is the module's business.
 */
#include "ui/DeviceSelector.h"

#include "card/DeviceTable.h"
#include "host/LibraryHandles.h"
#include "host/HostServices.h"
#include "resources/ResourceIds.h"

#include <cstdio>
#include <cstring>

#define PORT_COUNT        3u
#define NO_SOCKET_SHOWN   0xFFFFu
#define DIALOG_TEXT_BYTES 64u
#define SELECTOR_CAPTION  "RZX-DK08"
#define NO_DEVICE_TEXT    "使えるデバイスがありませんでした"

static DeviceEntry s_scratch[SOCKET_COUNT];
static WORD s_rowSocket[SOCKET_COUNT];
static unsigned s_rowCount;
static WORD s_comboPort[PORT_COUNT];
static unsigned s_comboCount;
static WORD s_shownSocket;
static WORD s_chosenSocket;
static WORD s_chosenPort;

static const char* const kPortTexts[PORT_COUNT] = {"ポート A", "ポート B", "ポート C"};

WORD ChosenSocket(void) {
    return s_chosenSocket;
}

WORD ChosenPort(void) {
    return s_chosenPort;
}

/* ---- Showing a card --------------------------------------------------------------- */

static int HasFreePort(const DeviceEntry& entry) {
    for (unsigned port = 0; port < PORT_COUNT; ++port) {
        if (!entry.portInUse[port])
            return 1;
    }
    return 0;
}

/* Base to last address in 32-bit arithmetic: a zero length shows FFFFFFFFh as the end. */
static void SetRangeText(HWND dialog, int control, DWORD base, DWORD length) {
    char text[DIALOG_TEXT_BYTES];
    snprintf(text, sizeof text, "%03lXh - %03lXh", static_cast<unsigned long>(base),
             static_cast<unsigned long>(base + length - 1u));
    SetDlgItemTextA(dialog, control, text);
}

static void CheckDirection(HWND dialog, const DeviceEntry& entry, WORD port) {
    CheckRadioButton(dialog, IDC_DIR_INPUT, IDC_DIR_OUTPUT,
                     entry.portIsOutput[port] ? IDC_DIR_OUTPUT : IDC_DIR_INPUT);
}

/* The combo box sorts, and the texts differ only in the port letter, so its
   rows stay in the order A, B, C that comboPort records. */
static void FillFreePorts(HWND dialog, const DeviceEntry& entry) {
    HWND combo = GetDlgItem(dialog, IDC_PORT_COMBO);
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0)
        SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    s_comboCount = 0;
    for (WORD port = 0; port < PORT_COUNT; ++port) {
        if (entry.portInUse[port])
            continue;
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kPortTexts[port]));
        s_comboPort[s_comboCount++] = port;
    }
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

static void ShowSocket(HWND dialog, WORD socket) {
    if (socket == s_shownSocket)
        return;
    const DeviceEntry& entry = s_scratch[socket];
    SetRangeText(dialog, IDC_IO_RANGE_1, entry.ioBase1, entry.ioLength1);
    SetRangeText(dialog, IDC_IO_RANGE_2, entry.ioBase2, entry.ioLength2);
    SetDlgItemInt(dialog, IDC_DEVICE_SOCKET, socket, FALSE);
    FillFreePorts(dialog, entry);
    if (s_comboCount > 0)
        CheckDirection(dialog, entry, s_comboPort[0]);
    s_shownSocket = socket;
}

/* ---- Current choice --------------------------------------------------------------- */

/* The card of the selected list row and the port of the selected combo row;
   0 when either list has no valid selection. */
static int CurrentChoice(HWND dialog, WORD* socket, WORD* port) {
    LRESULT row = SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
    LRESULT comboRow = SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0);
    if (row < 0 || static_cast<unsigned>(row) >= s_rowCount)
        return 0;
    if (comboRow < 0 || static_cast<unsigned>(comboRow) >= s_comboCount)
        return 0;
    *socket = s_rowSocket[row];
    *port = s_comboPort[comboRow];
    return 1;
}

/* ---- Commands ------------------------------------------------------------------------ */

static void Commit(HWND dialog) {
    WORD socket, port;
    if (!CurrentChoice(dialog, &socket, &port))
        return;
    s_chosenSocket = socket;
    s_chosenPort = port;
    s_scratch[socket].portInUse[port] = 1;
    memcpy(DeviceTable(), s_scratch, sizeof s_scratch);
    EndDialog(dialog, 0);
}

static void ShowCurrentCard(HWND dialog) {
    LRESULT row = SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
    if (row >= 0 && static_cast<unsigned>(row) < s_rowCount)
        ShowSocket(dialog, s_rowSocket[row]);
}

static void ShowCurrentDirection(HWND dialog) {
    WORD socket, port;
    if (CurrentChoice(dialog, &socket, &port))
        CheckDirection(dialog, s_scratch[socket], port);
}

static void SetCurrentDirection(HWND dialog, DWORD isOutput) {
    WORD socket, port;
    if (CurrentChoice(dialog, &socket, &port))
        s_scratch[socket].portIsOutput[port] = isOutput;
}

static void OnListNotification(HWND dialog, WORD notification) {
    if (notification == LBN_SELCHANGE)
        ShowCurrentCard(dialog);
    else if (notification == LBN_DBLCLK)
        Commit(dialog);
}

static INT_PTR DeviceSelector_OnCommand(HWND dialog, WPARAM wParam) {
    WORD notification = HIWORD(wParam);
    switch (LOWORD(wParam)) {
    case IDOK:
        Commit(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, -1);
        break;
    case IDC_DEVICE_LIST:
        OnListNotification(dialog, notification);
        break;
    case IDC_PORT_COMBO:
        if (notification == CBN_CLOSEUP)
            ShowCurrentDirection(dialog);
        break;
    case IDC_DIR_INPUT:
        SetCurrentDirection(dialog, 0);
        break;
    case IDC_DIR_OUTPUT:
        SetCurrentDirection(dialog, 1);
        break;
    }
    return TRUE;
}

/* ---- Opening ----------------------------------------------------------------------------- */

/* One row per present card that still has a free port, numbered by row. */
static void ListSelectableCards(HWND dialog) {
    s_rowCount = 0;
    for (WORD socket = 0; socket < SOCKET_COUNT; ++socket) {
        if (s_scratch[socket].status != 1 || !HasFreePort(s_scratch[socket]))
            continue;
        char text[DIALOG_TEXT_BYTES];
        snprintf(text, sizeof text, "RZX-DK08 #%u", s_rowCount);
        SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(text));
        s_rowSocket[s_rowCount++] = socket;
    }
}

static INT_PTR DeviceSelector_OnInitDialog(HWND dialog) {
    memcpy(s_scratch, DeviceTable(), sizeof s_scratch);
    s_comboCount = 0;
    ListSelectableCards(dialog);
    if (s_rowCount == 0) {
        Host().ShowWarning(SELECTOR_CAPTION, NO_DEVICE_TEXT);
        EndDialog(dialog, -1);
        return TRUE;
    }
    SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_SETCURSEL, 0, 0);
    s_shownSocket = NO_SOCKET_SHOWN;
    ShowSocket(dialog, s_rowSocket[0]);
    return TRUE;
}

/* WM_CLOSE is left to the dialog manager, which turns it into Cancel. */
static INT_PTR CALLBACK DeviceSelectorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return DeviceSelector_OnInitDialog(dialog);
    case WM_COMMAND:
        return DeviceSelector_OnCommand(dialog, wParam);
    case WM_CLOSE:
        return FALSE;
    }
    return FALSE;
}

INT_PTR RunDeviceSelector(HWND parent) {
    return DialogBoxParamA(LibraryInstance(), "DEV_SEL", parent, DeviceSelectorProc, 0);
}
