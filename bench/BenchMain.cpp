/*
 * orvik_bench.exe RESULT_FILE [--pacing-seconds N]
 * orvik_bench.exe RESULT_FILE --live-view-seconds N
 *
 * Measures the extension DLL as the host runs it, with the card simulator
 * behind it: the DLL's size and imports, start-up and shut-down, the
 * extension's own cost per block and per sample in the data path, the
 * allocations made inside the passes, and the pacing of runs against
 * GetTickCount; or, with --live-view-seconds, only the pacing of a loopback
 * run with the live view closed and open. Each figure is printed with its target and written to
 * RESULT_FILE, under a machine line that says whether the 32-bit code ran
 * under an emulator (ORVIK_BENCH_EMULATION, set by scripts/bench) and
 * whether it was kept to one processor (ORVIK_BENCH_PINNED).
 */
#include "Bench.h"

#include "sim/card/SimCard.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static FILE* s_out;
static HMODULE s_dll;
static char s_dllPath[MAX_PATH];
static PFN_SetupOrvikDLL s_setup;
static PFN_FinishOrvikDLL s_finish;
static double s_setupSeconds;
static double s_finishSeconds;

void Say(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fputs(line, stdout);
    if (s_out) {
        fputs(line, s_out);
        fflush(s_out);
    }
}

double Seconds(void) {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(double* values, unsigned count) {
    std::sort(values, values + count);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static LONG WINAPI TimedSetup(HWND hostWindow) {
    double t0 = Seconds();
    LONG result = s_setup(hostWindow);
    s_setupSeconds = Seconds() - t0;
    return result;
}

static LONG WINAPI TimedFinish(LONG ignored) {
    double t0 = Seconds();
    LONG result = s_finish(ignored);
    s_finishSeconds = Seconds() - t0;
    return result;
}

static int LoadExtensionDll(void) {
    if (s_dll)
        return 1;
    DWORD length = GetModuleFileNameA(nullptr, s_dllPath, sizeof s_dllPath);
    char* slash = length ? strrchr(s_dllPath, '\\') : nullptr;
    if (!slash || static_cast<size_t>(slash - s_dllPath) + 20 > sizeof s_dllPath)
        return 0;
    strcpy(slash + 1, "Orvik_qx4.dll");
    s_dll = LoadLibraryA(s_dllPath);
    if (!s_dll)
        return 0;
    s_setup = reinterpret_cast<PFN_SetupOrvikDLL>(
        reinterpret_cast<void*>(GetProcAddress(s_dll, "SetupOrvikDLL")));
    s_finish = reinterpret_cast<PFN_FinishOrvikDLL>(
        reinterpret_cast<void*>(GetProcAddress(s_dll, "FinishOrvikDLL")));
    return s_setup && s_finish;
}

int AdmitExtension(void) {
    return AdmitExtensionWith(nullptr);
}

int AdmitExtensionWith(const BlockServices* substitutes) {
    if (!LoadExtensionDll() || !SimCard_Reset(nullptr))
        return 0;
    RefHost_ClearJournal();
    if (!RefHost_Create(GetModuleHandleA(nullptr), 0))
        return 0;
    if (substitutes && !SwapBlockServices(substitutes)) {
        RefHost_Destroy();
        return 0;
    }
    /* A real host keeps no record of each block call. */
    RefHost_SetJournalBlockCalls(0);
    return RefHost_AdmitLinkedExtension(TimedSetup, TimedFinish) == 1;
}

void DismissExtension(void) {
    RemoveAllModules();
    RefHost_UnloadExtension();
    RefHost_Destroy();
}

HMODULE ExtensionDll(void) {
    return s_dll;
}

const char* ExtensionPath(void) {
    return s_dllPath;
}

double LastSetupSeconds(void) {
    return s_setupSeconds;
}

double LastFinishSeconds(void) {
    return s_finishSeconds;
}

PFN_ModuleProcess ProcessFunction(void) {
    return RefHost_ModuleClass()->process;
}

RefModule* RestoreBenchModule(unsigned socket, unsigned port, DWORD inputs, DWORD outputs) {
    ModuleSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.socket = static_cast<WORD>(socket);
    settings.port = port;
    return RefHost_RestoreModule("bench", "", inputs, outputs, &settings);
}

void RemoveAllModules(void) {
    while (RefHost_ModuleCount())
        RefHost_DeleteModule(RefHost_Module(0));
}

/* On a virtual machine the hypervisor may take part of the processor away
   ("steal"); figures taken meanwhile say more about the neighbours than about
   the extension, so each part reports the share it lost. */
static int ReadCpuTimes(unsigned long long* steal, unsigned long long* total) {
    FILE* f = fopen("Z:\\proc\\stat", "r");
    if (!f)
        return 0;
    unsigned long long v[8] = {};
    int got = fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                     &v[4], &v[5], &v[6], &v[7]);
    fclose(f);
    if (got != 8)
        return 0;
    *steal = v[7];
    *total = v[0] + v[1] + v[2] + v[3] + v[4] + v[5] + v[6] + v[7];
    return 1;
}

static unsigned long long s_stealMark;
static unsigned long long s_totalMark;

void MarkStolenTime(void) {
    ReadCpuTimes(&s_stealMark, &s_totalMark);
}

void SayStolenTime(void) {
    unsigned long long steal, total;
    if (!ReadCpuTimes(&steal, &total) || total <= s_totalMark)
        return;
    double share =
        static_cast<double>(steal - s_stealMark) / static_cast<double>(total - s_totalMark);
    Say("  (the hypervisor took %.0f%% of the processors meanwhile)\n", share * 100);
}

static void SayMachine(void) {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    char cpu[128] = "unknown processor";
    FILE* f = fopen("Z:\\proc\\cpuinfo", "r");
    if (f) {
        char line[256];
        while (fgets(line, sizeof line, f)) {
            const char* colon = strchr(line, ':');
            if (strncmp(line, "model name", 10) == 0 && colon) {
                snprintf(cpu, sizeof cpu, "%s", colon + 2);
                cpu[strcspn(cpu, "\n")] = 0;
                break;
            }
        }
        fclose(f);
    }
    Say("Machine: %s, %lu logical processors; under Wine, 32-bit\n", cpu,
        static_cast<unsigned long>(info.dwNumberOfProcessors));
    if (getenv("ORVIK_BENCH_PINNED"))
        Say("Pinned: the bench and Wine's server run on processor %s only (taskset).\n",
            getenv("ORVIK_BENCH_PINNED"));
    if (Emulated() == 1)
        Say("EMULATED: this machine's kernel runs no 32-bit programs itself; Wine and the bench\n"
            "run under the user-mode emulator %s. Every time below is an emulated\n"
            "time, many times slower than real hardware and noisier; a time target is either\n"
            "\"met even under emulation\" or \"not measurable here\". Counts are exact.\n\n",
            getenv("ORVIK_BENCH_EMULATION"));
    else if (Emulated() == 0)
        Say("Not emulated: 32-bit code runs natively.\n\n");
    else
        Say("Emulation not known (run through scripts/bench to find out).\n\n");
}

int Emulated(void) {
    const char* emulator = getenv("ORVIK_BENCH_EMULATION");
    if (!emulator || !emulator[0])
        return -1;
    return strcmp(emulator, "none") != 0;
}

const char* TimeVerdict(int met) {
    if (Emulated() == 1)
        return met ? "met even under emulation" : "not measurable here (emulated)";
    return met ? "met" : "MISSED";
}

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    double pacingSeconds = 20.0;
    double liveViewSeconds = 0.0;
    const char* resultPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--pacing-seconds") == 0 && i + 1 < argc)
            pacingSeconds = atof(argv[++i]);
        else if (strcmp(argv[i], "--live-view-seconds") == 0 && i + 1 < argc)
            liveViewSeconds = atof(argv[++i]);
        else
            resultPath = argv[i];
    }
    s_out = resultPath ? fopen(resultPath, "w") : nullptr;
    if (!AdmitExtension()) {
        fprintf(stderr, "bench: Orvik_qx4.dll was not admitted\n");
        return 1;
    }
    DismissExtension();
    SayMachine();
    if (liveViewSeconds > 0) {
        BenchLiveView(liveViewSeconds);
        if (s_out)
            fclose(s_out);
        return 0;
    }
    ReportDllFacts();
    MarkStolenTime();
    BenchStartup();
    MarkStolenTime();
    BenchDataPath();
    BenchAllocations();
    BenchPacing(pacingSeconds);
    if (s_out)
        fclose(s_out);
    return 0;
}
