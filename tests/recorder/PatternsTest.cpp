#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sim/host/Patterns.h"
#include "tests/recorder/TestFiles.h"

namespace {

TEST(Patterns, ParseAndFormatRoundTrip) {
    struct Case {
        const char* text;
        const char* formatted;
    };
    static const Case cases[] = {
        {"const:5", "const:5"},
        {"const:0", "const:0"},
        {"const:2.5", "const:2.5"},
        {"const:-1e3", "const:-1000"},
        {"const:0.1", "const:0.1"},
        {"CONST:5", "const:5"},
        {"square:2", "square:2"},
        {"square:7", "square:7"},
        {"counter:0", "counter:0"},
        {"counter:31", "counter:31"},
        {"csv:in.csv:0", "csv:in.csv:0"},
        {"csv:C:\\data\\入力.csv:12", "csv:C:\\data\\入力.csv:12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Pattern pattern;
        ASSERT_EQ(1, Pattern_Parse(c.text, &pattern));
        char text[300];
        Pattern_Format(&pattern, text, sizeof(text));
        EXPECT_STREQ(c.formatted, text);
        Pattern again;
        ASSERT_EQ(1, Pattern_Parse(text, &again));
        EXPECT_EQ(0, memcmp(&pattern, &again, sizeof(Pattern)));
    }
}

TEST(Patterns, ParseFillsTheFieldsOfEachKind) {
    Pattern pattern;
    ASSERT_EQ(1, Pattern_Parse("csv:C:\\a.csv:3", &pattern));
    EXPECT_EQ(PATTERN_CSV, pattern.kind);
    EXPECT_STREQ("C:\\a.csv", pattern.path);
    EXPECT_EQ(3u, pattern.column);
    ASSERT_EQ(1, Pattern_Parse("square:10", &pattern));
    EXPECT_EQ(PATTERN_SQUARE, pattern.kind);
    EXPECT_EQ(10u, pattern.period);
    ASSERT_EQ(1, Pattern_Parse("counter:4", &pattern));
    EXPECT_EQ(PATTERN_COUNTER, pattern.kind);
    EXPECT_EQ(4u, pattern.bit);
    ASSERT_EQ(1, Pattern_Parse("const:4.5", &pattern));
    EXPECT_EQ(PATTERN_CONSTANT, pattern.kind);
    EXPECT_EQ(4.5, pattern.level);
}

TEST(Patterns, RejectsMalformedTexts) {
    static const char* const texts[] = {
        "",
        "const",
        "const:",
        "const:abc",
        "const:5x",
        "const: 5",
        "const:5 ",
        "const:nan",
        "const:inf",
        "const:1e40",
        "const:1e999",
        "square:",
        "square:0",
        "square:1",
        "square:-4",
        "square:+4",
        "square:4.0",
        "square:8 ",
        "square:4294967296",
        "counter:",
        "counter:32",
        "counter:-1",
        "counter:1:2",
        "csv:",
        "csv:file.csv",
        "csv::2",
        "csv:f.csv:",
        "csv:f.csv:x",
        "csv:f.csv:-1",
        "sine:5",
        "const5",
        ":5",
        "squares:4",
    };
    std::string tooLong = "csv:" + std::string(260, 'a') + ":0";
    Pattern pattern;
    memset(&pattern, 0x5A, sizeof(pattern));
    Pattern untouched = pattern;
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(0, Pattern_Parse(text, &pattern));
        EXPECT_EQ(0, memcmp(&untouched, &pattern, sizeof(Pattern)));
    }
    EXPECT_EQ(0, Pattern_Parse(tooLong.c_str(), &pattern));
    EXPECT_EQ(0, Pattern_Parse(nullptr, &pattern));
    EXPECT_EQ(1, Pattern_Parse(("csv:" + std::string(259, 'a') + ":0").c_str(), &pattern));
}

TEST(Patterns, FormatTruncatesToTheBuffer) {
    Pattern pattern;
    ASSERT_EQ(1, Pattern_Parse("square:1234", &pattern));
    char text[8];
    memset(text, 'z', sizeof(text));
    Pattern_Format(&pattern, text, 8);
    EXPECT_STREQ("square:", text);
}

TEST(Patterns, ValuesOverSampleIndices) {
    struct Case {
        const char* text;
        unsigned long long first;
        const char* levels; /* one character per sample from first: 'H' 5.0, 'L' 0.0 */
    };
    static const Case cases[] = {
        {"square:2", 0, "HLHLHL"},
        {"square:4", 0, "HHLLHHLL"},
        {"square:3", 0, "HHLHHLHHL"}, /* odd: the high half is the longer one */
        {"square:5", 0, "HHHLLHHHLL"},
        {"square:4", 4000000000ull, "HHLL"},
        {"square:3", 0x100000000ull, "HLH"}, /* 2^32 mod 3 is 1 */
        {"counter:0", 0, "LHLHLHLH"},
        {"counter:1", 0, "LLHHLLHH"},
        {"counter:2", 0, "LLLLHHHHLL"},
        {"counter:31", 0x7FFFFFFEull, "LLHH"},
        {"counter:31", 0xFFFFFFFFull, "HL"},
        {"const:5", 0, "HHH"},
        {"const:0", 7, "LLL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Pattern pattern;
        ASSERT_EQ(1, Pattern_Parse(c.text, &pattern));
        for (size_t i = 0; c.levels[i] != '\0'; ++i) {
            float expected = c.levels[i] == 'H' ? 5.0f : 0.0f;
            EXPECT_EQ(expected, Pattern_Value(&pattern, c.first + i)) << "sample " << c.first + i;
        }
    }
}

TEST(Patterns, ConstantKeepsItsLevel) {
    Pattern pattern;
    ASSERT_EQ(1, Pattern_Parse("const:2.5", &pattern));
    EXPECT_EQ(2.5f, Pattern_Value(&pattern, 123456789ull));
    ASSERT_EQ(1, Pattern_Parse("const:-3", &pattern));
    EXPECT_EQ(-3.0f, Pattern_Value(&pattern, 0));
    EXPECT_EQ(0.0f, Pattern_Value(nullptr, 0));
}

class CsvPatterns : public ::testing::Test {
  protected:
    void TearDown() override {
        Pattern_ReleaseAll();
        remove(path_.c_str());
    }
    /* Writes the file and returns the values of its column for n = 0 .. count-1. */
    std::string Values(const std::string& bytes, unsigned column, unsigned count) {
        WriteBytes(path_, bytes);
        return ValuesOfFile(path_, column, count);
    }
    std::string ValuesOfFile(const std::string& path, unsigned column, unsigned count) {
        Pattern pattern;
        std::string text = "csv:" + path + ":" + std::to_string(column);
        EXPECT_EQ(1, Pattern_Parse(text.c_str(), &pattern));
        std::string values;
        for (unsigned n = 0; n < count; ++n) {
            char value[32];
            snprintf(value, sizeof(value), "%s%g", n ? " " : "",
                     static_cast<double>(Pattern_Value(&pattern, n)));
            values += value;
        }
        return values;
    }
    std::string path_ = ScratchPath("pattern.csv");
};

TEST_F(CsvPatterns, ReadsAColumnAndRepeatsIt) {
    struct Case {
        const char* what;
        const char* bytes;
        unsigned column;
        const char* values;
    };
    static const Case cases[] = {
        {"header skipped", "t,a,b\n0,5,1\n1,0,2\n", 1, "5 0 5 0 5"},
        {"another column", "t,a,b\n0,5,1\n1,0,2\n", 2, "1 2 1 2 1"},
        {"no header", "5\n0\n0\n", 0, "5 0 0 5 0"},
        {"CRLF and blank lines", "v\r\n\r\n2.5\r\n \r\n5\r\n", 0, "2.5 5 2.5 5 2.5"},
        {"no final line break", "1\n2", 0, "1 2 1 2 1"},
        {"bad rows keep their place", "v\n5\nx\n\"5\"\n", 0, "5 0 5 5 0"},
        {"missing field", "a,b\n1,5\n2\n3,5\n", 1, "5 0 5 5 0"},
        {"quoted comma", "\"x,y\",b\n\"1,2\",5\n", 1, "5 5 5 5 5"},
        {"blanks around", "v\n  5 \n\t0\t\n", 0, "5 0 5 0 5"},
        {"byte order mark", "\xEF\xBB\xBFvalue\n5\n", 0, "5 5 5 5 5"},
        {"huge value saturates", "1e300\n", 0,
         "3.40282e+38 3.40282e+38 3.40282e+38 "
         "3.40282e+38 3.40282e+38"},
        {"header only", "a,b\n", 0, "0 0 0 0 0"},
        {"empty", "", 0, "0 0 0 0 0"},
        {"column not there", "1,2\n3,4\n", 5, "0 0 0 0 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.values, Values(c.bytes, c.column, 5));
        Pattern_ReleaseAll();
    }
}

TEST_F(CsvPatterns, UnreadableFileGivesZero) {
    EXPECT_EQ("0 0 0", ValuesOfFile(ScratchPath("no_such_file.csv"), 0, 3));
}

/* The file is read on first use and kept: a change shows after a release. */
TEST_F(CsvPatterns, LoadsOnceUntilReleased) {
    EXPECT_EQ("1 2", Values("1\n2\n", 0, 2));
    WriteBytes(path_, "7\n");
    EXPECT_EQ("1 2", ValuesOfFile(path_, 0, 2));
    EXPECT_EQ("0 0", ValuesOfFile(path_, 1, 2));
    Pattern_ReleaseAll();
    EXPECT_EQ("7 7", ValuesOfFile(path_, 0, 2));
}

} // namespace
