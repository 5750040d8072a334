/*
 * The run-time binding of the card's driver library and the guarded calls that
 * every card access goes through. Each guarded call returns 0 without calling
 * the driver while no library is loaded, else the entry's result unchanged;
 * handles are narrowed to 16 bits and port values to 8 bits.
 */
#pragma once

#include <windows.h>

/* 1 when rzxdk08.dll is loaded and all eight entries resolved; 0 otherwise
   (also when a library is already bound, which then keeps working). */
int LoadDriverLibrary(void);
/* 1 when the library was released; 0 when none was loaded or FreeLibrary failed. */
int UnloadDriverLibrary(void);
int DriverLibraryLoaded(void);

LONG CardCreate(DWORD* socketVariable, HWND notifyWindow, UINT message, DWORD reserved);
LONG CardClose(DWORD handle);
LONG CardGetResource(DWORD handle, void* resource);
LONG CardInPort(DWORD handle, DWORD port, BYTE* value);
LONG CardOutPort(DWORD handle, DWORD port, DWORD value);
LONG CardSetDirection(DWORD handle, DWORD direction);
LONG CardGetLastError(DWORD handle);
