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

/* Loads Orvik_qx4.dll from the program's folder (once) and admits it into a
   fresh reference host; its SetupOrvikDLL and FinishOrvikDLL run through
   timing wrappers. Returns 1 or 0. */
int AdmitExtension(void);
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
void ReportDllFacts(void);

double Median(double* values, unsigned count);
/* The share of processor time the hypervisor took since the mark, printed. */
void MarkStolenTime(void);
void SayStolenTime(void);
