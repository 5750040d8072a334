/*
 * Start-up and shut-down as the host sees them: SetupOrvikDLL (the 161
 * lookups, registration, the sixteen sockets enumerated) and FinishOrvikDLL,
 * each timed alone, over 100 admissions in one process.
 */
#include "Bench.h"

#define ROUNDS         100u
#define TARGET_SECONDS 0.005
#define SOCKETS_PROBED 16u

/* What the platform itself charges for one step every start-up takes, timed
   alone: a window class with one message-only window, as the removal notice
   needs. (Loading the driver is not among the costs here: the bench itself
   imports the simulator's control calls, so the library stays loaded.) */
static LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static double PlainWindowSeconds(void) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OrvikBenchPlain";
    double t0 = Seconds();
    RegisterClassA(&wc);
    HWND window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    if (window)
        DestroyWindow(window);
    UnregisterClassA(wc.lpszClassName, wc.hInstance);
    return Seconds() - t0;
}

static void SayPlatformShare(void) {
    static double window[ROUNDS];
    for (unsigned i = 0; i < ROUNDS; ++i)
        window[i] = PlainWindowSeconds();
    Say("  of SetupOrvikDLL, the platform alone: a window class with one message-only window, "
        "%.3f ms (median)\n",
        Median(window, ROUNDS) * 1000);
}

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
    SayPlatformShare();
    Say("  host blocks left after the %u shut-downs: %u\n", done, static_cast<unsigned>(leaks));
    SayStolenTime();
    Say("\n");
}
