/*
 * The binary boundary between the host application and its extensions: the
 * lookup messages, the service and callback signatures, and the records both
 * sides read at fixed byte offsets. The extension and any host built against it
 * (the reference host among them) include this header and nothing else for it.
 */
#pragma once

#include <windows.h>
#include <cstddef>

static_assert(sizeof(void*) == 4, "the host boundary is 32-bit");

/* Lookup messages sent to the host's main window; lParam is the name. */
#define HM_GETVAR  30000u
#define HM_GETFUNC 30001u

/* Menu command that creates a module of the extension's class. */
#define CMD_CREATE_DK08_MODULE 2951u

/* Module event codes sent to the module event handler. */
#define ME_ACKNOWLEDGE_1   1u
#define ME_CREATE          101u
#define ME_DELETE          102u
#define ME_SETTINGS        103u
#define ME_ACKNOWLEDGE_104 104u
#define ME_RESTORE         105u
#define ME_START           106u
#define ME_STOP            107u
#define ME_ACKNOWLEDGE_201 201u

/* Callbacks the extension hands to the host. */
typedef LONG(WINAPI* PFN_ModuleEvent)(void* moduleRecord, UINT code, DWORD arg1, DWORD arg2);
typedef LONG(WINAPI* PFN_ModuleProcess)(void* moduleRecord);
typedef void(WINAPI* PFN_MenuHandler)(void);

/* The sixteen host services the extension calls. */
typedef void*(WINAPI* PFN_NewMemAlloc)(DWORD size, const char* sourceFile, int line);
typedef void(WINAPI* PFN_NewDoMemFree)(void* block, const char* sourceFile, int line);
typedef LONG(WINAPI* PFN_DefineDllModule)(void);
typedef LONG(WINAPI* PFN_DefineDllVariable)(const char* name, void* address, DWORD size);
typedef void(WINAPI* PFN_RegisterModuleClass)(void* classDescriptor);
typedef void(WINAPI* PFN_RegisterMenuEntry)(UINT command, PFN_MenuHandler handler);
typedef LONG(WINAPI* PFN_PerformDefaultAction)(void* moduleRecord, UINT code, DWORD arg1,
                                               DWORD arg2);
typedef void*(WINAPI* PFN_GetCurrentOutputBlock)(void* outputChannel);
typedef void(WINAPI* PFN_NewReleaseOutputBlock)(void* outputChannel, const char* sourceFile,
                                                int line);
typedef void*(WINAPI* PFN_GetInputBlock)(void* moduleRecord, UINT inputIndex);
typedef void(WINAPI* PFN_NewReleaseInputBlock)(void* moduleRecord, UINT inputIndex,
                                               const char* sourceFile, int line);
typedef void(WINAPI* PFN_ChangeModuleSize)(void* moduleRecord, UINT inputs, UINT outputs);
typedef void(WINAPI* PFN_ShowWarning)(const char* caption, const char* text);
typedef void(WINAPI* PFN_StopExperiment)(void);
typedef HFONT(WINAPI* PFN_CreateStackedFontIndirect)(const LOGFONTA* font);
typedef void(WINAPI* PFN_DeleteStackedObject)(HGDIOBJ object);

#pragma pack(push, 1)

/* One channel's progress through a run, host-allocated, one per channel position. */
struct ChannelState {
    DWORD pending;     /* 1 while a filled block waits for its time */
    DWORD sampleCount; /* samples produced on this channel since the start */
    LONG animation;    /* runs 1..10, -9..10, ... as blocks are released */
};
static_assert(sizeof(ChannelState) == 12, "ChannelState is 12 bytes");

/* The module's private record, kept by the host with the module and its worksheet. */
#define CHANNEL_POSITIONS 8u
#define CHANNEL_NAME_SLOT 24u
struct ModuleSettings {
    char channelNames[CHANNEL_POSITIONS][CHANNEL_NAME_SLOT];
    WORD socket;
    BYTE unused194[2];
    DWORD port;
    BYTE unused200[4];
    BYTE* outputBuffer; /* only between start and stop of an output module */
};
static_assert(offsetof(ModuleSettings, channelNames) == 0, "ModuleSettings layout");
static_assert(offsetof(ModuleSettings, socket) == 192, "ModuleSettings layout");
static_assert(offsetof(ModuleSettings, port) == 196, "ModuleSettings layout");
static_assert(offsetof(ModuleSettings, outputBuffer) == 204, "ModuleSettings layout");
static_assert(sizeof(ModuleSettings) == 208, "ModuleSettings is 208 bytes");

/* The head of the host's record of one module; a host's record may be longer. */
#define MODULE_NAME_BYTES        13u
#define MODULE_DESCRIPTION_BYTES 41u
#define MODULE_OUTPUT_SLOTS      16u
struct ModuleRecord {
    HWND owner; /* parent of the module's dialogs */
    BYTE host4[12];
    DWORD enable; /* 0: the acquisition pass does nothing */
    BYTE host20[20];
    char name[MODULE_NAME_BYTES];
    char description[MODULE_DESCRIPTION_BYTES];
    BYTE host94[24];
    DWORD inputCount;
    BYTE host122[704];
    DWORD outputCount;
    BYTE host830[66];
    void* outputChannels[MODULE_OUTPUT_SLOTS];
    ModuleSettings* settings;
    BYTE host964[4];
    ChannelState* channelStates[CHANNEL_POSITIONS];
};
static_assert(offsetof(ModuleRecord, owner) == 0, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, enable) == 16, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, name) == 40, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, description) == 53, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, inputCount) == 118, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, outputCount) == 826, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, outputChannels) == 896, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, settings) == 960, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, channelStates) == 968, "ModuleRecord layout");
static_assert(sizeof(ModuleRecord) == 1000, "ModuleRecord head is 1000 bytes");

/* The head of the host's record of one output channel. */
struct OutputChannel {
    BYTE host0[14];
    WORD passMark; /* cleared by the module once per pass */
};
static_assert(offsetof(OutputChannel, passMark) == 14, "OutputChannel layout");

/* A block of samples; the float samples follow the 24-byte header. */
struct DataBlock {
    BYTE host0[6];
    double startTime;      /* seconds since experiment start */
    double sampleDistance; /* seconds between samples */
    WORD sampleCount;
};
static_assert(offsetof(DataBlock, startTime) == 6, "DataBlock layout");
static_assert(offsetof(DataBlock, sampleDistance) == 14, "DataBlock layout");
static_assert(offsetof(DataBlock, sampleCount) == 22, "DataBlock layout");
static_assert(sizeof(DataBlock) == 24, "DataBlock header is 24 bytes");

inline float* BlockSamples(DataBlock* block) {
    return reinterpret_cast<float*>(reinterpret_cast<BYTE*>(block) + sizeof(DataBlock));
}

/* The module class descriptor handed to RegisterModuleClass. */
struct ModuleClassDescriptor {
    HINSTANCE instance;
    const char* classKey;
    DWORD settingsSize;
    DWORD reserved12;
    DWORD channelStateSize;
    DWORD createCommand;
    const char* shortName;
    const char* longName;
    DWORD reserved32[3];
    HBITMAP smallPicture;
    HBITMAP largePicture;
    PFN_ModuleEvent eventHandler;
    PFN_ModuleProcess process;
    BYTE reserved60[120];
};
static_assert(offsetof(ModuleClassDescriptor, instance) == 0, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, classKey) == 4, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, settingsSize) == 8, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, channelStateSize) == 16, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, createCommand) == 20, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, shortName) == 24, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, longName) == 28, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, smallPicture) == 44, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, largePicture) == 48, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, eventHandler) == 52, "descriptor layout");
static_assert(offsetof(ModuleClassDescriptor, process) == 56, "descriptor layout");
static_assert(sizeof(ModuleClassDescriptor) == 180, "descriptor is 180 bytes");

#pragma pack(pop)
