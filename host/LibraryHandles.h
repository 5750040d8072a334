/*
 * The two handles every layer of the extension needs: its own library instance
 * (resources and window classes come from it) and the host's main window given
 * to SetupOrvikDLL (lookups, the notification window's parent, dialog centring).
 * They live here, below everything, so card, module and user interface code
 * never reach up into the start-up sequence for them.
 */
#pragma once

#include <windows.h>

HINSTANCE LibraryInstance(void);
/* Recorded at process attach; unit tests that link the extension into their own
   program set it to that program's instance, which carries the same resources. */
void SetLibraryInstance(HINSTANCE instance);

HWND HostMainWindow(void);
void SetHostMainWindow(HWND window);
