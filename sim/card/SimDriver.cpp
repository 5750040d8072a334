/*
 * The simulated rzxdk08.dll's exports: the eight driver entries and the
 * SimCard_ control interface. Every entry resolves its card, lets armed
 * faults and pulled cards answer first, hands the rest to the card model and
 * records the call in the trace. Single-threaded like the real driver's
 * callers: everything runs on the thread that calls it.
 */
#include "card/DriverAbi.h"
#include "sim/card/SimBoard.h"
#include "sim/card/SimCard.h"
#include "card/Ppi8255.h"

#include <cstdio>
#include <cstring>

#define CONFIG_ENV_VARIABLE "RZXDK08_CONFIG"
#define CONFIG_FILE_NAME    "rzxdk08.ini"
#define CONFIG_FILE_LIMIT   65536u

static HMODULE s_module;
static int s_configured;
static char s_configError[256];
static char s_configSource[MAX_PATH];
static SimNthFault s_nth[SIM_NTH_KINDS];

static SimTraceEntry s_trace[SIM_TRACE_CAPACITY];
static DWORD s_traceCount;
static DWORD s_traceDropped;
static int s_tracing = 1;
static int s_instantPorts;
static BYTE s_instantValue;
static DWORD s_timedPulls; /* cards with a pull deadline armed */

/* ---- Configuration ---------------------------------------------------------- */

static void KillPullTimers(void);

static void ApplyConfig(const SimConfig& config) {
    KillPullTimers();
    SimBoardLoad(config);
    memcpy(s_nth, config.nth, sizeof s_nth);
    for (DWORD socket = 0; socket < SIM_SOCKETS; ++socket)
        SimBoardCard(socket)->callsUntilPull = config.cards[socket].pullAfterCalls;
    s_traceCount = 0;
    s_traceDropped = 0;
    s_tracing = 1;
    s_instantPorts = 0;
    s_configured = 1;
}

/* Parses and applies; a rejected text leaves no card at all, so a typing error
   in the file shows as an empty machine rather than a half-configured one. */
static int LoadConfigText(const char* text, const char* source) {
    static SimConfig config;
    int accepted = ParseSimConfig(text, &config, s_configError, sizeof s_configError);
    ApplyConfig(config);
    snprintf(s_configSource, sizeof s_configSource, "%s", source);
    return accepted;
}

/* A file's problem goes to the debugger output; nobody else is there to see it. */
static void ReportRejectedFile(void) {
    char message[sizeof s_configError + MAX_PATH + 32];
    snprintf(message, sizeof message, "rzxdk08 simulator: %s: %s\n", s_configSource, s_configError);
    OutputDebugStringA(message);
}

static int ReadTextFile(const char* path, char* text, DWORD capacity) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = 0;
    BOOL read = ReadFile(file, text, capacity - 1, &size, nullptr);
    DWORD more = 0;
    char extra;
    BOOL readMore = read && ReadFile(file, &extra, 1, &more, nullptr);
    CloseHandle(file);
    if (!read || (readMore && more))
        return 0;
    text[size] = '\0';
    return 1;
}

static int ConfigFileBesideModule(char* path, DWORD capacity) {
    DWORD length = GetModuleFileNameA(s_module, path, capacity);
    if (length == 0 || length >= capacity)
        return 0;
    char* slash = strrchr(path, '\\');
    size_t folder = slash ? static_cast<size_t>(slash - path + 1) : 0;
    if (folder + sizeof CONFIG_FILE_NAME > capacity)
        return 0;
    memcpy(path + folder, CONFIG_FILE_NAME, sizeof CONFIG_FILE_NAME);
    return 1;
}

/* The environment variable names a file that must be readable; the file beside
   the DLL is used only when it exists; else the demo setup. */
static void LoadStartupConfig(void) {
    static char text[CONFIG_FILE_LIMIT];
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(CONFIG_ENV_VARIABLE, path, sizeof path);
    if (length > 0 && length < sizeof path) {
        if (ReadTextFile(path, text, sizeof text)) {
            if (!LoadConfigText(text, path))
                ReportRejectedFile();
            return;
        }
        LoadConfigText("", path);
        snprintf(s_configError, sizeof s_configError,
                 "cannot read the file (or it is over %u bytes)", CONFIG_FILE_LIMIT - 1);
        ReportRejectedFile();
        return;
    }
    if (ConfigFileBesideModule(path, sizeof path) && ReadTextFile(path, text, sizeof text)) {
        if (!LoadConfigText(text, path))
            ReportRejectedFile();
        return;
    }
    LoadConfigText(kSimDefaultConfig, "default");
}

static void EnsureConfigured(void) {
    if (!s_configured)
        LoadStartupConfig();
}

/* ---- Trace ---------------------------------------------------------------- */

static void Trace(const SimTraceEntry& entry) {
    if (!s_tracing)
        return;
    if (s_traceCount == SIM_TRACE_CAPACITY) {
        ++s_traceDropped;
        return;
    }
    s_trace[s_traceCount++] = entry;
}

/* ---- Pulling cards ---------------------------------------------------------- */

static void PullCard(DWORD socket) {
    SimCard* card = SimBoardCard(socket);
    if (!card || !card->config.present || card->pulled)
        return;
    card->pulled = 1;
    card->callsUntilPull = 0;
    if (card->pullArmed) {
        card->pullArmed = 0;
        --s_timedPulls;
    }
    if (card->pullTimer) {
        KillTimer(nullptr, card->pullTimer);
        card->pullTimer = 0;
    }
    int windowGone = card->window && !IsWindow(card->window);
    DWORD posted = 0;
    if (card->open && card->window && !windowGone)
        posted = PostMessageA(card->window, card->message, socket, 0) ? 1 : 0;
    SimTraceEntry entry = {SIM_PULLED, socket, 0, posted, 1, windowGone ? SIMF_NO_WINDOW : 0u};
    Trace(entry);
}

static void CALLBACK PullTimerProc(HWND, UINT, UINT_PTR timer, DWORD) {
    for (DWORD socket = 0; socket < SIM_SOCKETS; ++socket) {
        if (SimBoardCard(socket)->pullTimer == timer)
            PullCard(socket);
    }
    KillTimer(nullptr, timer);
}

static void ArmTimedPull(DWORD socket, DWORD milliseconds) {
    SimCard* card = SimBoardCard(socket);
    if (card->pullTimer)
        KillTimer(nullptr, card->pullTimer);
    if (!card->pullArmed)
        ++s_timedPulls;
    card->pullArmed = 1;
    card->pullStart = GetTickCount();
    card->pullDelay = milliseconds;
    card->pullTimer = SetTimer(nullptr, 0, milliseconds, PullTimerProc);
}

static void DisarmTimedPull(SimCard* card) {
    if (card->pullTimer)
        KillTimer(nullptr, card->pullTimer);
    card->pullTimer = 0;
    if (card->pullArmed)
        --s_timedPulls;
    card->pullArmed = 0;
}

static void KillPullTimers(void) {
    for (DWORD socket = 0; socket < SIM_SOCKETS; ++socket)
        DisarmTimedPull(SimBoardCard(socket));
}

/* A caller that pumps no messages still sees the card go at its time. */
static void PullOverdueCards(void) {
    if (!s_timedPulls)
        return;
    DWORD now = GetTickCount();
    for (DWORD socket = 0; socket < SIM_SOCKETS; ++socket) {
        const SimCard* card = SimBoardCard(socket);
        if (card->pullArmed && now - card->pullStart >= card->pullDelay)
            PullCard(socket);
    }
}

/* ---- Admission of a call ---------------------------------------------------- */

/* A card answers to its socket number and to the handle it was given. */
static SimCard* CardForHandle(DWORD handle, DWORD* socket) {
    if (handle < SIM_SOCKETS) {
        *socket = handle;
        return SimBoardCard(handle);
    }
    for (DWORD s = 0; s < SIM_SOCKETS; ++s) {
        SimCard* card = SimBoardCard(s);
        if (card->config.hasCreateHandle && (card->config.createHandle & 0xFFFFu) == handle) {
            *socket = s;
            return card;
        }
    }
    return nullptr;
}

/* Counts the call against the armed n-th faults; 1 with the code of one that
   comes due. Both a kind's own fault and the any-call fault count. */
static int DueNthFault(DWORD call, LONG* code) {
    int due = 0;
    int slots[2] = {SimNthIndex(call), SimNthIndex(SIM_ANY_CALL)};
    for (int slot : slots) {
        if (slot < 0 || !s_nth[slot].n)
            continue;
        if (--s_nth[slot].n == 0 && !due) {
            due = 1;
            *code = s_nth[slot].code;
        }
    }
    return due;
}

struct CallContext {
    SimTraceEntry entry;
    SimCard* card;
    DWORD socket;
    int failed;
    LONG code; /* the card's last error once the call failed; may be 0 for an injected fault */
};

static CallContext BeginCall(DWORD call, DWORD handle, DWORD port, DWORD value) {
    EnsureConfigured();
    PullOverdueCards();
    CallContext context = {{call, handle, port, value, 0, 0}, nullptr, 0, 0, 0};
    context.card = CardForHandle(handle, &context.socket);
    if (s_tracing && context.card && context.card->window && !IsWindow(context.card->window))
        context.entry.flags |= SIMF_NO_WINDOW;
    return context;
}

/* The first failure of a call is the one it reports. */
static void FailWith(CallContext* context, LONG code) {
    if (context->failed)
        return;
    context->failed = 1;
    context->code = code;
}

/* For the card model's answers: 0 means it went through. */
static void FailOnCode(CallContext* context, LONG code) {
    if (code)
        FailWith(context, code);
}

static void Inject(CallContext* context, LONG code) {
    context->entry.flags |= SIMF_INJECTED;
    FailWith(context, code);
}

/* Injected faults first, then what the card's state refuses. Returns 1 when the
   call may reach the card model. */
static int Admit(CallContext* context, int needsOpen) {
    LONG injected = 0;
    if (DueNthFault(context->entry.call, &injected))
        Inject(context, injected);
    const SimCard* card = context->card;
    if (!card)
        FailWith(context, SIMERR_BAD_HANDLE);
    else if (!card->config.present)
        FailWith(context, SIMERR_NO_CARD);
    else if (card->pulled)
        FailWith(context, SIMERR_PULLED);
    else if (needsOpen && !card->open)
        FailWith(context, SIMERR_NOT_OPEN);
    return !context->failed;
}

/* Records the outcome: a failure sets the card's last error; then the call
   counts towards a pull armed for the card. */
static LONG AnswerCall(CallContext* context, LONG result) {
    SimCard* card = context->card;
    context->entry.result = result;
    if (context->failed && card)
        card->lastError = context->code;
    Trace(context->entry);
    if (card && card->callsUntilPull && --card->callsUntilPull == 0)
        PullCard(context->socket);
    return result;
}

/* A failed call answers 0, any other its success value. */
static LONG FinishCall(CallContext* context, LONG success) {
    return AnswerCall(context, context->failed ? 0 : success);
}

static void FlagMismatch(CallContext* context, DWORD port) {
    if (port < 3 && SimBoardPortMismatch(context->card, port))
        context->entry.flags |= SIMF_MISMATCH;
}

/* ---- The driver entries ------------------------------------------------------ */

extern "C" DWORD WINAPI Dk08GetVersion(void) {
    CallContext context = BeginCall(SIM_GETVERSION, 0, 0, 0);
    context.entry.result = SIM_VERSION;
    Trace(context.entry);
    return SIM_VERSION;
}

/* A card told to answer Create with something other than 1 stays closed. */
static LONG OpenCard(CallContext* context, DWORD* socketVariable, HWND window, UINT message) {
    SimCard* card = context->card;
    if (card->config.createAnswer != 1) {
        Inject(context, SIMERR_INJECTED);
        return AnswerCall(context, card->config.createAnswer);
    }
    if (card->open) {
        FailWith(context, SIMERR_ALREADY_OPEN);
        return FinishCall(context, 1);
    }
    card->open = 1;
    card->window = window;
    card->message = message;
    if (card->config.hasCreateHandle)
        *socketVariable = card->config.createHandle;
    if (card->config.pullAfterMs)
        ArmTimedPull(context->socket, card->config.pullAfterMs);
    return FinishCall(context, 1);
}

extern "C" LONG WINAPI Dk08Create(DWORD* socketVariable, HWND notifyWindow, UINT message,
                                  DWORD reserved) {
    DWORD socket = socketVariable ? *socketVariable : 0xFFFFFFFFu;
    CallContext context = BeginCall(SIM_CREATE, socket, reserved, message);
    /* Create takes a socket number, never a handle of its own. */
    context.card = SimBoardCard(socket);
    context.socket = socket;
    context.entry.flags &= ~SIMF_NO_WINDOW;
    if (!Admit(&context, 0))
        return FinishCall(&context, 1);
    return OpenCard(&context, socketVariable, notifyWindow, message);
}

extern "C" LONG WINAPI Dk08Close(DWORD handle) {
    CallContext context = BeginCall(SIM_CLOSE, handle, 0, 0);
    if (Admit(&context, 1)) {
        context.card->open = 0;
        DisarmTimedPull(context.card);
    }
    return FinishCall(&context, 1);
}

static void FillResource(const SimCard* card, DriverResource* resource) {
    memset(resource, 0, sizeof *resource);
    resource->ioBase1 = card->config.ioBase1;
    resource->ioBase2 = card->config.ioBase2;
    resource->ioLength1 = card->config.ioLength1;
    resource->ioLength2 = card->config.ioLength2;
}

extern "C" LONG WINAPI Dk08GetResource(DWORD handle, void* resource) {
    CallContext context = BeginCall(SIM_GETRESOURCE, handle, 0, 0);
    if (Admit(&context, 1)) {
        if (!resource)
            FailWith(&context, SIMERR_BAD_POINTER);
        else if (context.card->config.failResource)
            Inject(&context, SIMERR_INJECTED);
        else
            FillResource(context.card, static_cast<DriverResource*>(resource));
    }
    return FinishCall(&context, 1);
}

extern "C" LONG WINAPI Dk08InPort(DWORD handle, DWORD port, BYTE* value) {
    if (s_instantPorts && value) {
        *value = s_instantValue;
        return 1;
    }
    CallContext context = BeginCall(SIM_INPORT, handle, port, 0);
    if (Admit(&context, 1)) {
        if (port >= PORT_COUNT)
            FailWith(&context, SIMERR_BAD_PORT);
        else if (!value)
            FailWith(&context, SIMERR_BAD_POINTER);
    }
    if (!context.failed) {
        FlagMismatch(&context, port);
        BYTE lines = 0;
        FailOnCode(&context, SimBoardReadPort(context.card, port, &lines));
        *value = lines;
        context.entry.value = lines;
    }
    return FinishCall(&context, 1);
}

extern "C" LONG WINAPI Dk08OutPort(DWORD handle, DWORD port, DWORD value) {
    if (s_instantPorts)
        return 1;
    CallContext context = BeginCall(SIM_OUTPORT, handle, port, value);
    if (Admit(&context, 1)) {
        if (port > PORT_CTRL) {
            FailWith(&context, SIMERR_BAD_PORT);
        } else if (port == PORT_CTRL) {
            FailOnCode(&context, SimBoardWriteControl(context.card, value));
        } else {
            FlagMismatch(&context, port);
            FailOnCode(&context, SimBoardWritePort(context.card, port, value));
        }
    }
    return FinishCall(&context, 1);
}

extern "C" LONG WINAPI Dk08SetDirection(DWORD handle, DWORD direction) {
    CallContext context = BeginCall(SIM_SETDIRECTION, handle, 0, direction);
    if (Admit(&context, 1))
        FailOnCode(&context, SimBoardSetDirection(context.card, direction));
    return FinishCall(&context, 1);
}

/* Answers even for a pulled or closed card: it is how the caller learns why. */
extern "C" LONG WINAPI Dk08GetLastError(DWORD handle) {
    CallContext context = BeginCall(SIM_GETLASTERROR, handle, 0, 0);
    LONG code = context.card ? context.card->lastError : SIMERR_BAD_HANDLE;
    context.entry.result = code;
    Trace(context.entry);
    return code;
}

/* ---- Control interface --------------------------------------------------------- */

extern "C" LONG WINAPI SimCard_Reset(const char* configText) {
    if (!configText)
        return LoadConfigText(kSimDefaultConfig, "default");
    return LoadConfigText(configText, "text");
}

extern "C" const char* WINAPI SimCard_ConfigError(void) {
    EnsureConfigured();
    return s_configError;
}

extern "C" const char* WINAPI SimCard_ConfigSource(void) {
    EnsureConfigured();
    return s_configSource;
}

extern "C" DWORD WINAPI SimCard_TraceCount(void) {
    return s_traceCount;
}

extern "C" LONG WINAPI SimCard_TraceEntry(DWORD i, SimTraceEntry* entry) {
    if (i >= s_traceCount || !entry)
        return 0;
    *entry = s_trace[i];
    return 1;
}

extern "C" void WINAPI SimCard_ClearTrace(void) {
    s_traceCount = 0;
    s_traceDropped = 0;
}

extern "C" DWORD WINAPI SimCard_TraceDropped(void) {
    return s_traceDropped;
}

extern "C" void WINAPI SimCard_SetTracing(LONG on) {
    s_tracing = on ? 1 : 0;
}

extern "C" void WINAPI SimCard_SetInstantPorts(LONG on, DWORD readValue) {
    s_instantPorts = on ? 1 : 0;
    s_instantValue = static_cast<BYTE>(readValue);
}

/* The setters below configure first, so that a later lazy load of the
   start-up configuration cannot undo them. */
static SimCard* ControlledCard(DWORD socket) {
    EnsureConfigured();
    return SimBoardCard(socket);
}

extern "C" void WINAPI SimCard_SetCreateAnswer(DWORD socket, LONG answer) {
    if (SimCard* card = ControlledCard(socket))
        card->config.createAnswer = answer;
}

extern "C" void WINAPI SimCard_FailGetResource(DWORD socket, LONG fail) {
    if (SimCard* card = ControlledCard(socket))
        card->config.failResource = fail ? 1 : 0;
}

extern "C" void WINAPI SimCard_FailNth(DWORD call, DWORD n, LONG code) {
    EnsureConfigured();
    int slot = SimNthIndex(call);
    if (slot < 0)
        return;
    s_nth[slot].call = call;
    s_nth[slot].n = n;
    s_nth[slot].code = code;
}

extern "C" void WINAPI SimCard_PullAfterCalls(DWORD socket, DWORD n) {
    if (SimCard* card = ControlledCard(socket))
        card->callsUntilPull = n;
}

extern "C" void WINAPI SimCard_PullAfterMs(DWORD socket, DWORD milliseconds) {
    SimCard* card = ControlledCard(socket);
    if (!card)
        return;
    if (milliseconds)
        ArmTimedPull(socket, milliseconds);
    else
        DisarmTimedPull(card);
}

extern "C" void WINAPI SimCard_Pull(DWORD socket) {
    if (ControlledCard(socket))
        PullCard(socket);
}

extern "C" void WINAPI SimCard_Insert(DWORD socket) {
    SimCard* card = ControlledCard(socket);
    if (!card || !card->pulled)
        return;
    card->pulled = 0;
    card->callsUntilPull = 0;
    DisarmTimedPull(card);
    SimBoardPowerOn(card);
}

extern "C" void WINAPI SimCard_SetCreateHandle(DWORD socket, DWORD handle) {
    if (SimCard* card = ControlledCard(socket)) {
        card->config.hasCreateHandle = 1;
        card->config.createHandle = handle;
    }
}

extern "C" void WINAPI SimCard_SetConstantInput(DWORD socket, DWORD port, DWORD value) {
    SimCard* card = ControlledCard(socket);
    if (!card || port >= PORT_COUNT)
        return;
    memset(&card->config.sources[port], 0, sizeof card->config.sources[port]);
    card->config.sources[port].kind = SRC_CONSTANT;
    card->config.sources[port].value = value & 0xFFu;
}

extern "C" LONG WINAPI SimCard_GetState(DWORD socket, SimCardState* state) {
    const SimCard* card = ControlledCard(socket);
    if (!card || !state)
        return 0;
    state->present = card->config.present;
    state->open = card->open;
    state->pulled = card->pulled;
    state->notifyWindow = card->window;
    state->notifyMessage = card->message;
    state->controlWord = card->controlWord;
    state->directionValue = card->directionValue;
    state->directionCount = card->directionCount;
    for (DWORD port = 0; port < PORT_COUNT; ++port) {
        state->latch[port] = card->latch[port];
        state->outputMask[port] = card->outputMask[port];
        state->lines[port] = SimBoardPeekPort(card, port);
        state->readCount[port] = card->readCount[port];
    }
    state->lastError = card->lastError;
    state->mismatch = static_cast<DWORD>(SimBoardMismatch(card));
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        s_module = instance;
    return TRUE;
}
