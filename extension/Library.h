/*
 * Library-wide handles of the extension: its own instance (for resources and
 * window classes) and the host's main window given to SetupOrvikDLL.
 */
#pragma once

#include <windows.h>

HINSTANCE LibraryInstance(void);
/* Recorded at process attach; unit tests that link the extension into their own
   program set it to that program's instance, which carries the same resources. */
void SetLibraryInstance(HINSTANCE instance);

HWND HostMainWindow(void);
void SetHostMainWindow(HWND window);

/* The exported entry points, also callable directly by unit tests. */
extern "C" LONG WINAPI SetupOrvikDLL(HWND hostMainWindow);
extern "C" LONG WINAPI FinishOrvikDLL(LONG ignored);
extern "C" LONG WINAPI WEP(LONG ignored);
