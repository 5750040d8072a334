/*
 * The extension's exported entry points: the start-up sequence that binds it to
 * the host, the card and the user interface, and the shut-down that undoes it.
 */
#pragma once

#include "host/LibraryHandles.h"

/* The exported entry points, also callable directly by unit tests. */
extern "C" LONG WINAPI SetupOrvikDLL(HWND hostMainWindow);
extern "C" LONG WINAPI FinishOrvikDLL(LONG ignored);
extern "C" LONG WINAPI WEP(LONG ignored);
