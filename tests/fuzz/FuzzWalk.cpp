/*
 * The random walk: a table of host actions drawn by weight from a seeded
 * generator, each one what a host, a user or the hardware may do at any time,
 * and the checks run after every step. Dialogs are real windows; a CBT hook
 * fills and answers them as a user's clicks would. Everything runs on the
 * calling thread.
 */
#include "FuzzWalk.h"

#include "card/DeviceTable.h"
#include "extension/Library.h"
#include "host/HostAbi.h"
#include "module/Process.h"
#include "resources/ResourceIds.h"
#include "sim/card/SimCard.h"
#include "sim/host/RefHost.h"

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <vector>

#define HISTORY_STEPS       20u
#define ACTION_TEXT         200u
#define RULE_TEXT           600u
#define MAX_MODULES         12u
#define MAX_INPUT_SAMPLES   65535u
#define JOURNAL_ROOM        30000u /* entries kept before the walk clears the journal */
#define DIALOG_ANSWERS      6u     /* activations answered before a dialog is cancelled */
#define PORTS_PER_CARD      3u
#define SAMPLING_CAPTION    "サンプリングエラー"
#define ALLOCATION_FAILURES 3u

/* Four cards, one cabled to another, inputs that change from read to read. */
static const char kCards[] = "card 0 0x300 4 0x310 16\n"
                             "card 1 0x320 4 0x330 16\n"
                             "card 3 0x340 4 0x350 16\n"
                             "card 15 0x360 4 0x370 16\n"
                             "input 1 A cable 0 B\n"
                             "input 0 C counter 7\n"
                             "input 3 B square 2 4 8 16 0 0 0 6\n";
static const unsigned kPresentSockets[] = {0, 1, 3, 15};
#define PRESENT_SOCKETS (sizeof kPresentSockets / sizeof kPresentSockets[0])

/* ---- Walk state ------------------------------------------------------------------- */

static unsigned long long s_random;
static DWORD s_tick;
static unsigned long s_step;
static char s_action[ACTION_TEXT];
static char s_history[HISTORY_STEPS][ACTION_TEXT];
static unsigned long s_historyFirstStep;
static unsigned s_historyCount;
static char s_broken[RULE_TEXT];
static WalkStats s_stats;
static int s_booted;
/* Ids of the modules that showed a sampling warning in the current run, and of
   those the run's start prepared (a module restored during a run was not). */
static std::vector<unsigned> s_warnedThisRun;
static std::vector<unsigned> s_startedThisRun;
/* The card columns fixed at start-up: status, ranges, handle. */
static DeviceEntry s_enumerated[SOCKET_COUNT];
static size_t s_journalScanned;
/* The block size of the current or last run, and process rounds in that run. */
static DWORD s_runBlockSize = 16;
static unsigned s_runRounds;
static float s_samples[MAX_INPUT_SAMPLES];

static DWORD WalkTick(void) {
    return s_tick;
}

/* ---- Generator (splitmix64) ----------------------------------------------------------- */

static unsigned long long NextRandom(void) {
    unsigned long long z = (s_random += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static unsigned Below(unsigned n) {
    return n ? static_cast<unsigned>(NextRandom() % n) : 0;
}

static int Chance(unsigned percent) {
    return Below(100) < percent;
}

static DWORD AnyDword(void) {
    return static_cast<DWORD>(NextRandom() >> 16);
}

/* ---- Recording what happened ----------------------------------------------------------- */

static void Describe(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(s_action, sizeof s_action, format, args);
    va_end(args);
}

static void DescribeMore(const char* format, ...) {
    size_t used = strlen(s_action);
    va_list args;
    va_start(args, format);
    vsnprintf(s_action + used, sizeof s_action - used, format, args);
    va_end(args);
}

/* Records the first broken rule of the step; returns 0 for the caller to pass on. */
static int Broke(const char* format, ...) {
    if (s_broken[0])
        return 0;
    va_list args;
    va_start(args, format);
    vsnprintf(s_broken, sizeof s_broken, format, args);
    va_end(args);
    return 0;
}

static void RememberAction(void) {
    if (s_historyCount == HISTORY_STEPS) {
        memmove(s_history[0], s_history[1], sizeof s_history - sizeof s_history[0]);
        --s_historyCount;
        ++s_historyFirstStep;
    }
    memcpy(s_history[s_historyCount++], s_action, ACTION_TEXT);
}

static void PrintFailure(FILE* report, unsigned long long seed, unsigned long steps) {
    if (!report)
        return;
    fprintf(report, "fuzz walk FAILED: seed %llu, step %lu of %lu\n", seed, s_step, steps);
    fprintf(report, "  action: %s\n", s_action);
    fprintf(report, "  broken: %s\n", s_broken);
    fprintf(report, "  replay: orvik_fuzz.exe --seed %llu --steps %lu\n", seed, s_step);
    fprintf(report, "  the actions before it, oldest first:\n");
    for (unsigned i = 0; i < s_historyCount; ++i)
        fprintf(report, "    %lu: %s\n", s_historyFirstStep + i, s_history[i]);
    fflush(report);
}

/* A crash ends the program; the report still names the step and its action. */
static FILE* s_crashReport;
static unsigned long long s_crashSeed;
static unsigned long s_crashSteps;

/* Words on the stack that point into the program's code: the likely callers,
   for addr2line. */
static void DescribeStack(const CONTEXT* context) {
    const BYTE* image = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    DWORD begin = reinterpret_cast<DWORD>(image) + nt->OptionalHeader.BaseOfCode;
    DWORD end = begin + nt->OptionalHeader.SizeOfCode;
    const DWORD* stack = reinterpret_cast<const DWORD*>(context->Esp);
    size_t used = strlen(s_broken);
    unsigned found = 0;
    for (unsigned i = 0; i < 4096 && found < 24 && used + 12 < sizeof s_broken; ++i) {
        if (IsBadReadPtr(stack + i, sizeof(DWORD)))
            break;
        if (stack[i] >= begin && stack[i] < end) {
            used += snprintf(s_broken + used, sizeof s_broken - used, " %08lX", stack[i]);
            ++found;
        }
    }
}

static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    snprintf(s_broken, sizeof s_broken,
             "crash: exception 0x%08lX at %p; stack:", exception->ExceptionRecord->ExceptionCode,
             exception->ExceptionRecord->ExceptionAddress);
    DescribeStack(exception->ContextRecord);
    PrintFailure(s_crashReport ? s_crashReport : stderr, s_crashSeed, s_crashSteps);
    ExitProcess(1);
    return EXCEPTION_EXECUTE_HANDLER;
}

/* ---- Dialogs ------------------------------------------------------------------------------ */

struct DialogPlan {
    WORD command;      /* IDOK or IDCANCEL */
    unsigned row;      /* device list row, taken modulo the rows shown */
    unsigned portRow;  /* port combo row, modulo the rows shown */
    int direction;     /* -1 as shown, 0 input, 1 output */
    unsigned steps;    /* settings dialog: step-button presses */
    int stepMore;      /* their direction */
    unsigned answered; /* activations seen */
};

static HHOOK s_hook;
static DialogPlan s_plan;

static unsigned Modulo(unsigned value, LRESULT count) {
    return count > 0 ? value % static_cast<unsigned>(count) : 0;
}

static void ChooseDevice(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
    unsigned row = Modulo(s_plan.row, SendMessageA(list, LB_GETCOUNT, 0, 0));
    SendMessageA(list, LB_SETCURSEL, row, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    HWND combo = GetDlgItem(dialog, IDC_PORT_COMBO);
    unsigned portRow = Modulo(s_plan.portRow, SendMessageA(combo, CB_GETCOUNT, 0, 0));
    SendMessageA(combo, CB_SETCURSEL, portRow, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PORT_COMBO, CBN_CLOSEUP),
                 reinterpret_cast<LPARAM>(combo));
    if (s_plan.direction >= 0) {
        int button = s_plan.direction ? IDC_DIR_OUTPUT : IDC_DIR_INPUT;
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    }
}

static void PressSteps(HWND dialog) {
    int button = s_plan.stepMore ? IDC_STEP_MORE : IDC_STEP_LESS;
    for (unsigned i = 0; i < s_plan.steps; ++i)
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

/* Fills the dialog synchronously, then posts the answer; a Cancel posted
   behind it ends a dialog that the answer left open (an OK with nothing to
   commit). */
static void AnswerDialog(HWND dialog) {
    ++s_plan.answered;
    WORD command = s_plan.answered <= DIALOG_ANSWERS ? s_plan.command : IDCANCEL;
    if (s_plan.answered == 1) {
        if (GetDlgItem(dialog, IDC_DEVICE_LIST))
            ChooseDevice(dialog);
        else if (GetDlgItem(dialog, IDC_STEP_MORE) && !RefHost_ExperimentRunning())
            PressSteps(dialog);
    }
    PostMessageA(dialog, WM_COMMAND, command, 0);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

static LRESULT CALLBACK AnswerOnActivate(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char cls[16];
        if (GetClassNameA(window, cls, sizeof cls) && strcmp(cls, "#32770") == 0)
            AnswerDialog(window);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

/* The hook stays for the whole action, so a message box a dialog raises is
   answered too; it goes when the action is over. */
static void ArmDialogAnswer(const DialogPlan& plan) {
    s_plan = plan;
    s_plan.answered = 0;
    s_hook = SetWindowsHookExA(WH_CBT, AnswerOnActivate, nullptr, GetCurrentThreadId());
}

static void DisarmDialogAnswer(void) {
    if (s_hook)
        UnhookWindowsHookEx(s_hook);
    s_hook = nullptr;
    if (s_plan.answered)
        ++s_stats.dialogs;
}

static DialogPlan RandomPlan(WORD command) {
    DialogPlan plan = {};
    plan.command = command;
    plan.row = Below(16);
    plan.portRow = Below(3);
    plan.direction = static_cast<int>(Below(3)) - 1;
    plan.steps = Chance(50) ? Below(10) : 0;
    plan.stepMore = Chance(50);
    return plan;
}

/* Posted notices (a pulled card) and the answers left behind by dialogs. */
static void PumpMessages(void) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

/* ---- Checks ---------------------------------------------------------------------------- */

int TableMatchesModules(void) {
    DWORD claims[SOCKET_COUNT][PORTS_PER_CARD] = {};
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        const ModuleSettings* s = RefModule_Record(RefHost_Module(i))->settings;
        if (IsValidSocketPort(s->socket, s->port))
            ++claims[s->socket][s->port];
    }
    for (unsigned socket = 0; socket < SOCKET_COUNT; ++socket) {
        for (unsigned port = 0; port < PORTS_PER_CARD; ++port) {
            if (DeviceTable()[socket].portInUse[port] != claims[socket][port])
                return 0;
        }
    }
    return 1;
}

static void DescribeTable(char* text, size_t size) {
    size_t used = 0;
    text[0] = 0;
    for (unsigned socket = 0; socket < SOCKET_COUNT && used + 40 < size; ++socket) {
        const DeviceEntry& e = DeviceTable()[socket];
        if (!e.status && !e.portInUse[0] && !e.portInUse[1] && !e.portInUse[2])
            continue;
        used += snprintf(text + used, size - used, " s%u:inUse%lu%lu%lu", socket, e.portInUse[0],
                         e.portInUse[1], e.portInUse[2]);
    }
    for (size_t i = 0; i < RefHost_ModuleCount() && used + 40 < size; ++i) {
        RefModule* m = RefHost_Module(i);
        const ModuleSettings* s = RefModule_Record(m)->settings;
        used += snprintf(text + used, size - used, " m%u@s%u/p%lu", RefModule_Id(m), s->socket,
                         s->port);
    }
}

static const char* LastOfKind(JournalKind kind) {
    for (size_t i = RefHost_JournalSize(); i-- > 0;) {
        if (RefHost_JournalEntry(i)->kind == kind)
            return RefHost_JournalEntry(i)->text;
    }
    return "(not kept in the journal)";
}

static int CardColumnsUnchanged(void) {
    for (unsigned socket = 0; socket < SOCKET_COUNT; ++socket) {
        const DeviceEntry& now = DeviceTable()[socket];
        const DeviceEntry& then = s_enumerated[socket];
        if (now.status != then.status || now.ioBase1 != then.ioBase1 ||
            now.ioBase2 != then.ioBase2 || now.ioLength1 != then.ioLength1 ||
            now.ioLength2 != then.ioLength2 || now.handle != then.handle)
            return Broke("the start-up columns of socket %u changed", socket);
    }
    return 1;
}

/* Between runs no module holds an output buffer and no card counts as programmed. */
static int NothingHeldBetweenRuns(void) {
    if (RefHost_ExperimentRunning())
        return 1;
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        RefModule* m = RefHost_Module(i);
        if (RefModule_Record(m)->settings->outputBuffer)
            return Broke("module %u holds an output buffer with no run going on", RefModule_Id(m));
    }
    for (unsigned socket = 0; socket < SOCKET_COUNT; ++socket) {
        if (DeviceTable()[socket].configured)
            return Broke("socket %u counts as programmed with no run going on", socket);
    }
    return 1;
}

static int CheckStep(void) {
    if (s_broken[0])
        return 0;
    if (!s_booted)
        return 1;
    if (RefHost_CheckGuards())
        return Broke("guard bytes damaged: %s", LastOfKind(J_VIOLATION));
    if (RefHost_CountKind(J_VIOLATION))
        return Broke("contract violation: %s", LastOfKind(J_VIOLATION));
    if (!TableMatchesModules()) {
        char table[RULE_TEXT / 2];
        DescribeTable(table, sizeof table);
        return Broke("device table claims differ from the live modules:%s", table);
    }
    return CardColumnsUnchanged() && NothingHeldBetweenRuns();
}

/* Sampling warnings the journal gained since the last call. */
static unsigned NewSamplingWarnings(void) {
    static const char caption[] = SAMPLING_CAPTION "\n";
    unsigned count = 0;
    for (; s_journalScanned < RefHost_JournalSize(); ++s_journalScanned) {
        const JournalEntry* e = RefHost_JournalEntry(s_journalScanned);
        if (e->kind == J_WARNING && strncmp(e->text, caption, sizeof caption - 1) == 0)
            ++count;
    }
    return count;
}

static int Listed(const std::vector<unsigned>& ids, unsigned id) {
    for (unsigned listed : ids) {
        if (listed == id)
            return 1;
    }
    return 0;
}

static int WarnedThisRun(unsigned id) {
    return Listed(s_warnedThisRun, id);
}

/* 1 when a port read or write in the trace failed. A module the start
   prepared that drives a port against its programmed direction breaks the
   walk; one restored during the run finds the card as an earlier run, or a
   programming that failed half-way, left it. */
static int FailedPortAccessTraced(unsigned module) {
    SimTraceEntry e;
    int failed = 0;
    int prepared = Listed(s_startedThisRun, module);
    for (DWORD i = 0; SimCard_TraceEntry(i, &e); ++i) {
        if (e.call != SIM_INPORT && e.call != SIM_OUTPORT)
            continue;
        if (prepared && (e.flags & SIMF_MISMATCH))
            return Broke("module %u moved data through port %lu of socket %lu, whose control "
                         "word and line driver disagree",
                         module, e.port, e.socket);
        failed = failed || e.result == 0;
    }
    return failed;
}

/* ---- Host life ------------------------------------------------------------------------------ */

static void ClearJournal(void) {
    RefHost_ClearJournal();
    s_journalScanned = 0;
}

static int Boot(void) {
    if (!SimCard_Reset(kCards))
        return Broke("the simulator refused the walk's cards: %s", SimCard_ConfigError());
    ClearJournal();
    if (!RefHost_Create(GetModuleHandleA(nullptr), 0))
        return Broke("the host window could not be created");
    RefHost_SetJournalBlockCalls(0);
    RefHost_WithholdOutputBlocks(0);
    SetTickSource(WalkTick);
    if (!RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL) || !RefHost_ModuleClass())
        return Broke("the extension was not admitted");
    memcpy(s_enumerated, DeviceTable(), sizeof s_enumerated);
    s_warnedThisRun.clear();
    s_startedThisRun.clear();
    s_booted = 1;
    ++s_stats.boots;
    return 1;
}

static int NoBlocksLeft(const char* when) {
    size_t leaks = RefHost_CheckLeaks();
    if (leaks)
        return Broke("%u host block(s) left %s, e.g. %s", static_cast<unsigned>(leaks), when,
                     LastOfKind(J_LEAK));
    return 1;
}

static int DeleteEveryModule(void) {
    if (RefHost_ExperimentRunning())
        RefHost_StopExperiment();
    while (RefHost_ModuleCount())
        RefHost_DeleteModule(RefHost_Module(0));
    if (!TableMatchesModules())
        return Broke("a port is still claimed after every module was deleted");
    return NoBlocksLeft("with no module and no run");
}

static int ShutDown(void) {
    if (!s_booted)
        return 1;
    RefHost_FailAllocation(0);
    int sound = DeleteEveryModule();
    RefHost_UnloadExtension();
    sound = sound && NoBlocksLeft("after the extension's shut-down");
    if (sound && RefHost_OutstandingFonts())
        sound = Broke("%u font(s) not given back at shut-down",
                      static_cast<unsigned>(RefHost_OutstandingFonts()));
    RefHost_Destroy();
    s_booted = 0;
    if (sound && RefHost_CountKind(J_VIOLATION))
        sound = Broke("contract violation at shut-down: %s", LastOfKind(J_VIOLATION));
    return sound;
}

/* ---- Random values ------------------------------------------------------------------------ */

static double RandomRate(void) {
    switch (Below(14)) {
    case 0:
        return 0.0;
    case 1:
        return -1.0 - Below(1000);
    case 2:
        return std::numeric_limits<double>::quiet_NaN();
    case 3:
        return 1e300;
    case 4:
        return std::numeric_limits<double>::infinity();
    case 5:
        return 42949672960.0;
    case 6:
        return 1e-6;
    default:
        return (1 + Below(2000)) / 100.0;
    }
}

static DWORD RandomBlockSize(void) {
    unsigned pick = Below(100);
    if (pick < 5)
        return 0;
    if (pick < 7)
        return 65535;
    if (pick < 8)
        return 65536;
    if (pick < 9)
        return 70000;
    if (pick < 10)
        return 1048577; /* more than the host hands out */
    if (pick < 11)
        return 0xFFFFFFFFu;
    return 1 + Below(pick < 60 ? 16 : 300);
}

static float RandomLevel(void) {
    static const float kLevels[] = {0.0f,
                                    5.0f,
                                    4.999f,
                                    5.0001f,
                                    -5.0f,
                                    1e30f,
                                    std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(),
                                    std::numeric_limits<float>::denorm_min()};
    return kLevels[Below(sizeof kLevels / sizeof kLevels[0])];
}

static unsigned RandomSampleCount(void) {
    DWORD blockSize = s_runBlockSize;
    unsigned pick = Below(100);
    if (pick < 10)
        return 0;
    if (pick < 15)
        return blockSize < MAX_INPUT_SAMPLES ? blockSize + 1 + Below(20) : MAX_INPUT_SAMPLES;
    if (pick < 17)
        return MAX_INPUT_SAMPLES;
    if (pick < 70 && blockSize && blockSize <= 1000)
        return 1 + Below(blockSize);
    return 1 + Below(64);
}

static int QueueRandomBlock(RefModule* module, UINT input) {
    unsigned count = RandomSampleCount();
    unsigned style = Below(3);
    float constant = RandomLevel();
    for (unsigned j = 0; j < count; ++j)
        s_samples[j] = style == 0 ? constant : style == 1 ? ((j & 1) ? 5.0f : 0.0f) : RandomLevel();
    return RefHost_QueueInputBlock(module, input, s_samples, count);
}

static unsigned RandomSocket(void) {
    unsigned pick = Below(100);
    if (pick < 50)
        return kPresentSockets[Below(PRESENT_SOCKETS)];
    if (pick < 75)
        return Below(SOCKET_COUNT);
    if (pick < 90)
        return SOCKET_COUNT + Below(0x10000 - SOCKET_COUNT);
    return pick < 95 ? SOCKET_COUNT : 0xFFFFu;
}

static DWORD RandomPort(void) {
    unsigned pick = Below(100);
    if (pick < 75)
        return Below(PORTS_PER_CARD);
    if (pick < 85)
        return PORTS_PER_CARD;
    return pick < 95 ? AnyDword() : 0xFFFFFFFFu;
}

static void FillText(char* text, size_t size, int terminated) {
    size_t length = terminated ? Below(static_cast<unsigned>(size)) : size;
    for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(terminated ? 0x20 + Below(0x5F) : 1 + Below(255));
    if (terminated)
        text[length] = 0;
}

static void RandomSettings(ModuleSettings* settings) {
    BYTE* bytes = reinterpret_cast<BYTE*>(settings);
    for (size_t i = 0; i < sizeof *settings; ++i)
        bytes[i] = static_cast<BYTE>(NextRandom());
    int terminated = Chance(60);
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k)
        FillText(settings->channelNames[k], CHANNEL_NAME_SLOT, terminated);
    settings->socket = static_cast<WORD>(RandomSocket());
    settings->port = RandomPort();
    DWORD stale = AnyDword();
    memcpy(&settings->outputBuffer, &stale, sizeof stale);
}

static void RandomCounts(DWORD* inputs, DWORD* outputs) {
    unsigned pick = Below(100);
    *inputs = 0;
    *outputs = 0;
    if (pick < 40)
        *outputs = 1 + Below(8);
    else if (pick < 80)
        *inputs = 1 + Below(8);
    else if (pick < 90) {
        *inputs = Below(17);
        *outputs = Below(17);
    }
}

/* ---- Actions ---------------------------------------------------------------------------- */

static RefModule* AnyModule(void) {
    size_t count = RefHost_ModuleCount();
    return count ? RefHost_Module(Below(static_cast<unsigned>(count))) : nullptr;
}

static const char* Outcome(const void* result) {
    return result ? "kept" : "refused";
}

static void CorruptRecordTexts(RefModule* module) {
    ModuleRecord* record = RefModule_Record(module);
    FillText(record->name, MODULE_NAME_BYTES, 0);
    FillText(record->description, MODULE_DESCRIPTION_BYTES, 0);
}

static int ActCreate(void) {
    if (RefHost_ModuleCount() >= MAX_MODULES) {
        Describe("create: already %u modules", MAX_MODULES);
        return 1;
    }
    DialogPlan plan = RandomPlan(Chance(75) ? IDOK : IDCANCEL);
    ArmDialogAnswer(plan);
    RefModule* module = RefHost_CreateModule();
    DisarmDialogAnswer();
    Describe("create, dialog %s row %u port row %u direction %d: %s",
             plan.command == IDOK ? "OK" : "Cancel", plan.row, plan.portRow, plan.direction,
             Outcome(module));
    if (module) {
        const ModuleSettings* s = RefModule_Record(module)->settings;
        DescribeMore(" m%u on s%u/p%lu", RefModule_Id(module), s->socket, s->port);
    }
    return 1;
}

static int Restore(const ModuleSettings* settings, DWORD inputs, DWORD outputs) {
    char name[32];
    FillText(name, sizeof name, 1);
    RefModule* module = RefHost_RestoreModule(name, "restored", inputs, outputs, settings);
    DescribeMore(" %lu in %lu out: %s", inputs, outputs, Outcome(module));
    if (module) {
        DescribeMore(" m%u", RefModule_Id(module));
        if (Chance(20)) {
            CorruptRecordTexts(module);
            DescribeMore(", texts unterminated");
        }
    }
    return 1;
}

static int ActRestoreArbitrary(void) {
    if (RefHost_ModuleCount() >= MAX_MODULES) {
        Describe("restore: already %u modules", MAX_MODULES);
        return 1;
    }
    ModuleSettings settings;
    RandomSettings(&settings);
    DWORD inputs, outputs;
    RandomCounts(&inputs, &outputs);
    Describe("restore stored bytes s%u/p%lu buffer %p", settings.socket, settings.port,
             static_cast<void*>(settings.outputBuffer));
    return Restore(&settings, inputs, outputs);
}

/* A worksheet saved by this host: a present card, a port nobody holds. */
static int ActRestoreOnFreePort(void) {
    if (RefHost_ModuleCount() >= MAX_MODULES) {
        Describe("restore on a free port: already %u modules", MAX_MODULES);
        return 1;
    }
    unsigned socket = kPresentSockets[Below(PRESENT_SOCKETS)];
    unsigned port = Below(PORTS_PER_CARD);
    for (unsigned tries = 0; tries < PORTS_PER_CARD && DeviceTable()[socket].portInUse[port];
         ++tries)
        port = (port + 1) % PORTS_PER_CARD;
    if (DeviceTable()[socket].portInUse[port]) {
        Describe("restore on a free port: socket %u has none", socket);
        return 1;
    }
    ModuleSettings settings;
    RandomSettings(&settings);
    settings.socket = static_cast<WORD>(socket);
    settings.port = port;
    DWORD inputs = 0, outputs = 0;
    if (Chance(50))
        inputs = 1 + Below(8);
    else
        outputs = 1 + Below(8);
    Describe("restore on s%u/p%u", socket, port);
    return Restore(&settings, inputs, outputs);
}

/* A host that keeps every stored byte hands back a buffer pointer from a run
   long gone: a record of such a host, restored, run or stopped, deleted. */
static int ActRestoreForeignRecord(void) {
    if (RefHost_ExperimentRunning()) {
        Describe("foreign record: a run goes on");
        return 1;
    }
    static ModuleRecord record;
    static ModuleSettings settings;
    static ChannelState states[CHANNEL_POSITIONS];
    memset(&record, 0, sizeof record);
    memset(states, 0, sizeof states);
    RandomSettings(&settings);
    settings.socket = static_cast<WORD>(kPresentSockets[Below(PRESENT_SOCKETS)]);
    settings.port = Below(PORTS_PER_CARD);
    record.owner = RefHost_MainWindow();
    record.enable = 1;
    record.inputCount = Chance(50) ? 1 + Below(8) : 0;
    record.outputCount = record.inputCount ? 0 : 1 + Below(8);
    record.settings = &settings;
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k)
        record.channelStates[k] = &states[k];
    PFN_ModuleEvent handler = RefHost_ModuleClass()->eventHandler;
    void* stale = settings.outputBuffer;
    LONG restored = handler(&record, ME_RESTORE, 0, 0);
    Describe("foreign record on s%u/p%lu, %lu in, buffer bytes %p: restore %ld", settings.socket,
             settings.port, record.inputCount, stale, restored);
    if (!restored)
        return 1;
    if (Chance(50)) {
        RefHost_SetRate(1.0, 1 + Below(64));
        DescribeMore(", start %ld", handler(&record, ME_START, 0, 0));
    }
    DescribeMore(", stop %ld", handler(&record, ME_STOP, 0, 0));
    DescribeMore(", delete %ld", handler(&record, ME_DELETE, 0, 0));
    return 1;
}

static int ActDelete(void) {
    RefModule* module = AnyModule();
    if (!module) {
        Describe("delete: no module");
        return 1;
    }
    Describe("delete m%u%s", RefModule_Id(module),
             RefHost_ExperimentRunning() ? " during a run" : "");
    RefHost_DeleteModule(module);
    return 1;
}

static int ActDeleteAll(void) {
    Describe("delete all %u modules", static_cast<unsigned>(RefHost_ModuleCount()));
    return DeleteEveryModule();
}

static int ActSettings(void) {
    RefModule* module = AnyModule();
    if (!module) {
        Describe("settings: no module");
        return 1;
    }
    DialogPlan plan = RandomPlan(Chance(60) ? IDOK : IDCANCEL);
    ArmDialogAnswer(plan);
    LONG result = RefHost_OpenModule(module);
    DisarmDialogAnswer();
    Describe("settings of m%u, %u step(s) %s, %s: %ld", RefModule_Id(module), plan.steps,
             plan.stepMore ? "more" : "less", plan.command == IDOK ? "OK" : "Cancel", result);
    if (result != 1)
        return Broke("the settings event answered %ld, not 1", result);
    return 1;
}

static int ActStart(void) {
    if (RefHost_ExperimentRunning()) {
        Describe("start: a run goes on");
        return 1;
    }
    double rate = RandomRate();
    DWORD blockSize = RandomBlockSize();
    int started = RefHost_StartExperiment(rate, blockSize);
    Describe("start at tick %lu, %g ms per sample, block %lu: %s", s_tick, rate, blockSize,
             started ? "running" : "refused");
    if (started) {
        RefHost_SetStartTicks(s_tick);
        s_warnedThisRun.clear();
        s_startedThisRun.clear();
        for (size_t i = 0; i < RefHost_ModuleCount(); ++i)
            s_startedThisRun.push_back(RefModule_Id(RefHost_Module(i)));
        s_runBlockSize = blockSize;
        s_runRounds = 0;
        ++s_stats.runs;
    }
    return 1;
}

static int ActStop(void) {
    Describe("stop%s", RefHost_ExperimentRunning() ? "" : " with no run");
    RefHost_StopExperiment();
    return 1;
}

/* A released block carries only the two levels, in every sample it counts. */
static int ReleasedBlocksHoldLevels(RefModule* module, const size_t* before) {
    for (UINT k = 0; k < MODULE_OUTPUT_SLOTS; ++k) {
        for (size_t i = before[k]; i < RefHost_ReleasedBlockCount(module, k); ++i) {
            DataBlock* block = const_cast<DataBlock*>(RefHost_ReleasedBlock(module, k, i));
            const float* samples = BlockSamples(block);
            for (unsigned j = 0; j < block->sampleCount; ++j) {
                if (samples[j] != 0.0f && samples[j] != 5.0f)
                    return Broke("output %u of module %u released sample %u of %u as %g", k,
                                 RefModule_Id(module), j, block->sampleCount, samples[j]);
            }
        }
    }
    return 1;
}

static int ProcessModule(RefModule* module) {
    const ModuleClassDescriptor* descriptor = RefHost_ModuleClass();
    size_t released[MODULE_OUTPUT_SLOTS];
    for (UINT k = 0; k < MODULE_OUTPUT_SLOTS; ++k)
        released[k] = RefHost_ReleasedBlockCount(module, k);
    SimCard_ClearTrace();
    NewSamplingWarnings();
    descriptor->process(RefModule_Record(module));
    ++s_stats.processes;
    if (!ReleasedBlocksHoldLevels(module, released))
        return 0;
    unsigned id = RefModule_Id(module);
    unsigned warnings = NewSamplingWarnings();
    if (warnings > 1 || (warnings && WarnedThisRun(id)))
        return Broke("module %u showed %u more sampling warning(s) in this run", id,
                     warnings + static_cast<unsigned>(WarnedThisRun(id)));
    if (warnings)
        s_warnedThisRun.push_back(id);
    int failed = FailedPortAccessTraced(id);
    if (s_broken[0])
        return 0;
    if (failed) {
        ++s_stats.portFaults;
        if (!RefHost_StopRequested())
            return Broke("a port access of module %u failed and the run goes on", id);
    }
    return 1;
}

static int ActProcessRound(void) {
    if (!RefHost_ExperimentRunning()) {
        Describe("process: no run");
        return 1;
    }
    /* A run of big blocks is kept short: the host keeps what is released. */
    if (s_runBlockSize > 4096 && ++s_runRounds > 6) {
        Describe("stop after a long run of big blocks");
        RefHost_StopExperiment();
        return 1;
    }
    unsigned queued = 0;
    size_t count = RefHost_ModuleCount();
    for (size_t i = 0; i < count; ++i) {
        RefModule* module = RefHost_Module(i);
        DWORD inputs = RefModule_Record(module)->inputCount;
        for (UINT k = 0; k < inputs && Chance(60); ++k) {
            if (RefHost_PendingInputBlocks(module, k) < 4)
                queued += static_cast<unsigned>(QueueRandomBlock(module, k));
        }
    }
    DWORD advance = Below(100) < 80 ? Below(40) : Below(3000);
    Describe("process %u module(s) at tick %lu, %u block(s) queued, then tick +%lu",
             static_cast<unsigned>(count), s_tick, queued, advance);
    for (size_t i = 0; i < count; ++i) {
        if (!ProcessModule(RefHost_Module(i)))
            return 0;
    }
    s_tick += advance;
    return 1;
}

static int ActQueueOnly(void) {
    RefModule* module = AnyModule();
    DWORD inputs = module ? RefModule_Record(module)->inputCount : 0;
    if (!inputs) {
        Describe("queue: no module with inputs");
        return 1;
    }
    UINT input = Below(inputs < 16 ? inputs : 16);
    int queued = RefHost_PendingInputBlocks(module, input) < 4 && QueueRandomBlock(module, input);
    Describe("queue a block for input %u of m%u: %d", input, RefModule_Id(module), queued);
    return 1;
}

static int ActPause(void) {
    if (!RefHost_ExperimentRunning()) {
        Describe("pause: no run");
        return 1;
    }
    int paused = Chance(50);
    RefHost_SetPaused(paused);
    Describe(paused ? "pause" : "resume");
    return 1;
}

/* During a run time only moves forward; between runs it may jump, close to
   its wrap as well, so a run can start just before it. */
static int ActTick(void) {
    unsigned pick = Below(10);
    if (!RefHost_ExperimentRunning() && pick < 3)
        s_tick = pick == 0 ? 0xFFFFFFFFu - Below(3000) : AnyDword();
    else
        s_tick += pick < 8 ? Below(60) : Below(20000);
    Describe("tick now %lu", s_tick);
    return 1;
}

static unsigned AnyCardSocket(void) {
    return Chance(85) ? kPresentSockets[Below(PRESENT_SOCKETS)] : Below(SOCKET_COUNT);
}

static int ActPull(void) {
    unsigned socket = AnyCardSocket();
    if (Chance(65)) {
        SimCard_Pull(socket);
        Describe("pull the card of socket %u", socket);
    } else {
        DWORD calls = 1 + Below(300);
        SimCard_PullAfterCalls(socket, calls);
        Describe("pull the card of socket %u after %lu more calls", socket, calls);
    }
    return 1;
}

static int ActInsert(void) {
    unsigned socket = AnyCardSocket();
    SimCard_Insert(socket);
    Describe("insert the card of socket %u", socket);
    return 1;
}

static int ActCardFault(void) {
    static const DWORD kCalls[] = {SIM_INPORT, SIM_OUTPORT, SIM_SETDIRECTION, SIM_ANY_CALL};
    static const LONG kCodes[] = {SIMERR_INJECTED, 0, 7, -1};
    unsigned pick = Below(10);
    if (pick < 8) {
        DWORD call = kCalls[Below(4)];
        DWORD n = 1 + Below(pick < 4 ? 10 : 400);
        LONG code = kCodes[Below(4)];
        SimCard_FailNth(call, n, code);
        Describe("driver call kind %lu fails at the %lu-th, code %ld", call, n, code);
    } else {
        unsigned socket = AnyCardSocket();
        LONG fail = pick == 8;
        SimCard_FailGetResource(socket, fail);
        Describe("resources of socket %u %s", socket, fail ? "fail" : "answer again");
    }
    return 1;
}

static int ActAllocationFault(void) {
    unsigned n = 1 + Below(ALLOCATION_FAILURES);
    RefHost_FailAllocation(n);
    Describe("host allocation %u from now fails", n);
    return 1;
}

static int ActRateMidRun(void) {
    if (!RefHost_ExperimentRunning()) {
        Describe("rate: no run");
        return 1;
    }
    double rate = RandomRate();
    DWORD blockSize = Chance(50) ? s_runBlockSize : RandomBlockSize();
    RefHost_SetRate(rate, blockSize);
    s_runBlockSize = blockSize;
    Describe("rate changed during the run: %g ms per sample, block %lu", rate, blockSize);
    return 1;
}

/* The host may switch a module off, and may have no block to give. */
static int ActHostLimits(void) {
    RefModule* module = AnyModule();
    if (module && Chance(50)) {
        DWORD enable = Chance(50) ? 0u : Chance(80) ? 1u : AnyDword();
        RefModule_Record(module)->enable = enable;
        Describe("enable word of m%u now %lu", RefModule_Id(module), enable);
    } else {
        int withhold = Chance(30);
        RefHost_WithholdOutputBlocks(withhold);
        Describe(withhold ? "the host withholds output blocks" : "the host gives output blocks");
    }
    return 1;
}

static int ActOtherEvent(void) {
    static const UINT kCodes[] = {
        ME_ACKNOWLEDGE_1, ME_ACKNOWLEDGE_104, ME_ACKNOWLEDGE_201, 0, 100, 108, 150, 0xFFFFFFFFu};
    RefModule* module = AnyModule();
    if (!module) {
        Describe("event: no module");
        return 1;
    }
    UINT code = kCodes[Below(sizeof kCodes / sizeof kCodes[0])];
    DWORD arg1 = AnyDword(), arg2 = AnyDword();
    LONG result = RefHost_SendEvent(module, code, arg1, arg2);
    Describe("event %u to m%u: %ld", code, RefModule_Id(module), result);
    int acknowledged =
        code == ME_ACKNOWLEDGE_1 || code == ME_ACKNOWLEDGE_104 || code == ME_ACKNOWLEDGE_201;
    LONG expected = acknowledged ? 1 : REFHOST_DEFAULT_ACTION_RESULT;
    if (result != expected)
        return Broke("event %u answered %ld, not %ld", code, result, expected);
    return 1;
}

static int ActReboot(void) {
    Describe("shut down and start the host again");
    return ShutDown() && Boot();
}

struct WalkAction {
    unsigned weight;
    int (*run)(void);
};

static const WalkAction kActions[] = {
    {2, ActCreate},               /* event 101 through the dialog */
    {20, ActRestoreArbitrary},    /* event 105 with any stored bytes */
    {16, ActRestoreOnFreePort},   /* event 105 as a saved worksheet gives it */
    {4, ActRestoreForeignRecord}, /* event 105 with a stored buffer pointer */
    {10, ActDelete},              /* event 102 */
    {2, ActDeleteAll},            /* every module, then no block may be left */
    {1, ActSettings},             /* event 103 through the dialog */
    {16, ActStart},               /* event 106 to every module */
    {10, ActStop},                /* event 107 to every module */
    {60, ActProcessRound},        /* one process call per module */
    {8, ActQueueOnly},            /* an input block and no process call */
    {8, ActPause},                /* bExperimentIsPaused */
    {24, ActTick},                /* the tick the passes see */
    {4, ActPull},                 /* a card leaves its socket */
    {6, ActInsert},               /* and comes back */
    {6, ActCardFault},            /* one driver call fails */
    {2, ActAllocationFault},      /* one host allocation fails */
    {2, ActRateMidRun},           /* the host changes the rate during a run */
    {4, ActHostLimits},           /* enable word, no output block to give */
    {4, ActOtherEvent},           /* acknowledged and unknown codes */
    {1, ActReboot},               /* shut-down, leak check, admission again */
};

static const WalkAction& DrawAction(void) {
    unsigned total = 0;
    for (const WalkAction& a : kActions)
        total += a.weight;
    /* A host that was asked to stop does so soon. */
    static const WalkAction kStop = {0, ActStop};
    /* Processing is what a run is for; without one, one is started half the time. */
    static const WalkAction kStart = {0, ActStart};
    if (RefHost_ExperimentRunning() && RefHost_StopRequested() && Chance(60))
        return kStop;
    unsigned pick = Below(total);
    for (const WalkAction& a : kActions) {
        if (pick < a.weight)
            return a.run == ActProcessRound && !RefHost_ExperimentRunning() && Chance(50) ? kStart
                                                                                          : a;
        pick -= a.weight;
    }
    return kActions[0];
}

/* ---- The walk ------------------------------------------------------------------------------ */

static void ResetWalk(unsigned long long seed) {
    s_random = seed;
    s_tick = 1000;
    s_step = 0;
    s_action[0] = 0;
    s_broken[0] = 0;
    s_historyCount = 0;
    s_historyFirstStep = 1;
    s_runBlockSize = 16;
    s_runRounds = 0;
    memset(&s_stats, 0, sizeof s_stats);
}

static int TakeStep(void) {
    s_action[0] = 0;
    const WalkAction& action = DrawAction();
    int sound = action.run();
    PumpMessages();
    sound = CheckStep() && sound;
    if (sound && RefHost_JournalSize() > JOURNAL_ROOM)
        ClearJournal();
    return sound;
}

int RunWalk(unsigned long long seed, unsigned long steps, FILE* report, WalkStats* stats) {
    SetLibraryInstance(GetModuleHandleA(nullptr));
    ResetWalk(seed);
    s_crashReport = report;
    s_crashSeed = seed;
    s_crashSteps = steps;
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(ReportCrash);
    Describe("start-up");
    int sound = Boot();
    for (unsigned long step = 1; sound && step <= steps; ++step) {
        s_step = step;
        sound = TakeStep();
        if (sound)
            RememberAction();
    }
    if (sound)
        Describe("final shut-down");
    sound = ShutDown() && sound;
    SetTickSource(nullptr);
    SetUnhandledExceptionFilter(previous);
    s_stats.steps = s_step;
    if (!sound)
        PrintFailure(report, seed, steps);
    if (stats)
        *stats = s_stats;
    return sound;
}
