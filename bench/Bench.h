/*
 * What the benchmark's parts share: the real extension DLL loaded beside the
 * program and admitted into the reference host, a clock, and one way to print
 * a figure to the screen and to the result file at once.
 */
#pragma once

#include "host/HostAbi.h"
#include "sim/host/RefHost.h"

#include <windows.h>

void Say(const char* format, ...);
double Seconds(void); /* the performance counter, in seconds */
/* Whether this process runs under a user-mode emulator, as scripts/bench
   found out and passed in ORVIK_BENCH_EMULATION (the emulator's path, or
   "none"): 1 emulated, 0 not, -1 not known. */
int Emulated(void);
/* The verdict on a target for real hardware, from a time measured here: under
   emulation a met target is met even so, and a missed one cannot be judged. */
const char* TimeVerdict(int met);

/* Block services in place of the reference host's (BlockServices.cpp). */
struct BlockServices {
    PFN_GetCurrentOutputBlock getCurrentOutputBlock;
    PFN_NewReleaseOutputBlock newReleaseOutputBlock;
    PFN_GetInputBlock getInputBlock;
    PFN_NewReleaseInputBlock newReleaseInputBlock;
};
/* From now on the host window answers the extension's lookups of the four
   block services with these (every entry must be set); other lookups and
   messages stay the reference host's. Returns 1, or 0 when the window could
   not be taken over or the host's own services not found. */
int SwapBlockServices(const BlockServices* substitutes);
/* The reference host's own four, for substitutes that pass calls on. */
const BlockServices* HostBlockServices(void);

/* Loads Orvik_qx4.dll from the program's folder (once) and admits it into a
   fresh reference host; its SetupOrvikDLL and FinishOrvikDLL run through
   timing wrappers. With substitutes, the extension is given those block
   services instead of the host's. Returns 1 or 0. */
int AdmitExtension(void);
int AdmitExtensionWith(const BlockServices* substitutes);
void DismissExtension(void);
HMODULE ExtensionDll(void);
const char* ExtensionPath(void);
/* How long the last SetupOrvikDLL and FinishOrvikDLL took, in seconds. */
double LastSetupSeconds(void);
double LastFinishSeconds(void);

PFN_ModuleProcess ProcessFunction(void);
RefModule* RestoreBenchModule(unsigned socket, unsigned port, DWORD inputs, DWORD outputs);
void RemoveAllModules(void);

/* Allocation calls the extension DLL made through its imports since the hooks
   went in (HookExtensionAllocations); -1 when no hook could be placed. */
int HookExtensionAllocations(void);
long ExtensionAllocationCount(void);
const char* HookedAllocationFunctions(void); /* the imports HookExtensionAllocations counts */

void BenchDataPath(void);
void BenchAllocations(void);
void BenchPacing(double seconds);
void BenchStartup(void);
void BenchLiveView(double seconds);
void ReportDllFacts(void);

double Median(double* values, unsigned count);
/* The share of processor time the hypervisor took since the mark, printed. */
void MarkStolenTime(void);
void SayStolenTime(void);
