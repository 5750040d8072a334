#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/host/Patterns.h"
#include "sim/host/Recorder.h"
#include "tests/recorder/TestFiles.h"

namespace {

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(1, Recorder_Begin());
    }
    void TearDown() override {
        Recorder_End();
        Pattern_ReleaseAll();
        for (const std::string& path : written_)
            remove(path.c_str());
    }
    std::string Path(const char* name) {
        written_.push_back(ScratchPath(name));
        return written_.back();
    }
    std::string Csv() {
        std::string path = Path("out.csv");
        EXPECT_EQ(1, Recorder_WriteCsv(path.c_str()));
        return ReadBytes(path);
    }
    std::string Vcd() {
        std::string path = Path("out.vcd");
        EXPECT_EQ(1, Recorder_WriteVcd(path.c_str()));
        return ReadBytes(path);
    }
    std::string Svg() {
        std::string path = Path("out.svg");
        EXPECT_EQ(1, Recorder_WriteSvg(path.c_str()));
        return ReadBytes(path);
    }

  private:
    std::vector<std::string> written_;
};

void Add(int channel, double start, double distance, std::vector<float> samples) {
    ASSERT_EQ(1, Recorder_AddBlock(channel, start, distance, samples.data(),
                                   static_cast<unsigned>(samples.size())));
}

/* Two channels of one module at 1 ms in two blocks, and a channel of a second
   module at 1.5 ms whose name needs quoting. */
void RecordSmallRun(void) {
    int bit0 = Recorder_AddChannel("ポート A", "Bit 0");
    int bit1 = Recorder_AddChannel("ポート A", "Bit 1");
    int other = Recorder_AddChannel("out", "x,\"y\"");
    ASSERT_EQ(0, bit0);
    ASSERT_EQ(2, other);
    Add(bit0, 0.0, 0.001, {0.0f, 5.0f, 5.0f});
    Add(bit1, 0.0, 0.001, {5.0f, 0.0f, 5.0f});
    Add(other, 0.0, 0.0015, {5.0f, 0.0f, 2.5f});
    Add(bit0, 0.003, 0.001, {0.0f});
    Add(bit1, 0.003, 0.001, {0.0f});
}

/* The text after the $date section, which holds the clock time of writing. */
std::string AfterDate(const std::string& vcd) {
    const char head[] = "$date\n   ";
    EXPECT_EQ(0, vcd.compare(0, sizeof(head) - 1u, head));
    size_t end = vcd.find("\n$end\n");
    EXPECT_EQ(sizeof(head) - 1u + strlen("2024-01-31 12:34:56"), end);
    return end == std::string::npos ? vcd : vcd.substr(end + 6u);
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1u))
        ++n;
    return n;
}

/* The d attribute of the n-th path. */
std::string PathData(const std::string& svg, unsigned n) {
    size_t at = 0;
    for (unsigned i = 0; i <= n; ++i) {
        at = svg.find("<path ", at == 0 ? 0 : at + 1u);
        if (at == std::string::npos)
            return "";
    }
    size_t d = svg.find(" d=\"", at) + 4u;
    return svg.substr(d, svg.find('"', d) - d);
}

TEST_F(RecorderTest, CsvMergesChannelsByTimeWithEmptyCells) {
    RecordSmallRun();
    EXPECT_EQ("time_s,ポート A/Bit 0,ポート A/Bit 1,\"out/x,\"\"y\"\"\"\r\n"
              "0,0,5,5\r\n"
              "0.001,5,0,\r\n"
              "0.0015,,,0\r\n"
              "0.002,5,5,\r\n"
              "0.003,0,0,2.5\r\n",
              Csv());
}

/* Two modules at one rate stamp times that differ in the last bits
   (0.1 + 2 * 0.1 is not 0.3): they still share a row. */
TEST_F(RecorderTest, CsvJoinsTimesThatDifferOnlyByRounding) {
    int a = Recorder_AddChannel("a", "0");
    int b = Recorder_AddChannel("b", "0");
    Add(a, 0.1, 0.1, {5.0f, 5.0f, 0.0f});
    Add(b, 0.3, 0.1, {5.0f});
    EXPECT_EQ("time_s,a/0,b/0\r\n0.1,5,\r\n0.2,5,\r\n0.3,0,5\r\n", Csv());
}

TEST_F(RecorderTest, VcdDeclaresWiresAndDumpsOnlyChanges) {
    RecordSmallRun();
    EXPECT_EQ("$version\n   Orvik reference host recorder\n$end\n"
              "$timescale 1us $end\n"
              "$scope module A $end\n"
              "$var wire 1 ! Bit_0 $end\n"
              "$var wire 1 \" Bit_1 $end\n"
              "$upscope $end\n"
              "$scope module out $end\n"
              "$var wire 1 # x_y $end\n"
              "$upscope $end\n"
              "$enddefinitions $end\n"
              "#0\n$dumpvars\n0!\n1\"\n1#\n$end\n"
              "#1000\n1!\n0\"\n"
              "#1500\n0#\n"
              "#2000\n1\"\n"
              "#3000\n0!\n0\"\n"
              "#4500\n",
              AfterDate(Vcd()));
}

/* Samples 0.4 us apart round onto shared microseconds: the last value at a
   microsecond stands, and no stamp repeats. */
TEST_F(RecorderTest, VcdFoldsSamplesWithinOneMicrosecond) {
    int fast = Recorder_AddChannel("m", "fast");
    Add(fast, 0.0, 0.0000004, {0.0f, 5.0f, 0.0f, 5.0f, 0.0f});
    std::string body = AfterDate(Vcd());
    EXPECT_EQ("#0\n$dumpvars\n1!\n$end\n#2\n0!\n", body.substr(body.find("#0\n")));
}

TEST_F(RecorderTest, VcdMarksChannelsThatStartLaterAsUnknown) {
    int early = Recorder_AddChannel("m", "early");
    int late = Recorder_AddChannel("m", "late");
    Add(early, 0.0, 0.001, {0.0f, 0.0f, 5.0f});
    Add(late, 0.002, 0.001, {5.0f});
    std::string body = AfterDate(Vcd());
    EXPECT_EQ("#0\n$dumpvars\n0!\nx\"\n$end\n#2000\n1!\n1\"\n#3000\n",
              body.substr(body.find("#0\n")));
}

TEST_F(RecorderTest, VcdNamesAreReadableAndUnique) {
    Recorder_AddChannel("入力", "ビット");
    Recorder_AddChannel("入力", "ビット");
    Recorder_AddChannel("入力", "a b");
    Recorder_AddChannel("入力", "a_b");
    Recorder_AddChannel("ab[1].c", "Bit  7");
    Recorder_AddChannel("ab_1_c", " Bit 7 ");
    std::string body = AfterDate(Vcd());
    EXPECT_EQ("$scope module module1 $end\n"
              "$var wire 1 ! ch1 $end\n"
              "$var wire 1 \" ch2 $end\n"
              "$var wire 1 # a_b $end\n"
              "$var wire 1 $ a_b_2 $end\n"
              "$upscope $end\n"
              "$scope module ab_1_c $end\n"
              "$var wire 1 % Bit_7 $end\n"
              "$upscope $end\n"
              "$scope module ab_1_c_2 $end\n"
              "$var wire 1 & Bit_7 $end\n"
              "$upscope $end\n"
              "$enddefinitions $end\n",
              body.substr(body.find("$scope")));
}

/* A longer run of two modules at unrelated rates: stamps strictly rise and every
   identifier stays printable. */
TEST_F(RecorderTest, VcdStampsStrictlyRise) {
    std::vector<float> samples(500);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i / 3u) % 2u ? 5.0f : 0.0f;
    for (unsigned c = 0; c < RECORDER_MAX_CHANNELS; ++c) {
        int channel = Recorder_AddChannel(c < 32u ? "a" : "b", "c");
        double distance = c < 32u ? 0.0007 : 0.001;
        for (unsigned block = 0; block < 4u; ++block)
            Add(channel, block * 500 * distance, distance, samples);
    }
    std::string vcd = Vcd();
    long long previous = -1;
    size_t stamps = 0;
    for (size_t at = vcd.find("\n#"); at != std::string::npos; at = vcd.find("\n#", at + 1u)) {
        long long stamp = atoll(vcd.c_str() + at + 2u);
        EXPECT_LT(previous, stamp);
        previous = stamp;
        ++stamps;
    }
    EXPECT_GT(stamps, 1000u);
    EXPECT_EQ(2000000, previous);
    for (unsigned char c : vcd)
        ASSERT_TRUE(c == '\n' || (c >= 32u && c <= 126u)) << static_cast<int>(c);
}

TEST_F(RecorderTest, SvgIsUtf8WithEscapedNamesAndTicks) {
    RecordSmallRun();
    Recorder_AddChannel("<&>", "empty");
    std::string svg = Svg();
    EXPECT_EQ(0u, svg.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "));
    EXPECT_EQ(svg.size() - 7u, svg.rfind("</svg>\n"));
    EXPECT_NE(std::string::npos, svg.find(u8">ポート A/Bit 0</text>"));
    EXPECT_NE(std::string::npos, svg.find(">out/x,&quot;y&quot;</text>"));
    EXPECT_NE(std::string::npos, svg.find(">&lt;&amp;&gt;/empty</text>"));
    EXPECT_EQ(4u, Count(svg, "<text x=\"8\""));
    EXPECT_EQ(3u, Count(svg, "<path "));
    EXPECT_EQ(Count(svg, "<text"), Count(svg, "</text>"));
    EXPECT_EQ(1u, Count(svg, "<svg "));
    /* 4.5 ms long: ticks every millisecond. */
    EXPECT_NE(std::string::npos, svg.find(">0 ms</text>"));
    EXPECT_NE(std::string::npos, svg.find(">4 ms</text>"));
    EXPECT_EQ(std::string::npos, svg.find(">5 ms</text>"));
    EXPECT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, svg.c_str(),
                                  static_cast<int>(svg.size()), nullptr, 0),
              0);
}

TEST_F(RecorderTest, SvgDrawsEachLevelChangeOnce) {
    int slow = Recorder_AddChannel("m", "slow");
    std::vector<float> samples(2000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i / 100u) % 2u ? 0.0f : 5.0f;
    Add(slow, 0.0, 0.001, samples);
    std::string svg = Svg();
    std::string d = PathData(svg, 0);
    EXPECT_EQ(0u, d.find(" M250.0 26")) << d;
    EXPECT_EQ(1u, Count(d, "M"));
    EXPECT_EQ(19u, Count(d, "V"));
    EXPECT_EQ(20u, Count(d, "H"));
    EXPECT_EQ(d.size() - 7u, d.rfind(" H980.0"));
    EXPECT_NE(std::string::npos, svg.find(">2 s</text>"));
}

/* 2 s at 1 kHz toggling on every sample: about three changes per pixel column. */
TEST_F(RecorderTest, SvgPathStaysBoundedForFastToggling) {
    int fast = Recorder_AddChannel("m", "fast");
    std::vector<float> samples(2000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = i % 2u ? 5.0f : 0.0f;
    Add(fast, 0.0, 0.001, samples);
    std::string d = PathData(Svg(), 0);
    EXPECT_LE(Count(d, "H"), 731u);
    EXPECT_GE(Count(d, "H"), 700u);
    EXPECT_LE(Count(d, "V"), 2u * 731u);
}

TEST_F(RecorderTest, SvgBreaksTheLineAtAGapBetweenBlocks) {
    int channel = Recorder_AddChannel("m", "c");
    Add(channel, 0.0, 0.1, {0.0f, 5.0f});
    Add(channel, 0.2, 0.1, {5.0f, 0.0f}); /* continues */
    Add(channel, 0.8, 0.1, {0.0f, 5.0f}); /* after a pause */
    std::string d = PathData(Svg(), 0);
    EXPECT_EQ(" M250.0 46 H323.0 V26 H469.0 V46 H542.0 M834.0 46 H907.0 V26 H980.0", d);
}

TEST_F(RecorderTest, KeepsBlocksForRandomAccess) {
    int channel = Recorder_AddChannel("m", "c");
    Add(channel, 0.0, 0.01, {1.0f, 2.0f, 3.0f});
    Add(channel, 1.0, 0.5, {4.0f, 5.0f});
    ASSERT_EQ(5u, Recorder_SampleCount(channel));
    EXPECT_EQ(1u, Recorder_ChannelCount());
    EXPECT_DOUBLE_EQ(0.02, Recorder_SampleTime(channel, 2));
    EXPECT_DOUBLE_EQ(1.0, Recorder_SampleTime(channel, 3));
    EXPECT_DOUBLE_EQ(1.5, Recorder_SampleTime(channel, 4));
    EXPECT_EQ(5.0f, Recorder_Sample(channel, 4));
    EXPECT_EQ(0.0f, Recorder_Sample(channel, 5));
    EXPECT_EQ(0.0, Recorder_SampleTime(channel, 5));
    EXPECT_EQ(0u, Recorder_SampleCount(channel + 1));
}

TEST_F(RecorderTest, RefusesBlocksThatBreakTheTimeOrder) {
    struct Case {
        const char* what;
        int channel;
        double start;
        double distance;
        unsigned count;
        int expected;
    };
    const double nan = std::nan("");
    static const float samples[2] = {5.0f, 0.0f};
    const Case cases[] = {
        {"unknown channel", 1, 2.0, 0.001, 2, 0},
        {"negative channel", -1, 2.0, 0.001, 2, 0},
        {"start on the last sample", 0, 1.001, 0.001, 2, 0},
        {"start before it", 0, 0.5, 0.001, 2, 0},
        {"no distance", 0, 2.0, 0.0, 2, 0},
        {"negative distance", 0, 2.0, -0.001, 2, 0},
        {"distance not a number", 0, 2.0, nan, 2, 0},
        {"start not finite", 0, INFINITY, 0.001, 2, 0},
        {"beyond the latest time", 0, 2e9, 0.001, 2, 0},
        {"empty block", 0, 0.0, nan, 0, 1},
    };
    int channel = Recorder_AddChannel("m", "c");
    Add(channel, 1.0, 0.001, {0.0f, 5.0f});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.expected, Recorder_AddBlock(c.channel, c.start, c.distance, samples, c.count));
        EXPECT_EQ(2u, Recorder_SampleCount(channel));
    }
    EXPECT_EQ(0, Recorder_AddBlock(channel, 2.0, 0.001, nullptr, 2));
    int fresh = Recorder_AddChannel("m", "d");
    EXPECT_EQ(0, Recorder_AddBlock(fresh, -0.001, 0.001, samples, 2));
    EXPECT_EQ(1, Recorder_AddBlock(channel, 1.002, 0.001, samples, 2));
    EXPECT_EQ(4u, Recorder_SampleCount(channel));
}

TEST_F(RecorderTest, ChannelTableHasAFixedSize) {
    for (unsigned i = 0; i < RECORDER_MAX_CHANNELS; ++i)
        ASSERT_EQ(static_cast<int>(i), Recorder_AddChannel("m", "c"));
    EXPECT_EQ(-1, Recorder_AddChannel("m", "c"));
    EXPECT_EQ(1, Recorder_Begin());
    EXPECT_EQ(0u, Recorder_ChannelCount());
    EXPECT_EQ(0, Recorder_AddChannel(nullptr, nullptr));
}

/* A long Japanese name is cut between characters, never inside one. */
TEST_F(RecorderTest, LongNamesAreCutBetweenCharacters) {
    std::string longName;
    for (int i = 0; i < 40; ++i)
        longName += "ア";
    Recorder_AddChannel("m", longName.c_str());
    std::string expected = "m/";
    for (int i = 0; i < 31; ++i)
        expected += u8"ア";
    EXPECT_NE(std::string::npos, Svg().find(">" + expected + "</text>"));
}

TEST_F(RecorderTest, WritersReportAFileThatCannotBeWritten) {
    RecordSmallRun();
    std::string path = ScratchPath("no_such_folder\\out.txt");
    EXPECT_EQ(0, Recorder_WriteCsv(path.c_str()));
    EXPECT_EQ(0, Recorder_WriteVcd(path.c_str()));
    EXPECT_EQ(0, Recorder_WriteSvg(path.c_str()));
    EXPECT_EQ(0, Recorder_WriteCsv(nullptr));
}

TEST_F(RecorderTest, EmptyRecordingStillGivesValidFiles) {
    EXPECT_EQ("time_s\r\n", Csv());
    std::string body = AfterDate(Vcd());
    EXPECT_EQ("$timescale 1us $end\n$enddefinitions $end\n", body.substr(body.find("$timescale")));
    std::string svg = Svg();
    EXPECT_NE(std::string::npos, svg.find(">0 s</text>"));
    EXPECT_EQ(0u, Count(svg, "<path "));
}

TEST(RecorderNames, ConvertsCodePage932ToUtf8) {
    struct Case {
        const char* text;
        unsigned size;
        int expected;
        const char* utf8;
    };
    static const Case cases[] = {
        {"ポート A", 64, 1, u8"ポート A"},
        {"abc", 64, 1, "abc"},
        {"", 64, 1, ""},
        {"ポート A", 4, 0, "???"}, /* does not fit */
        {"a\x81", 64, 0, "a?"},    /* a lead byte without its trail */
    };
    for (const Case& c : cases) {
        char target[64];
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(c.expected, Recorder_ToUtf8(c.text, target, c.size));
        EXPECT_STREQ(c.utf8, target);
    }
}

/* What the recorder writes, the pattern generator reads back: a run can be
   replayed onto an output module. */
TEST_F(RecorderTest, RecordedCsvReplaysAsPattern) {
    RecordSmallRun();
    std::string path = Path("replay.csv");
    ASSERT_EQ(1, Recorder_WriteCsv(path.c_str()));
    Pattern pattern;
    ASSERT_EQ(1, Pattern_Parse(("csv:" + path + ":2").c_str(), &pattern));
    static const float expected[] = {5.0f, 0.0f, 0.0f, 5.0f, 0.0f, 5.0f};
    for (unsigned n = 0; n < 6u; ++n)
        EXPECT_EQ(expected[n], Pattern_Value(&pattern, n)) << n;
}

} // namespace
