/*
 * What the live view costs a run: a loopback worksheet (an output module
 * driving eight patterns out of socket 0 port B, an input module reading them
 * back through the simulator's cable on socket 1 port A) run by the reference
 * host's own paced run, the same run with the live view closed and open. Each
 * of the input module's releases is timed against GetTickCount, the clock the
 * extension paces by: releases before their due tick (must be none), how late
 * the others went out, the blocks delivered against the nominal count for the
 * run's time, and the mean rate between the first and the last release.
 */
#include "Bench.h"

#include "sim/host/LiveView.h"

#include <cmath>
#include <cstdio>
#include <vector>

#define LIVE_BENCH_CHANNELS 8u

static struct {
    double ms;
    DWORD blockSize;
    const DWORD* startTick; /* the host's dwExperimentStartTimeTicks */
    void* channel[LIVE_BENCH_CHANNELS];
    unsigned long long released[LIVE_BENCH_CHANNELS];
    unsigned long long early;
    unsigned long long measured;
    double lateSum;
    long lateMax;
    double firstRelease; /* performance counter of channel 0's first and last release, s */
    double lastRelease;
} s_live;

/* The due tick of a channel's n-th block with the extension's arithmetic: the
   block's end in milliseconds, truncated, in 32-bit wrap-around. */
static DWORD LiveDueTick(unsigned long long blocks) {
    double elapsed = std::trunc(static_cast<double>(blocks * s_live.blockSize) * s_live.ms);
    return *s_live.startTick +
           static_cast<DWORD>(static_cast<unsigned long long>(std::fmod(elapsed, 4294967296.0)));
}

static void WINAPI TimeRelease(void* outputChannel, const char* sourceFile, int line) {
    DWORD tick = GetTickCount();
    double now = Seconds();
    for (unsigned k = 0; s_live.startTick && k < LIVE_BENCH_CHANNELS; ++k) {
        if (s_live.channel[k] != outputChannel)
            continue;
        LONG late = static_cast<LONG>(tick - LiveDueTick(++s_live.released[k]));
        if (late < 0) {
            ++s_live.early;
        } else {
            ++s_live.measured;
            s_live.lateSum += late;
            s_live.lateMax = late > s_live.lateMax ? late : s_live.lateMax;
        }
        if (k == 0) {
            if (s_live.released[0] == 1)
                s_live.firstRelease = now;
            s_live.lastRelease = now;
        }
        break;
    }
    HostBlockServices()->newReleaseOutputBlock(outputChannel, sourceFile, line);
}

static void* WINAPI PassOutputBlock(void* outputChannel) {
    return HostBlockServices()->getCurrentOutputBlock(outputChannel);
}

static void* WINAPI PassInputBlock(void* moduleRecord, UINT input) {
    return HostBlockServices()->getInputBlock(moduleRecord, input);
}

static void WINAPI PassReleaseInputBlock(void* moduleRecord, UINT input, const char* sourceFile,
                                         int line) {
    HostBlockServices()->newReleaseInputBlock(moduleRecord, input, sourceFile, line);
}

static RefModule* LoopModule(const char* name, WORD socket, DWORD port, DWORD inputs,
                             DWORD outputs) {
    ModuleSettings settings = {};
    for (unsigned k = 0; k < LIVE_BENCH_CHANNELS; ++k)
        snprintf(settings.channelNames[k], sizeof settings.channelNames[k], "ビット %u", k);
    settings.socket = socket;
    settings.port = port;
    return RefHost_RestoreModule(name, "", inputs, outputs, &settings);
}

#define PAINT_SAMPLES 21u

/* What one paint of the view's frame costs, window and all: the median of a
   few, each forced through WM_PAINT at once. */
static double PaintMilliseconds(void) {
    HWND view = LiveView_Window();
    if (!view)
        return 0.0;
    double times[PAINT_SAMPLES];
    for (unsigned i = 0; i < PAINT_SAMPLES; ++i) {
        double t0 = Seconds();
        RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        times[i] = (Seconds() - t0) * 1000.0;
    }
    return Median(times, PAINT_SAMPLES);
}

/* One run; 0 when the extension was not admitted or the run refused. */
static int RunLoop(double ms, DWORD blockSize, double seconds, int viewOpen) {
    static const BlockServices kTimed = {PassOutputBlock, TimeRelease, PassInputBlock,
                                         PassReleaseInputBlock};
    if (!AdmitExtensionWith(&kTimed))
        return 0;
    s_live = {};
    s_live.ms = ms;
    s_live.blockSize = blockSize;
    RefModule* writer = LoopModule("writer B", 0, 1, LIVE_BENCH_CHANNELS, 0);
    RefModule* reader = LoopModule("reader A", 1, 0, 0, LIVE_BENCH_CHANNELS);
    int ran = 0;
    if (writer && reader) {
        for (unsigned k = 0; k < LIVE_BENCH_CHANNELS; ++k)
            s_live.channel[k] = RefModule_Record(reader)->outputChannels[k];
        s_live.startTick =
            static_cast<const DWORD*>(RefHost_VariableAddress("dwExperimentStartTimeTicks"));
        if (viewOpen)
            LiveView_Open(RefHost_MainWindow());
        RunOptions options;
        RefHost_DefaultRunOptions(&options);
        options.millisecondsPerSample = ms;
        options.blockSize = blockSize;
        options.seconds = seconds;
        RunReport report;
        ran = RefHost_Run(&options, &report) && s_live.startTick;
        unsigned long paints = LiveView_PaintCount();
        double paintMs = viewOpen ? PaintMilliseconds() : 0.0;
        LiveView_Close();
        if (ran) {
            /* The nominal count for the run's time, as the run's own summary
               counts it: below 99 % the run fell behind. */
            unsigned long long nominal =
                static_cast<unsigned long long>(report.seconds * 1000.0 / (ms * blockSize));
            double span = s_live.lastRelease - s_live.firstRelease;
            double rate = s_live.released[0] > 1 && span > 0
                              ? static_cast<double>((s_live.released[0] - 1) * blockSize) / span
                              : 0.0;
            double nominalRate = 1000.0 / ms;
            Say("  view %-6s %.2f ms per sample, block %lu, %.1f s: early %llu, lateness mean "
                "%.2f ms max %ld ms; channel 0 delivered %llu of %llu nominal blocks (%.1f%%); "
                "mean rate "
                "%.1f samples/s (%+.3f%%)\n",
                viewOpen ? "open," : "closed,", ms, static_cast<unsigned long>(blockSize),
                report.seconds, s_live.early,
                s_live.measured ? s_live.lateSum / static_cast<double>(s_live.measured) : 0.0,
                s_live.lateMax, s_live.released[0], nominal,
                nominal ? 100.0 * static_cast<double>(s_live.released[0]) / nominal : 0.0, rate,
                rate > 0 ? (rate - nominalRate) / nominalRate * 100 : 0.0);
            if (viewOpen)
                Say("    (the view painted %lu times during the run; a paint of its last frame "
                    "takes %.1f ms, the median of %u)\n",
                    paints, paintMs, PAINT_SAMPLES);
        }
    }
    s_live.startTick = nullptr;
    DismissExtension();
    return ran;
}

void BenchLiveView(double seconds) {
    static const struct {
        double ms;
        DWORD block;
    } kRuns[] = {{1.0, 100}, {0.1, 100}};
    Say("Live view: a loopback run of 8 channels each way, input releases against GetTickCount\n");
    for (const auto& run : kRuns) {
        for (int open = 0; open <= 1; ++open) {
            MarkStolenTime();
            if (!RunLoop(run.ms, run.block, seconds, open)) {
                Say("  the extension was not admitted, or the run did not start\n");
                return;
            }
            SayStolenTime();
        }
    }
    Say("\n");
}
