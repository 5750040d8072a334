/*
 * The per-cycle passes the host runs while an experiment goes on. An input
 * module reads its port in a burst to fill one block per channel and hands each
 * block on once the tick count reaches the block's end; an output module writes
 * every incoming sample's bits to its port at once. Nothing here allocates: the
 * buffers are obtained at experiment start.
 */
#include "module/Process.h"

#include "card/DeviceTable.h"
#include "card/Driver.h"
#include "host/HostServices.h"
#include "module/OutputBuffer.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#define PROCESS_SOURCE        "Process"
#define LEVEL_HIGH            5.0f
#define LEVEL_LOW             0.0f
#define ANIMATION_LAST        10
#define ANIMATION_WRAPPED     (-9)
#define WARNING_TEXT_BYTES    128u
#define MAX_REPORTING_MODULES 64u
#define MAX_WRAPPED_CHANNELS  512u /* more than 16 sockets x 3 ports x 8 channels */

static TickSource s_tickSource;

/* Modules that have reported a failing port access in the current run. */
static const ModuleRecord* s_reported[MAX_REPORTING_MODULES];

void SetTickSource(TickSource source) {
    s_tickSource = source;
}

/* The host takes the run's start tick from GetTickCount, so the same clock
   decides when a block is due. The signed difference keeps working across the
   tick count's 49.7-day wrap. */
static int TickReached(DWORD due) {
    DWORD now = s_tickSource ? s_tickSource() : GetTickCount();
    return static_cast<LONG>(now - due) >= 0;
}

void ForgetPassFailures(const ModuleRecord* module) {
    for (const ModuleRecord*& slot : s_reported) {
        if (slot == module)
            slot = nullptr;
    }
}

/* How often a channel's 32-bit sample count has wrapped in this run. At
   100,000 samples a second the count wraps after about twelve hours; without
   the wraps the block times would jump back and every block would be due. */
struct SampleEpoch {
    const ChannelState* state;
    DWORD wraps;
};
static SampleEpoch s_epochs[MAX_WRAPPED_CHANNELS];
static DWORD s_epochsInUse;
static DWORD s_epochsEnd; /* no slot at or past this one is in use */

/* Every poll of a pending channel asks: the search stops at the last slot
   ever taken, which is none at all until a count first wraps. */
static SampleEpoch* FindEpoch(const ChannelState* state) {
    for (DWORD i = 0; i < s_epochsEnd; ++i) {
        if (s_epochs[i].state == state)
            return &s_epochs[i];
    }
    return nullptr;
}

static SampleEpoch* TakeEpochSlot(const ChannelState* state) {
    for (DWORD i = 0; i < MAX_WRAPPED_CHANNELS; ++i) {
        if (!s_epochs[i].state) {
            s_epochs[i].state = state;
            s_epochs[i].wraps = 0;
            ++s_epochsInUse;
            if (i >= s_epochsEnd)
                s_epochsEnd = i + 1;
            return &s_epochs[i];
        }
    }
    return nullptr;
}

static void CountWrap(const ChannelState* state) {
    SampleEpoch* epoch = FindEpoch(state);
    if (!epoch)
        epoch = TakeEpochSlot(state);
    if (epoch)
        ++epoch->wraps;
}

/* A plain conversion of a 64-bit count stores it as two halves and loads it
   as one, which the processor cannot forward: a stall of about 10 ns, a third
   of a block's fixed work; a 32-bit signed load has no such stall. The sum is
   exact in an x87 register, and goes through memory once to be the same
   double the plain conversion gives. */
static double HalfAsDouble(DWORD half) {
    double value = static_cast<double>(static_cast<LONG>(half & 0x7FFFFFFFu));
    return (half & 0x80000000u) ? value + 2147483648.0 : value;
}

static double CountAsDouble(unsigned long long count) {
    DWORD high = static_cast<DWORD>(count >> 32);
    DWORD low = static_cast<DWORD>(count);
    if (high == 0)
        return HalfAsDouble(low);
    volatile double rounded = HalfAsDouble(high) * 4294967296.0 + HalfAsDouble(low);
    return rounded;
}

static unsigned long long SamplesProduced(const ChannelState* state) {
    const SampleEpoch* epoch = FindEpoch(state);
    unsigned long long wraps = epoch ? epoch->wraps : 0;
    return (wraps << 32) | state->sampleCount;
}

static void AddSamples(ChannelState* state, DWORD samples) {
    DWORD before = state->sampleCount;
    state->sampleCount = before + samples;
    if (state->sampleCount < before)
        CountWrap(state);
}

void ForgetSampleEpochs(const ModuleRecord* module) {
    if (!module || s_epochsInUse == 0)
        return;
    for (const ChannelState* state : module->channelStates) {
        SampleEpoch* epoch = state ? FindEpoch(state) : nullptr;
        if (epoch) {
            epoch->state = nullptr;
            --s_epochsInUse;
        }
    }
    if (s_epochsInUse == 0)
        s_epochsEnd = 0;
}

/* Records the module as having reported: 1 the first time in a run, 0 when
   it has reported already, -1 when the table is full and nobody can tell. */
static int FirstFailureInRun(const ModuleRecord* module) {
    const ModuleRecord** freeSlot = nullptr;
    for (const ModuleRecord*& slot : s_reported) {
        if (slot == module)
            return 0;
        if (!slot && !freeSlot)
            freeSlot = &slot;
    }
    if (!freeSlot)
        return -1;
    *freeSlot = module;
    return 1;
}

/* Without room to remember the module the run is still stopped; only the
   message box is held back, since one more of those is worse than one fewer. */
static void ReportPortFailure(const ModuleRecord* module, const char* format, unsigned socket) {
    int first = FirstFailureInRun(module);
    if (first == 0)
        return;
    Host().StopExperiment();
    if (first < 0)
        return;
    char text[WARNING_TEXT_BYTES];
    snprintf(text, sizeof text, format, static_cast<int>(CardGetLastError(socket)), socket);
    Host().ShowWarning("サンプリングエラー", text);
}

/* Converting a double to an integer truncates toward zero, so below 2^63 the
   conversion alone gives the truncated product, and its low 32 bits are the
   wrap; fmod, an order of magnitude slower, is left for products beyond that,
   which are whole numbers already. The product goes through a double in memory
   first: x87 registers carry 11 more bits than a double, and the due tick is
   that of the product rounded to a double. */
DWORD DueOffset(unsigned long long sampleCount, double millisecondsPerSample) {
    if (!(millisecondsPerSample >= 0.0) || millisecondsPerSample > DBL_MAX)
        return 0; /* not a number, negative or infinite */
    volatile double product = CountAsDouble(sampleCount) * millisecondsPerSample;
    double elapsed = product;
    if (elapsed < 9223372036854775808.0)
        return static_cast<DWORD>(static_cast<long long>(elapsed));
    if (!std::isfinite(elapsed))
        return 0;
    return static_cast<DWORD>(static_cast<unsigned long long>(std::fmod(elapsed, 4294967296.0)));
}

static void AdvanceAnimation(ChannelState* state) {
    state->animation += 1;
    if (state->animation > ANIMATION_LAST)
        state->animation = ANIMATION_WRAPPED;
}

static void FillBlock(const volatile SharedVariables& shared, const ModuleRecord* module,
                      unsigned socket, DWORD port, unsigned bit, DataBlock* block,
                      ChannelState* state) {
    double distance = shared.fGlobalMilliSecondsPerSample * 0.001;
    DWORD samples = shared.uiGlobalBlockSize;
    if (samples > MAX_BLOCK_SAMPLES)
        samples = MAX_BLOCK_SAMPLES;
    block->sampleDistance = distance;
    block->startTime = CountAsDouble(SamplesProduced(state)) * distance;
    block->sampleCount = static_cast<WORD>(samples);

    float* out = BlockSamples(block);
    const unsigned mask = 1u << bit;
    for (DWORD j = 0; j < samples; ++j) {
        BYTE value = 0;
        if (!CardInPort(socket, port, &value))
            ReportPortFailure(
                module, "データ入力に失敗しました\nエラーコード %d\nソケット番号 %d\n", socket);
        out[j] = (value & mask) ? LEVEL_HIGH : LEVEL_LOW;
    }
    state->pending = 1;
    AddSamples(state, samples);
}

static int BlockIsDue(const volatile SharedVariables& shared, const ChannelState* state) {
    DWORD due = shared.dwExperimentStartTimeTicks +
                DueOffset(SamplesProduced(state), shared.fGlobalMilliSecondsPerSample);
    return TickReached(due);
}

static void AcquisitionPass(ModuleRecord* module, unsigned socket, DWORD port) {
    const volatile SharedVariables& shared = Shared();
    const HostCalls& host = Host();
    if (module->enable == 0 || shared.bExperimentIsPaused == 1)
        return;
    DWORD channels =
        module->outputCount < CHANNEL_POSITIONS ? module->outputCount : CHANNEL_POSITIONS;
    for (DWORD i = 0; i < channels; ++i) {
        OutputChannel* channel = static_cast<OutputChannel*>(module->outputChannels[i]);
        ChannelState* state = module->channelStates[i];
        if (!channel || !state)
            continue;
        channel->passMark = 0;
        if (!state->pending) {
            DataBlock* block =
                static_cast<DataBlock*>(host.GetCurrentOutputBlock(module->outputChannels[i]));
            if (block)
                FillBlock(shared, module, socket, port, i, block, state);
        }
        if (state->pending && shared.bExperimentIsPaused == 0 && BlockIsDue(shared, state)) {
            host.NewReleaseOutputBlock(module->outputChannels[i], PROCESS_SOURCE, 151);
            state->pending = 0;
            AdvanceAnimation(state);
        }
    }
}

/* 1 when the block went out whole; 0 when the buffer went away meanwhile. */
static int WriteBlock(const ModuleRecord* module, unsigned socket, DWORD port, unsigned input,
                      const DataBlock* block, BYTE* bytes, DWORD capacity) {
    DWORD samples = block->sampleCount;
    if (samples > Shared().uiGlobalBlockSize)
        samples = Shared().uiGlobalBlockSize;
    if (samples > capacity)
        samples = capacity;
    const float* in = BlockSamples(const_cast<DataBlock*>(block));
    const BYTE mask = input < CHANNEL_POSITIONS ? static_cast<BYTE>(1u << input) : 0;
    for (DWORD j = 0; j < samples; ++j) {
        /* A sample that is not a number fails the comparison and clears its bit. */
        if (in[j] >= LEVEL_HIGH)
            bytes[j] = static_cast<BYTE>(bytes[j] | mask);
        else
            bytes[j] = static_cast<BYTE>(bytes[j] & ~mask);
        if (!CardOutPort(socket, port, bytes[j])) {
            ReportPortFailure(
                module, "データ出力に失敗しました\nエラーコード %d\nソケット番号 %d\n", socket);
            /* A host may stop the run inside StopExperiment; the stop gives
               the buffer back, and nothing may be written into it after. */
            if (OutputBufferBytes(module->settings) != bytes)
                return 0;
        }
    }
    return 1;
}

static void OutputPass(ModuleRecord* module, unsigned socket, DWORD port) {
    if (Shared().bExperimentIsPaused == 1)
        return;
    BYTE* bytes = OutputBufferBytes(module->settings);
    if (!bytes)
        return; /* not started, or the start was refused */
    DWORD capacity = OutputBufferCapacity(module->settings);
    for (DWORD i = 0; i < module->inputCount; ++i) {
        const DataBlock* block = static_cast<const DataBlock*>(Host().GetInputBlock(module, i));
        if (!block)
            continue;
        int bufferKept = WriteBlock(module, socket, port, i, block, bytes, capacity);
        Host().NewReleaseInputBlock(module, i, PROCESS_SOURCE, 268);
        if (!bufferKept)
            return;
    }
}

LONG WINAPI ModuleProcess(void* moduleRecord) {
    ModuleRecord* module = static_cast<ModuleRecord*>(moduleRecord);
    const ModuleSettings* settings = module ? module->settings : nullptr;
    if (!settings || !IsValidSocketPort(settings->socket, settings->port))
        return 1;
    const DeviceEntry& card = DeviceTable()[settings->socket];
    if (card.portIsOutput[settings->port])
        OutputPass(module, settings->socket, settings->port);
    else
        AcquisitionPass(module, settings->socket, settings->port);
    return 1;
}
