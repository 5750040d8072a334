/*
 * Short walks from fixed seeds, so every build takes the same few thousand
 * steps through creation, restore, runs, pulls and faults; and the faults the
 * long walks found, each pinned as a direct case.
 */
#include "FuzzWalk.h"

#include "../module/ModuleHarness.h"

#include "card/DeviceTable.h"
#include "module/Dk08Main.h"

#include <cstring>

#define SHORT_WALK_STEPS 800ul
#define MANY_MODULES     70u /* more than the passes keep reports for */

class ShortWalk : public ::testing::TestWithParam<unsigned long long> {};

TEST_P(ShortWalk, EveryCheckHoldsAfterEveryStep) {
    WalkStats stats;
    EXPECT_EQ(1, RunWalk(GetParam(), SHORT_WALK_STEPS, stdout, &stats));
    EXPECT_EQ(SHORT_WALK_STEPS, stats.steps);
    /* A walk that never ran, processed or opened a dialog proves little. */
    EXPECT_GT(stats.runs, 0ul);
    EXPECT_GT(stats.processes, 0ul);
    EXPECT_GT(stats.dialogs, 0ul);
}

INSTANTIATE_TEST_SUITE_P(FixedSeeds, ShortWalk, ::testing::Values(1ull, 2ull, 3ull, 11ull, 12ull));

class FoundByTheWalk : public HostedExtension {
  protected:
    void TearDown() override {
        EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << LastViolation();
        HostedExtension::TearDown();
    }

    static const char* LastViolation(void) {
        for (size_t i = RefHost_JournalSize(); i-- > 0;) {
            if (RefHost_JournalEntry(i)->kind == J_VIOLATION)
                return RefHost_JournalEntry(i)->text;
        }
        return "";
    }
};

/* A host that keeps all 208 stored bytes hands back the buffer pointer of a
   run long gone; neither a start nor a stop may give it to the host's free. */
TEST_F(FoundByTheWalk, StoredBufferPointerIsNeverFreed) {
    struct Case {
        DWORD inputs;
        int started;
    };
    static const Case kCases[] = {
        {1, 1}, /* output module, run */
        {1, 0}, /* output module, stopped without a start */
        {0, 1}, /* input module, run */
        {0, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "inputs " << c.inputs << " started " << c.started);
        ModuleSettings settings = {};
        settings.socket = 0;
        settings.port = 1;
        settings.outputBuffer = reinterpret_cast<BYTE*>(0x5A5A5A58);
        ChannelState states[CHANNEL_POSITIONS] = {};
        ModuleRecord record = {};
        record.owner = RefHost_MainWindow();
        record.settings = &settings;
        record.inputCount = c.inputs;
        record.outputCount = 1 - c.inputs;
        for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k)
            record.channelStates[k] = &states[k];

        ASSERT_EQ(1, ModuleEvent(&record, ME_RESTORE, 0, 0));
        RefHost_SetRate(1.0, 8);
        if (c.started) {
            EXPECT_EQ(1, ModuleEvent(&record, ME_START, 0, 0));
        }
        EXPECT_EQ(1, ModuleEvent(&record, ME_STOP, 0, 0));
        EXPECT_EQ(nullptr, settings.outputBuffer);
        EXPECT_EQ(1, ModuleEvent(&record, ME_DELETE, 0, 0));
        EXPECT_EQ(0u, RefHost_LiveBlocks());
    }
}

/* Two stored modules on one port: the port stays taken until both are gone. */
TEST_F(FoundByTheWalk, PortStaysClaimedWhileAnyModuleOnItLives) {
    static const int kDeleteFirstBeforeSecond[] = {1, 0};
    for (int firstGoesFirst : kDeleteFirstBeforeSecond) {
        SCOPED_TRACE(firstGoesFirst);
        RefModule* first = Restore(0, 2, 0, 1);
        RefModule* second = Restore(0, 2, 0, 1);
        ASSERT_NE(nullptr, first);
        ASSERT_NE(nullptr, second);
        RefHost_DeleteModule(firstGoesFirst ? first : second);
        EXPECT_NE(0u, DeviceTable()[0].portInUse[2]);
        EXPECT_TRUE(TableMatchesModules());
        RefHost_DeleteModule(firstGoesFirst ? second : first);
        EXPECT_EQ(0u, DeviceTable()[0].portInUse[2]);
    }
}

/* A module deleted during a run gets no stop: its buffer goes back at the
   delete, and the card is programmed again at the next start. */
TEST_F(FoundByTheWalk, DeleteDuringARunGivesBackWhatTheStopWould) {
    RefModule* out = Restore(0, 1, 1, 0);
    ASSERT_NE(nullptr, out);
    Start(1.0, 16);
    EXPECT_EQ(1u, RefHost_LiveBlocks());
    RefHost_DeleteModule(out);
    EXPECT_EQ(0u, RefHost_LiveBlocks());
    RefHost_StopExperiment();

    ASSERT_NE(nullptr, Restore(0, 0, 0, 1));
    SimCard_ClearTrace();
    Start(1.0, 16);
    EXPECT_FALSE(CardTrace(SIM_SETDIRECTION).empty()) << "the card was not programmed again";
    RefHost_StopExperiment();
}

/* Modules that reported a failing port and were deleted must not use up the
   reports of the modules that come after them. */
TEST_F(FoundByTheWalk, DeletedModulesLeaveNoReportBehind) {
    Start(1.0, 4);
    std::vector<RefModule*> fillers;
    for (unsigned i = 0; i < MANY_MODULES; ++i) {
        RefModule* reader = Restore(0, 0, 0, 1);
        ASSERT_NE(nullptr, reader);
        SimCard_FailNth(SIM_INPORT, 1, 4242);
        RefHost_ModuleClass()->process(RefModule_Record(reader));
        RefHost_DeleteModule(reader);
        /* Takes the freed record's place, so the next reader's record is new. */
        fillers.push_back(Restore(1, 1, 0, 1));
    }
    EXPECT_EQ(MANY_MODULES, Warnings());
    RefHost_StopExperiment();
}

/* Found in the reference host: a block still pending at a stop stayed the
   channel's current block, and the next run got that block back whatever its
   block size was then, and overran it. */
TEST_F(FoundByTheWalk, NextRunGetsABlockOfItsOwnSize) {
    RefModule* reader = Restore(1, 0, 0, 1);
    ASSERT_NE(nullptr, reader);
    Start(1.0, 4);
    RefHost_ProcessAll(); /* fills a 4-sample block, due only at tick + 4 */
    RefHost_StopExperiment();

    Start(1.0, 8);
    RefHost_ProcessAll(); /* fills 8 samples */
    g_fakeTick += 8;
    RefHost_ProcessAll(); /* and hands the block back */
    RefHost_StopExperiment();
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << LastViolation();
}
