/*
 * The card simulator's control entries, looked up in the rzxdk08.dll that the
 * extension loaded. The host binds them at run time rather than by import so
 * that the program still runs with another driver, and so that the simulator
 * reads its configuration only after the host has named it.
 */
#include "sim/host/HostInternal.h"

static SimCalls s_calls;

/* GetProcAddress gives a generic entry; the entry's real type is the caller's. */
template <typename T> static int Bind(HMODULE library, const char* name, T* entry) {
    *entry = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return *entry != nullptr;
}

const SimCalls* SimLink(void) {
    HMODULE library = GetModuleHandleA("rzxdk08.dll");
    if (!library) {
        return nullptr;
    }
    int bound = 1;
#define SIMCARD_BIND(name) bound = Bind(library, #name, &s_calls.name) && bound;
    SIMCARD_ENTRIES(SIMCARD_BIND)
#undef SIMCARD_BIND
    return bound ? &s_calls : nullptr;
}
