/*
 * Owner of the library instance and the host's main window.
 */
#include "host/LibraryHandles.h"

static HINSTANCE s_libraryInstance;
static HWND s_hostMainWindow;

HINSTANCE LibraryInstance(void) {
    return s_libraryInstance;
}

void SetLibraryInstance(HINSTANCE instance) {
    s_libraryInstance = instance;
}

HWND HostMainWindow(void) {
    return s_hostMainWindow;
}

void SetHostMainWindow(HWND window) {
    s_hostMainWindow = window;
}
