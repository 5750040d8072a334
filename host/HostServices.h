/*
 * What the extension learned from the host at start-up: the 161 values looked
 * up by name (59 variables, then 102 functions, in the host's protocol order),
 * typed views of the ones it uses, and the seven shared variables the host
 * keeps current. Filled once by SetupOrvikDLL; read everywhere else.
 */
#pragma once

#include "host/HostAbi.h"

#define HOST_VARIABLE_COUNT 59u
#define HOST_FUNCTION_COUNT 102u

/* The names, in lookup order. Optional variables may legitimately resolve to 0. */
struct HostName {
    const char* name;
    int optional;
};
extern const HostName kHostVariableNames[HOST_VARIABLE_COUNT];
extern const char* const kHostFunctionNames[HOST_FUNCTION_COUNT];

/* The host services the extension calls, resolved by ResolveHostServices. */
struct HostCalls {
    PFN_NewMemAlloc NewMemAlloc;
    PFN_NewDoMemFree NewDoMemFree;
    PFN_DefineDllModule DefineDllModule;
    PFN_DefineDllVariable DefineDllVariable;
    PFN_RegisterModuleClass RegisterModuleClass;
    PFN_RegisterMenuEntry RegisterMenuEntry;
    PFN_PerformDefaultAction PerformDefaultAction;
    PFN_GetCurrentOutputBlock GetCurrentOutputBlock;
    PFN_NewReleaseOutputBlock NewReleaseOutputBlock;
    PFN_GetInputBlock GetInputBlock;
    PFN_NewReleaseInputBlock NewReleaseInputBlock;
    PFN_ChangeModuleSize ChangeModuleSize;
    PFN_ShowWarning ShowWarning;
    PFN_StopExperiment StopExperiment;
    PFN_CreateStackedFontIndirect CreateStackedFontIndirect;
    PFN_DeleteStackedObject DeleteStackedObject;
};
const HostCalls& Host(void);

/* Host variables the extension uses. */
HINSTANCE HostInstance(void);              /* "hInstOrvik" */
HMENU HostMainMenu(void);                  /* "MainMenu" */
ModuleRecord* CurrentModule(void);         /* read through "&CurrentModulePtr" at each call */
const HBITMAP* ChannelButtonBitmaps(void); /* "hBitChannel", indexed by state 0..3 */
const HBITMAP* StepButtonBitmaps(void);    /* "hBitLessMore", indexed by state 0..5 */

/* The raw looked-up value of variable or function number i, in lookup order. */
DWORD HostVariableValue(unsigned i);
DWORD HostFunctionValue(unsigned i);

/* Looks up every name from the host window in order; returns 1, or 0 at the
   first required name that yields 0 (nothing after it is asked). */
int ResolveHostServices(HWND hostWindow);

/* DefineDllModule, then the seven DefineDllVariable calls; 1, or 0 at the first
   that returns 0. */
int RegisterWithHost(void);

/* The seven variables the host writes while the extension runs. */
struct SharedVariables {
    double fGlobalMilliSecondsPerSample;
    DWORD uiGlobalBlockSize;
    LONG bAnimation;
    LONG bExperimentIsRunning;
    LONG bExperimentIsPaused;
    DWORD dwExperimentStartTimeTicks;
    LONG BBoxModul;
};
const volatile SharedVariables& Shared(void);
