/*
 * What the DLL is as a file and what it imports, read from the loaded image's
 * import directory, and counting hooks on every allocation function it
 * imports, so the passes can be shown to allocate nothing themselves.
 */
#include "Bench.h"

#include <cstring>

static long s_allocations;

/* ---- Import directory ----------------------------------------------------- */

typedef void (*ImportVisitor)(const char* library, const char* function, void** slot);

static void VisitImports(HMODULE module, ImportVisitor visit) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS32* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
        return;
    const IMAGE_IMPORT_DESCRIPTOR* d =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; d->Name; ++d) {
        const char* library = reinterpret_cast<const char*>(base + d->Name);
        DWORD names = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        const IMAGE_THUNK_DATA32* name = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + names);
        IMAGE_THUNK_DATA32* slot = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk);
        visit(library, nullptr, nullptr);
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (name->u1.Ordinal & IMAGE_ORDINAL_FLAG32)
                continue;
            const IMAGE_IMPORT_BY_NAME* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            visit(library, reinterpret_cast<const char*>(byName->Name),
                  reinterpret_cast<void**>(&slot->u1.Function));
        }
    }
}

/* ---- Size and imports ------------------------------------------------------- */

static char s_systemDir[MAX_PATH];
static unsigned s_libraries;
static unsigned s_functions;
static unsigned s_foreign;
static unsigned s_unexpected; /* libraries other than the four below */
static int s_winmm;

static const char* const kExpectedLibraries[] = {"KERNEL32.dll", "USER32.dll", "GDI32.dll",
                                                 "msvcrt.dll"};

static int IsExpectedLibrary(const char* library) {
    for (const char* expected : kExpectedLibraries) {
        if (_stricmp(library, expected) == 0)
            return 1;
    }
    return 0;
}

/* A system library is one the loader found in the system folder. */
static int IsSystemLibrary(const char* library) {
    HMODULE loaded = GetModuleHandleA(library);
    char path[MAX_PATH];
    if (!loaded || !GetModuleFileNameA(loaded, path, sizeof path))
        return 0;
    size_t n = strlen(s_systemDir);
    return _strnicmp(path, s_systemDir, n) == 0 && path[n] == '\\';
}

static void CountImport(const char* library, const char* function, void**) {
    if (function) {
        ++s_functions;
        return;
    }
    ++s_libraries;
    int system = IsSystemLibrary(library);
    if (!system)
        ++s_foreign;
    if (_stricmp(library, "WINMM.dll") == 0)
        s_winmm = 1;
    int expected = IsExpectedLibrary(library);
    if (!expected)
        ++s_unexpected;
    Say("    imports %-14s %s%s\n", library, system ? "(system library)" : "(NOT a system library)",
        expected ? "" : " (NOT one of the four)");
}

void ReportDllFacts(void) {
    GetSystemDirectoryA(s_systemDir, sizeof s_systemDir);
    HANDLE file = CreateFileA(ExtensionPath(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    DWORD size = file != INVALID_HANDLE_VALUE ? GetFileSize(file, nullptr) : 0;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    Say("The DLL (target: imports only KERNEL32, USER32, GDI32 and msvcrt from the system "
        "folder; no WINMM):\n");
    Say("  Orvik_qx4.dll: %lu bytes (%.1f KiB)\n", static_cast<unsigned long>(size), size / 1024.0);
    VisitImports(ExtensionDll(), CountImport);
    Say("  %u libraries, %u functions imported; WINMM %s; %s\n\n", s_libraries, s_functions,
        s_winmm ? "IMPORTED" : "not imported",
        s_foreign || s_unexpected ? "TARGET MISSED" : "target met");
}

/* ---- Allocation hooks --------------------------------------------------------- */

typedef void*(__cdecl* Malloc)(size_t);
typedef void*(__cdecl* Calloc)(size_t, size_t);
typedef void*(__cdecl* Realloc)(void*, size_t);
typedef char*(__cdecl* Strdup)(const char*);
typedef LPVOID(WINAPI* HeapAllocFn)(HANDLE, DWORD, SIZE_T);
typedef LPVOID(WINAPI* HeapReAllocFn)(HANDLE, DWORD, LPVOID, SIZE_T);
typedef HLOCAL(WINAPI* LocalAllocFn)(UINT, SIZE_T);
typedef HLOCAL(WINAPI* LocalReAllocFn)(HLOCAL, SIZE_T, UINT);
typedef LPVOID(WINAPI* VirtualAllocFn)(LPVOID, SIZE_T, DWORD, DWORD);

static Malloc s_malloc;
static Calloc s_calloc;
static Realloc s_realloc;
static Strdup s_strdup;
static HeapAllocFn s_heapAlloc;
static HeapReAllocFn s_heapReAlloc;
static LocalAllocFn s_localAlloc;
static LocalReAllocFn s_localReAlloc;
static LocalAllocFn s_globalAlloc;
static LocalReAllocFn s_globalReAlloc;
static VirtualAllocFn s_virtualAlloc;

static void* __cdecl CountedMalloc(size_t n) {
    ++s_allocations;
    return s_malloc(n);
}
static void* __cdecl CountedCalloc(size_t n, size_t m) {
    ++s_allocations;
    return s_calloc(n, m);
}
static void* __cdecl CountedRealloc(void* p, size_t n) {
    ++s_allocations;
    return s_realloc(p, n);
}
static char* __cdecl CountedStrdup(const char* s) {
    ++s_allocations;
    return s_strdup(s);
}
static LPVOID WINAPI CountedHeapAlloc(HANDLE h, DWORD f, SIZE_T n) {
    ++s_allocations;
    return s_heapAlloc(h, f, n);
}
static LPVOID WINAPI CountedHeapReAlloc(HANDLE h, DWORD f, LPVOID p, SIZE_T n) {
    ++s_allocations;
    return s_heapReAlloc(h, f, p, n);
}
static HLOCAL WINAPI CountedLocalAlloc(UINT f, SIZE_T n) {
    ++s_allocations;
    return s_localAlloc(f, n);
}
static HLOCAL WINAPI CountedLocalReAlloc(HLOCAL p, SIZE_T n, UINT f) {
    ++s_allocations;
    return s_localReAlloc(p, n, f);
}
static HLOCAL WINAPI CountedGlobalAlloc(UINT f, SIZE_T n) {
    ++s_allocations;
    return s_globalAlloc(f, n);
}
static HLOCAL WINAPI CountedGlobalReAlloc(HLOCAL p, SIZE_T n, UINT f) {
    ++s_allocations;
    return s_globalReAlloc(p, n, f);
}
static LPVOID WINAPI CountedVirtualAlloc(LPVOID p, SIZE_T n, DWORD t, DWORD f) {
    ++s_allocations;
    return s_virtualAlloc(p, n, t, f);
}

struct AllocationHook {
    const char* name;
    void** original;
    void* counted;
};
#define HOOK(name, original, counted)                                                              \
    { name, reinterpret_cast<void**>(&original), reinterpret_cast<void*>(counted) }
static const AllocationHook kHooks[] = {
    HOOK("malloc", s_malloc, CountedMalloc),
    HOOK("calloc", s_calloc, CountedCalloc),
    HOOK("realloc", s_realloc, CountedRealloc),
    HOOK("_strdup", s_strdup, CountedStrdup),
    HOOK("strdup", s_strdup, CountedStrdup),
    HOOK("HeapAlloc", s_heapAlloc, CountedHeapAlloc),
    HOOK("HeapReAlloc", s_heapReAlloc, CountedHeapReAlloc),
    HOOK("LocalAlloc", s_localAlloc, CountedLocalAlloc),
    HOOK("LocalReAlloc", s_localReAlloc, CountedLocalReAlloc),
    HOOK("GlobalAlloc", s_globalAlloc, CountedGlobalAlloc),
    HOOK("GlobalReAlloc", s_globalReAlloc, CountedGlobalReAlloc),
    HOOK("VirtualAlloc", s_virtualAlloc, CountedVirtualAlloc),
};
#undef HOOK

static int s_hooksPlaced;
static char s_hookedNames[256];

static void PlaceHook(const char*, const char* function, void** slot) {
    if (!function)
        return;
    for (const AllocationHook& hook : kHooks) {
        if (strcmp(function, hook.name) != 0)
            continue;
        DWORD protection;
        if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection))
            return;
        if (*slot != hook.counted) {
            *hook.original = *slot;
            *slot = hook.counted;
        }
        VirtualProtect(slot, sizeof *slot, protection, &protection);
        ++s_hooksPlaced;
        if (strlen(s_hookedNames) + strlen(function) + 3 < sizeof s_hookedNames) {
            if (s_hookedNames[0])
                strcat(s_hookedNames, ", ");
            strcat(s_hookedNames, function);
        }
    }
}

int HookExtensionAllocations(void) {
    if (!s_hooksPlaced)
        VisitImports(ExtensionDll(), PlaceHook);
    s_allocations = 0;
    return s_hooksPlaced;
}

long ExtensionAllocationCount(void) {
    return s_hooksPlaced ? s_allocations : -1;
}

const char* HookedAllocationFunctions(void) {
    return s_hookedNames[0] ? s_hookedNames : "none";
}
