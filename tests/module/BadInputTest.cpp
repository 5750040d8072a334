/*
 * What the host may hand the passes and the event handler that no sound run
 * would: samples that are no ordinary numbers, blocks longer than a block,
 * block sizes and rates that cannot be used, more channels than a port has
 * lines, and records that are not a started module. None of it may write past
 * a buffer, hang, crash or reach the card where it must not.
 */
#include "ModuleHarness.h"

#include "card/DeviceTable.h"
#include "module/Process.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

static float FloatFromBits(DWORD bits) {
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

class BadInput : public HostedExtension {
  protected:
    /* Data bytes written to a port (the control register left out). */
    static std::vector<DWORD> WrittenTo(DWORD socket, DWORD port) {
        std::vector<DWORD> values;
        for (const TraceRow& row : CardTrace(SIM_OUTPORT)) {
            if (row.socket == socket && row.port == port)
                values.push_back(row.value);
        }
        return values;
    }
    static size_t ReadsOf(DWORD socket) {
        size_t reads = 0;
        for (const TraceRow& row : CardTrace(SIM_INPORT)) {
            if (row.socket == socket)
                ++reads;
        }
        return reads;
    }
    /* Nothing written past a host block or buffer or into a freed one, nothing
       misused. */
    static void ExpectHostIntact(void) {
        EXPECT_EQ(0u, RefHost_CheckGuards());
        EXPECT_EQ(0u, RefHost_CheckFreedBlocks());
        EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION));
    }
};

/* Each value with the bit it must give; input i sees the table turned by i, so
   every bit position meets every value. */
static const struct {
    DWORD bits;
    DWORD high;
} kLevels[] = {
    {0x40A00000u, 1}, /* 5.0 */
    {0x409FFFFFu, 0}, /* the float just below 5.0 */
    {0x40A00001u, 1}, /* just above */
    {0x7FC00000u, 0}, /* quiet NaN */
    {0xFFC00000u, 0}, /* negative quiet NaN */
    {0x7F800001u, 0}, /* signalling NaN */
    {0x7F800000u, 1}, /* +inf */
    {0xFF800000u, 0}, /* -inf */
    {0x7F7FFFFFu, 1}, /* largest float */
    {0xFF7FFFFFu, 0}, /* most negative float */
    {0x00000001u, 0}, /* smallest denormal */
    {0x007FFFFFu, 0}, /* largest denormal */
    {0x80000000u, 0}, /* -0.0 */
    {0xC0A00000u, 0}, /* -5.0 */
    {0x7149F2CAu, 1}, /* 1e30 */
    {0x00000000u, 0},
};
#define LEVEL_COUNT (sizeof kLevels / sizeof kLevels[0])

TEST_F(BadInput, OnlyFiveOrMoreSetsABitAtEveryPosition) {
    RefModule* m = Restore(0, 1, CHANNEL_POSITIONS, 0);
    ASSERT_NE(nullptr, m);
    Start(1.0, LEVEL_COUNT);
    SimCard_ClearTrace();
    for (UINT i = 0; i < CHANNEL_POSITIONS; ++i) {
        float samples[LEVEL_COUNT];
        for (size_t j = 0; j < LEVEL_COUNT; ++j)
            samples[j] = FloatFromBits(kLevels[(j + i) % LEVEL_COUNT].bits);
        ASSERT_EQ(1, RefHost_QueueInputBlock(m, i, samples, LEVEL_COUNT));
    }
    RefHost_ProcessAll();

    /* Input i's write of position j carries the bits of inputs 0..i; the
       higher ones are still clear from the start. */
    std::vector<DWORD> expected;
    for (UINT i = 0; i < CHANNEL_POSITIONS; ++i) {
        for (size_t j = 0; j < LEVEL_COUNT; ++j) {
            DWORD byte = 0;
            for (UINT k = 0; k <= i; ++k)
                byte |= kLevels[(j + k) % LEVEL_COUNT].high << k;
            expected.push_back(byte);
        }
    }
    EXPECT_EQ(expected, WrittenTo(0, 1));
    ExpectHostIntact();
}

TEST_F(BadInput, InputsPastTheEighthWriteButChangeNoBit) {
    RefModule* m = Restore(0, 1, 10, 0);
    ASSERT_NE(nullptr, m);
    Start(1.0, 2);
    SimCard_ClearTrace();
    static const float kHigh[2] = {5, 5};
    static const float kLowHigh[2] = {0, 5};
    ASSERT_EQ(1, RefHost_QueueInputBlock(m, 0, kLowHigh, 2));
    ASSERT_EQ(1, RefHost_QueueInputBlock(m, 8, kHigh, 2));
    ASSERT_EQ(1, RefHost_QueueInputBlock(m, 9, kHigh, 2));
    RefHost_ProcessAll();
    EXPECT_EQ((std::vector<DWORD>{0, 1, 0, 1, 0, 1}), WrittenTo(0, 1));
    EXPECT_EQ(0u, RefHost_PendingInputBlocks(m, 9));
    ExpectHostIntact();
}

TEST_F(BadInput, OutputsPastTheEighthGetNoBlocks) {
    SimCard_SetConstantInput(1, 2, 0xFF);
    RefModule* m = Restore(1, 2, 0, 12);
    ASSERT_NE(nullptr, m);
    Start(1.0, 3);
    for (int round = 0; round < 3; ++round) {
        RefHost_ProcessAll();
        g_fakeTick += 3;
    }
    for (UINT ch = 0; ch < 12; ++ch) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(ch<CHANNEL_POSITIONS, RefHost_ReleasedBlockCount(m, ch)> 0);
    }
    ExpectHostIntact();
}

TEST_F(BadInput, LongBlocksAreCutAtTheSmallerOfBlockSizeAndBuffer) {
    static const struct {
        DWORD startSize; /* the buffer is sized from this */
        DWORD sizeNow;   /* the block size when the block arrives */
        unsigned samples;
        size_t writes;
    } cases[] = {
        {4, 2, 10, 2},        /* the block size shrank during the run */
        {4, 65535, 65535, 4}, /* grew: the buffer still holds four */
        {1, 1, 65535, 1},     /* a block of the largest count */
        {300, 300, 65535, 300},
    };
    static float samples[65535];
    for (float& f : samples)
        f = 5.0f;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startSize * 100000 + c.sizeNow);
        RefModule* m = Restore(0, 1, 1, 0);
        ASSERT_NE(nullptr, m);
        Start(1.0, c.startSize);
        RefHost_SetRate(1.0, c.sizeNow);
        SimCard_ClearTrace();
        ASSERT_EQ(1, RefHost_QueueInputBlock(m, 0, samples, c.samples));
        RefHost_ProcessAll();
        EXPECT_EQ(c.writes, WrittenTo(0, 1).size());
        EXPECT_EQ(1u, RefHost_ConsumedInputBlocks(m, 0));
        ExpectHostIntact();
        RefHost_StopExperiment();
        RefHost_DeleteModule(m);
    }
}

/* Block sizes no block can have: the start either goes through with no write
   past any block or buffer, or is refused with its one warning. */
TEST_F(BadInput, BlockSizesOutOfRangeAtStart) {
    static const DWORD kSizes[] = {0, 65535, 65536, 70000, 0xFFFFFFFFu};
    static float samples[65535];
    for (float& f : samples)
        f = 5.0f;
    SimCard_SetConstantInput(1, 2, 0x01);
    RefModule* writer = Restore(0, 1, 1, 0);
    RefModule* reader = Restore(1, 2, 0, 1);
    ASSERT_NE(nullptr, writer);
    ASSERT_NE(nullptr, reader);
    size_t live = RefHost_LiveBlocks();
    for (DWORD size : kSizes) {
        SCOPED_TRACE(size);
        RefHost_ClearJournal();
        SimCard_ClearTrace();
        if (!RefHost_StartExperiment(1.0, size)) {
            EXPECT_EQ(1u, Warnings());
            EXPECT_EQ(live, RefHost_LiveBlocks());
            continue;
        }
        RefHost_SetStartTicks(g_fakeTick);
        EXPECT_EQ(0u, Warnings());
        unsigned fed = size < 65535u ? static_cast<unsigned>(size) : 65535u;
        RefHost_QueueInputBlock(writer, 0, samples, fed);
        RefHost_ProcessAll();
        ExpectHostIntact();
        EXPECT_LE(WrittenTo(0, 1).size(), 65535u);
        EXPECT_LE(ReadsOf(1), 65535u);
        g_fakeTick += 0x7FFFFFFFu; /* whatever the block's end, it is due now */
        RefHost_ProcessAll();
        for (size_t b = 0; b < RefHost_ReleasedBlockCount(reader, 0); ++b) {
            const DataBlock* block = RefHost_ReleasedBlock(reader, 0, b);
            ASSERT_LE(block->sampleCount, RefHost_BlockCapacity(block));
            const float* s = BlockSamples(const_cast<DataBlock*>(block));
            for (unsigned j = 0; j < block->sampleCount; ++j)
                ASSERT_EQ(5.0f, s[j]) << "sample " << j << " of " << block->sampleCount;
        }
        ExpectHostIntact();
        RefHost_StopExperiment();
        EXPECT_EQ(live, RefHost_LiveBlocks());
    }
}

/* Rates that give no usable pace make every block due at once: each pass
   delivers one block per channel, and no pass waits. */
TEST_F(BadInput, UnusableRatesDeliverEveryBlockAtOnce) {
    static const double kRates[] = {
        0.0,
        -0.0,
        -5.0,
        1e-310, /* a denormal */
        1e30,
        DBL_MAX,
        -DBL_MAX,
        std::numeric_limits<double>::quiet_NaN(),
        -std::numeric_limits<double>::quiet_NaN(),
    };
    RefModule* m = Restore(1, 2, 0, 2);
    ASSERT_NE(nullptr, m);
    for (double ms : kRates) {
        SCOPED_TRACE(ms);
        Start(ms, 10);
        for (int round = 0; round < 5; ++round)
            RefHost_ProcessAll();
        EXPECT_EQ(5u, RefHost_ReleasedBlockCount(m, 0));
        EXPECT_EQ(5u, RefHost_ReleasedBlockCount(m, 1));
        ExpectHostIntact();
        RefHost_StopExperiment();
    }
}

/* A usable but slow rate keeps the block back, across the tick's wrap too. */
TEST_F(BadInput, SlowRatesWaitForTheirTime) {
    static const struct {
        double ms;
        DWORD blockSize;
        DWORD dueAfter;
    } cases[] = {
        {1000.0, 10, 10000},
        {0.5, 3, 1},            /* 1.5 truncates */
        {1e6, 100, 100000000u}, /* a block of nearly 28 hours */
        {0.001, 65535, 65},
    };
    RefModule* m = Restore(1, 2, 0, 1);
    ASSERT_NE(nullptr, m);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ms);
        g_fakeTick = 0x80000000u;
        Start(c.ms, c.blockSize);
        RefHost_ProcessAll();
        g_fakeTick += c.dueAfter - 1;
        RefHost_ProcessAll();
        EXPECT_EQ(0u, RefHost_ReleasedBlockCount(m, 0));
        g_fakeTick += 1;
        RefHost_ProcessAll();
        EXPECT_EQ(1u, RefHost_ReleasedBlockCount(m, 0));
        RefHost_StopExperiment();
    }
}

/* Records the host would never pass for a started module: the process function
   answers 1 and touches neither card nor host. */
TEST_F(BadInput, ProcessOnRecordsThatAreNoStartedModule) {
    ModuleSettings settings;
    memset(&settings, 0, sizeof settings);
    ModuleRecord record;
    memset(&record, 0, sizeof record);
    record.inputCount = 1;
    const struct {
        const char* what;
        ModuleRecord* record;
        ModuleSettings* settings;
        WORD socket;
        DWORD port;
    } cases[] = {
        {"no record", nullptr, nullptr, 0, 0},
        {"no settings", &record, nullptr, 0, 0},
        {"socket past the table", &record, &settings, 16, 1},
        {"socket 0xFFFF", &record, &settings, 0xFFFF, 1},
        {"the control register", &record, &settings, 0, 3},
        {"port 9", &record, &settings, 0, 9},
        {"output port, never started", &record, &settings, 0, 1},
    };
    RefModule* owner = Restore(0, 1, 1, 0); /* makes socket 0 port B an output port */
    ASSERT_NE(nullptr, owner);
    SimCard_ClearTrace();
    RefHost_ClearJournal();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.record)
            c.record->settings = c.settings;
        settings.socket = c.socket;
        settings.port = c.port;
        EXPECT_EQ(1, ModuleProcess(c.record));
    }
    EXPECT_EQ(0u, SimCard_TraceCount());
    EXPECT_EQ(0u, RefHost_JournalSize());
}

/* Modules that reported a failing port and were deleted leave nothing behind:
   however many came before, the next failure still stops the run and warns. */
TEST_F(BadInput, DeletedModulesDoNotSilenceLaterFailures) {
    std::vector<RefModule*> failed;
    for (int i = 0; i < 100; ++i) {
        RefModule* m = Restore(1, 0, 0, 1);
        ASSERT_NE(nullptr, m);
        failed.push_back(m);
    }
    Start(1.0, 1);
    SimCard_Pull(1); /* every module's read fails */
    RefHost_ProcessAll();
    EXPECT_TRUE(RefHost_StopRequested());
    RefHost_StopExperiment();
    SimCard_Insert(1);
    DeliverPostedMessages();
    RefModule* late = Restore(0, 2, 0, 1); /* a record none of the others had */
    ASSERT_NE(nullptr, late);
    for (RefModule* m : failed)
        RefHost_DeleteModule(m);

    RefHost_ClearJournal();
    Start(1.0, 1);
    SimCard_FailNth(SIM_INPORT, 1, 55);
    RefHost_ProcessAll();
    EXPECT_TRUE(RefHost_StopRequested());
    EXPECT_EQ(1u, Warnings());
}

/* Events in orders the host should not send: whatever the order, once the
   module is deleted its buffer is back with the host and its port is free. */
struct EventOrder {
    const char* what;
    UINT events[4];
};

class EventsOutOfOrder : public BadInput {
  protected:
    void ExpectNothingLeftBehind(const EventOrder* cases, size_t count) {
        size_t live = RefHost_LiveBlocks();
        for (size_t i = 0; i < count; ++i) {
            SCOPED_TRACE(cases[i].what);
            RefHost_SetRate(1.0, 16);
            RefModule* m = Restore(0, 1, 1, 0);
            ASSERT_NE(nullptr, m);
            for (UINT code : cases[i].events) {
                if (code) {
                    EXPECT_EQ(1, RefHost_SendEvent(m, code, 0, 0));
                }
            }
            RefHost_DeleteModule(m);
            EXPECT_EQ(live, RefHost_LiveBlocks());
            EXPECT_EQ(0u, DeviceTable()[0].portInUse[1]);
            EXPECT_EQ(0u, DeviceTable()[0].configured);
            ExpectHostIntact();
        }
    }
};

TEST_F(EventsOutOfOrder, StartsStopsAndDeletesLeaveNothingBehind) {
    static const EventOrder cases[] = {
        {"start twice, one stop", {ME_START, ME_START, ME_STOP}},
        {"stop without a start", {ME_STOP}},
        {"two stops", {ME_START, ME_STOP, ME_STOP}},
        {"deleted while running", {ME_START}},
    };
    ExpectNothingLeftBehind(cases, sizeof cases / sizeof cases[0]);
}

/* Kept disabled on purpose, as a record of what is not handled: a second 105
   for the same module adds a second claim on its port (OnRestore counts
   claims), so the port stays taken after the module's one delete; a 105
   during a run also drops the module's live output buffer (OnRestore clears
   the pointer). A host sends 105 once, when it loads the module, and a second
   one cannot be told from a first restore of stored bytes. */
TEST_F(EventsOutOfOrder, DISABLED_RestoreSentAgainLeavesNothingBehind) {
    static const EventOrder cases[] = {
        {"restored again", {ME_RESTORE, ME_START, ME_STOP}},
        {"restored again while running", {ME_START, ME_RESTORE}},
    };
    ExpectNothingLeftBehind(cases, sizeof cases / sizeof cases[0]);
}

/* Settings come back from a stored worksheet with whatever pointer the last
   session left in the buffer field: it is never written through or freed. */
TEST_F(BadInput, AStoredBufferPointerIsNeverUsed) {
    static const UINT kFirstEvents[] = {ME_STOP, ME_START, ME_DELETE};
    for (UINT first : kFirstEvents) {
        SCOPED_TRACE(first);
        ModuleSettings settings;
        memset(&settings, 0, sizeof settings);
        settings.socket = 0;
        settings.port = 1;
        settings.outputBuffer = reinterpret_cast<BYTE*>(0x00BADBADu);
        RefModule* m = RefHost_RestoreModule("DK", "", 1, 0, &settings);
        ASSERT_NE(nullptr, m);
        RefHost_ClearJournal();
        SimCard_ClearTrace();
        static const float kHigh[1] = {5};
        RefHost_QueueInputBlock(m, 0, kHigh, 1);
        RefHost_ProcessAll(); /* before any start: no buffer to write through */
        EXPECT_EQ(0u, WrittenTo(0, 1).size());
        if (first != ME_DELETE)
            RefHost_SendEvent(m, first, 0, 0);
        RefHost_DeleteModule(m); /* sends 102 */
        EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION));
    }
}

/* A host may stop the run inside StopExperiment, so that event 107 has taken
   the output buffer back before the failing pass goes on. */
struct StopAtOnceCase {
    const char* what;
    DWORD call; /* the port call that fails first */
    DWORD inputs;
    DWORD outputs;
    unsigned port;
};

class StopAtOnce : public BadInput {
  protected:
    void ExpectNoStaleWrites(const StopAtOnceCase& c) {
        SCOPED_TRACE(c.what);
        RefModule* m = Restore(0, c.port, c.inputs, c.outputs);
        ASSERT_NE(nullptr, m);
        RefHost_SetStopAtOnce(1);
        Start(1.0, 4);
        static const float kLevels[4] = {5, 0, 5, 0}; /* sets and clears every bit it has */
        if (c.inputs)
            RefHost_QueueInputBlock(m, 0, kLevels, 4);
        SimCard_FailNth(c.call, 1, 66);
        RefHost_ProcessAll();
        EXPECT_EQ(0, RefHost_ExperimentRunning());
        EXPECT_EQ(1u, Warnings());
        EXPECT_EQ(nullptr, RefModule_Record(m)->settings->outputBuffer);
        ExpectHostIntact();
        RefHost_SetStopAtOnce(0);
    }
};

TEST_F(StopAtOnce, AFailingReadGoesOnWithoutHarm) {
    ExpectNoStaleWrites({"input module", SIM_INPORT, 0, 1, 2});
}

/* A host that stops at once gives the buffer back inside the failing write's
   report; the rest of the block must not be written into it. */
TEST_F(StopAtOnce, AFailingWriteWritesNothingIntoTheFreedBuffer) {
    ExpectNoStaleWrites({"output module", SIM_OUTPORT, 1, 0, 1});
}

/* More output modules than the extension keeps buffer sizes for: the start
   past the last is refused with its warning before the host is asked for
   anything, and the modules started before it write as usual. */
TEST_F(BadInput, OutputModulesPastTheSizeTableAreRefusedAtStart) {
    const size_t kTableRows = 256;
    std::vector<RefModule*> modules;
    for (size_t i = 0; i <= kTableRows; ++i) {
        modules.push_back(Restore(0, 1, 1, 0));
        ASSERT_NE(nullptr, modules.back());
    }
    RefHost_SetRate(1.0, 2);
    for (size_t i = 0; i < kTableRows; ++i)
        ASSERT_EQ(1, RefHost_SendEvent(modules[i], ME_START, 0, 0)) << i;
    size_t allocations = RefHost_AllocationCount();
    EXPECT_EQ(0, RefHost_SendEvent(modules[kTableRows], ME_START, 0, 0));
    EXPECT_EQ(allocations, RefHost_AllocationCount());
    EXPECT_EQ(1u, Warnings());
    EXPECT_EQ(nullptr, RefModule_Record(modules[kTableRows])->settings->outputBuffer);

    /* A stop frees a row for the next start. */
    EXPECT_EQ(1, RefHost_SendEvent(modules[0], ME_STOP, 0, 0));
    EXPECT_EQ(1, RefHost_SendEvent(modules[kTableRows], ME_START, 0, 0));
    for (RefModule* m : modules) {
        RefHost_SendEvent(m, ME_STOP, 0, 0);
        RefHost_DeleteModule(m);
    }
    ExpectHostIntact();
}
