/*
 * The module's data path: the acquisition pass for modules on an input port
 * and the output pass for modules on an output port.
 */
#pragma once

#include "host/HostAbi.h"

LONG WINAPI ModuleProcess(void* moduleRecord);

/* A failing port read or write is reported once per module and run; a start
   forgets what the module reported before. */
void ForgetPassFailures(const ModuleRecord* module);

/* A channel's sample count is 32 bits in the host's record; the passes count
   its wraps on the side so block times keep growing. A start or a delete
   forgets the module's wraps. */
void ForgetSampleEpochs(const ModuleRecord* module);

/* The one source of time for pacing: the system tick count (GetTickCount)
   unless a test sets another. */
typedef DWORD (*TickSource)(void);
void SetTickSource(TickSource source); /* null restores the system's clock */

/* Milliseconds after the start tick at which a channel that has produced
   sampleCount samples (its wraps included) is due, in 32-bit wrap-around
   arithmetic. A rate that is not a finite non-negative number makes every
   block due at once. */
DWORD DueOffset(unsigned long long sampleCount, double millisecondsPerSample);
