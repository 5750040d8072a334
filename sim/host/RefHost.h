/*
 * The reference host as a library: a main window that answers the extension's
 * lookups, the sixteen host services with a checking allocator and block
 * queues, module records, worksheets and experiment runs, plus the controls and
 * journal that tests use. orvik-host.exe is a thin program over it; test
 * programs link it directly. Everything runs on the creating thread.
 */
#pragma once

#include "host/HostAbi.h"

#include <cstddef>
#include <cstdio>

/* ---- Host window and extension admission ---------------------------------- */

/* Creates the host's main window (hidden unless shown) with a menu bar of at
   least three top-level menus, and the host's bitmaps. Returns 1 or 0. */
int RefHost_Create(HINSTANCE instance, int showWindow);
/* Unloads the extension if loaded, destroys the window; reports allocator leaks
   into the journal (see RefHost_LeakCount). */
void RefHost_Destroy(void);
HWND RefHost_MainWindow(void);
HMENU RefHost_MainMenu(void);

typedef LONG(WINAPI* PFN_SetupOrvikDLL)(HWND);
typedef LONG(WINAPI* PFN_FinishOrvikDLL)(LONG);

/* LoadLibraryA of the DLL, then SetupOrvikDLL with the main window. Returns
   SetupOrvikDLL's result (0 also when the DLL or its exports are missing). */
LONG RefHost_LoadExtension(const char* dllPath);
/* Why the last RefHost_LoadExtension answered 0: "PATH: not found", "PATH:
   SetupOrvikDLL answered 0", ...; "" after an admission. */
const char* RefHost_ExtensionLoadProblem(void);
/* The same for an extension linked into the calling program (unit tests). */
LONG RefHost_AdmitLinkedExtension(PFN_SetupOrvikDLL setup, PFN_FinishOrvikDLL finish);
/* FinishOrvikDLL (its result is returned), then FreeLibrary for a loaded DLL. */
LONG RefHost_UnloadExtension(void);
/* 1 between a load or admission and the unload. */
int RefHost_ExtensionLoaded(void);
/* In interactive mode ShowWarning also shows a message box. */
void RefHost_SetInteractive(int interactive);

/* ---- Lookup controls and the journal --------------------------------------- */

void RefHost_RefuseName(const char* name); /* the next lookups of this name answer 0 */
void RefHost_ClearRefusals(void);
void RefHost_FailDefineDllModule(int fail);
void RefHost_FailDefineDllVariable(const char* name); /* 0 clears */
/* The n-th NewMemAlloc from now (1 = the next) returns 0; 0 disables. */
void RefHost_FailAllocation(unsigned n);

enum JournalKind {
    J_GETVAR,    /* text: the name; value: the answer */
    J_GETFUNC,   /* text: the name; value: the answer */
    J_CALL,      /* text: the service name, e.g. "ShowWarning"; a, b: arguments */
    J_WARNING,   /* text: caption "\n" message, as CP932 bytes */
    J_VIOLATION, /* text: what the extension did wrong (stub called, bad free, ...) */
    J_LEAK,      /* text: "file:line size" of a block never freed */
};
/* What a J_CALL entry holds, by service (source is "file:line" where the
   service takes a source name and line):
     NewMemAlloc            value: block returned (0 refused)  a: size
     NewDoMemFree           value: block
     DefineDllModule        value: result
     DefineDllVariable      value: result  a: address  b: size  source: variable name
     RegisterModuleClass    value: descriptor address
     RegisterMenuEntry      value: handler  a: command
     PerformDefaultAction   value: module record  a: code  b: arg1  c: arg2
     GetCurrentOutputBlock  value: block (0 none)  a: output index
     NewReleaseOutputBlock  value: block  a: output index  b: sample count
     GetInputBlock          value: block (0 none)  a: module record  b: input index
     NewReleaseInputBlock   value: block  a: module record  b: input index
     ChangeModuleSize       value: module record  a: inputs  b: outputs
     ShowWarning            (the texts are the J_WARNING entry that follows)
     StopExperiment         -
     CreateStackedFontIndirect  value: font (0 none)
     DeleteStackedObject    value: object */
struct JournalEntry {
    JournalKind kind;
    char text[512];
    DWORD value;
    DWORD a;
    DWORD b;
    DWORD c;
    char source[64];
};
size_t RefHost_JournalSize(void);
const JournalEntry* RefHost_JournalEntry(size_t i);
void RefHost_ClearJournal(void);
/* Counts of journal entries of one kind (or, for J_CALL, of one service name). */
size_t RefHost_CountKind(JournalKind kind);
size_t RefHost_CountCalls(const char* serviceName);
/* The block services (GetCurrentOutputBlock, NewReleaseOutputBlock,
   GetInputBlock, NewReleaseInputBlock) are stored in the journal only while this
   is on (the default); they are counted either way. */
void RefHost_SetJournalBlockCalls(int on);

/* The host's own name tables, in protocol order (59 and 102 names). */
unsigned RefHost_VariableNameCount(void);
const char* RefHost_VariableName(unsigned i);
unsigned RefHost_FunctionNameCount(void);
const char* RefHost_FunctionName(unsigned i);

/* What PerformDefaultAction answers: recognisable, and non-zero like a success. */
#define REFHOST_DEFAULT_ACTION_RESULT 0x5A5A

/* ---- What the extension registered ---------------------------------------- */

int RefHost_Admitted(void);                             /* DefineDllModule was called */
const ModuleClassDescriptor* RefHost_ModuleClass(void); /* copy, or null when none */
UINT RefHost_MenuEntryCommand(void);                    /* 0 when none registered */
PFN_MenuHandler RefHost_MenuEntryHandler(void);
/* Address and size the extension gave for a shared variable, or null/0. */
void* RefHost_VariableAddress(const char* name);
DWORD RefHost_VariableSize(const char* name);

/* Writes the shared variables the extension registered (no-op if missing). */
void RefHost_SetRate(double millisecondsPerSample, DWORD blockSize);
void RefHost_SetRunning(int running);
void RefHost_SetPaused(int paused);
void RefHost_SetStartTicks(DWORD ticks);
void RefHost_SetAnimation(int animation);

/* Allocator state: blocks live, leaks found at the last check, bad frees. */
size_t RefHost_LiveBlocks(void);
size_t RefHost_AllocationCount(void); /* NewMemAlloc calls so far */
size_t RefHost_LeakCount(void);       /* J_LEAK entries journaled so far */
/* Journals every live block as J_LEAK and returns how many there are. */
size_t RefHost_CheckLeaks(void);
size_t RefHost_OutstandingFonts(void);
/* Checks the guard bytes of every live block, journals a J_VIOLATION for each
   damaged one and returns how many are damaged. */
size_t RefHost_CheckGuards(void);
/* The same for the freed blocks, kept aside until the host is destroyed: each
   must still hold its fill, or a stale pointer wrote through it. Reads every
   freed byte, so it is meant for the end of a test rather than every step. */
size_t RefHost_CheckFreedBlocks(void);
/* The source name and line a live block was allocated with; 1, or 0 when the
   pointer is no live block. */
int RefHost_BlockSource(const void* block, char* source, size_t size, int* line);

/* ---- Modules ------------------------------------------------------------------ */

/* A host-owned module: the record head the extension reads at fixed offsets,
   then the host's own fields. */
struct RefModule;
/* The module's record, settings and channel states. */
ModuleRecord* RefModule_Record(RefModule* module);
/* The module's number in this host (1, 2, ... in creation order). */
unsigned RefModule_Id(const RefModule* module);

/* Menu command 2951: allocates the records from the registered descriptor and
   sends event 101 (which runs the device selection dialog). Returns the module,
   or null when there is no module class or the extension refused (the records
   are then freed). */
RefModule* RefHost_CreateModule(void);
/* Sends 102 and frees the module. */
void RefHost_DeleteModule(RefModule* module);
/* Points "&CurrentModulePtr" at the module, sends 103, returns its result. */
LONG RefHost_OpenModule(RefModule* module);
/* Creates a module from stored fields without event 101, then sends 105.
   Returns the module, or null when 105 refused it (then freed). */
RefModule* RefHost_RestoreModule(const char* name, const char* description, DWORD inputs,
                                 DWORD outputs, const ModuleSettings* settings);
/* Sends any event to the module and returns the handler's result. */
LONG RefHost_SendEvent(RefModule* module, UINT code, DWORD arg1, DWORD arg2);
size_t RefHost_ModuleCount(void);
RefModule* RefHost_Module(size_t i);

/* Run options kept with a module and its worksheet. A pattern text is as
   Pattern_Parse reads it ("counter:3"); an input without one plays counter bit
   k on input k. Returns 1, or 0 for a bad module, input or text. */
struct Pattern;
int RefHost_SetInputPattern(RefModule* module, UINT input, const char* text);
int RefHost_InputPattern(RefModule* module, UINT input, Pattern* pattern);
int RefHost_InputPatternSet(RefModule* module, UINT input);
/* Whether a run records the module's outputs (1 by default). */
void RefHost_SetRecording(RefModule* module, int record);
int RefHost_Recording(const RefModule* module);

/* ---- Worksheets (format: sim/host/WORKSHEET.md) ----------------------------- */

/* Writes every module with its options, and the run parameters. Returns 1, or
   0 when the file cannot be written. */
int RefHost_SaveWorksheet(const char* path);
/* Replaces the worksheet's modules by the file's, each restored with event 105.
   A module that is damaged or refused is left out and reported; the others are
   loaded. Returns the number of modules loaded, or -1 when the file cannot be
   read or is no worksheet (also reported). */
int RefHost_LoadWorksheet(const char* path);
/* The report of the last load: one line per bad line of the file, naming the
   file, the line and the module ("demo.ows:14: module 2 \"out\": ..."), in
   code page 932 like every text the host keeps. */
size_t RefHost_WorksheetProblemCount(void);
const char* RefHost_WorksheetProblem(size_t i);
/* Run parameters of the last loaded worksheet (1.0 ms and 100 if none). */
double RefHost_WorksheetRate(void);
DWORD RefHost_WorksheetBlockSize(void);
void RefHost_SetWorksheetRun(double millisecondsPerSample, DWORD blockSize);
/* 1 when the last load found a bad or repeated rate-ms or block-size line
   (reported): the rate and block size are then defaults nobody asked for. */
int RefHost_WorksheetRunLinesBad(void);

/* ---- Blocks ------------------------------------------------------------------- */

/* Queues an input block for a module's input (the extension gets it from
   GetInputBlock). Returns 1 or 0. */
int RefHost_QueueInputBlock(RefModule* module, UINT input, const float* samples,
                            unsigned sampleCount);
/* Blocks the module's output has released so far (NewReleaseOutputBlock). */
size_t RefHost_ReleasedBlockCount(RefModule* module, UINT output);
const DataBlock* RefHost_ReleasedBlock(RefModule* module, UINT output, size_t i);
/* Released since the start, including blocks no longer kept. */
size_t RefHost_ReleasedBlockTotal(RefModule* module, UINT output);
/* Samples a host block holds, and the tick at which it was released (0 before). */
DWORD RefHost_BlockCapacity(const DataBlock* block);
DWORD RefHost_BlockReleaseTick(const DataBlock* block);
/* Input blocks queued and not yet released by the module, and those released. */
size_t RefHost_PendingInputBlocks(RefModule* module, UINT input);
size_t RefHost_ConsumedInputBlocks(RefModule* module, UINT input);
/* When set, GetCurrentOutputBlock answers 0 (no block available). */
void RefHost_WithholdOutputBlocks(int withhold);

/* ---- Runs ------------------------------------------------------------------- */

/* Sets running, start ticks and the rate, sends 106 to every module; on a
   refusal sends 107 to those started and returns 0. */
int RefHost_StartExperiment(double millisecondsPerSample, DWORD blockSize);
/* One round: every module's process function once. */
void RefHost_ProcessAll(void);
/* Sends 107 to every module and clears running. */
void RefHost_StopExperiment(void);
/* 1 after the extension called StopExperiment during the run. */
int RefHost_StopRequested(void);
/* When on, the extension's StopExperiment stops a running experiment there and
   then (107 to every module, before the call returns), as a host may; off (the
   default) it only asks, and the run ends at the host's next look. */
void RefHost_SetStopAtOnce(int atOnce);
/* 1 between a successful RefHost_StartExperiment and RefHost_StopExperiment. */
int RefHost_ExperimentRunning(void);

/* ---- Paced runs (RunEngine.cpp) ---------------------------------------------- */

/* A run of the worksheet against real time: output modules' inputs are fed
   from their patterns, one block per input whenever the previous one was taken
   and real time has reached the block's start; input modules' released blocks
   go to the recorder (sim/host/Recorder.h), as do the blocks fed. */
struct RunOptions {
    double millisecondsPerSample;
    DWORD blockSize;
    double seconds;       /* stop after this long (not counting pauses); 0: no limit */
    unsigned long blocks; /* stop when every channel has moved this many blocks; 0: no limit */
    int progress;         /* one progress line on stdout while running */
    int pullSocket;       /* a card to pull from the simulator mid-run, or -1 */
    double pullAtSeconds;
    double pauseAtSeconds; /* pause the run here for pauseSeconds; 0: never */
    double pauseSeconds;
    double maxLateMs; /* a release later than this after its due tick: the run fell behind
                         (0: RUN_DEFAULT_MAX_LATE_MS) */
};
enum RunEnd {
    RUN_REFUSED,           /* a module refused the start (106) */
    RUN_DURATION,          /* the time was up */
    RUN_BLOCKS,            /* every channel moved its blocks */
    RUN_STOPPED_BY_MODULE, /* the extension called StopExperiment */
    RUN_STOPPED_BY_USER,   /* RefHost_RequestRunStop, or the program is closing */
};
struct RunReport {
    RunEnd end;
    double seconds;                    /* running time, pauses left out */
    unsigned long long blocksReleased; /* by input modules */
    unsigned long long samplesReleased;
    unsigned long long blocksFed; /* to output modules */
    unsigned long long samplesFed;
    unsigned long long blocksTaken; /* fed blocks the output modules handed back */
    unsigned long long lateCount;   /* released blocks measured */
    double lateMeanMs;              /* release tick minus due tick */
    long lateMaxMs;
    long lateMinMs;
    /* The pace verdict, for input modules: samples per channel against the
       whole blocks due by the last round of the run, and releases later than
       RunOptions.maxLateMs. */
    unsigned long long samplesDelivered; /* the fewest of any input module's channel */
    unsigned long long samplesNominal;
    unsigned long long lateReleases;
    int fellBehind; /* under 99 % of the nominal samples, or a release over the bound */
};
/* What one input module delivered in the run going on or the last one. */
struct RunModuleResult {
    size_t moduleIndex; /* for RefHost_Module */
    unsigned channels;
    unsigned long long samplesDelivered; /* per channel: the fewest any channel released */
    unsigned long long samplesNominal;   /* per channel: whole blocks due by the last round */
    unsigned long long blocksReleased;
    unsigned long long lateReleases; /* later than the run's bound */
    double lateMeanMs;
    long lateMaxMs;
};
/* The share of nominal samples below which a run fell behind. */
#define RUN_MIN_DELIVERED_SHARE 0.99
#define RUN_DEFAULT_MAX_LATE_MS 50.0
void RefHost_DefaultRunOptions(RunOptions* options);
/* Runs until an end of RunEnd; 106 before, 107 after. Returns 1 when the run
   started, 0 when it was refused; the report is filled either way. */
int RefHost_Run(const RunOptions* options, RunReport* report);
/* For the window's menu while a run goes on (messages are pumped by the run). */
void RefHost_RequestRunStop(void);
void RefHost_RequestRunPause(int paused);
int RefHost_RunPaused(void);
int RefHost_RunActive(void);
/* The report of the run going on, as far as it got; null when none runs. */
const RunReport* RefHost_RunProgress(void);
const char* RefHost_RunEndText(RunEnd end);
/* Prints the totals, one line per input module and the pace verdict. */
void RefHost_PrintRunReport(FILE* out, const RunReport* report);
/* Input modules of the run going on or the last one, in module order. */
size_t RefHost_RunModuleCount(void);
int RefHost_RunModuleResult(size_t i, RunModuleResult* result);

/* What the run going on has moved so far, per module, for a window that draws
   it between rounds (the run's message pump dispatches its timer): counts and
   the latest samples of each channel. An input module's channels are its
   outputs as released, an output module's the samples fed to its inputs. */
#define RUN_LIVE_CHANNELS 8u
#define RUN_LIVE_SAMPLES  4096u /* per channel, a ring */
struct RunLiveModule {
    unsigned channels;
    int output;                  /* 1 for an output module */
    unsigned long long blocks;   /* released by an input module, taken by an output module */
    unsigned long long late;     /* releases later than the run's maxLateMs */
    unsigned long long failures; /* blocks whose first sample does not follow the last one */
    unsigned long long written[RUN_LIVE_CHANNELS]; /* samples ever written to each ring */
    float ring[RUN_LIVE_CHANNELS][RUN_LIVE_SAMPLES];
};
/* Module i's record in the run going on; null when no run goes on or there is
   no such module. Valid until the run ends. */
const RunLiveModule* RefHost_RunLive(size_t module);

/* The loop check of the last run on the card simulator (Loopback.cpp): prints
   each cabled pair of an output and an input module and the verdict. Returns 1
   when every sample matched, 0 on a mismatch, -1 when nothing or not all could
   be checked. */
int RefHost_PrintLoopback(FILE* out);
/* The configuration text given to SimCard_Reset, so the check knows the cables
   (a file named by RZXDK08_CONFIG, or the default, is read by itself). */
void RefHost_SetSimConfigText(const char* text);

/* ---- Text out (Console.cpp) -------------------------------------------------- */

/* Prints UTF-8 text: to a console window as characters (WriteConsoleW), to a
   pipe or file as UTF-8 bytes. Every line the host prints goes this way. */
void RefHost_Print(FILE* out, const char* format, ...);
void RefHost_PrintText(FILE* out, const char* text);
/* Code page 932 text (a name the extension gave, at most maxBytes of it) as
   UTF-8, in one of a few rotating buffers. */
const char* RefHost_Utf8(const char* text, size_t maxBytes);
