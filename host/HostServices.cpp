/*
 * The host lookup: asks the host's main window for every variable and function
 * by name, keeps the answers, and registers the seven shared variables that the
 * host writes during a run. What the looked-up values mean is the host's
 * business, except for the few typed views below.
 */
#include "host/HostServices.h"

#include <cstring>

static DWORD s_variables[HOST_VARIABLE_COUNT];
static DWORD s_functions[HOST_FUNCTION_COUNT];
static HostCalls s_calls;
static volatile SharedVariables s_shared;

/* Which looked-up function feeds which typed pointer. */
struct CallBinding {
    const char* name;
    size_t offset;
};
#define BIND(field)                                                                                \
    { #field, offsetof(HostCalls, field) }
static const CallBinding kCallBindings[] = {
    BIND(NewMemAlloc),          BIND(NewDoMemFree),          BIND(DefineDllModule),
    BIND(DefineDllVariable),    BIND(RegisterModuleClass),   BIND(RegisterMenuEntry),
    BIND(PerformDefaultAction), BIND(GetCurrentOutputBlock), BIND(NewReleaseOutputBlock),
    BIND(GetInputBlock),        BIND(NewReleaseInputBlock),  BIND(ChangeModuleSize),
    BIND(ShowWarning),          BIND(StopExperiment),        BIND(CreateStackedFontIndirect),
    BIND(DeleteStackedObject),
};
#undef BIND

static int VariableIndex(const char* name) {
    for (unsigned i = 0; i < HOST_VARIABLE_COUNT; ++i) {
        if (strcmp(kHostVariableNames[i].name, name) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

static DWORD VariableNamed(const char* name) {
    int i = VariableIndex(name);
    return i < 0 ? 0 : s_variables[i];
}

static void BindCalls(void) {
    BYTE* calls = reinterpret_cast<BYTE*>(&s_calls);
    for (const CallBinding& binding : kCallBindings) {
        for (unsigned i = 0; i < HOST_FUNCTION_COUNT; ++i) {
            if (strcmp(kHostFunctionNames[i], binding.name) == 0) {
                memcpy(calls + binding.offset, &s_functions[i], sizeof(DWORD));
                break;
            }
        }
    }
}

static DWORD AskHost(HWND hostWindow, UINT message, const char* name) {
    return static_cast<DWORD>(SendMessageA(hostWindow, message, 0, reinterpret_cast<LPARAM>(name)));
}

int ResolveHostServices(HWND hostWindow) {
    for (unsigned i = 0; i < HOST_VARIABLE_COUNT; ++i) {
        s_variables[i] = AskHost(hostWindow, HM_GETVAR, kHostVariableNames[i].name);
        if (s_variables[i] == 0 && !kHostVariableNames[i].optional)
            return 0;
    }
    for (unsigned i = 0; i < HOST_FUNCTION_COUNT; ++i) {
        s_functions[i] = AskHost(hostWindow, HM_GETFUNC, kHostFunctionNames[i]);
        if (s_functions[i] == 0)
            return 0;
    }
    BindCalls();
    return 1;
}

int RegisterWithHost(void) {
    struct Registration {
        const char* name;
        volatile void* address;
        DWORD size;
    };
    const Registration registrations[] = {
        {"fGlobalMilliSecondsPerSample", &s_shared.fGlobalMilliSecondsPerSample, 8},
        {"uiGlobalBlockSize", &s_shared.uiGlobalBlockSize, 4},
        {"bAnimation", &s_shared.bAnimation, 4},
        {"bExperimentIsRunning", &s_shared.bExperimentIsRunning, 4},
        {"bExperimentIsPaused", &s_shared.bExperimentIsPaused, 4},
        {"dwExperimentStartTimeTicks", &s_shared.dwExperimentStartTimeTicks, 4},
        {"BBoxModul", &s_shared.BBoxModul, 4},
    };
    if (!s_calls.DefineDllModule())
        return 0;
    for (const Registration& r : registrations) {
        if (!s_calls.DefineDllVariable(r.name, const_cast<void*>(r.address), r.size))
            return 0;
    }
    return 1;
}

const HostCalls& Host(void) {
    return s_calls;
}

const volatile SharedVariables& Shared(void) {
    return s_shared;
}

DWORD HostVariableValue(unsigned i) {
    return i < HOST_VARIABLE_COUNT ? s_variables[i] : 0;
}

DWORD HostFunctionValue(unsigned i) {
    return i < HOST_FUNCTION_COUNT ? s_functions[i] : 0;
}

HINSTANCE HostInstance(void) {
    return reinterpret_cast<HINSTANCE>(VariableNamed("hInstOrvik"));
}

HMENU HostMainMenu(void) {
    return reinterpret_cast<HMENU>(VariableNamed("MainMenu"));
}

ModuleRecord* CurrentModule(void) {
    ModuleRecord* const* pointer =
        reinterpret_cast<ModuleRecord* const*>(VariableNamed("&CurrentModulePtr"));
    return pointer ? *pointer : nullptr;
}

const HBITMAP* ChannelButtonBitmaps(void) {
    return reinterpret_cast<const HBITMAP*>(VariableNamed("hBitChannel"));
}

const HBITMAP* StepButtonBitmaps(void) {
    return reinterpret_cast<const HBITMAP*>(VariableNamed("hBitLessMore"));
}
