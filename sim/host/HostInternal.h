/*
 * What the reference host's own files share with each other and no one else:
 * the host's record of a module, its output channels and input queues, the
 * journal writer, and the host's current run parameters. Test programs and the
 * extension see none of this; they use RefHost.h.
 */
#pragma once

#include "sim/host/RefHost.h"
#include "sim/host/Patterns.h"

#include <deque>
#include <vector>

#define REF_MODULE_MAGIC 0x444F4D52u /* "RMOD" */
#define REF_OUTPUT_MAGIC 0x54554F52u /* "ROUT" */
#define REF_MAX_INPUTS   16u
#define REF_MAX_BLOCK    1048576u /* samples; larger blocks are refused */
#define REF_GUARD_BYTES  16u
#define REF_GUARD_FILL   0xFDu

/* Host bookkeeping placed in front of every DataBlock the host hands out. */
struct BlockPrefix {
    DWORD magic;
    DWORD capacity;    /* samples the block holds */
    DWORD releaseTick; /* GetTickCount when handed back, 0 before */
    DWORD reserved;
};

/* One output channel: the head the extension writes, then the host's fields. */
struct RefOutput {
    OutputChannel head;
    DWORD magic;
    RefModule* module;
    UINT index;
    DataBlock* current; /* handed out by GetCurrentOutputBlock, not yet released */
    std::vector<DataBlock*> released;
    size_t releasedTotal;
    int recorderChannel;         /* -1 when the run does not record it */
    std::vector<BYTE> loopReads; /* port reads behind the current block */
};

/* One input connector: blocks waiting for the module, oldest first. */
struct RefInput {
    std::deque<DataBlock*> queue;
    int frontHandedOut; /* GetInputBlock gave the front block out */
    size_t consumed;
    unsigned long long samplesQueued;
    Pattern pattern;
    int hasPattern;
    std::vector<BYTE> loopWrites; /* port writes made for the front block */
};

struct RefModule {
    ModuleRecord record; /* must stay first: the extension reads it at fixed offsets */
    DWORD magic;
    unsigned id;
    BYTE* settingsBlock; /* settings, then guard bytes */
    DWORD settingsSize;
    BYTE* statesBlock; /* eight channel states, then guard bytes */
    DWORD stateSize;
    RefOutput outputs[MODULE_OUTPUT_SLOTS];
    RefInput inputs[REF_MAX_INPUTS];
    int recordOutputs; /* a run records the module's outputs */
    int started;       /* answered 106 with 1 in the current run */
    int failedStart;
};

/* Journal writers (Journal.cpp). */
void JournalAdd(JournalKind kind, const char* text, DWORD value, DWORD a, DWORD b);
void JournalCall(const char* service, DWORD value, DWORD a, DWORD b, DWORD c, const char* source,
                 int line);
/* The same with the source field given as it is. */
void JournalCallNamed(const char* service, DWORD value, DWORD a, DWORD b, DWORD c,
                      const char* source);
/* The same for the block services, stored only while SetJournalBlockCalls is on
   (a run makes thousands); counted always. */
void JournalBlockCall(const char* service, DWORD value, DWORD a, DWORD b, DWORD c,
                      const char* source, int line);
void JournalViolation(const char* format, ...);
/* Block services are journaled only while this is set (runs switch it off). */
void SetJournalBlockCalls(int on);
int JournalBlockCalls(void);
void ResetJournalCounters(void);

/* The host's run parameters as last set (Services.cpp). */
double HostMillisecondsPerSample(void);
DWORD HostBlockSize(void);
int HostInteractive(void);
void ClearStopRequest(void);
void ForgetRegistrations(void);

/* The tick count the running experiment started at; pauses move it on (Run.cpp). */
DWORD HostStartTicks(void);
/* 1 when the last paced run fell behind (RunEngine.cpp): its loop check
   proves nothing about the pace asked for. */
int LastRunFellBehind(void);
void ShiftStartTicks(DWORD delta);

/* The host's side of the lookups (HostTable.cpp). */
void BuildLookupAnswers(HINSTANCE instance, HMENU menu);
LRESULT AnswerVariable(const char* name);
LRESULT AnswerFunction(const char* name);
void ReleaseLookupObjects(void);

/* Host bitmaps for the extension's buttons (HostBitmaps.cpp). */
int CreateHostBitmaps(void);
void DeleteHostBitmaps(void);
HBITMAP* ChannelBitmapArray(void);  /* four, states 0..3 */
HBITMAP* LessMoreBitmapArray(void); /* six, states 0..5 */

/* The current-module variable behind "&CurrentModulePtr" (Modules.cpp). */
ModuleRecord** CurrentModulePtrAddress(void);
RefModule* FindModuleByRecord(const void* record);
RefOutput* FindOutputChannel(const void* channel);
void DeleteAllModules(void);
void ResetModuleNumbers(void);
/* Makes the host's connectors follow the counts in the record. */
void SyncModuleConnectors(RefModule* module);

/* Blocks (Blocks.cpp). */
DataBlock* NewHostBlock(DWORD capacity);
void FreeHostBlock(DataBlock* block);
BlockPrefix* PrefixOf(const DataBlock* block);
void FreeModuleBlocks(RefModule* module);
void FreeReleasedBlocks(RefModule* module);
/* The host's clock for start ticks, release stamps and run schedules:
   GetTickCount, the clock the passes pace by, so a block is due and late by
   the same tick count the extension reads. */
DWORD HostTick(void);
/* A block handed out in an earlier run may be smaller than the new block size. */
void FreeCurrentOutputBlocks(RefModule* module);

/* Allocator (Allocator.cpp). */
void ReleaseAllocator(void);

/* Called for every block an output releases; returns 1 to keep it in the
   module's released list (the run engine records and drops it). */
typedef int (*ReleaseObserver)(RefModule* module, UINT output, DataBlock* block);
void SetReleaseObserver(ReleaseObserver observer);
ReleaseObserver CurrentReleaseObserver(void);

/* Copies at most size - 1 bytes and always terminates. */
void CopyText(char* destination, const char* source, size_t size);

/* The sixteen services, as the lookup hands them out. */
void* WINAPI Host_NewMemAlloc(DWORD size, const char* sourceFile, int line);
void WINAPI Host_NewDoMemFree(void* block, const char* sourceFile, int line);
LONG WINAPI Host_DefineDllModule(void);
LONG WINAPI Host_DefineDllVariable(const char* name, void* address, DWORD size);
void WINAPI Host_RegisterModuleClass(void* classDescriptor);
void WINAPI Host_RegisterMenuEntry(UINT command, PFN_MenuHandler handler);
LONG WINAPI Host_PerformDefaultAction(void* moduleRecord, UINT code, DWORD arg1, DWORD arg2);
void* WINAPI Host_GetCurrentOutputBlock(void* outputChannel);
void WINAPI Host_NewReleaseOutputBlock(void* outputChannel, const char* sourceFile, int line);
void* WINAPI Host_GetInputBlock(void* moduleRecord, UINT inputIndex);
void WINAPI Host_NewReleaseInputBlock(void* moduleRecord, UINT inputIndex, const char* sourceFile,
                                      int line);
void WINAPI Host_ChangeModuleSize(void* moduleRecord, UINT inputs, UINT outputs);
void WINAPI Host_ShowWarning(const char* caption, const char* text);
void WINAPI Host_StopExperiment(void);
HFONT WINAPI Host_CreateStackedFontIndirect(const LOGFONTA* font);
void WINAPI Host_DeleteStackedObject(HGDIOBJ object);

/* Menu commands of the host's own menus. */
#define IDM_FILE_OPEN     40001u
#define IDM_FILE_SAVE     40002u
#define IDM_FILE_EXIT     40003u
#define IDM_EDIT_SETTINGS 40011u
#define IDM_EDIT_DELETE   40012u
#define IDM_VIEW_JOURNAL  40021u
#define IDM_RUN_START     40031u
#define IDM_RUN_PAUSE     40032u
#define IDM_RUN_STOP      40033u
#define IDM_RUN_PULL      40034u
#define IDM_RUN_SETUP     40035u

/* The workbench sees the main window's messages first (other than the
   lookups); a hook returns 1 with *result set when it handled one. */
typedef int (*HostMessageHook)(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                               LRESULT* result);
void SetHostMessageHook(HostMessageHook hook);

/* The card simulator's control entries, bound at run time from the
   rzxdk08.dll the extension loaded (SimLink.cpp); null members when the
   driver in use is not the simulator. */
#include "sim/card/SimCard.h"
#define SIMCARD_ENTRIES(X)                                                                         \
    X(SimCard_Reset)                                                                               \
    X(SimCard_ConfigSource)                                                                        \
    X(SimCard_ConfigError)                                                                         \
    X(SimCard_TraceCount)                                                                          \
    X(SimCard_TraceEntry)                                                                          \
    X(SimCard_ClearTrace)                                                                          \
    X(SimCard_TraceDropped)                                                                        \
    X(SimCard_SetTracing)                                                                          \
    X(SimCard_Pull)                                                                                \
    X(SimCard_Insert)                                                                              \
    X(SimCard_GetState)
struct SimCalls {
#define SIMCARD_POINTER(name) decltype(&name) name;
    SIMCARD_ENTRIES(SIMCARD_POINTER)
#undef SIMCARD_POINTER
};
/* The bound entries, or null when rzxdk08.dll is not loaded or lacks one. */
const SimCalls* SimLink(void);

/* Loopback checking (Loopback.cpp): fed from the block services and the run. */
void Loopback_Begin(void);
void Loopback_End(void);
int Loopback_Active(void);
void Loopback_Consume(void);
void Loopback_OutputBlockGiven(RefOutput* output);
void Loopback_OutputBlockReleased(RefOutput* output, const DataBlock* block);
void Loopback_InputBlockGiven(RefModule* module, UINT input, int newBlock);
void Loopback_InputBlockReleased(RefModule* module, UINT input, const DataBlock* block);
void Loopback_ProcessCallDone(void);
