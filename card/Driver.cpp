/*
 * Binds the card's driver library at run time: loads rzxdk08.dll by file name,
 * resolves its eight entries by name and releases it again. The guarded Card*
 * calls are the only code that reaches the entry addresses; they narrow handles
 * and port values so the driver always sees clean 32-bit arguments.
 */
#include "card/Driver.h"

#include "card/DriverAbi.h"

#include <cstring>

/* The driver's entries in resolution order. This one list declares the entry
   pointers, drives the GetProcAddress loop and the all-resolved check. */
#define DRIVER_ENTRIES(X)                                                                          \
    X(Dk08GetVersion)                                                                              \
    X(Dk08Create)                                                                                  \
    X(Dk08Close)                                                                                   \
    X(Dk08GetResource)                                                                             \
    X(Dk08InPort)                                                                                  \
    X(Dk08OutPort)                                                                                 \
    X(Dk08SetDirection)                                                                            \
    X(Dk08GetLastError)

struct DriverEntries {
#define DECLARE_ENTRY(name) decltype(name)* name;
    DRIVER_ENTRIES(DECLARE_ENTRY)
#undef DECLARE_ENTRY
};

/* Entry addresses survive an unload: the guards test the library handle first
   and never reach them while it is null. A load clears them all before it
   resolves, so a library refused half-way can never leave the previous
   library's addresses behind. */
static HMODULE s_library;
static DriverEntries s_entries;

struct EntrySlot {
    const char* name;
    size_t offset;
};
#define ENTRY_SLOT(name) {#name, offsetof(DriverEntries, name)},
static const EntrySlot kEntrySlots[] = {DRIVER_ENTRIES(ENTRY_SLOT)};
#undef ENTRY_SLOT

/* Stores each address as it is obtained; returns 1 when every name resolved,
   0 at the first that did not (the later slots stay null). */
static int ResolveEntries(HMODULE library) {
    BYTE* entries = reinterpret_cast<BYTE*>(&s_entries);
    for (const EntrySlot& slot : kEntrySlots) {
        FARPROC address = GetProcAddress(library, slot.name);
        if (!address)
            return 0;
        memcpy(entries + slot.offset, &address, sizeof address);
    }
    return 1;
}

int LoadDriverLibrary(void) {
    if (s_library)
        return 0;
    s_entries = DriverEntries();
    s_library = LoadLibraryA(DRIVER_LIBRARY_NAME);
    if (!s_library)
        return 0;
    if (ResolveEntries(s_library))
        return 1;
    UnloadDriverLibrary();
    return 0;
}

int UnloadDriverLibrary(void) {
    if (!s_library)
        return 0;
    if (FreeLibrary(s_library) != 1)
        return 0;
    s_library = nullptr;
    return 1;
}

int DriverLibraryLoaded(void) {
    return s_library != nullptr;
}

/* A library whose release failed after an incomplete resolution stays
   recorded with some entries missing; such an entry counts as not loaded. */
template <typename Entry> static int Bound(Entry* entry) {
    return s_library && entry;
}

static DWORD NarrowHandle(DWORD handle) {
    return handle & 0xFFFFu;
}

static DWORD NarrowByte(DWORD value) {
    return value & 0xFFu;
}

LONG CardCreate(DWORD* socketVariable, HWND notifyWindow, UINT message, DWORD reserved) {
    if (!Bound(s_entries.Dk08Create))
        return 0;
    return s_entries.Dk08Create(socketVariable, notifyWindow, message, reserved);
}

LONG CardClose(DWORD handle) {
    if (!Bound(s_entries.Dk08Close))
        return 0;
    return s_entries.Dk08Close(NarrowHandle(handle));
}

LONG CardGetResource(DWORD handle, void* resource) {
    if (!Bound(s_entries.Dk08GetResource))
        return 0;
    return s_entries.Dk08GetResource(NarrowHandle(handle), resource);
}

LONG CardInPort(DWORD handle, DWORD port, BYTE* value) {
    if (!Bound(s_entries.Dk08InPort))
        return 0;
    return s_entries.Dk08InPort(NarrowHandle(handle), port, value);
}

LONG CardOutPort(DWORD handle, DWORD port, DWORD value) {
    if (!Bound(s_entries.Dk08OutPort))
        return 0;
    return s_entries.Dk08OutPort(NarrowHandle(handle), port, NarrowByte(value));
}

LONG CardSetDirection(DWORD handle, DWORD direction) {
    if (!Bound(s_entries.Dk08SetDirection))
        return 0;
    return s_entries.Dk08SetDirection(NarrowHandle(handle), NarrowByte(direction));
}

LONG CardGetLastError(DWORD handle) {
    if (!Bound(s_entries.Dk08GetLastError))
        return 0;
    return s_entries.Dk08GetLastError(NarrowHandle(handle));
}
