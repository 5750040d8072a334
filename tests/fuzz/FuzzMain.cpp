/*
 * orvik_fuzz.exe: one long walk from a seed given on the command line or taken
 * from the clock. The seed is printed first, so any run can be replayed.
 *
 *   orvik_fuzz.exe [--seed N] [--steps N]      exit code 0 when every check held
 */
#include "FuzzWalk.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define DEFAULT_STEPS 100000ul

static int ParseNumber(const char* text, unsigned long long* value) {
    char* end = nullptr;
    if (!text || !*text)
        return 0;
    *value = strtoull(text, &end, 0);
    return *end == 0;
}

static unsigned long long SeedFromClock(void) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<unsigned long long>(now.QuadPart) ^ GetTickCount() ^
           (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
}

static int Usage(void) {
    fprintf(stderr, "usage: orvik_fuzz.exe [--seed N] [--steps N]\n");
    return 2;
}

int main(int argc, char** argv) {
    unsigned long long seed = SeedFromClock();
    unsigned long long steps = DEFAULT_STEPS;
    for (int i = 1; i < argc; ++i) {
        unsigned long long* target = nullptr;
        if (strcmp(argv[i], "--seed") == 0)
            target = &seed;
        else if (strcmp(argv[i], "--steps") == 0)
            target = &steps;
        if (!target || i + 1 >= argc || !ParseNumber(argv[++i], target))
            return Usage();
    }
    printf("seed %llu\n", seed);
    fflush(stdout);

    DWORD began = GetTickCount();
    WalkStats stats;
    int sound = RunWalk(seed, static_cast<unsigned long>(steps), stdout, &stats);
    double seconds = (GetTickCount() - began) / 1000.0;
    printf("%s: seed %llu, %lu steps in %.1f s (%.0f steps/s); %lu runs, %lu process calls, "
           "%lu dialogs, %lu admissions, %lu failed port accesses\n",
           sound ? "clean" : "FAILED", seed, stats.steps, seconds,
           seconds > 0 ? stats.steps / seconds : 0.0, stats.runs, stats.processes, stats.dialogs,
           stats.boots, stats.portFaults);
    fflush(stdout);
    return sound ? 0 : 1;
}
