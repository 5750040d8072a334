/*
 * Worksheet files: a save and load round trip, and damaged files, each with a
 * good module before and after the damaged one: the damaged one is reported
 * with the file and the module named, the others load.
 */
#include "HostFixture.h"
#include "sim/host/Patterns.h"

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

std::string ModuleText(const std::string& name, const std::string& fields,
                       const std::string& settings) {
    return "module\nname " + name + "\n" + fields + "settings " + settings + "\nend\n";
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

TEST_F(WorksheetTest, SaveAndLoadKeepEveryModuleField) {
    RefModule* writer = RefHost_CreateModule();
    RefModule* reader = RefHost_CreateModule();
    ModuleRecord* w = RefModule_Record(writer);
    std::strcpy(w->name, "出力ポートB"); /* 11 bytes of code page 932 */
    std::strcpy(w->description, "writes  two blanks kept");
    Service<PFN_ChangeModuleSize>("ChangeModuleSize")(w, 3, 0);
    std::strcpy(w->settings->channelNames[2], "クロック");
    w->settings->socket = 4;
    w->settings->port = 2;
    w->settings->unused194[0] = 0xAB;
    w->settings->outputBuffer = reinterpret_cast<BYTE*>(0x12345678);
    ASSERT_EQ(1, RefHost_SetInputPattern(writer, 1, "square:8"));
    RefHost_SetRecording(reader, 0);
    RefHost_SetWorksheetRun(0.25, 400);
    ModuleSettings expected;
    std::memcpy(&expected, w->settings, sizeof expected);
    expected.outputBuffer = nullptr;

    ASSERT_EQ(1, RefHost_SaveWorksheet(kFile));
    RefHost_SetWorksheetRun(1.0, 100);
    FakeClass::events.clear();
    ASSERT_EQ(2, RefHost_LoadWorksheet(kFile)) << RefHost_WorksheetProblem(0);
    EXPECT_EQ(0u, RefHost_WorksheetProblemCount());
    EXPECT_EQ((std::vector<UINT>{ME_DELETE, ME_DELETE, ME_RESTORE, ME_RESTORE}), FakeClass::events);
    EXPECT_DOUBLE_EQ(0.25, RefHost_WorksheetRate());
    EXPECT_EQ(400u, RefHost_WorksheetBlockSize());

    ASSERT_EQ(2u, RefHost_ModuleCount());
    ModuleRecord* loaded = RefModule_Record(RefHost_Module(0));
    EXPECT_STREQ("出力ポートB", loaded->name);
    EXPECT_STREQ("writes  two blanks kept", loaded->description);
    EXPECT_EQ(3u, loaded->inputCount);
    EXPECT_EQ(0u, loaded->outputCount);
    EXPECT_EQ(0, std::memcmp(&expected, loaded->settings, sizeof expected));
    Pattern pattern;
    ASSERT_EQ(1, RefHost_InputPattern(RefHost_Module(0), 1, &pattern));
    EXPECT_EQ(PATTERN_SQUARE, pattern.kind);
    EXPECT_EQ(8u, pattern.period);
    EXPECT_EQ(0, RefHost_InputPatternSet(RefHost_Module(0), 0));
    EXPECT_EQ(1, RefHost_Recording(RefHost_Module(0)));
    EXPECT_EQ(0, RefHost_Recording(RefHost_Module(1)));
    EXPECT_EQ(2u, RefModule_Record(RefHost_Module(1))->outputCount);
}

struct DamagedCase {
    const char* what;
    std::string module; /* the second of three modules */
    const char* reported;
};

TEST_F(WorksheetTest, ADamagedModuleIsReportedAndTheOthersLoad) {
    const std::string good = SettingsHex(0, 1);
    const std::string counts = "inputs 0\noutputs 8\n";
    std::string unterminated = SettingsHex(0, 1);
    std::string lastUnterminated = SettingsHex(0, 1);
    for (size_t i = 0; i < 48; ++i) {
        unterminated[i] = '4';              /* slot 0: 24 bytes of 0x44, no terminator */
        lastUnterminated[7 * 48 + i] = 'A'; /* slot 7, right before the socket */
    }
    const DamagedCase cases[] = {
        {"settings cut short", ModuleText("bad", counts, good.substr(0, 410)), "found 410"},
        {"settings too long", ModuleText("bad", counts, good + "00"), "found 418"},
        {"settings not hex", ModuleText("bad", counts, "zz" + good.substr(2)), "no hex digit"},
        {"name too long", ModuleText("thirteen byte", counts, good), "13 bytes is longer than 12"},
        {"channel name unterminated", ModuleText("bad", counts, unterminated),
         "channel name 0 has no terminator"},
        {"last channel name unterminated", ModuleText("bad", counts, lastUnterminated),
         "channel name 7 has no terminator"},
        {"description too long",
         ModuleText("bad", "description " + std::string(41, 'd') + "\n" + counts, good),
         "description of 41 bytes is longer than 40"},
        {"no channels", ModuleText("bad", "inputs 0\noutputs 0\n", good),
         "no inputs and no outputs"},
        {"200 channels", ModuleText("bad", "inputs 200\noutputs 0\n", good), "200 inputs"},
        {"200 outputs", ModuleText("bad", "inputs 0\noutputs 200\n", good), "200 outputs"},
        {"one past eight", ModuleText("bad", "inputs 9\noutputs 1\n", good), "9 inputs"},
        {"count past 32 bits", ModuleText("bad", "inputs 99999999999\noutputs 1\n", good),
         "no count"},
        {"count not a number", ModuleText("bad", "inputs -1\noutputs 8\n", good), "no count"},
        {"missing settings", "module\nname bad\n" + counts + "end\n", "missing settings"},
        {"unknown field", ModuleText("bad", counts + "colour red\n", good), "unknown field"},
        {"pattern twice",
         ModuleText("bad", "inputs 2\noutputs 0\npattern 1 square:4\npattern 1 counter:0\n", good),
         "pattern for input 1 given twice"},
        {"record twice", ModuleText("bad", counts + "record 1\nrecord 0\n", good),
         "record given twice"},
        {"bad pattern", ModuleText("bad", "inputs 1\noutputs 0\npattern 0 wobble:3\n", good),
         "not understood"},
        {"pattern past the inputs",
         ModuleText("bad", "inputs 1\noutputs 0\npattern 3 const:5\n", good),
         "pattern for input 3"},
        {"no end", "module\nname bad\n" + counts + "settings " + good + "\n", "next module begins"},
    };
    for (const DamagedCase& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile("orvik-worksheet 1\n" + ModuleText("first", counts, good) + c.module +
                  ModuleText("third", counts, good));
        EXPECT_EQ(2, RefHost_LoadWorksheet(kFile));
        ASSERT_EQ(1u, RefHost_WorksheetProblemCount());
        std::string problem = RefHost_WorksheetProblem(0);
        EXPECT_NE(std::string::npos, problem.find("refhost-test.ows: module 2 ")) << problem;
        EXPECT_NE(std::string::npos, problem.find(c.reported)) << problem;
        ASSERT_EQ(2u, RefHost_ModuleCount());
        EXPECT_STREQ("first", RefModule_Record(RefHost_Module(0))->name);
        EXPECT_STREQ("third", RefModule_Record(RefHost_Module(1))->name);
    }
}

TEST_F(WorksheetTest, AFileCutInsideTheLastModuleKeepsTheModulesBefore) {
    const std::string text = "orvik-worksheet 1\n" +
                             ModuleText("first", "inputs 0\noutputs 8\n", SettingsHex(0, 1)) +
                             ModuleText("second", "inputs 0\noutputs 8\n", SettingsHex(1, 0));
    WriteFile(text.substr(0, text.size() - 20));
    EXPECT_EQ(1, RefHost_LoadWorksheet(kFile));
    ASSERT_EQ(1u, RefHost_WorksheetProblemCount());
    EXPECT_NE(std::string::npos,
              std::string(RefHost_WorksheetProblem(0)).find("module 2 \"second\""));
}

/* The file cut at every byte of its second module: the first module loads,
   and whatever is left of the second is reported, never loaded half. */
TEST_F(WorksheetTest, AFileCutAnywhereInsideAModuleLoadsTheOnesBefore) {
    const std::string head =
        "orvik-worksheet 1\n" + ModuleText("first", "inputs 0\noutputs 8\n", SettingsHex(0, 1));
    const std::string second = ModuleText(
        "second", "description cut\ninputs 2\noutputs 0\npattern 1 square:4\n", SettingsHex(1, 0));
    const size_t complete = second.size() - 1; /* "end" without its line break still ends it */
    /* Inside the settings digits every cut reads alike: a few of them do. */
    const size_t digits = second.find("settings ") + 9;
    for (size_t cut = 0; cut < complete; cut += cut >= digits && cut < digits + 416 ? 37 : 1) {
        SCOPED_TRACE(cut);
        WriteFile(head + second.substr(0, cut));
        EXPECT_EQ(1, RefHost_LoadWorksheet(kFile));
        ASSERT_EQ(1u, RefHost_ModuleCount());
        EXPECT_STREQ("first", RefModule_Record(RefHost_Module(0))->name);
        if (cut == 0) {
            EXPECT_EQ(0u, RefHost_WorksheetProblemCount());
            continue;
        }
        ASSERT_EQ(1u, RefHost_WorksheetProblemCount());
        std::string problem = RefHost_WorksheetProblem(0);
        EXPECT_EQ(0u, problem.find("refhost-test.ows")) << problem;
        /* A cut inside the word "module" leaves a line that starts no module. */
        const char* named = cut < 6 ? "unknown line" : "module 2 ";
        EXPECT_NE(std::string::npos, problem.find(named)) << problem;
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
    const std::string module = ModuleText("kept", "inputs 0\noutputs 8\n", SettingsHex(0, 1));
    const std::string comment = "#" + std::string(1022, '-') + "\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string text = "orvik-worksheet 1\n" + module;
        while (text.size() + comment.size() + module.size() <= c.size) {
            text += comment;
        }
        text += std::string(c.size - text.size() - module.size(), '\n') + module;
        ASSERT_EQ(c.size, text.size());
        WriteFile(text);
        EXPECT_EQ(c.loaded, RefHost_LoadWorksheet(kFile));
        if (c.loaded < 0) {
            ASSERT_EQ(1u, RefHost_WorksheetProblemCount());
            EXPECT_STREQ("refhost-test.ows: larger than 16 MB, not read",
                         RefHost_WorksheetProblem(0));
        } else {
            EXPECT_EQ(0u, RefHost_WorksheetProblemCount()) << RefHost_WorksheetProblem(0);
        }
    }
}

TEST_F(WorksheetTest, AModuleTheClassRefusesAtRestoreIsReported) {
    FakeClass::answer[ME_RESTORE] = 0;
    WriteFile("orvik-worksheet 1\n" +
              ModuleText("refused", "inputs 1\noutputs 0\n", SettingsHex(2, 0)));
    EXPECT_EQ(0, RefHost_LoadWorksheet(kFile));
    ASSERT_EQ(1u, RefHost_WorksheetProblemCount());
    EXPECT_NE(std::string::npos, std::string(RefHost_WorksheetProblem(0)).find("event 105"));
    EXPECT_EQ(0u, RefHost_ModuleCount());
}

TEST_F(WorksheetTest, NoWorksheetLeavesTheModulesAlone) {
    ASSERT_NE(nullptr, RefHost_CreateModule());
    const char* const texts[] = {"", "orvik-worksheet 2\n", "module\nend\n"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        WriteFile(text);
        EXPECT_EQ(-1, RefHost_LoadWorksheet(kFile));
        EXPECT_EQ(1u, RefHost_ModuleCount());
    }
    EXPECT_EQ(-1, RefHost_LoadWorksheet("no-such-file.ows"));
    EXPECT_NE(std::string::npos,
              std::string(RefHost_WorksheetProblem(0)).find("no-such-file.ows: cannot be read"));
}

} // namespace
