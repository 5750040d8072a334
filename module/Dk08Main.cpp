/*
 * The RZX-DK08 module type: its registration with the host (menu, names,
 * pictures, record sizes, callbacks) and the module event handler, which claims
 * and frees ports, restores modules from a stored worksheet and prepares each
 * run. The data path itself is in Process.cpp; the dialogs are in ui/.
 */
#include "module/Dk08Main.h"

#include "card/DeviceTable.h"
#include "card/Driver.h"
#include "card/DriverAbi.h"
#include "card/PortDirections.h"
#include "host/LibraryHandles.h"
#include "host/HostServices.h"
#include "module/OutputBuffer.h"
#include "module/Process.h"
#include "ui/CtlDlg.h"
#include "ui/DeviceSelector.h"

#include <cstdio>
#include <cstring>

#define MENU_POSITION_IN_HOST 3u
#define SETUP_MENU_COMMAND    4990u
#define STRING_SHORT_NAME     2950u
#define STRING_LONG_NAME      3950u
#define DK08_SOURCE           "Dk08Main"
#define WARNING_TEXT_BYTES    128u
/* Socket written into the settings of a module whose creation was cancelled, so
   a later delete of that module frees nobody's port. */
#define UNCLAIMED_SOCKET 0xFFFFu

static char s_shortName[13];
static char s_longName[39];
static ModuleClassDescriptor s_descriptor;

static void WINAPI SetupMenuHandler(void) {
    MessageBoxA(nullptr, "Do here some setup functions!", "Setup", MB_OK);
}

static void InsertExtensionMenu(void) {
    HMENU menu = LoadMenuA(LibraryInstance(), "QX4_MENU");
    HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
    if (popup)
        InsertMenuA(HostMainMenu(), MENU_POSITION_IN_HOST, MF_BYPOSITION | MF_POPUP | MF_STRING,
                    reinterpret_cast<UINT_PTR>(popup), "VELMO(&V)");
}

void RegisterDk08ModuleClass(void) {
    InsertExtensionMenu();
    Host().RegisterMenuEntry(SETUP_MENU_COMMAND, SetupMenuHandler);

    HINSTANCE instance = LibraryInstance();
    LoadStringA(instance, STRING_SHORT_NAME, s_shortName, sizeof s_shortName);
    LoadStringA(instance, STRING_LONG_NAME, s_longName, sizeof s_longName);

    memset(&s_descriptor, 0, sizeof s_descriptor);
    s_descriptor.instance = instance;
    s_descriptor.classKey = "VL:MMDK08";
    s_descriptor.settingsSize = sizeof(ModuleSettings);
    s_descriptor.channelStateSize = sizeof(ChannelState);
    s_descriptor.createCommand = CMD_CREATE_DK08_MODULE;
    s_descriptor.shortName = s_shortName;
    s_descriptor.longName = s_longName;
    s_descriptor.smallPicture = LoadBitmapA(instance, "ICO_DK08");
    s_descriptor.largePicture = LoadBitmapA(instance, "BMP_DK08");
    s_descriptor.eventHandler = ModuleEvent;
    s_descriptor.process = ModuleProcess;
    Host().RegisterModuleClass(&s_descriptor);
}

static ModuleSettings* SettingsOf(ModuleRecord* module) {
    return module ? module->settings : nullptr;
}

/* The module's card entry, or null when the stored socket or port is not one. */
static DeviceEntry* CardOf(const ModuleSettings* settings) {
    if (!settings || !IsValidSocketPort(settings->socket, settings->port))
        return nullptr;
    return &DeviceTable()[settings->socket];
}

static void NameChannelsBitsDescending(ModuleRecord* module) {
    ModuleSettings* settings = module->settings;
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        snprintf(settings->channelNames[k], CHANNEL_NAME_SLOT, "Bit %u", 7u - k);
        if (module->channelStates[k])
            module->channelStates[k]->animation = 0;
    }
}

static LONG OnCreate(ModuleRecord* module) {
    ModuleSettings* settings = SettingsOf(module);
    if (!settings)
        return 0;
    if (RunDeviceSelector(module->owner) == -1) {
        settings->socket = UNCLAIMED_SOCKET;
        return 0;
    }
    settings->socket = ChosenSocket();
    settings->port = ChosenPort();
    if (module->inputCount == 0 && module->outputCount == 0) {
        if (DeviceTable()[settings->socket].portIsOutput[settings->port])
            module->inputCount = 1;
        else
            module->outputCount = 1;
    }
    settings->outputBuffer = nullptr;
    NameChannelsBitsDescending(module);
    return 1;
}

static LONG OnSettings(ModuleRecord* module) {
    if (module)
        RunChannelEditor(module->owner);
    return 1;
}

static void WarnSocketMissing(unsigned socket) {
    char text[WARNING_TEXT_BYTES];
    snprintf(text, sizeof text, "指定のソケット %u にデバイスが存在しませんでした", socket);
    Host().ShowWarning("RZX-DK08 ERROR", text);
}

static LONG OnRestore(ModuleRecord* module) {
    ModuleSettings* settings = SettingsOf(module);
    if (!settings)
        return 0;
    /* A stored buffer pointer is from a run long gone; freeing it at the next
       start or stop would hand the host a block it never gave. */
    settings->outputBuffer = nullptr;
    DeviceEntry* card = CardOf(settings);
    DriverResource resource;
    if (!card || !CardGetResource(settings->socket, &resource)) {
        WarnSocketMissing(settings->socket);
        return 0;
    }
    /* A worksheet may bind two modules to one port (or a new one is restored
       before the old one goes): each holds a claim of its own, so deleting one
       leaves the port taken while the other lives. */
    ++card->portInUse[settings->port];
    card->portIsOutput[settings->port] = module->inputCount >= 1 ? 1u : 0u;
    return 1;
}

static void ClearOutputChannelStates(ModuleRecord* module) {
    DWORD outputs =
        module->outputCount < CHANNEL_POSITIONS ? module->outputCount : CHANNEL_POSITIONS;
    for (DWORD i = 0; i < outputs; ++i) {
        if (module->channelStates[i])
            memset(module->channelStates[i], 0, sizeof(ChannelState));
    }
}

static LONG OnStart(ModuleRecord* module) {
    ModuleSettings* settings = SettingsOf(module);
    DeviceEntry* card = CardOf(settings);
    /* A stored socket or port out of range names no card: there is nothing
       to prepare, and the passes leave such a module alone. A module refused
       at restore only because its card was missing is prepared like any
       other: with the card still missing, programming the directions fails
       with its warning and the start is refused. */
    if (!card)
        return 1;
    ClearOutputChannelStates(module);
    ForgetPassFailures(module);
    ForgetSampleEpochs(module);
    int holdsBuffer = 0;
    if (card->portIsOutput[settings->port]) {
        /* A buffer left from a refused start goes back before a new one is taken. */
        ReleaseOutputBuffer(settings, DK08_SOURCE, 208);
        if (!ObtainOutputBuffer(settings, Shared().uiGlobalBlockSize, DK08_SOURCE, 210)) {
            Host().ShowWarning("RZX-DK08:エラー", "出力バッファ確保が失敗しました\n"
                                                  "ブロックサイズを少なくして下さい");
            return 0;
        }
        holdsBuffer = 1;
    }
    if (card->configured)
        return 1;
    if (!ProgramPortDirections(module)) {
        if (holdsBuffer)
            ReleaseOutputBuffer(settings, DK08_SOURCE, 229);
        return 0;
    }
    card->configured = 1;
    return 1;
}

static LONG OnStop(ModuleRecord* module) {
    ModuleSettings* settings = SettingsOf(module);
    if (!settings)
        return 1;
    ReleaseOutputBuffer(settings, DK08_SOURCE, 248);
    DeviceEntry* card = CardOf(settings);
    if (card)
        card->configured = 0;
    return 1;
}

/* A module deleted during a run gets no stop of its own: the delete gives back
   what the stop would, then the module's claim on its port. */
static LONG OnDelete(ModuleRecord* module) {
    ModuleSettings* settings = SettingsOf(module);
    if (!settings)
        return 1;
    OnStop(module);
    DeviceEntry* card = CardOf(settings);
    if (card && card->portInUse[settings->port])
        --card->portInUse[settings->port];
    ForgetPassFailures(module);
    ForgetSampleEpochs(module);
    return 1;
}

LONG WINAPI ModuleEvent(void* moduleRecord, UINT code, DWORD arg1, DWORD arg2) {
    ModuleRecord* module = static_cast<ModuleRecord*>(moduleRecord);
    switch (code) {
    case ME_ACKNOWLEDGE_1:
    case ME_ACKNOWLEDGE_104:
    case ME_ACKNOWLEDGE_201:
        return 1;
    case ME_CREATE:
        return OnCreate(module);
    case ME_DELETE:
        return OnDelete(module);
    case ME_SETTINGS:
        return OnSettings(module);
    case ME_RESTORE:
        return OnRestore(module);
    case ME_START:
        return OnStart(module);
    case ME_STOP:
        return OnStop(module);
    default:
        return Host().PerformDefaultAction(moduleRecord, code, arg1, arg2);
    }
}
