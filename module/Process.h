/*
 * The module's data path: the acquisition pass for modules on an input port
 * and the output pass for modules on an output port.
 */
#pragma once

#include "host/HostAbi.h"

LONG WINAPI ModuleProcess(void* moduleRecord);

/* The one source of time for pacing: GetTickCount unless a test sets another. */
typedef DWORD (*TickSource)(void);
void SetTickSource(TickSource source); /* 0 restores GetTickCount */
DWORD TickNow(void);
