#pragma once

#include "host/HostAbi.h"

/* Programs the three port directions of the module's card from the device
   table; returns 1, or 0 after showing the driver's error code. The table is
   not changed. */
int ProgramPortDirections(const ModuleRecord* module);

/* The row for one combination of effective directions (bit 0 A, bit 1 B, bit 2 C
   set for output). */
struct DirectionRow {
    BYTE controlWord;
    BYTE secondDirection;
    BYTE thirdDirection;
};
const DirectionRow& DirectionRowFor(unsigned outputMask);

#define FIRST_DIRECTION_VALUE 0x15u
