/*
 * The acquisition and output passes against the card simulator, with the tick
 * under the test's control.
 */
#include "ModuleHarness.h"

#include "module/Process.h"

#include <cmath>
#include <cstring>
#include <limits>

static const double kNaN = std::numeric_limits<double>::quiet_NaN();
static const double kInf = std::numeric_limits<double>::infinity();

TEST(DueOffset, TruncatesAndWrapsAndRefusesBadRates) {
    static const struct {
        unsigned long long samples;
        double ms;
        DWORD due;
    } cases[] = {
        {100, 1.0, 100}, /* the first block's end */
        {3, 0.333, 0},   /* 0.999 truncates toward zero */
        {1000, 0.01, 10},
        {0xFFFFFFFFu, 2.0, 0xFFFFFFFEu},            /* wraps at 2^32 */
        {12345678901234567ull, 0.001, 0x73CE2FF2u}, /* 12345678901234.568 */
        /* The count rounded to a double (2^53) before the product, as a plain
           conversion gives it: 2^53 - 1, where the exact count would give 2^53. */
        {(1ull << 53) + 1, 1.0 - 0x1p-53, 0xFFFFFFFFu},
        /* The product rounded to a double, not the exact 1250999896491000000. */
        {0x123456789ABull, 1e6, 0x1C658100u},
        {(1ull << 63) - 1024, 1.0, 0xFFFFFC00u}, /* just below 2^63 */
        {1ull << 63, 1.0, 0},                    /* 2^63 and above: whole numbers */
        {~0ull, 1.0, 0},                         /* rounds to 2^64 */
        {100, kNaN, 0},                          /* not a number: due at once */
        {100, -1.0, 0},
        {100, kInf, 0},
        {0xFFFFFFFFu, 1e300, 0}, /* far beyond 2^64: still defined */
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.samples);
        EXPECT_EQ(c.due, DueOffset(c.samples, c.ms));
    }
}

class AcquisitionPass : public HostedExtension {
  protected:
    RefModule* module = nullptr;
    void SetUp() override {
        HostedExtension::SetUp();
        SimCard_SetConstantInput(1, 1, 0xA5);
        module = Restore(1, 1, 0, 3);
        ASSERT_NE(nullptr, module);
    }
    size_t Released(UINT channel) {
        return RefHost_ReleasedBlockCount(module, channel);
    }
};

TEST_F(AcquisitionPass, BlocksAreFilledAtOnceAndReleasedAtTheirEnd) {
    Start(1.0, 100);
    RefHost_ProcessAll();
    EXPECT_EQ(300u, CardTrace(SIM_INPORT).size()); /* every channel reads on its own */
    EXPECT_EQ(0u, Released(0));

    g_fakeTick += 99;
    RefHost_ProcessAll();
    EXPECT_EQ(0u, Released(0));

    g_fakeTick += 1;
    RefHost_ProcessAll();
    ASSERT_EQ(1u, Released(0));
    ASSERT_EQ(1u, Released(2));

    static const float kLevel[3] = {5.0f, 0.0f, 5.0f}; /* bits 0..2 of 0xA5 */
    for (UINT ch = 0; ch < 3; ++ch) {
        const DataBlock* block = RefHost_ReleasedBlock(module, ch, 0);
        ASSERT_NE(nullptr, block);
        EXPECT_EQ(100u, block->sampleCount);
        EXPECT_DOUBLE_EQ(0.0, block->startTime);
        EXPECT_DOUBLE_EQ(0.001, block->sampleDistance);
        const float* s = BlockSamples(const_cast<DataBlock*>(block));
        EXPECT_EQ(kLevel[ch], s[0]);
        EXPECT_EQ(kLevel[ch], s[99]);
    }

    RefHost_ProcessAll(); /* fills the second block */
    g_fakeTick += 99;
    RefHost_ProcessAll();
    EXPECT_EQ(1u, Released(0));
    g_fakeTick += 1;
    RefHost_ProcessAll();
    ASSERT_EQ(2u, Released(0));
    EXPECT_DOUBLE_EQ(0.1, RefHost_ReleasedBlock(module, 0, 1)->startTime);
}

TEST_F(AcquisitionPass, TickWrapNeitherBurstsNorStalls) {
    g_fakeTick = 0xFFFFFFC0u; /* the block is due 0x24 after the wrap */
    Start(1.0, 100);
    RefHost_ProcessAll();
    g_fakeTick = 0xFFFFFFFFu;
    RefHost_ProcessAll();
    EXPECT_EQ(0u, Released(0));
    g_fakeTick = 0x23u;
    RefHost_ProcessAll();
    EXPECT_EQ(0u, Released(0));
    g_fakeTick = 0x24u;
    RefHost_ProcessAll();
    EXPECT_EQ(1u, Released(0));
}

TEST_F(AcquisitionPass, RatesThatAreNotNumbersDeliverAtOnce) {
    for (double ms : {kNaN, -1.0, kInf}) {
        SCOPED_TRACE(ms);
        Start(ms, 10);
        RefHost_ProcessAll();
        EXPECT_EQ(1u, Released(0));
        RefHost_StopExperiment();
    }
}

TEST_F(AcquisitionPass, PausedRunTouchesNeitherCardNorBlocks) {
    Start(1.0, 10);
    RefHost_ProcessAll();
    SimCard_ClearTrace();
    RefHost_SetPaused(1);
    g_fakeTick += 1000;
    RefHost_ProcessAll();
    EXPECT_EQ(0u, SimCard_TraceCount());
    EXPECT_EQ(0u, Released(0));
    RefHost_SetPaused(0);
    RefHost_ProcessAll();
    EXPECT_EQ(1u, Released(0));
}

TEST_F(AcquisitionPass, FailingReadsWarnOncePerRunAndGiveLowSamples) {
    SimCard_SetConstantInput(1, 1, 0xFF);
    SimCard_FailNth(SIM_INPORT, 2, 77);
    Start(1.0, 4);
    RefHost_ProcessAll();
    SimCard_FailNth(SIM_INPORT, 1, 78);
    g_fakeTick += 10;
    RefHost_ProcessAll();
    RefHost_ProcessAll();

    EXPECT_EQ(1u, Warnings());
    EXPECT_TRUE(RefHost_StopRequested());
    const JournalEntry* warning = nullptr;
    for (size_t i = 0; i < RefHost_JournalSize(); ++i) {
        if (RefHost_JournalEntry(i)->kind == J_WARNING)
            warning = RefHost_JournalEntry(i);
    }
    ASSERT_NE(nullptr, warning);
    EXPECT_STREQ("\x83\x54\x83\x93\x83\x76\x83\x8a\x83\x93\x83\x4f\x83\x47\x83\x89\x81\x5b\n"
                 "\x83\x66\x81\x5b\x83\x5e\x93\xfc\x97\xcd\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc"
                 "\x82\xb5\x82\xbd\n\x83\x47\x83\x89\x81\x5b\x83\x52\x81\x5b\x83\x68 77\n"
                 "\x83\x5c\x83\x50\x83\x62\x83\x67\x94\xd4\x8d\x86 1\n",
                 warning->text);
    const float* s = BlockSamples(const_cast<DataBlock*>(RefHost_ReleasedBlock(module, 0, 0)));
    EXPECT_EQ(5.0f, s[0]);
    EXPECT_EQ(0.0f, s[1]); /* the failed read */
    EXPECT_EQ(5.0f, s[2]);

    RefHost_StopExperiment();
    SimCard_FailNth(SIM_INPORT, 1, 79);
    Start(1.0, 4);
    RefHost_ProcessAll();
    EXPECT_EQ(2u, Warnings()); /* a new run reports again */
}

class OutputPass : public HostedExtension {
  protected:
    RefModule* Output(DWORD inputs) {
        RefModule* m = Restore(0, 1, inputs, 0);
        EXPECT_NE(nullptr, m);
        return m;
    }
    static std::vector<DWORD> WrittenValues(void) {
        std::vector<DWORD> values;
        for (const TraceRow& row : CardTrace(SIM_OUTPORT)) {
            if (row.port != 3)
                values.push_back(row.value);
        }
        return values;
    }
};

TEST_F(OutputPass, ThresholdIsFiveAndAnythingElseClears) {
    RefModule* m = Output(1);
    Start(1.0, 8);
    SimCard_ClearTrace();
    static const float kIn[8] = {5.0f,      4.999f, std::nanf(""), -1.0f,
                                 HUGE_VALF, 1e-40f, 5.0001f,       -HUGE_VALF};
    ASSERT_EQ(1, RefHost_QueueInputBlock(m, 0, kIn, 8));
    RefHost_ProcessAll();
    EXPECT_EQ((std::vector<DWORD>{1, 0, 0, 0, 1, 0, 1, 0}), WrittenValues());
}

TEST_F(OutputPass, EachInputWritesEverySamplePositionWithTheBitsKnownThen) {
    RefModule* m = Output(3);
    Start(1.0, 2);
    SimCard_ClearTrace();
    static const float kHighLow[2] = {5.0f, 0.0f};
    static const float kLowHigh[2] = {0.0f, 5.0f};
    RefHost_QueueInputBlock(m, 0, kHighLow, 2);
    RefHost_QueueInputBlock(m, 1, kLowHigh, 2);
    RefHost_QueueInputBlock(m, 2, kHighLow, 2);
    RefHost_ProcessAll();
    EXPECT_EQ((std::vector<DWORD>{0x1, 0x0, 0x1, 0x2, 0x5, 0x2}), WrittenValues());

    /* Bits stay as last written until that input's next block. */
    RefHost_QueueInputBlock(m, 1, kHighLow, 2);
    RefHost_ProcessAll();
    EXPECT_EQ(0x7u, WrittenValues()[6]);
}

TEST_F(OutputPass, BlocksAreCutAtTheBlockSizeAndNeverPastTheBuffer) {
    RefModule* m = Output(1);
    Start(1.0, 4);
    SimCard_ClearTrace();
    float ten[10];
    for (float& f : ten)
        f = 5.0f;
    RefHost_QueueInputBlock(m, 0, ten, 10);
    RefHost_ProcessAll();
    EXPECT_EQ(4u, WrittenValues().size());

    RefHost_SetRate(1.0, 1000); /* the buffer was sized at start */
    RefHost_QueueInputBlock(m, 0, ten, 10);
    RefHost_ProcessAll();
    EXPECT_EQ(8u, WrittenValues().size());
}

TEST_F(OutputPass, EmptyBlockIsReturnedWithoutWriting) {
    RefModule* m = Output(1);
    Start(1.0, 4);
    SimCard_ClearTrace();
    size_t returned = RefHost_CountCalls("NewReleaseInputBlock");
    RefHost_QueueInputBlock(m, 0, nullptr, 0);
    RefHost_ProcessAll();
    EXPECT_EQ(0u, WrittenValues().size());
    EXPECT_EQ(returned + 1, RefHost_CountCalls("NewReleaseInputBlock"));
}

TEST_F(OutputPass, FailingWritesWarnOncePerRun) {
    RefModule* m = Output(1);
    Start(1.0, 4);
    SimCard_FailNth(SIM_OUTPORT, 1, 9);
    static const float kIn[4] = {5, 5, 5, 5};
    RefHost_QueueInputBlock(m, 0, kIn, 4);
    SimCard_FailNth(SIM_OUTPORT, 1, 9);
    RefHost_ProcessAll();
    SimCard_FailNth(SIM_OUTPORT, 1, 9);
    RefHost_QueueInputBlock(m, 0, kIn, 4);
    RefHost_ProcessAll();
    EXPECT_EQ(1u, Warnings());
    EXPECT_TRUE(RefHost_StopRequested());
}

TEST_F(OutputPass, ProcessBeforeStartOrAfterStopLeavesTheCardAlone) {
    RefModule* m = Output(1);
    static const float kIn[2] = {5, 5};
    RefHost_QueueInputBlock(m, 0, kIn, 2);
    RefHost_ProcessAll();
    EXPECT_EQ(0u, WrittenValues().size());
    Start(1.0, 2);
    RefHost_StopExperiment();
    SimCard_ClearTrace();
    RefHost_ProcessAll();
    EXPECT_EQ(0u, WrittenValues().size());
}
