/*
 * The "DK08_SET" settings dialog of one module: its name, description, channel
 * count (1 to 8) and channel names, with the card socket and port shown
 * read-only. It edits a scratch copy of the module's settings from the host's
 * allocator and writes back only on OK, then asks the host to resize the
 * module. The button controls it drives are in Controls.cpp; placement, font
 * and the About box in Placement.cpp.
 */
#include "ui/CtlDlg.h"

#include "card/DeviceTable.h"
#include "host/LibraryHandles.h"
#include "host/HostServices.h"
#include "resources/ResourceIds.h"
#include "ui/Controls.h"
#include "ui/Cp932Text.h"
#include "ui/Placement.h"

#include <cstdio>
#include <cstring>

#define CTLDLG_SOURCE         "CtlDlg"
#define LINE_SCRATCH_ALLOC    72
#define LINE_SCRATCH_FREE_OK  236
#define LINE_SCRATCH_FREE_END 252
#define MAXIMUM_CHANNELS      8u
/* The edit takes 20 bytes, the slot keeps 19 and the terminator. */
#define CHANNEL_NAME_LIMIT  20
#define CHANNEL_NAME_BUFFER 20u
#define MODULE_NAME_LIMIT   12
#define MODULE_DESC_LIMIT   40
/* Large enough for anything the edits hold; the stored text is cut to its field. */
#define EDIT_READ_BYTES   256u
#define DIALOG_TEXT_BYTES 64u
#define HELP_FILE         "Rzxdk08.hlp"

static ModuleSettings* s_scratch;
static unsigned s_channelCount;
static unsigned s_selectedChannel;
static unsigned s_maximumChannelCount;
static int s_lastFocusedEdit;

static const char* const kPortFormats[] = {"ポート A %s", "ポート B %s", "ポート C %s"};

/* ---- Module and scratch copy --------------------------------------------------- */

/* The host points "&CurrentModulePtr" at the module while the dialog is open;
   a module without settings cannot be edited. */
static ModuleRecord* EditedModule(void) {
    ModuleRecord* module = CurrentModule();
    return module && module->settings ? module : nullptr;
}

static int IsOutputModule(const ModuleSettings* settings) {
    if (!IsValidSocketPort(settings->socket, settings->port))
        return 0;
    return DeviceTable()[settings->socket].portIsOutput[settings->port] != 0;
}

static unsigned ModuleChannelCount(const ModuleRecord* module, int isOutput) {
    return isOutput ? module->inputCount : module->outputCount;
}

static void FreeScratch(int line) {
    Host().NewDoMemFree(s_scratch, CTLDLG_SOURCE, line);
    s_scratch = nullptr;
}

/* Reads an edit into a field of bufferBytes, cut at a character boundary. */
static void ReadEdit(HWND dialog, int control, char* field, size_t bufferBytes) {
    char text[EDIT_READ_BYTES];
    GetDlgItemTextA(dialog, control, text, sizeof text);
    CopyCp932Prefix(field, bufferBytes, text);
}

/* Shows a host field that may lack its terminator. */
static void ShowField(HWND dialog, int control, const char* field, size_t fieldBytes) {
    char text[EDIT_READ_BYTES];
    size_t length = strnlen(field, fieldBytes < sizeof text ? fieldBytes : sizeof text - 1);
    memcpy(text, field, length);
    text[length] = '\0';
    SetDlgItemTextA(dialog, control, text);
}

/* ---- Channel name and selection --------------------------------------------------- */

static char* ChannelSlot(unsigned channel) {
    return s_scratch->channelNames[channel];
}

static void SaveChannelName(HWND dialog) {
    ReadEdit(dialog, IDC_CHANNEL_NAME, ChannelSlot(s_selectedChannel), CHANNEL_NAME_BUFFER);
}

static void ShowSelectedChannel(HWND dialog) {
    SetDlgItemInt(dialog, IDC_SELECTED_NUMBER, s_selectedChannel, FALSE);
    SetDlgItemTextA(dialog, IDC_CHANNEL_NAME, ChannelSlot(s_selectedChannel));
}

static void SetControlState(HWND dialog, int control, unsigned state) {
    SendDlgItemMessageA(dialog, control, CTLM_SETSTATE, state, 0);
}

static void SetChannelState(HWND dialog, unsigned channel, unsigned state) {
    SetControlState(dialog, IDC_CHANNEL_FIRST + static_cast<int>(channel), state);
}

/* After a selection or a step the name edit has not been the last one focused. */
static void FocusModuleName(HWND dialog) {
    s_lastFocusedEdit = IDC_CHANNEL_FIRST;
    SetFocus(GetDlgItem(dialog, IDC_MODULE_NAME));
}

/* ---- Initialisation ------------------------------------------------------------------ */

static unsigned InitialChannelState(unsigned channel) {
    if (channel >= s_channelCount)
        return CHANNEL_ABSENT;
    return channel == s_selectedChannel ? CHANNEL_SELECTED : CHANNEL_PRESENT;
}

static void InitButtonStates(HWND dialog) {
    for (unsigned k = 0; k < MAXIMUM_CHANNELS; ++k)
        SetChannelState(dialog, k, InitialChannelState(k));
    /* The channel count cannot change while an experiment runs. */
    int running = Shared().bExperimentIsRunning == 1;
    int lessEnabled = !running && s_channelCount >= 2;
    int moreEnabled = !running && s_channelCount <= 7;
    SetControlState(dialog, IDC_STEP_LESS, lessEnabled ? STEP_LESS_ENABLED : STEP_LESS_DISABLED);
    SetControlState(dialog, IDC_STEP_MORE, moreEnabled ? STEP_MORE_ENABLED : STEP_MORE_DISABLED);
}

static void ShowDeviceInformation(HWND dialog, int isOutput) {
    char text[DIALOG_TEXT_BYTES] = "";
    SetDlgItemInt(dialog, IDC_SETTINGS_SOCKET, s_scratch->socket, FALSE);
    if (s_scratch->port < sizeof kPortFormats / sizeof kPortFormats[0])
        snprintf(text, sizeof text, kPortFormats[s_scratch->port], isOutput ? "出力" : "入力");
    SetDlgItemTextA(dialog, IDC_SETTINGS_PORT, text);
}

static void ShowModuleTexts(HWND dialog, const ModuleRecord* module) {
    SendDlgItemMessageA(dialog, IDC_CHANNEL_NAME, EM_LIMITTEXT, CHANNEL_NAME_LIMIT, 0);
    SendDlgItemMessageA(dialog, IDC_MODULE_NAME, EM_LIMITTEXT, MODULE_NAME_LIMIT, 0);
    ShowField(dialog, IDC_MODULE_NAME, module->name, sizeof module->name);
    SendDlgItemMessageA(dialog, IDC_MODULE_DESC, EM_LIMITTEXT, MODULE_DESC_LIMIT, 0);
    ShowField(dialog, IDC_MODULE_DESC, module->description, sizeof module->description);
}

/* A count outside 1 to 8 from the host's record is pulled into range, so the
   buttons and slots are never addressed beyond the eight positions. */
static unsigned ClampedChannelCount(unsigned count) {
    if (count < 1)
        return 1;
    return count > MAXIMUM_CHANNELS ? MAXIMUM_CHANNELS : count;
}

static INT_PTR ChannelEditor_OnInitDialog(HWND dialog) {
    ModuleRecord* module = EditedModule();
    s_scratch = module ? static_cast<ModuleSettings*>(Host().NewMemAlloc(
                             sizeof(ModuleSettings), CTLDLG_SOURCE, LINE_SCRATCH_ALLOC))
                       : nullptr;
    if (!s_scratch) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    memcpy(s_scratch, module->settings, sizeof(ModuleSettings));
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k)
        s_scratch->channelNames[k][CHANNEL_NAME_SLOT - 1] = '\0';
    int isOutput = IsOutputModule(s_scratch);
    s_channelCount = ClampedChannelCount(ModuleChannelCount(module, isOutput));
    s_selectedChannel = 0;
    s_maximumChannelCount = MAXIMUM_CHANNELS;
    InitButtonStates(dialog);
    PlaceDialog(dialog, HostMainWindow());
    ShowSelectedChannel(dialog);
    ShowDeviceInformation(dialog, isOutput);
    ShowModuleTexts(dialog, module);
    SetFocus(GetDlgItem(dialog, IDC_MODULE_NAME));
    s_lastFocusedEdit = 0;
    return FALSE;
}

/* ---- OK and Cancel ---------------------------------------------------------------------- */

/* The output buffer pointer stays the module's: a run may have started or
   stopped while the dialog was open. */
static void WriteBackSettings(ModuleRecord* module) {
    BYTE* outputBuffer = module->settings->outputBuffer;
    memcpy(module->settings, s_scratch, sizeof(ModuleSettings));
    module->settings->outputBuffer = outputBuffer;
}

static void Cancel(HWND dialog) {
    FreeScratch(LINE_SCRATCH_FREE_END);
    EndDialog(dialog, 0);
}

static void Accept(HWND dialog) {
    ModuleRecord* module = EditedModule();
    if (!module) {
        Cancel(dialog);
        return;
    }
    SaveChannelName(dialog);
    ReadEdit(dialog, IDC_MODULE_NAME, module->name, sizeof module->name);
    ReadEdit(dialog, IDC_MODULE_DESC, module->description, sizeof module->description);
    WriteBackSettings(module);
    int isOutput = IsOutputModule(module->settings);
    FreeScratch(LINE_SCRATCH_FREE_OK);
    if (isOutput)
        Host().ChangeModuleSize(module, s_channelCount, 0);
    else
        Host().ChangeModuleSize(module, 0, s_channelCount);
    EndDialog(dialog, 1);
}

/* ---- Steps ------------------------------------------------------------------------------ */

static void StepLess(HWND dialog) {
    if (s_channelCount == s_maximumChannelCount)
        SetControlState(dialog, IDC_STEP_MORE, STEP_MORE_ENABLED);
    --s_channelCount;
    if (s_channelCount < 2)
        SetControlState(dialog, IDC_STEP_LESS, STEP_LESS_DISABLED);
    SetChannelState(dialog, s_channelCount, CHANNEL_ABSENT);
    if (s_selectedChannel >= s_channelCount) {
        s_selectedChannel = s_channelCount - 1;
        SetChannelState(dialog, s_selectedChannel, CHANNEL_SELECTED);
    }
}

static void StepMore(HWND dialog) {
    if (s_channelCount == 1)
        SetControlState(dialog, IDC_STEP_LESS, STEP_LESS_ENABLED);
    ++s_channelCount;
    if (s_channelCount > 7)
        SetControlState(dialog, IDC_STEP_MORE, STEP_MORE_DISABLED);
    SetChannelState(dialog, s_channelCount - 1, CHANNEL_PRESENT);
}

/* The buttons are disabled at the limits; a step at a limit from any other
   sender is refused, so the count stays within 1 to 8. */
static int StepAllowed(WORD command) {
    if (command == CMD_STEP_LESS)
        return s_channelCount > 1;
    return s_channelCount < s_maximumChannelCount;
}

static void Step(HWND dialog, WORD command) {
    if (!StepAllowed(command))
        return;
    SaveChannelName(dialog);
    if (command == CMD_STEP_LESS)
        StepLess(dialog);
    else
        StepMore(dialog);
    ShowSelectedChannel(dialog);
    FocusModuleName(dialog);
}

/* ---- Channel selection and name copies ------------------------------------------------------ */

/* The channel position of one of this dialog's eight channel buttons, or -1
   for any other window (1025 is also DM_SETDEFID, which then goes on to the
   dialog manager). */
static int ChannelOfButton(HWND dialog, HWND button) {
    if (!button || !IsWindow(button) || GetParent(button) != dialog)
        return -1;
    int channel = GetDlgCtrlID(button) - IDC_CHANNEL_FIRST;
    return channel >= 0 && static_cast<unsigned>(channel) < MAXIMUM_CHANNELS ? channel : -1;
}

static void SelectChannel(HWND dialog, HWND button, unsigned channel) {
    SaveChannelName(dialog);
    SendDlgItemMessageA(dialog, IDC_CHANNEL_FIRST + static_cast<int>(s_selectedChannel),
                        CTLM_DESELECT, 0, 0);
    s_selectedChannel = channel;
    SendMessageA(button, CTLM_SETSTATE, CHANNEL_SELECTED, 0);
    ShowSelectedChannel(dialog);
}

static INT_PTR ChannelEditor_OnChannelPressed(HWND dialog, WPARAM wParam, LPARAM lParam) {
    HWND button = reinterpret_cast<HWND>(wParam);
    int channel = ChannelOfButton(dialog, button);
    if (channel < 0)
        return FALSE;
    if (LOWORD(lParam) == CHANNEL_PRESENT && static_cast<unsigned>(channel) < s_channelCount)
        SelectChannel(dialog, button, static_cast<unsigned>(channel));
    FocusModuleName(dialog);
    return TRUE;
}

static INT_PTR ChannelEditor_OnCopyName(HWND dialog, int onlyIfFocused) {
    SaveChannelName(dialog);
    ShowSelectedChannel(dialog);
    if (onlyIfFocused && s_lastFocusedEdit != IDC_CHANNEL_NAME)
        return FALSE;
    for (unsigned k = 0; k < s_channelCount; ++k) {
        if (k != s_selectedChannel)
            strcpy(ChannelSlot(k), ChannelSlot(s_selectedChannel));
    }
    return FALSE;
}

/* ---- Commands ------------------------------------------------------------------------------- */

static INT_PTR ChannelEditor_OnEditNotification(WPARAM wParam) {
    if (HIWORD(wParam) == EN_SETFOCUS)
        s_lastFocusedEdit = LOWORD(wParam);
    return FALSE;
}

static INT_PTR ChannelEditor_OnHelp(HWND dialog) {
    WinHelpA(dialog, HELP_FILE, HELP_FINDER, 0);
    return FALSE;
}

static INT_PTR ChannelEditor_OnCommand(HWND dialog, WPARAM wParam) {
    WORD command = LOWORD(wParam);
    switch (command) {
    case IDOK:
        Accept(dialog);
        return TRUE;
    case IDCANCEL:
        Cancel(dialog);
        return TRUE;
    case IDC_HELP_BUTTON:
        return ChannelEditor_OnHelp(dialog);
    case IDC_VERSION_BUTTON:
        RunAboutBox(dialog);
        return TRUE;
    case IDC_STEP_LESS:
    case IDC_STEP_MORE:
        Step(dialog, command);
        return TRUE;
    case IDC_MODULE_NAME:
    case IDC_MODULE_DESC:
    case IDC_CHANNEL_NAME:
        return ChannelEditor_OnEditNotification(wParam);
    }
    return FALSE;
}

/* Everything but initialisation needs the scratch copy; messages that arrive
   without one (after the dialog ended) are left to the dialog manager. */
static INT_PTR CALLBACK ChannelEditorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        return ChannelEditor_OnInitDialog(dialog);
    if (!s_scratch)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        return ChannelEditor_OnCommand(dialog, wParam);
    case CTLN_LBUTTONDOWN:
        return ChannelEditor_OnChannelPressed(dialog, wParam, lParam);
    case CEM_COPYNAMEIFFOCUSED:
        return ChannelEditor_OnCopyName(dialog, 1);
    case CEM_COPYNAMETOALL:
        return ChannelEditor_OnCopyName(dialog, 0);
    }
    return FALSE;
}

INT_PTR RunChannelEditor(HWND parent) {
    INT_PTR result = DialogBoxParamA(LibraryInstance(), "DK08_SET", parent, ChannelEditorProc, 0);
    /* A dialog ended by anything but OK or Cancel still gives its copy back. */
    if (s_scratch)
        FreeScratch(LINE_SCRATCH_FREE_END);
    return result == 1 ? 1 : 0;
}
