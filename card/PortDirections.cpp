/*
 * Programs a card's three port directions at experiment start: the 8255
 * mode-0 control word and the card's line-driver direction values, in the one
 * fixed sequence the card expects. Which ports count as output comes from the
 * DeviceTable, which is only read here; when a card is programmed is the
 * module start's business.
 */
#include "card/PortDirections.h"

#include "card/DeviceTable.h"
#include "card/Driver.h"
#include "card/Ppi8255.h"
#include "host/HostServices.h"

#include <cstdio>

#define OUTPUT_A (1u << PORT_A)
#define OUTPUT_B (1u << PORT_B)
#define OUTPUT_C (1u << PORT_C)

/* Indexed by the output mask. The second value of the two rows with A in and
   B out adds only bits 0 and 4: the card expects exactly these values. */
static const DirectionRow kDirectionRows[8] = {
    {0x9B, 0x15, 0x00}, /* A in,  B in,  C in  */
    {0x8B, 0x17, 0x02}, /* A out, B in,  C in  */
    {0x99, 0x19, 0x08}, /* A in,  B out, C in  */
    {0x89, 0x1F, 0x0A}, /* A out, B out, C in  */
    {0x92, 0x35, 0x20}, /* A in,  B in,  C out */
    {0x82, 0x37, 0x22}, /* A out, B in,  C out */
    {0x90, 0x39, 0x28}, /* A in,  B out, C out */
    {0x80, 0x3F, 0x2A}, /* A out, B out, C out */
};

const DirectionRow& DirectionRowFor(unsigned outputMask) {
    return kDirectionRows[outputMask & (OUTPUT_A | OUTPUT_B | OUTPUT_C)];
}

/* A port no module uses counts as input, whatever output flag it kept. */
static unsigned EffectiveOutputMask(const DeviceEntry& entry) {
    unsigned mask = 0;
    for (unsigned port = 0; port < PORT_COUNT; ++port) {
        if (entry.portInUse[port] && entry.portIsOutput[port])
            mask |= 1u << port;
    }
    return mask;
}

static void ShowProgrammingFailure(DWORD socket) {
    char text[128];
    snprintf(text, sizeof text, "初期化に失敗しました\nドライバからのエラーコード： %d",
             static_cast<int>(CardGetLastError(socket)));
    if (Host().ShowWarning)
        Host().ShowWarning("RZX-DK08:エラー", text);
}

/* Each call is made only when the one before succeeded; nothing already
   written is undone after a failure. */
static int WriteDirections(DWORD socket, const DirectionRow& row) {
    return CardSetDirection(socket, FIRST_DIRECTION_VALUE) &&
           CardOutPort(socket, PORT_CTRL, row.controlWord) &&
           CardSetDirection(socket, row.secondDirection) &&
           CardSetDirection(socket, row.thirdDirection);
}

int ProgramPortDirections(const ModuleRecord* module) {
    if (!module || !module->settings)
        return 0;
    const ModuleSettings& settings = *module->settings;
    if (!IsValidSocketPort(settings.socket, settings.port))
        return 0;
    DWORD socket = settings.socket;
    const DirectionRow& row = DirectionRowFor(EffectiveOutputMask(DeviceTable()[socket]));
    if (WriteDirections(socket, row))
        return 1;
    ShowProgrammingFailure(socket);
    return 0;
}
