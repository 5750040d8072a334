/*
 * The binary boundary to the card's driver library rzxdk08.dll: its eight
 * entries and the resource record it fills. The extension binds these at run
 * time by name; the card simulator implements them.
 */
#pragma once

#include <windows.h>
#include <cstddef>

#define DRIVER_LIBRARY_NAME "rzxdk08.dll"

/* Posted by the driver to the window given to Dk08Create when a card is pulled. */
#define WM_DK08_CARD_REMOVED (WM_USER + 320)
static_assert(WM_DK08_CARD_REMOVED == 1344, "card-removal message number");

extern "C" {
DWORD WINAPI Dk08GetVersion(void);
LONG WINAPI Dk08Create(DWORD* socketVariable, HWND notifyWindow, UINT message, DWORD reserved);
LONG WINAPI Dk08Close(DWORD handle);
LONG WINAPI Dk08GetResource(DWORD handle, void* resource);
LONG WINAPI Dk08InPort(DWORD handle, DWORD port, BYTE* value);
LONG WINAPI Dk08OutPort(DWORD handle, DWORD port, DWORD value);
LONG WINAPI Dk08SetDirection(DWORD handle, DWORD direction);
LONG WINAPI Dk08GetLastError(DWORD handle);
}

#pragma pack(push, 1)
/* Filled by Dk08GetResource; the extension reads only the two I/O ranges. */
struct DriverResource {
    BYTE driver0[116];
    DWORD ioBase1;
    DWORD ioBase2;
    BYTE driver124[72];
    DWORD ioLength1;
    DWORD ioLength2;
    BYTE driver204[204];
};
#pragma pack(pop)
static_assert(offsetof(DriverResource, ioBase1) == 116, "DriverResource layout");
static_assert(offsetof(DriverResource, ioBase2) == 120, "DriverResource layout");
static_assert(offsetof(DriverResource, ioLength1) == 196, "DriverResource layout");
static_assert(offsetof(DriverResource, ioLength2) == 200, "DriverResource layout");
static_assert(sizeof(DriverResource) == 408, "DriverResource is 408 bytes");
