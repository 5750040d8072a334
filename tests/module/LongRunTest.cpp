/*
 * Runs that last days: the tick count's wrap after 49.7 days and a channel's
 * 32-bit sample count wrapping, both reached through the tick seam and a
 * channel state set as a long run leaves it. Blocks must keep coming one per
 * block time, neither in a burst nor after a stall, with start times that only
 * grow.
 */
#include "ModuleHarness.h"

#include "module/Process.h"

#include <vector>

#define LONG_RUN_CHANNELS 2u

struct Release {
    DWORD tick;
    double startTime;
};

class LongRun : public HostedExtension {
  protected:
    RefModule* module = nullptr;
    std::vector<Release> releases[LONG_RUN_CHANNELS];
    size_t seenBefore[LONG_RUN_CHANNELS] = {};

    void SetUp() override {
        HostedExtension::SetUp();
        SimCard_SetTracing(0); /* days of reads would only fill the trace */
        module = Restore(1, 1, 0, LONG_RUN_CHANNELS);
        ASSERT_NE(nullptr, module);
    }

    /* Puts every channel where a run that has produced `samples` leaves it,
       with the tick at that moment, before the first pass. */
    void JumpTo(unsigned long long samples, DWORD startTick, double ms) {
        ModuleRecord* record = RefModule_Record(module);
        for (UINT ch = 0; ch < LONG_RUN_CHANNELS; ++ch)
            record->channelStates[ch]->sampleCount = static_cast<DWORD>(samples);
        g_fakeTick = startTick + DueOffset(samples, ms);
    }

    /* Polls twice per millisecond, as a host that loops without pause does,
       noting the tick of every release. */
    void PollFor(DWORD milliseconds) {
        for (DWORD t = 0; t <= milliseconds; ++t, ++g_fakeTick) {
            for (int poll = 0; poll < 2; ++poll) {
                RefHost_ProcessAll();
                NoteReleases();
            }
        }
    }

    void NoteReleases() {
        for (UINT ch = 0; ch < LONG_RUN_CHANNELS; ++ch) {
            size_t kept = RefHost_ReleasedBlockCount(module, ch);
            while (seenBefore[ch] + releases[ch].size() < kept) {
                const DataBlock* block =
                    RefHost_ReleasedBlock(module, ch, seenBefore[ch] + releases[ch].size());
                releases[ch].push_back({g_fakeTick, block->startTime});
            }
        }
    }

    /* The host frees the blocks of the previous run at a start. */
    void StartRun(DWORD tick, double ms, DWORD block) {
        for (UINT ch = 0; ch < LONG_RUN_CHANNELS; ++ch) {
            seenBefore[ch] = 0;
            releases[ch].clear();
        }
        g_fakeTick = tick;
        Start(ms, block);
    }

    void ForgetReleases() {
        for (UINT ch = 0; ch < LONG_RUN_CHANNELS; ++ch) {
            seenBefore[ch] += releases[ch].size();
            releases[ch].clear();
        }
    }

    /* Block k (from 1) of a run whose first pass saw `first` samples already
       produced is due when its last sample's time has come. */
    void ExpectPaced(DWORD startTick, unsigned long long first, double ms, DWORD block) {
        for (UINT ch = 0; ch < LONG_RUN_CHANNELS; ++ch) {
            SCOPED_TRACE(ch);
            ASSERT_GE(releases[ch].size(), 3u);
            for (size_t k = 0; k < releases[ch].size() && !HasFailure(); ++k) {
                unsigned long long end = first + (k + 1) * block;
                EXPECT_EQ(startTick + DueOffset(end, ms), releases[ch][k].tick) << "block " << k;
                EXPECT_DOUBLE_EQ(static_cast<double>(end - block) * (ms * 0.001),
                                 releases[ch][k].startTime)
                    << "block " << k;
                if (k > 0) {
                    EXPECT_GT(releases[ch][k].startTime, releases[ch][k - 1].startTime);
                }
            }
        }
    }
};

static const struct {
    const char* what;
    DWORD startTick;
    unsigned long long samplesBefore;
    double ms;
    DWORD block;
} kLongRuns[] = {
    {"tick wraps at 1 ms", 0xFFFFFF00u, 0, 1.0, 50},
    {"tick wraps at 10 us", 0xFFFFFFF0u, 0, 0.01, 1000},
    {"tick crosses 2^31", 0x7FFFFFE0u, 0, 1.0, 25},
    {"count wraps at 10 us, after 11.9 hours", 1000, 0xFFFFFFFFull - 2500, 0.01, 1000},
    {"count wraps at 1 us, after 72 minutes", 1000, 0xFFFFFFFFull - 70000, 0.001, 65535},
    {"count wraps at 1 ms with the tick", 0, 0xFFFFFFFFull - 120, 1.0, 100},
    {"count wraps a second time at 10 us", 1000, 0x1FFFFFFFFull - 1500, 0.01, 1000},
};

TEST_F(LongRun, BlocksKeepTheirPaceAcrossEveryWrap) {
    for (const auto& run : kLongRuns) {
        SCOPED_TRACE(run.what);
        StartRun(run.startTick, run.ms, run.block);
        if (run.samplesBefore >> 32) {
            /* A second wrap needs the first counted: run up to it and past. */
            JumpTo(0xFFFFFFFFull - run.block / 2, run.startTick, run.ms);
            PollFor(static_cast<DWORD>(run.block * run.ms * 2) + 1);
            ForgetReleases();
            /* The block filled meanwhile is dropped; the host hands it out again. */
            ModuleRecord* record = RefModule_Record(module);
            for (UINT ch = 0; ch < LONG_RUN_CHANNELS; ++ch)
                record->channelStates[ch]->pending = 0;
        }
        JumpTo(run.samplesBefore, run.startTick, run.ms);
        PollFor(static_cast<DWORD>(run.block * run.ms * 5));
        ExpectPaced(run.startTick, run.samplesBefore, run.ms, run.block);
        RefHost_StopExperiment();
    }
}

TEST_F(LongRun, ANewRunForgetsThePreviousRunsWraps) {
    StartRun(1000, 0.01, 1000);
    JumpTo(0xFFFFFFFFull - 500, 1000, 0.01);
    PollFor(30);
    RefHost_StopExperiment();

    StartRun(5000, 0.01, 1000);
    PollFor(50);
    ExpectPaced(5000, 0, 0.01, 1000);
}
