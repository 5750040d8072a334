/*
 * orvik-host.exe's own parts: the options of its command line, the output
 * files of a run, and the interactive workbench window. The host itself is the
 * orvik_refhost library (RefHost.h).
 */
#pragma once

#include "sim/host/RefHost.h"

#define PROGRAM_PATH 520u

struct ProgramOptions {
    char extension[PROGRAM_PATH];
    char worksheet[PROGRAM_PATH];
    char saveAs[PROGRAM_PATH];
    char simConfig[PROGRAM_PATH];
    char outDir[PROGRAM_PATH];
    char csv[PROGRAM_PATH];
    char vcd[PROGRAM_PATH];
    char svg[PROGRAM_PATH];
    int batch;
    int summary;
    int haveDuration;
    int haveRate;
    int haveBlockSize;
    RunOptions run;
};

/* Writes the recording of the last run to the files the options name; prints
   each file written. Returns 1, or 0 when one could not be written. */
int WriteRunFiles(const ProgramOptions* options, FILE* out);

/* The interactive mode: the main window with its module list, and the message
   loop until the window closes. Returns the exit code. */
int RunWorkbench(const ProgramOptions* options);
/* The same without the loop, for a caller that pumps messages itself: the list
   and the menu commands are live until DetachWorkbench. Returns 1 or 0. */
#define WORKBENCH_LIST_ID 100
int AttachWorkbench(const ProgramOptions* options);
void DetachWorkbench(void);
HWND WorkbenchList(void);
/* Fills options with the program's defaults (no files, the worksheet's rate). */
void DefaultProgramOptions(ProgramOptions* options);
