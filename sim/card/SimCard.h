/*
 * The card simulator's control interface: the exports of the simulated
 * rzxdk08.dll beyond the eight driver entries. Tests and the reference host
 * include this header and link the DLL's import library (CMake target
 * rzxdk08) to configure cards, inject faults, pull cards and read the trace of
 * every driver call. Everything runs on the thread that calls the driver.
 */
#pragma once

#include <windows.h>

/* What a trace entry records. */
enum SimCall {
    SIM_GETVERSION = 1,
    SIM_CREATE,       /* socket: the socket variable on entry; port: the fourth argument;
                         value: the message number */
    SIM_CLOSE,        /* socket: the handle as passed */
    SIM_GETRESOURCE,  /* socket: the handle as passed */
    SIM_INPORT,       /* port as passed; value: the byte delivered (0 on failure) */
    SIM_OUTPORT,      /* port and value as passed, all 32 bits */
    SIM_SETDIRECTION, /* value: the direction value as passed, all 32 bits */
    SIM_GETLASTERROR, /* result: the code answered */
    SIM_PULLED,       /* not a call: the card left its socket; value 1 when the notice was posted */
    SIM_ANY_CALL = 100 /* for SimCard_FailNth: any of Create .. SetDirection */
};

/* Flags of a trace entry. */
#define SIMF_INJECTED 0x01u /* the result was forced by a fault */
#define SIMF_MISMATCH                                                                              \
    0x02u                    /* data moved through a port whose control word and line              \
                                driver disagree on its direction */
#define SIMF_NO_WINDOW 0x04u /* the window given to Dk08Create no longer exists */

struct SimTraceEntry {
    DWORD call;   /* SimCall */
    DWORD socket; /* socket or handle exactly as passed */
    DWORD port;
    DWORD value;
    LONG result;
    DWORD flags; /* SIMF_* */
};

/* Error codes answered by Dk08GetLastError. A fault may give its own code. */
#define SIMERR_NONE          0
#define SIMERR_BAD_HANDLE    101  /* no socket answers to this handle */
#define SIMERR_NO_CARD       102  /* the socket holds no card */
#define SIMERR_NOT_OPEN      103  /* Dk08Create has not opened the card */
#define SIMERR_ALREADY_OPEN  104  /* Dk08Create on an open card */
#define SIMERR_PULLED        105  /* the card was pulled while open */
#define SIMERR_BAD_PORT      106  /* port index above 3, or a read of the control register */
#define SIMERR_PORT_IS_INPUT 107  /* write to a port the control word made input */
#define SIMERR_BAD_VALUE     108  /* port value or direction value wider than the card takes */
#define SIMERR_BAD_MODE      109  /* a mode-set word asking for mode 1 or 2 */
#define SIMERR_BAD_POINTER   110  /* null where an address is required */
#define SIMERR_INJECTED      1000 /* default code of an injected fault */

/* The version Dk08GetVersion answers. */
#define SIM_VERSION 0x0100u

#define SIM_SOCKETS        16u
#define SIM_TRACE_CAPACITY 65536u

/* One card as the simulator sees it. */
struct SimCardState {
    DWORD present;     /* a card sits in the socket */
    DWORD open;        /* Dk08Create opened it and no Dk08Close followed */
    DWORD pulled;      /* pulled while configured; calls fail until re-inserted */
    HWND notifyWindow; /* as given to Dk08Create */
    UINT notifyMessage;
    DWORD controlWord;    /* last mode-set word; 0x9B at power-on */
    DWORD directionValue; /* last Dk08SetDirection value; 0 at power-on */
    DWORD directionCount; /* Dk08SetDirection calls that succeeded */
    BYTE latch[3];        /* output latches of ports A, B, C */
    BYTE outputMask[3];   /* lines the control word makes output, per port */
    BYTE lines[3];        /* what a read of each port delivers right now */
    DWORD readCount[3];   /* successful reads per port */
    LONG lastError;
    DWORD mismatch; /* control word and direction value disagree now */
};

extern "C" {
/* Replaces every card, fault and the trace with the configuration in text (the
   rzxdk08.ini format, see README.md); null means the built-in demo setup.
   Returns 1, or 0 with no card configured (SimCard_ConfigError says why). */
LONG WINAPI SimCard_Reset(const char* configText);
/* "line N: ..." for the last rejected configuration, "" when it was accepted. */
const char* WINAPI SimCard_ConfigError(void);
/* Where the configuration in use came from: "default", "text", or a file path. */
const char* WINAPI SimCard_ConfigSource(void);

/* The trace: entries are kept in call order up to SIM_TRACE_CAPACITY; later
   calls are counted in SimCard_TraceDropped. */
DWORD WINAPI SimCard_TraceCount(void);
/* Copies entry i; 0 when i is past the end. */
LONG WINAPI SimCard_TraceEntry(DWORD i, SimTraceEntry* entry);
void WINAPI SimCard_ClearTrace(void);
DWORD WINAPI SimCard_TraceDropped(void);
/* 0 switches tracing off (the fast mode for benchmarks); 1 on again. */
void WINAPI SimCard_SetTracing(LONG on);
/* 1 makes Dk08InPort and Dk08OutPort return at once: a read answers the byte
   given, a write goes nowhere, nothing is traced or checked. What remains of
   a port call is the call itself, which is what a benchmark subtracts. 0
   restores the card model; a reset does too. */
void WINAPI SimCard_SetInstantPorts(LONG on, DWORD readValue);

/* Faults. Each stays until the next reset unless said otherwise. */
/* Dk08Create on this socket answers this value without opening (1 restores). */
void WINAPI SimCard_SetCreateAnswer(DWORD socket, LONG answer);
/* Dk08GetResource on this socket fails (code SIMERR_INJECTED); 0 restores. */
void WINAPI SimCard_FailGetResource(DWORD socket, LONG fail);
/* The n-th call of this kind from now (1 = the next) fails with code; once.
   call is SIM_INPORT, SIM_OUTPORT, SIM_SETDIRECTION or SIM_ANY_CALL; n 0 cancels. */
void WINAPI SimCard_FailNth(DWORD call, DWORD n, LONG code);
/* The card is pulled right after the n-th call on its socket from now. */
void WINAPI SimCard_PullAfterCalls(DWORD socket, DWORD n);
/* The card is pulled t milliseconds from now: at the first driver call after
   that time, or by a thread timer while the caller pumps messages. */
void WINAPI SimCard_PullAfterMs(DWORD socket, DWORD milliseconds);
/* Pulls the card now; posts the notice when the card is open. */
void WINAPI SimCard_Pull(DWORD socket);
/* The card answers again, still open, its interface back at power-on state. */
void WINAPI SimCard_Insert(DWORD socket);
/* Dk08Create leaves this value in the socket variable; the card then answers
   to its low 16 bits as well as to its socket number. */
void WINAPI SimCard_SetCreateHandle(DWORD socket, DWORD handle);

/* Input sources, as the configuration's source lines give them. */
void WINAPI SimCard_SetConstantInput(DWORD socket, DWORD port, DWORD value);

/* A snapshot of one card; 0 for a socket number out of range. */
LONG WINAPI SimCard_GetState(DWORD socket, SimCardState* state);
}
