/*
 * The extension's module type: its registration with the host (menu, names,
 * pictures, record sizes, callbacks) and the module event handler.
 */
#pragma once

#include "host/HostAbi.h"

/* Inserts the menu, registers the menu entry 4990 and the module class. */
void RegisterDk08ModuleClass(void);

LONG WINAPI ModuleEvent(void* moduleRecord, UINT code, DWORD arg1, DWORD arg2);
