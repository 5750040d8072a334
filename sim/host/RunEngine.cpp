/*
 * The paced experiment run: real time drives it. Each round pumps the thread's
 * messages (the card-removal notice reaches the extension this way), feeds the
 * inputs of output modules from their patterns when a block is due, calls every
 * process function, and shows one progress line. Input modules' released blocks
 * and the fed blocks go to the recorder; the delay between a block's due tick
 * and its release is measured. Pauses hold the clock: the start tick moves on by
 * the pause, so sample times stay continuous.
 */
#include "sim/host/HostInternal.h"
#include "sim/host/Recorder.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#define PROGRESS_EVERY_MS 250u

static int s_active;
static int s_stopRequested;
static int s_pauseRequested;
static int s_paused;
static RunReport* s_report;
static double s_lateSum;
static std::vector<float> s_feed;
static double s_maxLateMs = RUN_DEFAULT_MAX_LATE_MS;
static DWORD s_lastRoundTick; /* the tick of the last round that called the modules */
static int s_haveRound;
static int s_lastFellBehind;

/* What one input module released in the run. */
struct ModuleTally {
    RefModule* module;
    unsigned long long samples[MODULE_OUTPUT_SLOTS];
    unsigned long long blocks;
    unsigned long long lateCount; /* releases measured */
    unsigned long long lateReleases;
    double lateSum;
    long lateMax;
};
static std::vector<ModuleTally> s_tallies;
static unsigned long long s_frozenNominal; /* the nominal count once the run ended */
static int s_frozen;

/* Per module, sized before the first pass so the passes only copy into it. */
static std::vector<RunLiveModule> s_live;
static std::vector<unsigned long long> s_liveNextSample; /* per module and channel */

void RefHost_DefaultRunOptions(RunOptions* options) {
    std::memset(options, 0, sizeof *options);
    options->millisecondsPerSample = RefHost_WorksheetRate();
    options->blockSize = RefHost_WorksheetBlockSize();
    options->seconds = 2.0;
    options->pullSocket = -1;
    options->maxLateMs = RUN_DEFAULT_MAX_LATE_MS;
}

void RefHost_RequestRunStop(void) {
    s_stopRequested = 1;
}

void RefHost_RequestRunPause(int paused) {
    s_pauseRequested = paused ? 1 : 0;
}

int RefHost_RunPaused(void) {
    return s_paused;
}

int RefHost_RunActive(void) {
    return s_active;
}

const RunReport* RefHost_RunProgress(void) {
    return s_report;
}

const char* RefHost_RunEndText(RunEnd end) {
    switch (end) {
    case RUN_REFUSED:
        return "a module refused the start";
    case RUN_DURATION:
        return "the time was up";
    case RUN_BLOCKS:
        return "every channel moved its blocks";
    case RUN_STOPPED_BY_MODULE:
        return "the extension stopped the experiment";
    case RUN_STOPPED_BY_USER:
        return "stopped by the user";
    }
    return "?";
}

static int IsInputModule(const RefModule* module) {
    return module->record.inputCount == 0 && module->record.outputCount > 0;
}

/* A channel name as stored, cut at its slot even when the slot lacks a terminator. */
static void ChannelName(const RefModule* module, unsigned k, const char* fallback, char* name,
                        size_t size) {
    char slot[CHANNEL_NAME_SLOT + 1];
    slot[0] = 0;
    if (k < CHANNEL_POSITIONS && module->record.settings) {
        std::memcpy(slot, module->record.settings->channelNames[k], CHANNEL_NAME_SLOT);
        slot[CHANNEL_NAME_SLOT] = 0;
    }
    if (slot[0]) {
        CopyText(name, slot, size);
    } else {
        std::snprintf(name, size, "%s%u", fallback, k);
    }
}

/* The recorder channel of each fed input: module index * REF_MAX_INPUTS + input. */
static std::vector<int> s_fedChannels;

/* Input modules' outputs and output modules' inputs become recorder channels,
   in module order, for modules that record. */
static void DeclareChannels(void) {
    Recorder_End();
    Recorder_Begin();
    size_t count = RefHost_ModuleCount();
    s_fedChannels.assign(count * REF_MAX_INPUTS, -1);
    for (size_t m = 0; m < count; ++m) {
        RefModule* module = RefHost_Module(m);
        char name[MODULE_NAME_BYTES + 1];
        CopyText(name, module->record.name, sizeof name);
        for (unsigned k = 0; k < MODULE_OUTPUT_SLOTS; ++k) {
            module->outputs[k].recorderChannel = -1;
        }
        if (!module->recordOutputs) {
            continue;
        }
        char channel[CHANNEL_NAME_SLOT + 8];
        if (IsInputModule(module)) {
            for (unsigned k = 0; k < module->record.outputCount && k < MODULE_OUTPUT_SLOTS; ++k) {
                ChannelName(module, k, "out ", channel, sizeof channel);
                module->outputs[k].recorderChannel = Recorder_AddChannel(name, channel);
            }
        } else {
            for (unsigned i = 0; i < module->record.inputCount && i < REF_MAX_INPUTS; ++i) {
                ChannelName(module, i, "in ", channel, sizeof channel);
                s_fedChannels[m * REF_MAX_INPUTS + i] = Recorder_AddChannel(name, channel);
            }
        }
    }
}

static ModuleTally* TallyOf(const RefModule* module) {
    for (size_t i = 0; i < s_tallies.size(); ++i) {
        if (s_tallies[i].module == module) {
            return &s_tallies[i];
        }
    }
    return nullptr;
}

static void BeginTallies(void) {
    s_tallies.clear();
    s_frozen = 0;
    s_frozenNominal = 0;
    s_haveRound = 0;
    for (size_t m = 0; m < RefHost_ModuleCount(); ++m) {
        RefModule* module = RefHost_Module(m);
        if (IsInputModule(module)) {
            ModuleTally tally;
            std::memset(&tally, 0, sizeof tally);
            tally.module = module;
            s_tallies.push_back(tally);
        }
    }
}

/* Samples per channel in the whole blocks due by the last round that called
   the modules: a block is released at the round that finds it due, so one due
   after that round cannot be asked for. Pauses moved the start tick on. */
static unsigned long long NominalSamples(void) {
    if (s_frozen) {
        return s_frozenNominal;
    }
    double blockMs = HostMillisecondsPerSample() * HostBlockSize();
    if (!s_haveRound || !(blockMs > 0.0)) {
        return 0;
    }
    LONG elapsed = static_cast<LONG>(s_lastRoundTick - HostStartTicks());
    if (elapsed <= 0) {
        return 0;
    }
    double blocks = std::floor(static_cast<double>(elapsed) / blockMs + 1e-9);
    return static_cast<unsigned long long>(blocks) * HostBlockSize();
}

/* Returns the release's lateness in milliseconds, or 0 with *measured 0 when
   the block carries no time to measure it by. */
static long MeasureLateness(const DataBlock* block, int* measured) {
    *measured = 0;
    if (!(block->sampleDistance > 0.0)) {
        return 0;
    }
    double samplesAfter =
        std::floor(block->startTime / block->sampleDistance + 0.5) + block->sampleCount;
    double offset = samplesAfter * HostMillisecondsPerSample();
    if (!std::isfinite(offset) || offset < 0.0 || offset > 4.0e9) {
        return 0;
    }
    DWORD due = HostStartTicks() + static_cast<DWORD>(offset);
    long late = static_cast<long>(static_cast<LONG>(RefHost_BlockReleaseTick(block) - due));
    RunReport* report = s_report;
    if (report->lateCount == 0 || late > report->lateMaxMs) {
        report->lateMaxMs = late;
    }
    if (report->lateCount == 0 || late < report->lateMinMs) {
        report->lateMinMs = late;
    }
    ++report->lateCount;
    s_lateSum += late;
    report->lateMeanMs = s_lateSum / static_cast<double>(report->lateCount);
    if (static_cast<double>(late) > s_maxLateMs) {
        ++report->lateReleases;
    }
    *measured = 1;
    return late;
}

static void TallyRelease(const RefModule* module, UINT output, const DataBlock* block, long late,
                         int measured) {
    ModuleTally* tally = TallyOf(module);
    if (!tally) {
        return;
    }
    if (output < MODULE_OUTPUT_SLOTS) {
        tally->samples[output] += block->sampleCount;
    }
    ++tally->blocks;
    if (measured) {
        if (tally->lateCount == 0 || late > tally->lateMax) {
            tally->lateMax = late;
        }
        ++tally->lateCount;
        tally->lateSum += late;
        if (static_cast<double>(late) > s_maxLateMs) {
            ++tally->lateReleases;
        }
    }
}

static size_t ModuleIndex(const RefModule* module) {
    for (size_t m = 0; m < RefHost_ModuleCount() && m < s_live.size(); ++m) {
        if (RefHost_Module(m) == module) {
            return m;
        }
    }
    return s_live.size();
}

/* Appends samples to a ring of RUN_LIVE_SAMPLES; of a longer block only its
   end survives. written counts every sample ever appended. */
static void RingWrite(float* ring, unsigned long long* written, const float* samples,
                      size_t count) {
    size_t skip = count > RUN_LIVE_SAMPLES ? count - RUN_LIVE_SAMPLES : 0;
    *written += skip;
    for (size_t j = skip; j < count; ++j) {
        ring[*written % RUN_LIVE_SAMPLES] = samples[j];
        ++*written;
    }
}

/* Copies a block into the module's ring; a block whose first sample does not
   follow the channel's previous block counts as a failure. */
static void LiveNote(size_t m, unsigned channel, const DataBlock* block, const float* samples,
                     unsigned count, long late) {
    if (m >= s_live.size() || channel >= RUN_LIVE_CHANNELS) {
        return;
    }
    RunLiveModule& live = s_live[m];
    unsigned long long& next = s_liveNextSample[m * RUN_LIVE_CHANNELS + channel];
    if (block && block->sampleDistance > 0.0) {
        double first = std::floor(block->startTime / block->sampleDistance + 0.5);
        if (!(first >= 0.0) || static_cast<unsigned long long>(first) != next) {
            ++live.failures;
        }
        next = static_cast<unsigned long long>(first >= 0.0 ? first : 0.0) + count;
    }
    live.late += static_cast<double>(late) > s_maxLateMs;
    RingWrite(live.ring[channel], &live.written[channel], samples, count);
}

static void PrepareLive(void) {
    size_t count = RefHost_ModuleCount();
    s_live.assign(count, RunLiveModule());
    s_liveNextSample.assign(count * RUN_LIVE_CHANNELS, 0);
    for (size_t m = 0; m < count; ++m) {
        RefModule* module = RefHost_Module(m);
        s_live[m].output = !IsInputModule(module);
        DWORD channels = s_live[m].output ? module->record.inputCount : module->record.outputCount;
        s_live[m].channels = channels < RUN_LIVE_CHANNELS ? channels : RUN_LIVE_CHANNELS;
    }
}

const RunLiveModule* RefHost_RunLive(size_t m) {
    if (!s_active || m >= s_live.size() || m >= RefHost_ModuleCount()) {
        return nullptr;
    }
    RefModule* module = RefHost_Module(m);
    RunLiveModule& live = s_live[m];
    if (live.output) {
        live.blocks = 0;
        for (UINT i = 0; i < REF_MAX_INPUTS; ++i) {
            live.blocks += module->inputs[i].consumed;
        }
    } else {
        live.blocks = 0;
        for (UINT k = 0; k < live.channels; ++k) {
            live.blocks += module->outputs[k].releasedTotal;
        }
    }
    return &live;
}

static int RecordRelease(RefModule* module, UINT output, DataBlock* block) {
    ++s_report->blocksReleased;
    s_report->samplesReleased += block->sampleCount;
    int measured = 0;
    long late = MeasureLateness(block, &measured);
    TallyRelease(module, output, block, late, measured);
    LiveNote(ModuleIndex(module), output, block, BlockSamples(block), block->sampleCount, late);
    int channel = module->outputs[output].recorderChannel;
    if (channel >= 0) {
        Recorder_AddBlock(channel, block->startTime, block->sampleDistance, BlockSamples(block),
                          block->sampleCount);
    }
    return 0; /* a run keeps no blocks; the recorder has them */
}

static void ResetInputs(RefModule* module) {
    for (unsigned i = 0; i < REF_MAX_INPUTS; ++i) {
        RefInput& input = module->inputs[i];
        for (size_t b = 0; b < input.queue.size(); ++b) {
            FreeHostBlock(input.queue[b]);
        }
        input.queue.clear();
        input.frontHandedOut = 0;
        input.consumed = 0;
        input.samplesQueued = 0;
    }
}

/* One block for input i when the previous one was taken and its time has come. */
static void FeedInput(size_t m, RefModule* module, UINT i, DWORD now) {
    RefInput& input = module->inputs[i];
    if (!input.queue.empty()) {
        return;
    }
    double offset = static_cast<double>(input.samplesQueued) * HostMillisecondsPerSample();
    if (std::isfinite(offset) && offset >= 0.0 && offset < 4.0e9) {
        DWORD due = HostStartTicks() + static_cast<DWORD>(offset);
        if (static_cast<LONG>(now - due) < 0) {
            return;
        }
    }
    DWORD size = HostBlockSize();
    Pattern pattern;
    if (size == 0 || size > 65535u || !RefHost_InputPattern(module, i, &pattern)) {
        return;
    }
    s_feed.resize(size);
    for (DWORD j = 0; j < size; ++j) {
        s_feed[j] = Pattern_Value(&pattern, input.samplesQueued + j);
    }
    double start = static_cast<double>(input.samplesQueued) * HostMillisecondsPerSample() * 0.001;
    if (!RefHost_QueueInputBlock(module, i, s_feed.data(), size)) {
        return;
    }
    ++s_report->blocksFed;
    s_report->samplesFed += size;
    LiveNote(m, i, nullptr, s_feed.data(), size, 0);
    int channel = s_fedChannels[m * REF_MAX_INPUTS + i];
    if (channel >= 0) {
        Recorder_AddBlock(channel, start, HostMillisecondsPerSample() * 0.001, s_feed.data(), size);
    }
}

static void FeedAll(DWORD now) {
    for (size_t m = 0; m < RefHost_ModuleCount(); ++m) {
        RefModule* module = RefHost_Module(m);
        for (UINT i = 0; i < module->record.inputCount && i < REF_MAX_INPUTS; ++i) {
            FeedInput(m, module, i, now);
        }
    }
}

static unsigned long long TakenBlocks(void) {
    unsigned long long taken = 0;
    for (size_t m = 0; m < RefHost_ModuleCount(); ++m) {
        RefModule* module = RefHost_Module(m);
        for (UINT i = 0; i < REF_MAX_INPUTS; ++i) {
            taken += module->inputs[i].consumed;
        }
    }
    return taken;
}

/* Every channel of every module has moved at least blocks blocks. */
static int BlocksDone(unsigned long blocks) {
    for (size_t m = 0; m < RefHost_ModuleCount(); ++m) {
        RefModule* module = RefHost_Module(m);
        for (UINT k = 0;
             IsInputModule(module) && k < module->record.outputCount && k < MODULE_OUTPUT_SLOTS;
             ++k) {
            if (module->outputs[k].releasedTotal < blocks) {
                return 0;
            }
        }
        for (UINT i = 0; i < module->record.inputCount && i < REF_MAX_INPUTS; ++i) {
            if (module->inputs[i].consumed < blocks) {
                return 0;
            }
        }
    }
    return 1;
}

static int PumpMessages(void) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return 0;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 1;
}

static unsigned ChannelsReleasing(void) {
    unsigned channels = 0;
    for (size_t m = 0; m < RefHost_ModuleCount(); ++m) {
        RefModule* module = RefHost_Module(m);
        if (IsInputModule(module)) {
            channels += module->record.outputCount;
        }
    }
    return channels;
}

static void ShowProgress(const RunReport* report, double seconds, int paused) {
    unsigned channels = ChannelsReleasing();
    double perChannel = seconds > 0.0 && channels > 0
                            ? static_cast<double>(report->samplesReleased) / channels / seconds
                            : 0.0;
    RefHost_Print(stdout,
                  "\r%7.2f s  blocks in %llu out %llu  %.0f samples/s per channel  late avg %.1f "
                  "max %ld ms%s   ",
                  seconds, report->blocksReleased, report->blocksTaken, perChannel,
                  report->lateMeanMs, report->lateMaxMs, paused ? "  (paused)" : "");
    std::fflush(stdout);
}

static void PullCard(int socket) {
    const SimCalls* sim = SimLink();
    if (sim && socket >= 0) {
        sim->SimCard_Pull(static_cast<DWORD>(socket));
    }
}

struct RunClock {
    DWORD startTick;
    DWORD pausedMs;
    DWORD pauseBegan;
};

static double RunningSeconds(const RunClock& clock, DWORD now) {
    DWORD paused = clock.pausedMs + (s_paused ? now - clock.pauseBegan : 0u);
    return static_cast<double>(now - clock.startTick - paused) / 1000.0;
}

static void FollowPauseRequest(RunClock* clock, DWORD now) {
    if (s_pauseRequested == s_paused) {
        return;
    }
    s_paused = s_pauseRequested;
    RefHost_SetPaused(s_paused);
    if (s_paused) {
        clock->pauseBegan = now;
    } else {
        DWORD held = now - clock->pauseBegan;
        clock->pausedMs += held;
        ShiftStartTicks(held);
    }
}

static int RunEnded(const RunOptions* options, double seconds, RunEnd* end) {
    if (RefHost_StopRequested()) {
        *end = RUN_STOPPED_BY_MODULE;
    } else if (s_stopRequested) {
        *end = RUN_STOPPED_BY_USER;
    } else if (options->blocks > 0 && BlocksDone(options->blocks)) {
        *end = RUN_BLOCKS;
    } else if (options->seconds > 0.0 && seconds >= options->seconds) {
        *end = RUN_DURATION;
    } else {
        return 0;
    }
    return 1;
}

/* Pauses and card pulls the options schedule, once each. */
struct Schedule {
    int pulled;
    int pauseDone;
    DWORD pauseEnds;
};

static void FollowSchedule(const RunOptions* options, Schedule* schedule, double seconds,
                           DWORD now) {
    if (options->pullSocket >= 0 && !schedule->pulled && seconds >= options->pullAtSeconds) {
        schedule->pulled = 1;
        PullCard(options->pullSocket);
    }
    if (options->pauseAtSeconds > 0.0 && !schedule->pauseDone && !s_paused &&
        seconds >= options->pauseAtSeconds) {
        schedule->pauseDone = 1;
        schedule->pauseEnds = now + static_cast<DWORD>(options->pauseSeconds * 1000.0);
        s_pauseRequested = 1;
    } else if (schedule->pauseDone && s_paused && schedule->pauseEnds != 0 &&
               static_cast<LONG>(now - schedule->pauseEnds) >= 0) {
        schedule->pauseEnds = 0;
        s_pauseRequested = 0;
    }
}

static void RunRounds(const RunOptions* options, RunReport* report) {
    RunClock clock = {HostTick(), 0, 0};
    Schedule schedule = {0, 0, 0};
    DWORD lastProgress = clock.startTick;
    for (;;) {
        if (!PumpMessages()) {
            s_stopRequested = 1;
        }
        DWORD now = HostTick();
        FollowSchedule(options, &schedule, RunningSeconds(clock, now), now);
        FollowPauseRequest(&clock, now);
        double seconds = RunningSeconds(clock, now);
        report->seconds = seconds;
        if (RunEnded(options, seconds, &report->end)) {
            break;
        }
        unsigned long long before = report->blocksReleased + report->blocksFed;
        if (!s_paused) {
            FeedAll(now);
            RefHost_ProcessAll();
            report->blocksTaken = TakenBlocks();
            s_lastRoundTick = now;
            s_haveRound = 1;
        }
        if (options->progress && now - lastProgress >= PROGRESS_EVERY_MS) {
            lastProgress = now;
            ShowProgress(report, seconds, s_paused);
        }
        if (report->blocksReleased + report->blocksFed == before) {
            Sleep(1);
        }
    }
    if (options->progress) {
        ShowProgress(report, report->seconds, 0);
        RefHost_PrintText(stdout, "\n");
    }
}

size_t RefHost_RunModuleCount(void) {
    return s_tallies.size();
}

int RefHost_RunModuleResult(size_t i, RunModuleResult* result) {
    std::memset(result, 0, sizeof *result);
    if (i >= s_tallies.size()) {
        return 0;
    }
    const ModuleTally& tally = s_tallies[i];
    size_t index = 0;
    while (index < RefHost_ModuleCount() && RefHost_Module(index) != tally.module) {
        ++index;
    }
    if (index == RefHost_ModuleCount()) {
        return 0; /* deleted since the run */
    }
    result->moduleIndex = index;
    unsigned channels = tally.module->record.outputCount;
    result->channels = channels < MODULE_OUTPUT_SLOTS ? channels : MODULE_OUTPUT_SLOTS;
    for (unsigned k = 0; k < result->channels; ++k) {
        if (k == 0 || tally.samples[k] < result->samplesDelivered) {
            result->samplesDelivered = tally.samples[k];
        }
    }
    result->samplesNominal = NominalSamples();
    result->blocksReleased = tally.blocks;
    result->lateReleases = tally.lateReleases;
    result->lateMeanMs = tally.lateCount ? tally.lateSum / static_cast<double>(tally.lateCount) : 0;
    result->lateMaxMs = tally.lateMax;
    return 1;
}

static int DeliveredEnough(unsigned long long delivered, unsigned long long nominal) {
    return static_cast<double>(delivered) >= RUN_MIN_DELIVERED_SHARE * static_cast<double>(nominal);
}

/* The verdict over every input module, with the nominal count frozen at the
   run's last round. */
static void JudgePace(RunReport* report) {
    s_frozenNominal = NominalSamples();
    s_frozen = 1;
    report->samplesNominal = s_frozenNominal;
    report->fellBehind = report->lateReleases > 0;
    for (size_t i = 0; i < s_tallies.size(); ++i) {
        RunModuleResult result;
        if (!RefHost_RunModuleResult(i, &result)) {
            continue;
        }
        if (i == 0 || result.samplesDelivered < report->samplesDelivered) {
            report->samplesDelivered = result.samplesDelivered;
        }
        if (!DeliveredEnough(result.samplesDelivered, result.samplesNominal)) {
            report->fellBehind = 1;
        }
    }
    s_lastFellBehind = report->fellBehind;
}

int LastRunFellBehind(void) {
    return s_lastFellBehind;
}

int RefHost_Run(const RunOptions* options, RunReport* report) {
    std::memset(report, 0, sizeof *report);
    if (s_active || RefHost_ExperimentRunning()) {
        report->end = RUN_REFUSED;
        return 0;
    }
    s_active = 1;
    s_stopRequested = 0;
    s_pauseRequested = 0;
    s_paused = 0;
    s_report = report;
    s_lateSum = 0.0;
    s_maxLateMs = options->maxLateMs > 0.0 ? options->maxLateMs : RUN_DEFAULT_MAX_LATE_MS;
    s_lastFellBehind = 0;
    BeginTallies();
    int journaled = JournalBlockCalls();
    SetJournalBlockCalls(0);
    for (size_t m = 0; m < RefHost_ModuleCount(); ++m) {
        ResetInputs(RefHost_Module(m));
    }
    DeclareChannels();
    PrepareLive();
    ReleaseObserver previous = CurrentReleaseObserver();
    SetReleaseObserver(RecordRelease);
    int started = RefHost_StartExperiment(options->millisecondsPerSample, options->blockSize);
    if (started) {
        Loopback_Begin();
        RunRounds(options, report);
        Loopback_End();
        RefHost_StopExperiment();
        JudgePace(report);
    } else {
        report->end = RUN_REFUSED;
    }
    for (size_t m = 0; m < RefHost_ModuleCount(); ++m) {
        ResetInputs(RefHost_Module(m));
    }
    SetReleaseObserver(previous);
    SetJournalBlockCalls(journaled);
    s_paused = 0;
    s_active = 0;
    s_report = nullptr;
    return started;
}

static double Percent(unsigned long long part, unsigned long long whole) {
    return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 100.0;
}

static void PrintModuleResults(FILE* out) {
    for (size_t i = 0; i < s_tallies.size(); ++i) {
        RunModuleResult r;
        if (!RefHost_RunModuleResult(i, &r)) {
            continue;
        }
        const char* name =
            RefHost_Utf8(RefHost_Module(r.moduleIndex)->record.name, MODULE_NAME_BYTES);
        RefHost_Print(out,
                      "  \"%s\": %llu of %llu samples per channel (%.1f %%), released late by "
                      "mean %.1f ms, max %ld ms",
                      name, r.samplesDelivered, r.samplesNominal,
                      Percent(r.samplesDelivered, r.samplesNominal), r.lateMeanMs, r.lateMaxMs);
        if (r.lateReleases > 0) {
            RefHost_Print(out, " (%llu over %.0f ms)", r.lateReleases, s_maxLateMs);
        }
        RefHost_PrintText(out, "\n");
    }
}

/* The one line that says whether the run did what was asked of it. */
static void PrintPaceVerdict(FILE* out, const RunReport* report) {
    if (s_tallies.empty()) {
        RefHost_PrintText(out, "pace: no input module, nothing released to judge\n");
    } else if (report->fellBehind) {
        RefHost_Print(out,
                      "run fell behind: %llu of %llu samples per channel delivered (%.1f %%), "
                      "releases up to %ld ms late (bound %.0f ms); the rate asked for was not "
                      "kept\n",
                      report->samplesDelivered, report->samplesNominal,
                      Percent(report->samplesDelivered, report->samplesNominal), report->lateMaxMs,
                      s_maxLateMs);
    } else {
        RefHost_Print(out,
                      "run kept pace: %llu of %llu samples per channel delivered (%.1f %%), "
                      "releases at most %ld ms late (bound %.0f ms)\n",
                      report->samplesDelivered, report->samplesNominal,
                      Percent(report->samplesDelivered, report->samplesNominal), report->lateMaxMs,
                      s_maxLateMs);
    }
}

void RefHost_PrintRunReport(FILE* out, const RunReport* report) {
    RefHost_Print(out, "run: %s after %.2f s\n", RefHost_RunEndText(report->end), report->seconds);
    RefHost_Print(out, "  input modules released %llu blocks (%llu samples)\n",
                  report->blocksReleased, report->samplesReleased);
    RefHost_Print(out, "  output modules took %llu of %llu blocks fed (%llu samples fed)\n",
                  report->blocksTaken, report->blocksFed, report->samplesFed);
    if (report->lateCount > 0) {
        RefHost_Print(out,
                      "  release after due: mean %.2f ms, min %ld ms, max %ld ms (%llu blocks)\n",
                      report->lateMeanMs, report->lateMinMs, report->lateMaxMs, report->lateCount);
    }
    if (report->end == RUN_REFUSED) {
        return;
    }
    PrintModuleResults(out);
    PrintPaceVerdict(out, report);
}
