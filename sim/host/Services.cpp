/*
 * Loading the extension and the host services that are about registration,
 * messages and fonts: DefineDllModule, DefineDllVariable, RegisterModuleClass,
 * RegisterMenuEntry, PerformDefaultAction, ShowWarning, StopExperiment and the
 * stacked fonts. Also the shared variables the host keeps current, and the
 * host's own copy of the run parameters. Allocation is Allocator.cpp's, blocks
 * and module sizes are Blocks.cpp's.
 */
#include "sim/host/HostInternal.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#define MAX_SHARED_VARIABLES 16u
#define SHARED_NAME_BYTES    64u

struct SharedVariable {
    char name[SHARED_NAME_BYTES];
    void* address;
    DWORD size;
};

static HMODULE s_library;
static PFN_SetupOrvikDLL s_setup;
static PFN_FinishOrvikDLL s_finish;
static int s_extensionPresent;

static int s_admitted;
static int s_failDefineDllModule;
static std::string s_failVariable;
static SharedVariable s_variables[MAX_SHARED_VARIABLES];
static unsigned s_variableCount;

static int s_haveClass;
static ModuleClassDescriptor s_class;
static UINT s_menuCommand;
static PFN_MenuHandler s_menuHandler;

static std::set<HGDIOBJ> s_fonts;
static int s_stopRequested;
static int s_stopAtOnce;
static int s_interactive;
static double s_millisecondsPerSample = 1.0;
static DWORD s_blockSize = 100;

/* ---- Loading ------------------------------------------------------------------ */

static void ForgetExtensionState(void) {
    s_admitted = 0;
    s_variableCount = 0;
    std::memset(s_variables, 0, sizeof s_variables);
    s_haveClass = 0;
    std::memset(&s_class, 0, sizeof s_class);
    s_menuCommand = 0;
    s_menuHandler = nullptr;
}

/* GetProcAddress gives a generic entry; the export's real type is the caller's. */
template <typename T> static T ExportOf(HMODULE library, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

static std::string s_loadProblem;

/* LoadLibraryA looks in the program's folder and along the search path; a
   name found in none of them does not exist for the host. */
static int ExtensionFileFound(const char* path) {
    char found[MAX_PATH];
    DWORD length = SearchPathA(nullptr, path, nullptr, sizeof found, found, nullptr);
    return length > 0 && length < sizeof found;
}

static LONG LoadRefused(const char* dllPath, const char* why) {
    s_loadProblem = std::string(dllPath) + ": " + why;
    return 0;
}

LONG RefHost_LoadExtension(const char* dllPath) {
    s_loadProblem.clear();
    if (s_extensionPresent || !RefHost_MainWindow()) {
        return LoadRefused(dllPath, "the host has an extension loaded already or no window");
    }
    if (!ExtensionFileFound(dllPath)) {
        return LoadRefused(dllPath, "not found");
    }
    HMODULE library = LoadLibraryA(dllPath);
    if (!library) {
        char why[96];
        std::snprintf(why, sizeof why, "could not be loaded (LoadLibrary error %lu)",
                      static_cast<unsigned long>(GetLastError()));
        return LoadRefused(dllPath, why);
    }
    PFN_SetupOrvikDLL setup = ExportOf<PFN_SetupOrvikDLL>(library, "SetupOrvikDLL");
    PFN_FinishOrvikDLL finish = ExportOf<PFN_FinishOrvikDLL>(library, "FinishOrvikDLL");
    if (!setup || !finish) {
        FreeLibrary(library);
        return LoadRefused(dllPath, "is no extension (SetupOrvikDLL or FinishOrvikDLL missing)");
    }
    s_library = library;
    LONG result = RefHost_AdmitLinkedExtension(setup, finish);
    if (!result) {
        LoadRefused(dllPath, "SetupOrvikDLL answered 0");
    }
    return result;
}

const char* RefHost_ExtensionLoadProblem(void) {
    return s_loadProblem.c_str();
}

LONG RefHost_AdmitLinkedExtension(PFN_SetupOrvikDLL setup, PFN_FinishOrvikDLL finish) {
    if (s_extensionPresent && s_setup) {
        return 0;
    }
    ForgetExtensionState();
    s_setup = setup;
    s_finish = finish;
    s_extensionPresent = 1;
    LONG result = setup(RefHost_MainWindow());
    /* The extension may have added its menu to the bar. */
    DrawMenuBar(RefHost_MainWindow());
    return result;
}

LONG RefHost_UnloadExtension(void) {
    if (!s_extensionPresent) {
        return 0;
    }
    DeleteAllModules();
    LONG result = s_finish ? s_finish(0) : 0;
    if (s_library) {
        FreeLibrary(s_library);
    }
    s_library = nullptr;
    s_setup = nullptr;
    s_finish = nullptr;
    s_extensionPresent = 0;
    ForgetExtensionState();
    return result;
}

int RefHost_ExtensionLoaded(void) {
    return s_extensionPresent;
}

/* ---- Registration -------------------------------------------------------------- */

LONG WINAPI Host_DefineDllModule(void) {
    LONG result = s_failDefineDllModule ? 0 : 1;
    JournalCall("DefineDllModule", static_cast<DWORD>(result), 0, 0, 0, nullptr, 0);
    if (result) {
        s_admitted = 1;
    }
    return result;
}

static SharedVariable* FindVariable(const char* name) {
    for (unsigned i = 0; i < s_variableCount; ++i) {
        if (std::strcmp(s_variables[i].name, name) == 0) {
            return &s_variables[i];
        }
    }
    return nullptr;
}

LONG WINAPI Host_DefineDllVariable(const char* name, void* address, DWORD size) {
    LONG result = 1;
    if (!name || !address) {
        JournalViolation("DefineDllVariable with a null %s", name ? "address" : "name");
        result = 0;
    } else if (!s_failVariable.empty() && s_failVariable == name) {
        result = 0;
    }
    JournalCallNamed("DefineDllVariable", static_cast<DWORD>(result),
                     reinterpret_cast<DWORD>(address), size, 0, name ? name : "");
    if (!result) {
        return 0;
    }
    SharedVariable* variable = FindVariable(name);
    if (!variable && s_variableCount < MAX_SHARED_VARIABLES) {
        variable = &s_variables[s_variableCount++];
    }
    if (!variable) {
        JournalViolation("DefineDllVariable: more than %u variables", MAX_SHARED_VARIABLES);
        return 0;
    }
    CopyText(variable->name, name, sizeof variable->name);
    variable->address = address;
    variable->size = size;
    return 1;
}

void RefHost_FailDefineDllModule(int fail) {
    s_failDefineDllModule = fail;
}

void RefHost_FailDefineDllVariable(const char* name) {
    s_failVariable = name ? name : "";
}

int RefHost_Admitted(void) {
    return s_admitted;
}

void* RefHost_VariableAddress(const char* name) {
    SharedVariable* variable = FindVariable(name);
    return variable ? variable->address : nullptr;
}

DWORD RefHost_VariableSize(const char* name) {
    SharedVariable* variable = FindVariable(name);
    return variable ? variable->size : 0;
}

void WINAPI Host_RegisterModuleClass(void* classDescriptor) {
    JournalCall("RegisterModuleClass", reinterpret_cast<DWORD>(classDescriptor), 0, 0, 0, nullptr,
                0);
    if (!classDescriptor) {
        JournalViolation("RegisterModuleClass with a null descriptor");
        return;
    }
    if (s_haveClass) {
        JournalViolation("RegisterModuleClass called again; the second class replaces the first");
    }
    std::memcpy(&s_class, classDescriptor, sizeof s_class);
    s_haveClass = 1;
}

const ModuleClassDescriptor* RefHost_ModuleClass(void) {
    return s_haveClass ? &s_class : nullptr;
}

void WINAPI Host_RegisterMenuEntry(UINT command, PFN_MenuHandler handler) {
    JournalCall("RegisterMenuEntry", reinterpret_cast<DWORD>(handler), command, 0, 0, nullptr, 0);
    if (!handler) {
        JournalViolation("RegisterMenuEntry %u with a null handler", command);
    }
    s_menuCommand = command;
    s_menuHandler = handler;
}

UINT RefHost_MenuEntryCommand(void) {
    return s_menuCommand;
}

PFN_MenuHandler RefHost_MenuEntryHandler(void) {
    return s_menuHandler;
}

/* ---- Events, messages, run control ---------------------------------------------- */

LONG WINAPI Host_PerformDefaultAction(void* moduleRecord, UINT code, DWORD arg1, DWORD arg2) {
    JournalCall("PerformDefaultAction", reinterpret_cast<DWORD>(moduleRecord), code, arg1, arg2,
                nullptr, 0);
    if (!FindModuleByRecord(moduleRecord)) {
        JournalViolation("PerformDefaultAction for %p, which is no module of this host",
                         moduleRecord);
    }
    return REFHOST_DEFAULT_ACTION_RESULT;
}

void WINAPI Host_ShowWarning(const char* caption, const char* text) {
    JournalCall("ShowWarning", 0, 0, 0, 0, nullptr, 0);
    std::string both = caption ? caption : "";
    both += "\n";
    both += text ? text : "";
    JournalAdd(J_WARNING, both.c_str(), 0, 0, 0);
    if (!caption || !text) {
        JournalViolation("ShowWarning with a null %s", caption ? "text" : "caption");
    }
    if (s_interactive) {
        MessageBoxA(RefHost_MainWindow(), text ? text : "", caption ? caption : "",
                    MB_OK | MB_ICONWARNING);
    }
}

void WINAPI Host_StopExperiment(void) {
    JournalCall("StopExperiment", 0, 0, 0, 0, nullptr, 0);
    s_stopRequested = 1;
    if (s_stopAtOnce && RefHost_ExperimentRunning()) {
        RefHost_StopExperiment();
    }
}

void RefHost_SetStopAtOnce(int atOnce) {
    s_stopAtOnce = atOnce ? 1 : 0;
}

int RefHost_StopRequested(void) {
    return s_stopRequested;
}

void ClearStopRequest(void) {
    s_stopRequested = 0;
}

void RefHost_SetInteractive(int interactive) {
    s_interactive = interactive;
}

int HostInteractive(void) {
    return s_interactive;
}

/* ---- Fonts ------------------------------------------------------------------------ */

HFONT WINAPI Host_CreateStackedFontIndirect(const LOGFONTA* font) {
    HFONT result = nullptr;
    if (!font) {
        JournalViolation("CreateStackedFontIndirect with a null LOGFONTA");
    } else {
        result = CreateFontIndirectA(font);
    }
    if (result) {
        s_fonts.insert(result);
    }
    JournalCall("CreateStackedFontIndirect", reinterpret_cast<DWORD>(result), 0, 0, 0, nullptr, 0);
    return result;
}

void WINAPI Host_DeleteStackedObject(HGDIOBJ object) {
    JournalCall("DeleteStackedObject", reinterpret_cast<DWORD>(object), 0, 0, 0, nullptr, 0);
    std::set<HGDIOBJ>::iterator it = s_fonts.find(object);
    if (it == s_fonts.end()) {
        JournalViolation("DeleteStackedObject of %p, which is no outstanding stacked object",
                         static_cast<void*>(object));
        return;
    }
    DeleteObject(object);
    s_fonts.erase(it);
}

size_t RefHost_OutstandingFonts(void) {
    return s_fonts.size();
}

/* ---- Shared variables and run parameters ------------------------------------------ */

static void WriteVariable(const char* name, const void* value, DWORD size) {
    SharedVariable* variable = FindVariable(name);
    if (!variable) {
        return;
    }
    if (variable->size != size) {
        JournalViolation("shared variable \"%s\" registered with %lu bytes, not %lu", name,
                         static_cast<unsigned long>(variable->size),
                         static_cast<unsigned long>(size));
        return;
    }
    std::memcpy(variable->address, value, size);
}

static void WriteFlag(const char* name, LONG value) {
    WriteVariable(name, &value, sizeof value);
}

void RefHost_SetRate(double millisecondsPerSample, DWORD blockSize) {
    s_millisecondsPerSample = millisecondsPerSample;
    s_blockSize = blockSize;
    WriteVariable("fGlobalMilliSecondsPerSample", &millisecondsPerSample,
                  sizeof millisecondsPerSample);
    WriteVariable("uiGlobalBlockSize", &blockSize, sizeof blockSize);
}

void RefHost_SetRunning(int running) {
    WriteFlag("bExperimentIsRunning", running ? 1 : 0);
}

void RefHost_SetPaused(int paused) {
    WriteFlag("bExperimentIsPaused", paused ? 1 : 0);
}

void RefHost_SetAnimation(int animation) {
    WriteFlag("bAnimation", animation ? 1 : 0);
}

void RefHost_SetStartTicks(DWORD ticks) {
    WriteVariable("dwExperimentStartTimeTicks", &ticks, sizeof ticks);
}

double HostMillisecondsPerSample(void) {
    return s_millisecondsPerSample;
}

DWORD HostBlockSize(void) {
    return s_blockSize;
}

void ForgetRegistrations(void) {
    ForgetExtensionState();
    if (!s_fonts.empty()) {
        JournalViolation("%u stacked font(s) never given back with DeleteStackedObject",
                         static_cast<unsigned>(s_fonts.size()));
    }
    for (std::set<HGDIOBJ>::iterator it = s_fonts.begin(); it != s_fonts.end(); ++it) {
        DeleteObject(*it);
    }
    s_fonts.clear();
    s_failDefineDllModule = 0;
    s_failVariable.clear();
    s_stopRequested = 0;
    s_stopAtOnce = 0;
    s_interactive = 0;
    s_millisecondsPerSample = 1.0;
    s_blockSize = 100;
}
