/*
 * The host's side of one experiment: the shared variables set at the start,
 * event 106 to every module (107 to those started when one refuses), rounds of
 * process calls, and event 107 to every module at the end. The paced run with
 * patterns and recording is RunEngine.cpp's, built on these.
 */
#include "sim/host/HostInternal.h"

static int s_running;
static DWORD s_startTicks;

DWORD HostStartTicks(void) {
    return s_startTicks;
}

void ShiftStartTicks(DWORD delta) {
    s_startTicks += delta;
    RefHost_SetStartTicks(s_startTicks);
}

int RefHost_StartExperiment(double millisecondsPerSample, DWORD blockSize) {
    if (s_running) {
        return 0;
    }
    RefHost_SetRate(millisecondsPerSample, blockSize);
    RefHost_SetPaused(0);
    s_startTicks = HostTick();
    RefHost_SetStartTicks(s_startTicks);
    RefHost_SetRunning(1);
    ClearStopRequest();
    s_running = 1;
    size_t count = RefHost_ModuleCount();
    for (size_t i = 0; i < count; ++i) {
        RefModule* module = RefHost_Module(i);
        FreeReleasedBlocks(module);
        FreeCurrentOutputBlocks(module);
        module->started = 0;
    }
    for (size_t i = 0; i < count; ++i) {
        RefModule* module = RefHost_Module(i);
        if (RefHost_SendEvent(module, ME_START, 0, 0) == 0) {
            module->failedStart = 1;
            RefHost_StopExperiment();
            return 0;
        }
        module->started = 1;
        module->failedStart = 0;
    }
    return 1;
}

void RefHost_ProcessAll(void) {
    const ModuleClassDescriptor* descriptor = RefHost_ModuleClass();
    if (!descriptor || !descriptor->process) {
        return;
    }
    size_t count = RefHost_ModuleCount();
    for (size_t i = 0; i < count; ++i) {
        descriptor->process(RefModule_Record(RefHost_Module(i)));
        Loopback_ProcessCallDone();
    }
}

void RefHost_StopExperiment(void) {
    size_t count = RefHost_ModuleCount();
    for (size_t i = 0; i < count; ++i) {
        RefModule* module = RefHost_Module(i);
        if (module->started || !s_running) {
            RefHost_SendEvent(module, ME_STOP, 0, 0);
        }
        module->started = 0;
    }
    RefHost_SetRunning(0);
    RefHost_SetPaused(0);
    s_running = 0;
}

int RefHost_ExperimentRunning(void) {
    return s_running;
}

DWORD HostTick(void) {
    return GetTickCount();
}
