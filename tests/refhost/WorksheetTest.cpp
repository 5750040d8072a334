/*
 * Worksheet files that go wrong: every bad line is named with its file and
 * line, all of them and not only the first of a module; a damaged module is
 * left out and the modules around it load; bad run lines are reported rather
 * than replaced by defaults; damaged, cut, oversized and missing files.
 */
#include "HostFixture.h"

#include <cstdio>

namespace {

const char* const kFile = "refhost-test.ows";

void WriteFile(const std::string& text) {
    FILE* file = std::fopen(kFile, "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::string SettingsHex(WORD socket, DWORD port, const char* firstName = "Bit 7") {
    ModuleSettings settings;
    std::memset(&settings, 0, sizeof settings);
    std::strcpy(settings.channelNames[0], firstName);
    settings.socket = socket;
    settings.port = port;
    return SettingsToHex(settings);
}

/* A field-form module whose line 3 onwards are the given lines (the "module"
   line is the block's line 1, the name line 2). */
std::string FieldModule(const std::string& name, const std::string& lines) {
    return "module\nname " + name + "\n" + lines + "end\n";
}

const char* const kGoodFields = "direction input\nchannels 8\nsocket 0\nport B\n";

std::vector<std::string> Problems(void) {
    std::vector<std::string> problems;
    for (size_t i = 0; i < RefHost_WorksheetProblemCount(); ++i) {
        problems.push_back(RefHost_WorksheetProblem(i));
    }
    return problems;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

class WorksheetTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        FakeClass::Register();
    }
    void TearDown() override {
        std::remove(kFile);
        HostTest::TearDown();
    }
};

struct BadLineCase {
    const char* what;
    std::string lines; /* the second module's lines after its name: the bad one is line 3 of
                          the module, line 11 of the file */
    const char* reason;
    unsigned line = 11;
};

/* Each reason once. The damaged module sits between two good ones: it is
   reported as "file:line: module 2 ...: reason" and left out; the others load. */
TEST_F(WorksheetTest, EveryKindOfBadLineIsNamedWithItsLine) {
    const std::string fields = kGoodFields;
    const std::string counts = "inputs 0\noutputs 8\n";
    std::string unterminated = SettingsHex(0, 1);
    for (size_t i = 0; i < 48; ++i) {
        unterminated[7 * 48 + i] = 'A'; /* slot 7, right before the socket */
    }
    const BadLineCase cases[] = {
        {"name not UTF-8", "\n", "is not valid UTF-8", 10}, /* the name itself: see below */
        {"description too long", "description " + std::string(41, 'd') + "\n" + fields,
         "is 41 bytes in code page 932, longer than 40"},
        {"description with a control character", "description a\x01z\n" + fields,
         "holds a control character"},
        {"channel name lacks the code page", std::string(u8"channel 0 caf\u00e9\n") + fields,
         "holds U+00E9, which code page 932 lacks"},
        {"channel name outside the basic plane", std::string(u8"channel 1 \U0001F600\n") + fields,
         "holds U+1F600"},
        {"channel name too long", std::string(u8"channel 2 一二三四五六七八九十壱弐\n") + fields,
         "is 24 bytes in code page 932, longer than 23"},
        {"channel position 8", "channel 8 x\n" + fields, "channel \"8\" is not 0 to 7"},
        {"channel twice", "channel 3 a\n" + fields + "channel 3 b\n",
         "channel 3 given twice (first on line 11)", 16},
        {"socket 16", "socket 16\nport B\ndirection input\nchannels 8\n",
         "socket \"16\" is not 0 to 15"},
        {"port D", "port D\nsocket 0\ndirection input\nchannels 8\n",
         "port \"D\" is not A, B or C"},
        {"port blank", "port  \nsocket 0\ndirection input\nchannels 8\n",
         "port \" \" is not A, B or C"},
        {"direction", "direction sideways\nchannels 8\nsocket 0\nport B\n",
         "direction \"sideways\" is not input or output"},
        {"channels 0", "channels 0\ndirection input\nsocket 0\nport B\n",
         "channels \"0\" is not 1 to 8"},
        {"channels 9", "channels 9\ndirection input\nsocket 0\nport B\n",
         "channels \"9\" is not 1 to 8"},
        {"inputs 9", "inputs 9\noutputs 0\nsocket 0\nport B\n", "inputs \"9\" is not 0 to 8"},
        {"count past 32 bits", "inputs 99999999999\noutputs 1\nsocket 0\nport B\n",
         "is not 0 to 8"},
        {"no channels", "inputs 0\noutputs 0\nsocket 0\nport B\n", "no inputs and no outputs"},
        {"both count forms", "inputs 1\noutputs 0\nsocket 0\nport B\ndirection input\nchannels 8\n",
         "direction and channels, or inputs and outputs: not both", 15},
        {"bytes on the socket", "bytes 193 01\n" + fields,
         "bytes at offset 193 fall on the socket"},
        {"bytes on a name", "channel 0 abc\nbytes 2 41\n" + fields,
         "bytes at offset 2 fall on the name of channel 0", 12},
        {"bytes on the pointer", "bytes 203 0102\n" + fields,
         "bytes at offset 204 fall on the output buffer pointer"},
        {"bytes twice", "bytes 194 01\n" + fields + "bytes 194 02\n",
         "bytes at offset 194 fall on bytes given on line 11", 16},
        {"bytes past the record", "bytes 207 0102\n" + fields, "run past the end"},
        {"bytes odd digits", "bytes 194 012\n" + fields, "pairs of hex digits"},
        {"bytes offset", "bytes 208 01\n" + fields, "bytes offset \"208\" is not 0 to 207"},
        {"settings cut short", "settings " + SettingsHex(0, 1).substr(0, 410) + "\n" + counts,
         "settings must be 416 hex digits (208 bytes), found 410"},
        {"settings not hex", "settings zz" + SettingsHex(0, 1).substr(2) + "\n" + counts,
         "no hex digit"},
        {"settings name unterminated", "settings " + unterminated + "\n" + counts,
         "channel name 7 has no terminator within 24 bytes"},
        {"settings and fields", "settings " + SettingsHex(0, 1) + "\n" + counts + "socket 1\n",
         "the settings line (line 11) and socket, port, channel or bytes fields", 14},
        {"unknown field", "colour red\n" + fields, "unknown field \"colour\""},
        {"pattern twice",
         "pattern 0 square:4\ndirection output\nchannels 2\nsocket 0\nport B\npattern 0 const:5\n",
         "pattern for input 0 given twice (first on line 11)", 16},
        {"pattern not understood",
         "pattern 0 wobble:3\ndirection output\nchannels 1\nsocket 0\n"
         "port B\n",
         "pattern \"wobble:3\" is not understood"},
        {"pattern past the inputs",
         "pattern 3 const:5\ndirection output\nchannels 1\nsocket 0\n"
         "port B\n",
         "pattern for input 3 of a module with 1 inputs"},
        {"record 2", "record 2\n" + fields, "record \"2\" is not 0 or 1"},
        {"record twice", "record 1\n" + fields + "record 0\n", "record given twice", 16},
    };
    const std::string good = FieldModule("first", kGoodFields);
    for (const BadLineCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bad = FieldModule("bad", c.lines);
        std::string reported =
            std::string(kFile) + ":" + std::to_string(c.line) + ": module 2 \"bad\": ";
        if (c.lines == "\n") {
            bad = FieldModule("bad\xFF", "\n" + std::string(kGoodFields));
            reported = std::string(kFile) + ":10: module 2 \"\": name \"bad?\" ";
        }
        WriteFile("orvik-worksheet 2\n" + good + bad + FieldModule("third", kGoodFields));
        EXPECT_EQ(2, RefHost_LoadWorksheet(kFile));
        ASSERT_EQ(1u, RefHost_WorksheetProblemCount()) << Joined(Problems());
        std::string problem = RefHost_WorksheetProblem(0);
        EXPECT_EQ(0u, problem.find(reported)) << problem;
        EXPECT_NE(std::string::npos, problem.find(c.reason)) << problem;
        ASSERT_EQ(2u, RefHost_ModuleCount());
        EXPECT_STREQ("first", RefModule_Record(RefHost_Module(0))->name);
        EXPECT_STREQ("third", RefModule_Record(RefHost_Module(1))->name);
    }
}

/* A block missing what it needs is named at its "module" line. */
TEST_F(WorksheetTest, AModuleMissingAFieldIsNamedAtItsFirstLine) {
    const struct {
        const char* lines;
        const char* reason;
    } cases[] = {
        {"direction input\nchannels 8\nport B\n", "missing socket"},
        {"direction input\nchannels 8\nsocket 0\n", "missing port"},
        {"direction input\nsocket 0\nport B\n", "missing channels"},
        {"channels 2\nsocket 0\nport B\n", "missing direction"},
        {"socket 0\nport B\n", "missing direction and channels"},
        {"inputs 1\nsocket 0\nport B\n", "missing outputs"},
        {"inputs 0\noutputs 8\n", "missing socket"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        WriteFile("orvik-worksheet 2\n\n" + FieldModule("m", c.lines));
        EXPECT_EQ(0, RefHost_LoadWorksheet(kFile));
        ASSERT_EQ(1u, RefHost_WorksheetProblemCount()) << Joined(Problems());
        EXPECT_EQ(std::string(kFile) + ":3: module 1 \"m\": " + c.reason,
                  RefHost_WorksheetProblem(0));
    }
    WriteFile("orvik-worksheet 2\nmodule\n" + std::string(kGoodFields) + "end\n");
    EXPECT_EQ(0, RefHost_LoadWorksheet(kFile));
    EXPECT_EQ(std::vector<std::string>{std::string(kFile) + ":2: module 1 \"\": missing name"},
              Problems());
}

TEST_F(WorksheetTest, EveryBadLineOfAModuleIsNamedNotOnlyTheFirst) {
    WriteFile("orvik-worksheet 2\n" + FieldModule("many",
                                                  "socket 99\nport Q\ndirection input\nchannels 8\n"
                                                  "channel 9 x\ncolour red\n"));
    EXPECT_EQ(0, RefHost_LoadWorksheet(kFile));
    const std::string head = std::string(kFile) + ":";
    EXPECT_EQ((std::vector<std::string>{
                  head + "4: module 1 \"many\": socket \"99\" is not 0 to 15",
                  head + "5: module 1 \"many\": port \"Q\" is not A, B or C",
                  head + "8: module 1 \"many\": channel \"9\" is not 0 to 7",
                  head + "9: module 1 \"many\": unknown field \"colour\"",
              }),
              Problems());
}

/* A bad run line is an error of its own; the run parameters are then the
   defaults, flagged so that nobody runs on them unknowingly. A file without
   run lines gets the defaults, not what the previous file said. */
TEST_F(WorksheetTest, BadRunLinesAreReportedAndNeverReplacedSilently) {
    const struct {
        const char* lines;
        const char* reported;
    } cases[] = {
        {"rate-ms fast\n", ":2: rate-ms \"fast\" is no positive number"},
        {"rate-ms 0\n", ":2: rate-ms \"0\" is no positive number"},
        {"rate-ms -1\n", ":2: rate-ms \"-1\" is no positive number"},
        {"rate-ms 1e999\n", ":2: rate-ms \"1e999\" is no positive number"},
        {"rate-ms 0.5ms\n", ":2: rate-ms \"0.5ms\" is no positive number"},
        {"rate-ms\n", ":2: rate-ms \"\" is no positive number"},
        {"block-size 0\n", ":2: block-size \"0\" is not 1 to 65535"},
        {"block-size 65536\n", ":2: block-size \"65536\" is not 1 to 65535"},
        {"block-size 1.5\n", ":2: block-size \"1.5\" is not 1 to 65535"},
        {"rate-ms 0.5\nrate-ms 2\n", ":3: rate-ms given twice (first on line 2)"},
        {"block-size 10\nblock-size 20\n", ":3: block-size given twice (first on line 2)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        RefHost_SetWorksheetRun(0.25, 400);
        WriteFile(std::string("orvik-worksheet 2\n") + c.lines + FieldModule("m", kGoodFields));
        EXPECT_EQ(1, RefHost_LoadWorksheet(kFile));
        EXPECT_EQ(std::vector<std::string>{kFile + std::string(c.reported)}, Problems());
        EXPECT_EQ(1, RefHost_WorksheetRunLinesBad());
    }
    RefHost_SetWorksheetRun(0.25, 400);
    WriteFile("orvik-worksheet 2\n" + FieldModule("m", kGoodFields));
    EXPECT_EQ(1, RefHost_LoadWorksheet(kFile));
    EXPECT_EQ(0u, RefHost_WorksheetProblemCount());
    EXPECT_EQ(0, RefHost_WorksheetRunLinesBad());
    EXPECT_DOUBLE_EQ(1.0, RefHost_WorksheetRate());
    EXPECT_EQ(100u, RefHost_WorksheetBlockSize());
}

/* Editors on Windows may save UTF-8 with a byte order mark and CRLF lines. */
TEST_F(WorksheetTest, AByteOrderMarkAndCrlfLinesAreRead) {
    WriteFile("\xEF\xBB\xBForvik-worksheet 2\r\nmodule\r\nname " + std::string(u8"出力") +
              "\r\ndirection input\r\nchannels 1\r\nsocket 0\r\nport B\r\nend\r\n");
    EXPECT_EQ(1, RefHost_LoadWorksheet(kFile)) << Joined(Problems());
    EXPECT_STREQ("出力", RefModule_Record(RefHost_Module(0))->name);
}

TEST_F(WorksheetTest, LinesOutsideAModuleAreNamed) {
    WriteFile("orvik-worksheet 2\nname loose\n" + FieldModule("m", kGoodFields) + "end\n");
    EXPECT_EQ(1, RefHost_LoadWorksheet(kFile));
    EXPECT_EQ((std::vector<std::string>{
                  std::string(kFile) + ":2: unknown line \"name\" outside a module",
                  std::string(kFile) + ":10: unknown line \"end\" outside a module",
              }),
              Problems());
}

/* The file cut at every byte of its second module: the first module loads,
   and whatever is left of the second is reported, never loaded half. */
TEST_F(WorksheetTest, AFileCutAnywhereInsideAModuleLoadsTheOnesBefore) {
    const std::string head = "orvik-worksheet 2\n" + FieldModule("first", kGoodFields);
    const std::string second =
        FieldModule("second", "description cut\ndirection output\nchannels 2\nsocket 1\n"
                              "port A\nchannel 0 one\npattern 1 square:4\n");
    const size_t complete = second.size() - 1; /* "end" without its line break still ends it */
    for (size_t cut = 0; cut < complete; ++cut) {
        SCOPED_TRACE(cut);
        WriteFile(head + second.substr(0, cut));
        EXPECT_EQ(1, RefHost_LoadWorksheet(kFile));
        ASSERT_EQ(1u, RefHost_ModuleCount());
        EXPECT_STREQ("first", RefModule_Record(RefHost_Module(0))->name);
        if (cut == 0) {
            EXPECT_EQ(0u, RefHost_WorksheetProblemCount());
            continue;
        }
        ASSERT_GE(RefHost_WorksheetProblemCount(), 1u);
        std::string last = RefHost_WorksheetProblem(RefHost_WorksheetProblemCount() - 1);
        EXPECT_EQ(0u, last.find("refhost-test.ows:")) << last;
        /* A cut inside the word "module" leaves a line that starts no module. */
        const char* named = cut < 6 ? "unknown line" : "the file ends inside the module";
        EXPECT_NE(std::string::npos, last.find(named)) << last;
        if (HasFailure()) {
            break;
        }
    }
    WriteFile(head + second.substr(0, complete));
    EXPECT_EQ(2, RefHost_LoadWorksheet(kFile));
}

/* Up to the size limit a file loads; one byte more and it is refused whole
   rather than cut somewhere in a module. */
TEST_F(WorksheetTest, AFileOverTheSizeLimitIsRefusedWhole) {
    static const struct {
        size_t size;
        int loaded;
    } cases[] = {
        {16u * 1024u * 1024u, 2},
        {16u * 1024u * 1024u + 1u, -1},
    };
    const std::string module = FieldModule("kept", kGoodFields);
    const std::string comment = "#" + std::string(1022, '-') + "\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string text = "orvik-worksheet 2\n" + module;
        while (text.size() + comment.size() + module.size() <= c.size) {
            text += comment;
        }
        text += std::string(c.size - text.size() - module.size(), '\n') + module;
        ASSERT_EQ(c.size, text.size());
        WriteFile(text);
        EXPECT_EQ(c.loaded, RefHost_LoadWorksheet(kFile));
        if (c.loaded < 0) {
            EXPECT_EQ(std::vector<std::string>{"refhost-test.ows: larger than 16 MB, not read"},
                      Problems());
        } else {
            EXPECT_EQ(0u, RefHost_WorksheetProblemCount()) << RefHost_WorksheetProblem(0);
        }
    }
}

TEST_F(WorksheetTest, AModuleTheClassRefusesAtRestoreIsReported) {
    FakeClass::answer[ME_RESTORE] = 0;
    WriteFile("orvik-worksheet 2\n" + FieldModule("refused", kGoodFields));
    EXPECT_EQ(0, RefHost_LoadWorksheet(kFile));
    ASSERT_EQ(1u, RefHost_WorksheetProblemCount());
    EXPECT_EQ(0u, std::string(RefHost_WorksheetProblem(0))
                      .find("refhost-test.ows:2: module 1 \"refused\": refused by the module at "
                            "restore (event 105)"));
    EXPECT_EQ(0u, RefHost_ModuleCount());
}

TEST_F(WorksheetTest, NoWorksheetLeavesTheModulesAlone) {
    ASSERT_NE(nullptr, RefHost_CreateModule());
    const char* const texts[] = {"", "orvik-worksheet 3\n", "module\nend\n",
                                 "# only a comment\n\norvik-worksheet\n"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        WriteFile(text);
        EXPECT_EQ(-1, RefHost_LoadWorksheet(kFile));
        EXPECT_EQ(1u, RefHost_ModuleCount());
        ASSERT_EQ(1u, RefHost_WorksheetProblemCount());
        EXPECT_NE(std::string::npos,
                  std::string(RefHost_WorksheetProblem(0)).find("not a worksheet"));
    }
    EXPECT_EQ(-1, RefHost_LoadWorksheet("no-such-file.ows"));
    EXPECT_EQ(std::vector<std::string>{"no-such-file.ows: not found"}, Problems());
    EXPECT_EQ(1u, RefHost_ModuleCount());
}

} // namespace
