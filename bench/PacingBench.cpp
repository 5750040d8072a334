/*
 * Pacing of a run against the clock that decides it: one input module in the
 * reference host, polled continuously as a host's idle loop would, each block
 * due when GetTickCount reaches the run's start tick plus the block's end.
 * Counted exactly, whatever the machine's speed: blocks released before their
 * due tick, and polls that found a block due and did not release it. Measured:
 * how GetTickCount steps while polling, how long after the tick first showed a
 * block due it went out (in real time, the performance counter), beside how
 * long idle polls took during which the tick moved (the machine's own stalls
 * at a tick), and the mean rate over the run.
 */
#include "Bench.h"

#include "sim/card/SimCard.h"

#include <algorithm>
#include <cmath>
#include <vector>

#define RATE_TOLERANCE     0.001
#define PUMP_EVERY_TICKS   10u
#define MAX_PACED_CHANNELS 8u

static void PumpMessages(void) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

struct PacedChannel {
    void* channel;               /* the host's output channel the blocks go to */
    unsigned long long released; /* blocks so far */
    double dueSeen;              /* first poll that read the next block's due tick; < 0 none */
};

/* One run's state; the release service below writes into it. */
static struct {
    double ms;
    DWORD blockSize;
    DWORD startTick; /* the host's dwExperimentStartTimeTicks */
    unsigned channels;
    PacedChannel channel[MAX_PACED_CHANNELS];
    unsigned long long early;
    unsigned long long missed;
    unsigned long long filled;      /* blocks handed out to be filled */
    std::vector<long> tickLateness; /* release tick minus due tick, ms */
    std::vector<double> response;   /* first pass that could see the due tick to the release, s */
    double passStart;               /* performance counter before the pass going on, s */
    std::vector<double> firstChannelReleases; /* performance counter, s */
} s_run;

/* The tick at which block `blocks` (1 = the first) ends, with the extension's
   arithmetic: the end's milliseconds truncated, in 32-bit wrap-around. */
static DWORD DueTick(unsigned long long blocks) {
    double elapsed = std::trunc(static_cast<double>(blocks * s_run.blockSize) * s_run.ms);
    return s_run.startTick +
           static_cast<DWORD>(static_cast<unsigned long long>(std::fmod(elapsed, 4294967296.0)));
}

static int TickReached(DWORD tick, DWORD due) {
    return static_cast<LONG>(tick - due) >= 0;
}

/* NewReleaseOutputBlock as the extension calls it: the clock is read at the
   very moment of the release, then the call goes on to the reference host. */
static void WINAPI ReleaseAndTime(void* outputChannel, const char* sourceFile, int line) {
    DWORD tick = GetTickCount();
    double now = Seconds();
    for (unsigned i = 0; i < s_run.channels; ++i) {
        PacedChannel& c = s_run.channel[i];
        if (c.channel != outputChannel)
            continue;
        DWORD due = DueTick(++c.released);
        if (!TickReached(tick, due)) {
            ++s_run.early;
        } else {
            s_run.tickLateness.push_back(static_cast<LONG>(tick - due));
            /* A tick that moved during this pass was not there at its start:
               the pass's start bounds the moment it moved. */
            s_run.response.push_back(now - (c.dueSeen >= 0 ? c.dueSeen : s_run.passStart));
        }
        c.dueSeen = -1.0;
        if (i == 0)
            s_run.firstChannelReleases.push_back(now);
        break;
    }
    HostBlockServices()->newReleaseOutputBlock(outputChannel, sourceFile, line);
}

static void* WINAPI HostOutputBlock(void* outputChannel) {
    void* block = HostBlockServices()->getCurrentOutputBlock(outputChannel);
    s_run.filled += block != nullptr;
    return block;
}

static void* WINAPI HostInputBlock(void* moduleRecord, UINT input) {
    return HostBlockServices()->getInputBlock(moduleRecord, input);
}

static void WINAPI ReleaseHostInputBlock(void* moduleRecord, UINT input, const char* sourceFile,
                                         int line) {
    HostBlockServices()->newReleaseInputBlock(moduleRecord, input, sourceFile, line);
}

struct PollFigures {
    std::vector<DWORD> steps; /* distinct increments of GetTickCount seen between polls */
    unsigned long long polls;
    /* How long the idle polls took (no block filled or released, no
       messages pumped) during which the tick moved: what the machine does
       at a tick, whatever the pass does. */
    std::vector<double> idleMoveGaps;
    double longestGap; /* seconds between the starts of two polls */
    double seconds;
};

static void Poll(double seconds, PollFigures* figures) {
    DWORD lastTick = GetTickCount();
    DWORD lastPump = lastTick;
    double t0 = Seconds();
    double lastPoll = t0;
    int lastIdle = 0;
    int dueBefore[MAX_PACED_CHANNELS];
    unsigned long long releasedBefore[MAX_PACED_CHANNELS];
    for (;;) {
        /* Read before the pass: the pass reads the tick after this, so a block
           this read finds due must go out in this pass. */
        DWORD tick = GetTickCount();
        double now = Seconds();
        if (now - t0 >= seconds || RefHost_StopRequested())
            break;
        ++figures->polls;
        if (now - lastPoll > figures->longestGap)
            figures->longestGap = now - lastPoll;
        if (tick != lastTick) {
            figures->steps.push_back(tick - lastTick);
            lastTick = tick;
            if (lastIdle)
                figures->idleMoveGaps.push_back(now - lastPoll);
        }
        lastPoll = now;
        s_run.passStart = now;
        unsigned long long filledBefore = s_run.filled;
        for (unsigned i = 0; i < s_run.channels; ++i) {
            PacedChannel& c = s_run.channel[i];
            releasedBefore[i] = c.released;
            dueBefore[i] = TickReached(tick, DueTick(c.released + 1));
            if (dueBefore[i] && c.dueSeen < 0)
                c.dueSeen = now;
        }
        RefHost_ProcessAll();
        lastIdle = s_run.filled == filledBefore;
        for (unsigned i = 0; i < s_run.channels; ++i) {
            if (dueBefore[i] && s_run.channel[i].released == releasedBefore[i])
                ++s_run.missed;
            if (s_run.channel[i].released != releasedBefore[i])
                lastIdle = 0;
        }
        if (tick - lastPump >= PUMP_EVERY_TICKS) {
            PumpMessages();
            lastPump = tick;
            lastIdle = 0;
        }
    }
    figures->seconds = Seconds() - t0;
}

/* A probe makes the counters fire, to show they can: the host withholds its
   blocks (every due poll is then a miss), or the bench takes the start tick
   as later than the host's (every release then looks early). */
enum Probe { PROBE_NONE, PROBE_WITHHELD_BLOCKS, PROBE_LATE_START };
#define PROBE_LATE_START_MS 1000u

static int RunPaced(double ms, DWORD blockSize, unsigned channels, double seconds,
                    PollFigures* figures, Probe probe = PROBE_NONE) {
    static const BlockServices kTimedRelease = {HostOutputBlock, ReleaseAndTime, HostInputBlock,
                                                ReleaseHostInputBlock};
    if (!AdmitExtensionWith(&kTimedRelease))
        return 0;
    SimCard_SetTracing(0);
    RefModule* module = RestoreBenchModule(1, 1, 0, channels);
    ModuleRecord* record = module ? RefModule_Record(module) : nullptr;
    int started = record && RefHost_StartExperiment(ms, blockSize);
    const DWORD* hostStart =
        static_cast<const DWORD*>(RefHost_VariableAddress("dwExperimentStartTimeTicks"));
    if (started && hostStart) {
        s_run.ms = ms;
        s_run.blockSize = blockSize;
        s_run.startTick = *hostStart + (probe == PROBE_LATE_START ? PROBE_LATE_START_MS : 0u);
        s_run.channels = channels;
        for (unsigned i = 0; i < channels; ++i) {
            s_run.channel[i] = PacedChannel();
            s_run.channel[i].channel = record->outputChannels[i];
            s_run.channel[i].dueSeen = -1.0;
        }
        size_t expected = static_cast<size_t>(seconds * 1000.0 / (ms * blockSize) + 16) * channels;
        s_run.tickLateness.reserve(expected);
        s_run.response.reserve(expected);
        s_run.firstChannelReleases.reserve(expected);
        RefHost_WithholdOutputBlocks(probe == PROBE_WITHHELD_BLOCKS);
        Poll(seconds, figures);
        RefHost_WithholdOutputBlocks(0);
        RefHost_StopExperiment();
    }
    s_run.channels = 0;
    DismissExtension();
    return started && hostStart;
}

/* The least-squares slope of release time against block number, in seconds
   per block; 0 with fewer than two releases. */
static double ReleaseSlope(const std::vector<double>& times, double* span) {
    size_t n = times.size();
    *span = n > 1 ? times[n - 1] - times[0] : 0;
    if (n < 2)
        return 0;
    double meanIndex = (static_cast<double>(n) - 1) / 2, meanTime = 0;
    for (double t : times)
        meanTime += t - times[0];
    meanTime /= static_cast<double>(n);
    double covariance = 0, variance = 0;
    for (size_t i = 0; i < n; ++i) {
        double di = static_cast<double>(i) - meanIndex;
        covariance += di * (times[i] - times[0] - meanTime);
        variance += di * di;
    }
    return covariance / variance;
}

/* Of sorted values; share 1 is the largest. */
template <typename T> static T Percentile(const std::vector<T>& sorted, double share) {
    if (sorted.empty())
        return T();
    size_t i = static_cast<size_t>(std::ceil(share * static_cast<double>(sorted.size())));
    return sorted[i ? i - 1 : 0];
}

/* The share of sorted values at or below the limit. */
static double ShareWithin(const std::vector<double>& sorted, double limit) {
    if (sorted.empty())
        return 0;
    size_t n =
        static_cast<size_t>(std::upper_bound(sorted.begin(), sorted.end(), limit) - sorted.begin());
    return static_cast<double>(n) / static_cast<double>(sorted.size());
}

static void ReportPaced(double ms, DWORD blockSize, unsigned channels, PollFigures* f) {
    std::sort(f->steps.begin(), f->steps.end());
    std::sort(f->idleMoveGaps.begin(), f->idleMoveGaps.end());
    std::sort(s_run.tickLateness.begin(), s_run.tickLateness.end());
    std::sort(s_run.response.begin(), s_run.response.end());
    unsigned long long released = 0;
    for (unsigned i = 0; i < channels; ++i)
        released += s_run.channel[i].released;
    Say("  %.2f ms per sample, block %lu (a block every %.0f ms), %u channel%s, %.0f s: "
        "%llu blocks released\n",
        ms, static_cast<unsigned long>(blockSize), ms * blockSize, channels,
        channels == 1 ? "" : "s", f->seconds, released);
    Say("    released before GetTickCount reached their due tick: %6llu   (target 0)  %s\n",
        s_run.early, s_run.early == 0 && released ? "met" : "MISSED");
    Say("    polls that read a due tick and released nothing:      %6llu   (target 0)  %s\n",
        s_run.missed, s_run.missed == 0 && released ? "met" : "MISSED");
    Say("    GetTickCount step while polling: median %lu ms, max %lu ms (%u steps over %llu "
        "polls)\n",
        static_cast<unsigned long>(Percentile(f->steps, 0.5)),
        static_cast<unsigned long>(Percentile(f->steps, 1.0)),
        static_cast<unsigned>(f->steps.size()), f->polls);
    Say("    release tick - due tick (the tick's own steps): median %ld ms, max %ld ms\n",
        Percentile(s_run.tickLateness, 0.5), Percentile(s_run.tickLateness, 1.0));
    Say("    real time from the tick showing the block due to its release, at most: median "
        "%.3f ms, 99%% %.3f ms, max %.3f ms; within 1 ms: %.1f%%\n",
        Percentile(s_run.response, 0.5) * 1000, Percentile(s_run.response, 0.99) * 1000,
        Percentile(s_run.response, 1.0) * 1000, ShareWithin(s_run.response, 0.001) * 100);
    Say("    an idle poll during which the tick moved took: median %.3f ms, 99%% %.3f ms, "
        "max %.3f ms; within 1 ms: %.1f%% (%u such polls)\n",
        Percentile(f->idleMoveGaps, 0.5) * 1000, Percentile(f->idleMoveGaps, 0.99) * 1000,
        Percentile(f->idleMoveGaps, 1.0) * 1000, ShareWithin(f->idleMoveGaps, 0.001) * 100,
        static_cast<unsigned>(f->idleMoveGaps.size()));
    Say("    (a poll every %.4f ms on average, the longest gap between two polls %.1f ms)\n",
        f->polls ? f->seconds / static_cast<double>(f->polls) * 1000 : 0.0, f->longestGap * 1000);
    /* Each release is late by up to one step of the tick; a straight line
       through all of the first channel's release times averages that out,
       where the first and last alone would be off by up to a step. */
    double span = 0, secondsPerBlock = ReleaseSlope(s_run.firstChannelReleases, &span);
    double nominal = 1000.0 / ms;
    double achieved = secondsPerBlock > 0 ? blockSize / secondsPerBlock : 0;
    double deviation = (achieved - nominal) / nominal;
    Say("    mean rate %.2f samples/s against %.2f: %+.4f%% (line through %u release times over "
        "%.1f s)  (target +/-0.1%%)  %s\n",
        achieved, nominal, deviation * 100,
        static_cast<unsigned>(s_run.firstChannelReleases.size()), span,
        TimeVerdict(achieved > 0 && std::fabs(deviation) <= RATE_TOLERANCE));
}

static void ResetRun(void) {
    s_run.early = s_run.missed = s_run.filled = 0;
    s_run.tickLateness.clear();
    s_run.response.clear();
    s_run.firstChannelReleases.clear();
}

static void CheckCounters(void) {
    PollFigures figures = {};
    ResetRun();
    RunPaced(1.0, 10, 1, 1.0, &figures, PROBE_WITHHELD_BLOCKS);
    unsigned long long missed = s_run.missed;
    ResetRun();
    figures = PollFigures();
    RunPaced(1.0, 10, 1, 1.0, &figures, PROBE_LATE_START);
    unsigned long long early = s_run.early;
    unsigned long long released = s_run.channel[0].released;
    Say("  the counters themselves, 1 s each at 1 ms per sample, block 10: with the host's blocks "
        "withheld, %llu polls counted as missed releases (must be > 0); with the bench's start "
        "tick %u ms late, %llu of %llu releases counted as early (must be all)  %s\n",
        missed, PROBE_LATE_START_MS, early, released,
        missed > 0 && released > 0 && early == released ? "they work" : "COUNTERS BROKEN");
    ResetRun();
}

void BenchPacing(double seconds) {
    static const struct {
        double ms;
        DWORD block;
        unsigned channels;
    } kRuns[] = {{1.0, 100, 1}, {0.01, 1000, 3}};
    Say("Pacing against GetTickCount: one input module polled continuously through the reference "
        "host\n");
    for (const auto& run : kRuns) {
        PollFigures figures = {};
        ResetRun();
        MarkStolenTime();
        if (!RunPaced(run.ms, run.block, run.channels, seconds, &figures)) {
            Say("  the extension was not admitted, or the run did not start\n");
            return;
        }
        ReportPaced(run.ms, run.block, run.channels, &figures);
        SayStolenTime();
    }
    CheckCounters();
    Say("\n");
}
