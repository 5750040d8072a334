/*
 * Pacing of a long run: one input module in the reference host, polled
 * continuously as a host's idle loop would. Each release is compared with the
 * tick at which its block's last sample is due: none may come early, and
 * 99.9% must come within 2 ms. The achieved sample rate over the run is set
 * against the nominal one.
 */
#include "Bench.h"

#include "sim/card/SimCard.h"

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <vector>

#define LATE_TARGET_MS   2
#define LATE_SHARE       0.999
#define RATE_TOLERANCE   0.001
#define PUMP_EVERY_TICKS 10u

static void PumpMessages(void) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

static DWORD DueTick(DWORD startTick, unsigned long long samples, double ms) {
    double elapsed = std::trunc(static_cast<double>(samples) * ms);
    return startTick + static_cast<DWORD>(static_cast<unsigned long long>(elapsed));
}

struct PacedResult {
    std::vector<long> lateness; /* ms, release tick minus due tick, per block */
    double firstRelease;        /* seconds since the start */
    double lastRelease;
    unsigned long long samplesBetween; /* released after the first release, up to the last */
    unsigned lateBeyondTarget;
    unsigned lateAfterStall; /* of those: the loop itself had not run for about as long */
    double longestStallMs;
};

static void RunPaced(double ms, DWORD blockSize, double seconds, PacedResult* result) {
    RefModule* module = RestoreBenchModule(1, 1, 0, 1);
    RefHost_StartExperiment(ms, blockSize);
    /* The start tick is the host's own; releases are timed with the clock the
       passes pace by. */
    const DWORD* hostStart =
        static_cast<const DWORD*>(RefHost_VariableAddress("dwExperimentStartTimeTicks"));
    DWORD startTick = hostStart ? *hostStart : GetTickCount();
    double t0 = Seconds();
    size_t released = 0;
    DWORD lastPump = startTick;
    result->lateness.reserve(static_cast<size_t>(seconds * 1000.0 / (ms * blockSize)) + 16);
    double lastPoll = 0.0;
    double stallMs = 0.0; /* longest gap between two polls since the last release */
    while (Seconds() - t0 < seconds && !RefHost_StopRequested()) {
        double poll = Seconds() - t0;
        double gapMs = (poll - lastPoll) * 1000.0;
        lastPoll = poll;
        if (gapMs > stallMs)
            stallMs = gapMs;
        if (gapMs > result->longestStallMs)
            result->longestStallMs = gapMs;
        RefHost_ProcessAll();
        size_t total = RefHost_ReleasedBlockTotal(module, 0);
        if (total != released) {
            DWORD tick = timeGetTime();
            double now = Seconds() - t0;
            for (++released; released <= total; ++released) {
                DWORD due =
                    DueTick(startTick, static_cast<unsigned long long>(released) * blockSize, ms);
                LONG late = static_cast<LONG>(tick - due);
                result->lateness.push_back(late);
                if (late > LATE_TARGET_MS) {
                    ++result->lateBeyondTarget;
                    if (stallMs >= late - 1)
                        ++result->lateAfterStall;
                }
            }
            stallMs = 0.0;
            released = total;
            if (result->lateness.size() == 1)
                result->firstRelease = now;
            result->lastRelease = now;
        }
        DWORD tick = GetTickCount();
        if (tick - lastPump >= PUMP_EVERY_TICKS) {
            PumpMessages();
            lastPump = tick;
        }
    }
    result->samplesBetween =
        result->lateness.size() > 1 ? (result->lateness.size() - 1) * blockSize : 0;
    RefHost_StopExperiment();
    RemoveAllModules();
}

static double Percentile(const std::vector<long>& sorted, double share) {
    if (sorted.empty())
        return 0;
    size_t i = static_cast<size_t>(std::ceil(share * static_cast<double>(sorted.size()))) - 1;
    return static_cast<double>(sorted[i < sorted.size() ? i : sorted.size() - 1]);
}

static void ReportPaced(double ms, DWORD blockSize, double seconds, PacedResult* r) {
    std::vector<long>& late = r->lateness;
    std::sort(late.begin(), late.end());
    size_t early =
        static_cast<size_t>(std::count_if(late.begin(), late.end(), [](long v) { return v < 0; }));
    size_t within = static_cast<size_t>(std::count_if(
        late.begin(), late.end(), [](long v) { return v >= 0 && v <= LATE_TARGET_MS; }));
    double share =
        late.empty() ? 0 : static_cast<double>(within) / static_cast<double>(late.size());
    double span = r->lastRelease - r->firstRelease;
    double nominal = 1000.0 / ms;
    double achieved = span > 0 ? static_cast<double>(r->samplesBetween) / span : 0;
    double deviation = nominal > 0 ? (achieved - nominal) / nominal : 0;
    Say("  %.2f ms per sample, block %lu, %.0f s: %u blocks released\n", ms,
        static_cast<unsigned long>(blockSize), seconds, static_cast<unsigned>(late.size()));
    Say("    released before their due tick: %u                       (target 0)     %s\n",
        static_cast<unsigned>(early), early == 0 && !late.empty() ? "met" : "MISSED");
    Say("    lateness ms: median %.0f, 99%% %.0f, 99.9%% %.0f, max %ld; within %d ms: %.3f%%"
        "  (target 99.9%%)  %s\n",
        Percentile(late, 0.5), Percentile(late, 0.99), Percentile(late, 0.999),
        late.empty() ? 0L : late.back(), LATE_TARGET_MS, share * 100,
        share >= LATE_SHARE ? "met" : "MISSED");
    Say("    late by more than %d ms: %u, of which %u came after the polling loop itself had "
        "stood still about as long (longest stand-still %.1f ms)\n",
        LATE_TARGET_MS, r->lateBeyondTarget, r->lateAfterStall, r->longestStallMs);
    Say("    mean rate %.2f samples/s against %.2f: %+.4f%%              (target +/-0.1%%) %s\n",
        achieved, nominal, deviation * 100,
        std::fabs(deviation) <= RATE_TOLERANCE ? "met" : "MISSED");
}

void BenchPacing(double seconds) {
    static const struct {
        double ms;
        DWORD block;
    } kRuns[] = {{1.0, 100}, {0.01, 1000}};
    Say("Pacing, one input module polled continuously by the reference host:\n");
    for (const auto& run : kRuns) {
        if (!AdmitExtension()) {
            Say("  the extension was not admitted\n");
            return;
        }
        SimCard_SetTracing(0);
        PacedResult result = {};
        MarkStolenTime();
        RunPaced(run.ms, run.block, seconds, &result);
        DismissExtension();
        ReportPaced(run.ms, run.block, seconds, &result);
        SayStolenTime();
    }
    Say("\n");
}
