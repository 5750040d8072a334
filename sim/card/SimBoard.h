/*
 * The simulated cards themselves: sixteen sockets, each card with its 8255
 * (mode 0 and port C bit set/reset), its line drivers set by the direction
 * value, and the sources that drive its input lines. Knows nothing of driver
 * calls, faults or the trace; SimDriver.cpp does.
 */
#pragma once

#include "sim/card/SimConfig.h"

struct SimCard {
    SimCardConfig config;
    DWORD open;
    DWORD pulled;
    HWND window;
    UINT message;
    DWORD controlWord;
    DWORD directionValue;
    DWORD directionCount;
    BYTE latch[3];
    BYTE outputMask[3];
    DWORD readCount[3];
    LONG lastError;
    /* Pull faults armed for this card: calls left, and a deadline. */
    DWORD callsUntilPull;
    DWORD pullArmed;
    DWORD pullStart;
    DWORD pullDelay;
    UINT_PTR pullTimer;
};

/* The card in a socket, or null past the last socket. */
SimCard* SimBoardCard(DWORD socket);
/* Every socket from config, every card at power-on, nothing open. */
void SimBoardLoad(const SimConfig& config);
/* The 8255 after reset: every port input, latches clear, no line driver on. */
void SimBoardPowerOn(SimCard* card);

/* Each returns 0 or the SIMERR_ code that refuses the operation. */
LONG SimBoardWriteControl(SimCard* card, DWORD word);
LONG SimBoardWritePort(SimCard* card, DWORD port, DWORD value);
LONG SimBoardSetDirection(SimCard* card, DWORD direction);
/* Delivers the port's lines and advances its input source by one read. */
LONG SimBoardReadPort(SimCard* card, DWORD port, BYTE* value);

/* What a read of the port would deliver now, without counting as a read. */
BYTE SimBoardPeekPort(const SimCard* card, DWORD port);
/* 1 when the control word and the line driver disagree on the port. */
int SimBoardPortMismatch(const SimCard* card, DWORD port);
int SimBoardMismatch(const SimCard* card);
