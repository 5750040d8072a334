/*
 * Orvik_qx4.dll's process attach: remembers the library instance, from which
 * every resource and window class of the extension comes.
 */
#include "extension/Library.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        SetLibraryInstance(instance);
    return TRUE;
}
