/*
 * A seeded random walk of host actions against the extension linked into the
 * calling program, through the reference host and the card simulator: modules
 * created, restored from arbitrary stored bytes, edited, deleted; runs started,
 * paused, processed and stopped with odd rates and block sizes; cards pulled
 * and put back; the tick moved about, across its wrap too. After every step the
 * walk checks what must always hold; the first broken rule ends it with a
 * report from which the walk can be replayed.
 */
#pragma once

#include <cstdio>

struct WalkStats {
    unsigned long steps;      /* steps taken, the failing one included */
    unsigned long runs;       /* successful starts */
    unsigned long dialogs;    /* dialogs opened and answered */
    unsigned long processes;  /* process calls */
    unsigned long boots;      /* admissions of the extension */
    unsigned long portFaults; /* port accesses that failed during a process call */
};

/* Walks steps steps from the seed, checking after each. Returns 1 when every
   check held; 0 after printing to report the seed, the step, its action, the
   rule that broke and the actions before it. stats may be null. */
int RunWalk(unsigned long long seed, unsigned long steps, FILE* report, WalkStats* stats);

/* The check shared by the walk and its tests: the device table claims each
   port once for every live module bound to it, and no other port. */
int TableMatchesModules(void);
