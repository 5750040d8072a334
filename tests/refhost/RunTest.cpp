/*
 * The real extension on the card simulator's default cards (socket 0 port B
 * cabled to socket 1 port A), run through the host: a paced loopback run whose
 * every sample matches, a card pulled mid-run, and restores the module
 * refuses.
 */
#include "HostFixture.h"

#include <cstdio>

namespace {

const char* const kFile = "refhost-run.ows";

const std::string kLoop = "orvik-worksheet 1\n" +
                          HexModule("writer", "inputs 3\noutputs 0\npattern 1 square:6\n", 0, 1) +
                          HexModule("reader", "inputs 0\noutputs 8\n", 1, 0);

class RunTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        SetEnvironmentVariableA("RZXDK08_CONFIG", nullptr);
        ASSERT_EQ(1, RefHost_LoadExtension("Orvik_qx4.dll"));
        ASSERT_NE(nullptr, RefHost_ModuleClass()) << "the simulator's cards were not found";
    }
    void TearDown() override {
        std::remove(kFile);
        HostTest::TearDown();
    }
    void Load(const std::string& text) {
        FILE* file = std::fopen(kFile, "wb");
        ASSERT_NE(nullptr, file);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        RefHost_LoadWorksheet(kFile);
    }
    static std::string Loopback(int* verdict) {
        FILE* file = std::tmpfile();
        *verdict = RefHost_PrintLoopback(file);
        std::string text;
        std::rewind(file);
        char buffer[512];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
        return text;
    }
};

TEST_F(RunTest, APacedLoopbackRunMatchesEverySample) {
    Load(kLoop);
    ASSERT_EQ(2u, RefHost_ModuleCount()) << RefHost_WorksheetProblem(0);
    RunOptions options;
    RefHost_DefaultRunOptions(&options);
    options.millisecondsPerSample = 1.0;
    options.blockSize = 50;
    options.seconds = 0;
    options.blocks = 6;
    RunReport report;
    DWORD began = GetTickCount();
    ASSERT_EQ(1, RefHost_Run(&options, &report));
    DWORD took = GetTickCount() - began;
    EXPECT_EQ(RUN_BLOCKS, report.end);
    EXPECT_GE(took, 250u) << "six blocks of 50 ms cannot be moved faster than real time";
    EXPECT_GE(report.blocksReleased, 6u * 8u);
    EXPECT_GE(report.blocksTaken, 6u * 3u);
    EXPECT_GE(report.lateMinMs, 0) << "no block may be released before it is due";
    RunModuleResult reader;
    ASSERT_EQ(1, RefHost_RunModuleResult(0, &reader));
    EXPECT_GE(reader.samplesDelivered, 6u * 50u);
    EXPECT_EQ(reader.blocksReleased, report.blocksReleased);
    int verdict = 0;
    std::string text = Loopback(&verdict);
    EXPECT_EQ(1, verdict) << text;
    EXPECT_NE(std::string::npos, text.find("loop held: every sample matched")) << text;
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
    EXPECT_EQ(0u, RefHost_CountKind(J_WARNING));
    EXPECT_EQ(0, RefHost_ExperimentRunning());
}

TEST_F(RunTest, TheStartTickIsTheTickCountThePassesPaceBy) {
    Load(kLoop);
    DWORD before = GetTickCount();
    ASSERT_EQ(1, RefHost_StartExperiment(1.0, 50));
    DWORD after = GetTickCount();
    const DWORD* start =
        static_cast<const DWORD*>(RefHost_VariableAddress("dwExperimentStartTimeTicks"));
    ASSERT_NE(nullptr, start);
    EXPECT_LE(before, *start);
    EXPECT_LE(*start, after);
    RefHost_StopExperiment();
}

/* 0.1 ms blocks: no machine here releases them in time. */
TEST_F(RunTest, ARunThatFellBehindSaysSoAndNeverReportsTheLoopHeld) {
    Load(kLoop);
    RunOptions options;
    RefHost_DefaultRunOptions(&options);
    options.millisecondsPerSample = 0.001;
    options.blockSize = 100;
    options.seconds = 0.5;
    RunReport report;
    ASSERT_EQ(1, RefHost_Run(&options, &report));
    EXPECT_EQ(1, report.fellBehind);
    EXPECT_GT(report.lateReleases, 0u) << "releases later than the default 50 ms";
    ASSERT_EQ(1u, RefHost_RunModuleCount()) << "only the reader releases blocks";
    RunModuleResult reader;
    ASSERT_EQ(1, RefHost_RunModuleResult(0, &reader));
    EXPECT_EQ(1u, reader.moduleIndex);
    EXPECT_EQ(8u, reader.channels);
    EXPECT_LT(static_cast<double>(reader.samplesDelivered), 0.99 * reader.samplesNominal);
    EXPECT_EQ(reader.samplesDelivered, report.samplesDelivered);
    EXPECT_EQ(reader.samplesNominal, report.samplesNominal);
    EXPECT_EQ(0u, reader.samplesNominal % 100u) << "whole blocks only";
    int verdict = 1;
    std::string text = Loopback(&verdict);
    EXPECT_EQ(-1, verdict) << text;
    EXPECT_EQ(std::string::npos, text.find("loop held")) << text;
    EXPECT_NE(std::string::npos, text.find("fell behind")) << text;
    EXPECT_NE(std::string::npos, text.find("burst of 100 reads")) << text;
}

TEST_F(RunTest, APulledCardStopsTheRunThroughTheExtension) {
    Load(kLoop);
    RunOptions options;
    RefHost_DefaultRunOptions(&options);
    options.millisecondsPerSample = 1.0;
    options.blockSize = 20;
    options.seconds = 5.0;
    options.pullSocket = 1;
    options.pullAtSeconds = 0.2;
    RunReport report;
    ASSERT_EQ(1, RefHost_Run(&options, &report));
    EXPECT_EQ(RUN_STOPPED_BY_MODULE, report.end);
    EXPECT_LT(report.seconds, 2.0);
    EXPECT_EQ(1, RefHost_StopRequested());
    EXPECT_GE(RefHost_CountKind(J_WARNING), 1u);
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
}

TEST_F(RunTest, RestoresTheModuleRefusesAreReportedAndTheRestLoad) {
    Load("orvik-worksheet 1\n" + HexModule("good", "inputs 0\noutputs 8\n", 1, 0) +
         HexModule("socket255", "inputs 0\noutputs 8\n", 255, 0) +
         HexModule("port9", "inputs 1\noutputs 0\n", 0, 9) +
         HexModule("nocard", "inputs 0\noutputs 8\n", 2, 0));
    ASSERT_EQ(1u, RefHost_ModuleCount());
    EXPECT_STREQ("good", RefModule_Record(RefHost_Module(0))->name);
    ASSERT_EQ(3u, RefHost_WorksheetProblemCount());
    const char* names[] = {"module 2 \"socket255\"", "module 3 \"port9\"", "module 4 \"nocard\""};
    for (size_t i = 0; i < 3; ++i) {
        std::string problem = RefHost_WorksheetProblem(i);
        EXPECT_EQ(0u, problem.find(kFile)) << problem;
        EXPECT_NE(std::string::npos, problem.find(names[i])) << problem;
        EXPECT_NE(std::string::npos, problem.find("event 105")) << problem;
    }
    EXPECT_NE(std::string::npos, std::string(RefHost_WorksheetProblem(2)).find("2"));
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
}

} // namespace
