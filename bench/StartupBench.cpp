/*
 * Start-up and shut-down as the host sees them: SetupOrvikDLL (the 161
 * lookups, registration, the sixteen sockets enumerated) and FinishOrvikDLL,
 * each timed alone, over 100 admissions in one process.
 */
#include "Bench.h"

#define ROUNDS         100u
#define TARGET_SECONDS 0.005
#define SOCKETS_PROBED 16u

void BenchStartup(void) {
    static double setup[ROUNDS];
    static double finish[ROUNDS];
    unsigned done = 0;
    size_t leaks = 0;
    for (; done < ROUNDS; ++done) {
        if (!AdmitExtension())
            break;
        setup[done] = LastSetupSeconds();
        RefHost_UnloadExtension();
        finish[done] = LastFinishSeconds();
        leaks += RefHost_CheckLeaks();
        RefHost_Destroy();
    }
    Say("Start-up and shut-down, median of %u rounds in one process (target: each < %.0f ms):\n",
        done, TARGET_SECONDS * 1000);
    if (done == 0) {
        Say("  the extension was not admitted\n\n");
        return;
    }
    double setupMedian = Median(setup, done);
    double finishMedian = Median(finish, done);
    Say("  SetupOrvikDLL  (161 lookups, %u sockets probed): %7.3f ms  (slowest %.3f)  %s\n",
        SOCKETS_PROBED, setupMedian * 1000, setup[done - 1] * 1000,
        TimeVerdict(setupMedian < TARGET_SECONDS));
    Say("  FinishOrvikDLL:                                  %7.3f ms  (slowest %.3f)  %s\n",
        finishMedian * 1000, finish[done - 1] * 1000, TimeVerdict(finishMedian < TARGET_SECONDS));
    Say("  host blocks left after the %u shut-downs: %u\n", done, static_cast<unsigned>(leaks));
    SayStolenTime();
    Say("\n");
}
