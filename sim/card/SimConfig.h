/*
 * The simulator's configuration as parsed from text: which sockets hold cards,
 * their I/O ranges, what drives each input port, and the faults armed at
 * reset. The format is described at the top of SimConfig.cpp and in README.md.
 */
#pragma once

#include "sim/card/SimCard.h"

#include <cstddef>

enum SimSourceKind {
    SRC_CONSTANT, /* value */
    SRC_COUNTER,  /* value is the first reading; +1 per read */
    SRC_SQUARE,   /* periods[k]: line k's period in reads of this port, 0 keeps it low */
    SRC_CABLE,    /* the connector of cableSocket's port cablePort */
};

struct SimSource {
    DWORD kind;
    DWORD value;
    DWORD periods[8];
    DWORD cableSocket;
    DWORD cablePort;
};

struct SimCardConfig {
    DWORD present;
    DWORD ioBase1;
    DWORD ioLength1;
    DWORD ioBase2;
    DWORD ioLength2;
    SimSource sources[3];
    LONG createAnswer; /* what Dk08Create answers; 1 opens the card */
    DWORD failResource;
    DWORD pullAfterCalls; /* 0: never */
    DWORD pullAfterMs;    /* counted from Dk08Create; 0: never */
    DWORD hasCreateHandle;
    DWORD createHandle;
};

struct SimNthFault {
    DWORD call; /* SIM_INPORT, SIM_OUTPORT, SIM_SETDIRECTION, SIM_ANY_CALL */
    DWORD n;    /* 0: unarmed */
    LONG code;
};

#define SIM_NTH_KINDS 4u

struct SimConfig {
    SimCardConfig cards[SIM_SOCKETS];
    SimNthFault nth[SIM_NTH_KINDS]; /* one per kind, in the order of SimNthIndex */
};

/* The slot in SimConfig::nth for a call kind, or -1. */
int SimNthIndex(DWORD call);

/* The demo setup: cards in sockets 0 and 1, a cable from socket 0 port B to
   socket 1 port A. */
extern const char kSimDefaultConfig[];

/* Parses text into config (which is cleared first). Returns 1, or 0 with
   "line N: ..." in error. */
int ParseSimConfig(const char* text, SimConfig* config, char* error, size_t errorSize);
