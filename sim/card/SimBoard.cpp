/*
 * The simulated cards: an 8255 in mode 0 behind each socket, the card's line
 * drivers, and the input sources. A port's lines are its output latch where
 * the control word makes them output and its source elsewhere; the line
 * drivers decide what another card sees through a cable.
 */
#include "sim/card/SimBoard.h"

#include "card/Ppi8255.h"

#include <cstring>

#define POWER_ON_CONTROL_WORD                                                                      \
    (CW_MODE_SET | CW_A_INPUT | CW_C_HI_INPUT | CW_B_INPUT | CW_C_LO_INPUT)
#define CW_BIT_SELECT_SHIFT  1u
#define CW_BIT_SELECT_MASK   0x07u
#define CW_BIT_SET           0x01u
#define DIRECTION_VALUE_MASK 0x3Fu
#define UNDRIVEN_LINES       0xFFu /* the cable's pull-ups */

static SimCard s_cards[SIM_SOCKETS];

static const DWORD kDriverBits[3] = {DIR_A_OUTPUT, DIR_B_OUTPUT, DIR_C_OUTPUT};

SimCard* SimBoardCard(DWORD socket) {
    return socket < SIM_SOCKETS ? &s_cards[socket] : nullptr;
}

void SimBoardPowerOn(SimCard* card) {
    card->controlWord = POWER_ON_CONTROL_WORD;
    card->directionValue = 0;
    for (unsigned port = 0; port < 3; ++port) {
        card->latch[port] = 0;
        card->outputMask[port] = 0;
    }
}

void SimBoardLoad(const SimConfig& config) {
    memset(s_cards, 0, sizeof s_cards);
    for (unsigned socket = 0; socket < SIM_SOCKETS; ++socket) {
        s_cards[socket].config = config.cards[socket];
        SimBoardPowerOn(&s_cards[socket]);
    }
}

/* ---- The 8255 ------------------------------------------------------------- */

static void ApplyModeSet(SimCard* card, DWORD word) {
    card->controlWord = word;
    card->outputMask[PORT_A] = (word & CW_A_INPUT) ? 0x00 : 0xFF;
    card->outputMask[PORT_B] = (word & CW_B_INPUT) ? 0x00 : 0xFF;
    card->outputMask[PORT_C] = static_cast<BYTE>(((word & CW_C_HI_INPUT) ? 0x00 : 0xF0) |
                                                 ((word & CW_C_LO_INPUT) ? 0x00 : 0x0F));
    /* A mode change resets every output latch. */
    for (unsigned port = 0; port < 3; ++port)
        card->latch[port] = 0;
}

/* Without the mode-set bit the word sets or clears one line of port C. */
static void ApplyBitSetReset(SimCard* card, DWORD word) {
    unsigned bit = (word >> CW_BIT_SELECT_SHIFT) & CW_BIT_SELECT_MASK;
    if (word & CW_BIT_SET)
        card->latch[PORT_C] = static_cast<BYTE>(card->latch[PORT_C] | (1u << bit));
    else
        card->latch[PORT_C] = static_cast<BYTE>(card->latch[PORT_C] & ~(1u << bit));
}

LONG SimBoardWriteControl(SimCard* card, DWORD word) {
    if (word > 0xFFu)
        return SIMERR_BAD_VALUE;
    if (!(word & CW_MODE_SET)) {
        ApplyBitSetReset(card, word);
        return 0;
    }
    if ((word & CW_A_MODE_MASK) || (word & CW_B_MODE))
        return SIMERR_BAD_MODE;
    ApplyModeSet(card, word);
    return 0;
}

LONG SimBoardWritePort(SimCard* card, DWORD port, DWORD value) {
    if (value > 0xFFu)
        return SIMERR_BAD_VALUE;
    if (!card->outputMask[port])
        return SIMERR_PORT_IS_INPUT;
    card->latch[port] = static_cast<BYTE>(value);
    return 0;
}

LONG SimBoardSetDirection(SimCard* card, DWORD direction) {
    if (direction & ~DIRECTION_VALUE_MASK)
        return SIMERR_BAD_VALUE;
    card->directionValue = direction;
    ++card->directionCount;
    return 0;
}

/* ---- Lines and sources ------------------------------------------------------ */

/* What the card puts on its connector for a port: latched lines where both the
   8255 and the line driver make them output, pull-ups elsewhere. */
static BYTE ConnectorLines(DWORD socket, DWORD port) {
    const SimCard* card = SimBoardCard(socket);
    if (!card || !card->config.present || card->pulled || port >= 3)
        return UNDRIVEN_LINES;
    BYTE driven = (card->directionValue & kDriverBits[port]) ? card->outputMask[port] : 0;
    return static_cast<BYTE>((card->latch[port] & driven) | (UNDRIVEN_LINES & ~driven));
}

static BYTE SquareLines(const SimSource& source, DWORD reads) {
    BYTE lines = 0;
    for (unsigned k = 0; k < 8; ++k) {
        DWORD period = source.periods[k];
        if (period && reads % period >= period / 2)
            lines = static_cast<BYTE>(lines | (1u << k));
    }
    return lines;
}

static BYTE SourceLines(const SimCard* card, DWORD port) {
    const SimSource& source = card->config.sources[port];
    DWORD reads = card->readCount[port];
    switch (source.kind) {
    case SRC_COUNTER:
        return static_cast<BYTE>(source.value + reads);
    case SRC_SQUARE:
        return SquareLines(source, reads);
    case SRC_CABLE:
        return ConnectorLines(source.cableSocket, source.cablePort);
    default:
        return static_cast<BYTE>(source.value);
    }
}

BYTE SimBoardPeekPort(const SimCard* card, DWORD port) {
    BYTE output = card->outputMask[port];
    return static_cast<BYTE>((card->latch[port] & output) | (SourceLines(card, port) & ~output));
}

LONG SimBoardReadPort(SimCard* card, DWORD port, BYTE* value) {
    *value = SimBoardPeekPort(card, port);
    ++card->readCount[port];
    return 0;
}

int SimBoardPortMismatch(const SimCard* card, DWORD port) {
    int driverOut = (card->directionValue & kDriverBits[port]) != 0;
    BYTE output = card->outputMask[port];
    return driverOut ? output != 0xFF : output != 0x00;
}

int SimBoardMismatch(const SimCard* card) {
    for (DWORD port = 0; port < 3; ++port) {
        if (SimBoardPortMismatch(card, port))
            return 1;
    }
    return 0;
}
