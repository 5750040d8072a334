/*
 * Module records and block queues with a module class of the test's own: the
 * records the host allocates, output blocks sized by the block size and
 * checked at release, input queues, connector counts, and the lookups that
 * must answer 0.
 */
#include "HostFixture.h"

namespace {

class BlockTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        FakeClass::Register();
    }
};

TEST_F(BlockTest, CreationAllocatesTheRecordsTheClassAsksFor) {
    RefModule* module = RefHost_CreateModule();
    ASSERT_NE(nullptr, module);
    ModuleRecord* record = RefModule_Record(module);
    EXPECT_EQ(RefHost_MainWindow(), record->owner);
    EXPECT_EQ(1u, record->enable);
    EXPECT_STREQ("TEST 1", record->name);
    ASSERT_NE(nullptr, record->settings);
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        ASSERT_NE(nullptr, record->channelStates[k]);
    }
    EXPECT_EQ(2u, record->outputCount);
    EXPECT_NE(nullptr, record->outputChannels[0]);
    EXPECT_NE(nullptr, record->outputChannels[1]);
    EXPECT_EQ(nullptr, record->outputChannels[2]);
    RefHost_DeleteModule(module);
    EXPECT_EQ((std::vector<UINT>{ME_CREATE, ME_DELETE}), FakeClass::events);
    EXPECT_EQ(0u, RefHost_ModuleCount());
}

TEST_F(BlockTest, ARefusedCreationLeavesNoModule) {
    FakeClass::answer[ME_CREATE] = 0;
    EXPECT_EQ(nullptr, RefHost_CreateModule());
    EXPECT_EQ(0u, RefHost_ModuleCount());
}

TEST_F(BlockTest, OutputBlocksHoldTheBlockSizeAndComeBackChecked) {
    RefModule* module = RefHost_CreateModule();
    ModuleRecord* record = RefModule_Record(module);
    RefHost_SetRate(1.0, 50);
    auto get = Service<PFN_GetCurrentOutputBlock>("GetCurrentOutputBlock");
    auto release = Service<PFN_NewReleaseOutputBlock>("NewReleaseOutputBlock");
    DataBlock* block = static_cast<DataBlock*>(get(record->outputChannels[0]));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(50u, RefHost_BlockCapacity(block));
    EXPECT_EQ(block, get(record->outputChannels[0])) << "the same block until it is released";
    block->sampleCount = 50;
    for (int j = 0; j < 50; ++j) {
        BlockSamples(block)[j] = 5.0f;
    }
    release(record->outputChannels[0], "Process", 151);
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
    ASSERT_EQ(1u, RefHost_ReleasedBlockCount(module, 0));
    EXPECT_EQ(block, RefHost_ReleasedBlock(module, 0, 0));
    EXPECT_NE(0u, RefHost_BlockReleaseTick(block));

    DataBlock* second = static_cast<DataBlock*>(get(record->outputChannels[1]));
    second->sampleCount = 51;
    BlockSamples(second)[50] = 5.0f; /* one sample past the block */
    release(record->outputChannels[1], "Process", 151);
    EXPECT_TRUE(LastViolationContains("released 51 samples in a block of 50")) << Violations();
    EXPECT_EQ(2u, RefHost_CountKind(J_VIOLATION)) << Violations();
}

TEST_F(BlockTest, MisusedOutputChannelsAreViolations) {
    RefModule* module = RefHost_CreateModule();
    ModuleRecord* record = RefModule_Record(module);
    auto get = Service<PFN_GetCurrentOutputBlock>("GetCurrentOutputBlock");
    auto release = Service<PFN_NewReleaseOutputBlock>("NewReleaseOutputBlock");
    static OutputChannel foreign;
    EXPECT_EQ(nullptr, get(&foreign));
    EXPECT_TRUE(LastViolationContains("no output channel")) << Violations();
    release(record->outputChannels[0], "Process", 151);
    EXPECT_TRUE(LastViolationContains("no block handed out")) << Violations();
    RefHost_WithholdOutputBlocks(1);
    EXPECT_EQ(nullptr, get(record->outputChannels[0]));
    RefHost_WithholdOutputBlocks(0);
    EXPECT_NE(nullptr, get(record->outputChannels[0]));
    EXPECT_EQ(2u, RefHost_CountKind(J_VIOLATION)) << Violations();
}

TEST_F(BlockTest, InputBlocksQueueInOrderAndAreReturnedOnce) {
    RefModule* module = RefHost_CreateModule();
    ModuleRecord* record = RefModule_Record(module);
    auto resize = Service<PFN_ChangeModuleSize>("ChangeModuleSize");
    resize(record, 3, 0);
    EXPECT_EQ(3u, record->inputCount);
    EXPECT_EQ(0u, record->outputCount);
    EXPECT_EQ(nullptr, record->outputChannels[0]);
    RefHost_SetRate(2.0, 4);
    const float first[] = {0.0f, 5.0f, 5.0f, 0.0f};
    const float second[] = {5.0f, 5.0f};
    ASSERT_EQ(1, RefHost_QueueInputBlock(module, 1, first, 4));
    ASSERT_EQ(1, RefHost_QueueInputBlock(module, 1, second, 2));
    auto get = Service<PFN_GetInputBlock>("GetInputBlock");
    auto release = Service<PFN_NewReleaseInputBlock>("NewReleaseInputBlock");
    EXPECT_EQ(nullptr, get(record, 0)) << "nothing waits on input 0";
    DataBlock* block = static_cast<DataBlock*>(get(record, 1));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(4u, block->sampleCount);
    EXPECT_DOUBLE_EQ(0.0, block->startTime);
    EXPECT_DOUBLE_EQ(0.002, block->sampleDistance);
    release(record, 1, "Process", 268);
    block = static_cast<DataBlock*>(get(record, 1));
    ASSERT_NE(nullptr, block);
    EXPECT_DOUBLE_EQ(0.008, block->startTime) << "the second block starts after four samples";
    EXPECT_EQ(5.0f, BlockSamples(block)[0]);
    release(record, 1, "Process", 268);
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
    EXPECT_EQ(2u, RefHost_ConsumedInputBlocks(module, 1));

    release(record, 1, "Process", 268);
    EXPECT_TRUE(LastViolationContains("no block handed out")) << Violations();
    EXPECT_EQ(nullptr, get(record, 3));
    EXPECT_TRUE(LastViolationContains("input 3")) << Violations();
}

TEST_F(BlockTest, StartRefusedByOneModuleStopsOnlyThoseStarted) {
    RefModule* a = RefHost_CreateModule();
    RefModule* b = RefHost_CreateModule();
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    FakeClass::events.clear();
    FakeClass::answer[ME_START] = 1;
    EXPECT_EQ(1, RefHost_StartExperiment(1.0, 10));
    RefHost_ProcessAll();
    EXPECT_EQ(2, FakeClass::processCalls);
    RefHost_StopExperiment();
    EXPECT_EQ((std::vector<UINT>{ME_START, ME_START, ME_STOP, ME_STOP}), FakeClass::events);

    FakeClass::events.clear();
    FakeClass::answer[ME_START] = 0;
    EXPECT_EQ(0, RefHost_StartExperiment(1.0, 10));
    EXPECT_EQ((std::vector<UINT>{ME_START}), FakeClass::events);
    EXPECT_EQ(0, RefHost_ExperimentRunning());
}

TEST_F(BlockTest, UnknownNamesAnswerZeroAndStubsRecordTheirCall) {
    const char* unknown[] = {"", "hinstorvik", "NewMemAlloc ", "GlobalFlowChartInfo", "&MainMenu"};
    for (const char* name : unknown) {
        SCOPED_TRACE(name);
        EXPECT_EQ(0,
                  SendMessageA(RefHost_MainWindow(), HM_GETVAR, 0, reinterpret_cast<LPARAM>(name)));
        EXPECT_EQ(
            0, SendMessageA(RefHost_MainWindow(), HM_GETFUNC, 0, reinterpret_cast<LPARAM>(name)));
    }
    EXPECT_EQ(0, SendMessageA(RefHost_MainWindow(), HM_GETFUNC, 0,
                              reinterpret_cast<LPARAM>("hInstOrvik")))
        << "a variable is no function";
    typedef LONG(WINAPI * Stub)(void);
    Stub stub = Service<Stub>("do_fft");
    ASSERT_NE(nullptr, stub);
    EXPECT_EQ(0, stub());
    EXPECT_TRUE(LastViolationContains("\"do_fft\"")) << Violations();
}

TEST_F(BlockTest, TheHostsButtonBitmapsHaveTheControlsSizes) {
    const HBITMAP* channel = reinterpret_cast<const HBITMAP*>(
        SendMessageA(RefHost_MainWindow(), HM_GETVAR, 0, reinterpret_cast<LPARAM>("hBitChannel")));
    const HBITMAP* lessMore = reinterpret_cast<const HBITMAP*>(
        SendMessageA(RefHost_MainWindow(), HM_GETVAR, 0, reinterpret_cast<LPARAM>("hBitLessMore")));
    ASSERT_NE(nullptr, channel);
    ASSERT_NE(nullptr, lessMore);
    struct Expect {
        const HBITMAP* array;
        int count, width, height;
    } sets[] = {{channel, 4, 22, 30}, {lessMore, 6, 24, 32}};
    for (const Expect& set : sets) {
        for (int i = 0; i < set.count; ++i) {
            BITMAP info;
            ASSERT_EQ(static_cast<int>(sizeof info), GetObjectA(set.array[i], sizeof info, &info));
            EXPECT_EQ(set.width, info.bmWidth);
            EXPECT_EQ(set.height, info.bmHeight);
        }
    }
    /* The channel states must look different: selected, present and absent. */
    HDC dc = CreateCompatibleDC(nullptr);
    COLORREF centre[4];
    for (int i = 0; i < 4; ++i) {
        HGDIOBJ old = SelectObject(dc, channel[i]);
        centre[i] = GetPixel(dc, 11, 14);
        SelectObject(dc, old);
    }
    DeleteDC(dc);
    EXPECT_NE(centre[1], centre[2]);
    EXPECT_NE(centre[2], centre[3]);
    EXPECT_NE(centre[1], centre[3]);
}

TEST_F(BlockTest, ARunFeedsOutputModulesAtTheSampleRate) {
    RefModule* module = RefHost_CreateModule();
    Service<PFN_ChangeModuleSize>("ChangeModuleSize")(RefModule_Record(module), 2, 0);
    RunOptions options;
    RefHost_DefaultRunOptions(&options);
    options.millisecondsPerSample = 1.0;
    options.blockSize = 50;
    options.seconds = 0.3;
    RunReport report;
    ASSERT_EQ(1, RefHost_Run(&options, &report));
    EXPECT_EQ(RUN_DURATION, report.end);
    /* Blocks start at 0, 50, ... 300 ms: at most seven per input in 0.3 s. */
    EXPECT_GE(report.blocksFed, 2u * 5u);
    EXPECT_LE(report.blocksFed, 2u * 7u);
    EXPECT_EQ(report.blocksFed, report.blocksTaken);
    EXPECT_EQ(report.blocksFed * 50u, report.samplesFed);
    EXPECT_GT(FakeClass::processCalls, 10);
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
}

} // namespace
