/*
 * Worksheets saved and loaded again: names travel as UTF-8 in the file and
 * come back as the same code page 932 bytes; every one of the 208 settings
 * bytes comes back, whether the fields, the "bytes" lines or the old hex line
 * carry it; the old hex form and its field-form twin restore the same module.
 */
#include "HostFixture.h"
#include "sim/host/Patterns.h"
#include "sim/host/WorksheetText.h"

#include <cstdio>

namespace {

const char* const kFile = "refhost-roundtrip.ows";

int HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

std::string Example(const char* name) {
    return std::string(ORVIK_EXAMPLES_DIR) + "/" + name;
}

ModuleSettings SettingsOf(size_t i) {
    ModuleSettings settings;
    std::memcpy(&settings, RefModule_Record(RefHost_Module(i))->settings, sizeof settings);
    return settings;
}

class WorksheetRoundTripTest : public HostTest {
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

TEST_F(WorksheetRoundTripTest, SaveAndLoadKeepEveryModuleField) {
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
    const std::string text = ReadWholeFile(kFile);
    for (const char* line :
         {"orvik-worksheet 2", u8"name 出力ポートB", "direction output", "channels 3", "socket 4",
          "port C", u8"channel 2 クロック", "bytes 194 AB", "pattern 1 square:8", "record 0",
          "rate-ms 0.25", "block-size 400"}) {
        EXPECT_TRUE(HasLine(text, line)) << line << "\n" << text;
    }
    EXPECT_EQ(std::string::npos, text.find("settings")) << text;

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

struct SettingsCase {
    const char* what;
    void (*fill)(ModuleSettings* settings);
    std::vector<const char*> lines; /* lines the saved file holds */
};

void NameSlots(ModuleSettings* s) {
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        std::snprintf(s->channelNames[k], CHANNEL_NAME_SLOT, "Bit %u", 7 - k);
    }
}

/* Each record saved, loaded back and compared byte for byte; the lines show
   which form carried it. */
TEST_F(WorksheetRoundTripTest, EverySettingsRecordComesBackByteForByte) {
    const SettingsCase cases[] = {
        {"the extension's defaults",
         NameSlots,
         {"socket 3", "port B", "channel 0 Bit 7", "channel 7 Bit 0"}},
        {"no names at all", [](ModuleSettings*) {}, {"socket 3", "port B"}},
        {"Japanese names",
         [](ModuleSettings* s) {
             std::strcpy(s->channelNames[1], "開始ボタン");
             std::strcpy(s->channelNames[2], "ｶﾅ①");
         },
         {u8"channel 1 開始ボタン", u8"channel 2 ｶﾅ①"}},
        {"a name filling its slot",
         [](ModuleSettings* s) { std::memset(s->channelNames[3], 'x', CHANNEL_NAME_SLOT - 1); },
         {"channel 3 xxxxxxxxxxxxxxxxxxxxxxx"}},
        {"bytes no field describes",
         [](ModuleSettings* s) {
             NameSlots(s);
             s->channelNames[0][10] = 0x55; /* after "Bit 7" and its terminator */
             s->channelNames[7][23] = 0x01;
             s->unused194[0] = 1;
             s->unused194[1] = 2;
             s->unused200[3] = 0xFF;
         },
         {"bytes 10 55", "bytes 191 01", "bytes 194 0102", "bytes 203 FF"}},
        {"a socket past the cards", [](ModuleSettings* s) { s->socket = 300; }, {}},
        {"a port past C", [](ModuleSettings* s) { s->port = 7; }, {}},
        {"a name that is no code page 932 text",
         [](ModuleSettings* s) { std::strcpy(s->channelNames[4], "ab\x81"); },
         {}},
        {"a name with a line break",
         [](ModuleSettings* s) { std::strcpy(s->channelNames[5], "a\nb"); },
         {}},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.what);
        while (RefHost_ModuleCount() > 0) {
            RefHost_DeleteModule(RefHost_Module(0));
        }
        ModuleRecord* record = RefModule_Record(RefHost_CreateModule());
        Service<PFN_ChangeModuleSize>("ChangeModuleSize")(record, 0, 8);
        std::memset(record->settings, 0, sizeof(ModuleSettings));
        record->settings->socket = 3;
        record->settings->port = 1;
        c.fill(record->settings);
        ModuleSettings expected = *record->settings;

        ASSERT_EQ(1, RefHost_SaveWorksheet(kFile));
        const std::string text = ReadWholeFile(kFile);
        /* Without lines of its own the case is one the fields cannot name. */
        EXPECT_EQ(c.lines.empty(), text.find("\nsettings ") != std::string::npos) << text;
        for (const char* line : c.lines) {
            EXPECT_TRUE(HasLine(text, line)) << line << "\n" << text;
        }
        ASSERT_EQ(1, RefHost_LoadWorksheet(kFile)) << RefHost_WorksheetProblem(0) << "\n" << text;
        ModuleSettings loaded = SettingsOf(0);
        EXPECT_EQ(0, std::memcmp(&expected, &loaded, sizeof expected)) << text;
    }
}

/* A module name no UTF-8 text can carry keeps the whole file in code page
   932 (the old version, still read) rather than losing its bytes; one no line
   can carry is not saved at all. */
TEST_F(WorksheetRoundTripTest, NamesUtf8CannotCarryKeepTheirBytes) {
    ModuleRecord* record = RefModule_Record(RefHost_CreateModule());
    std::strcpy(record->name, "pin\x81");
    std::strcpy(record->description, "説明");
    ASSERT_EQ(1, RefHost_SaveWorksheet(kFile));
    const std::string text = ReadWholeFile(kFile);
    EXPECT_EQ(0u, text.find("orvik-worksheet 1\n")) << text;
    ASSERT_EQ(1, RefHost_LoadWorksheet(kFile)) << RefHost_WorksheetProblem(0);
    EXPECT_STREQ("pin\x81", RefModule_Record(RefHost_Module(0))->name);
    EXPECT_STREQ("説明", RefModule_Record(RefHost_Module(0))->description);

    std::strcpy(RefModule_Record(RefHost_Module(0))->name, "two\nlines");
    EXPECT_EQ(0, RefHost_SaveWorksheet(kFile));
}

/* The shipped loopback example in both forms: the same modules, byte for byte;
   the old form saved again comes out in the field form and restores the same. */
TEST_F(WorksheetRoundTripTest, HexFormAndFieldFormRestoreTheSameModules) {
    ASSERT_EQ(2, RefHost_LoadWorksheet(Example("loopback-hex.ows").c_str()))
        << RefHost_WorksheetProblem(0);
    ModuleSettings hex[2] = {SettingsOf(0), SettingsOf(1)};
    ModuleRecord hexRecords[2] = {*RefModule_Record(RefHost_Module(0)),
                                  *RefModule_Record(RefHost_Module(1))};
    Pattern hexPattern;
    ASSERT_EQ(1, RefHost_InputPattern(RefHost_Module(0), 5, &hexPattern));

    ASSERT_EQ(2, RefHost_LoadWorksheet(Example("loopback.ows").c_str()))
        << RefHost_WorksheetProblem(0);
    EXPECT_EQ(0u, RefHost_WorksheetProblemCount());
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ModuleSettings fields = SettingsOf(i);
        EXPECT_EQ(0, std::memcmp(&hex[i], &fields, sizeof fields));
        const ModuleRecord* record = RefModule_Record(RefHost_Module(i));
        EXPECT_STREQ(hexRecords[i].name, record->name);
        EXPECT_STREQ(hexRecords[i].description, record->description);
        EXPECT_EQ(hexRecords[i].inputCount, record->inputCount);
        EXPECT_EQ(hexRecords[i].outputCount, record->outputCount);
    }
    Pattern pattern;
    ASSERT_EQ(1, RefHost_InputPattern(RefHost_Module(0), 5, &pattern));
    EXPECT_EQ(0, std::memcmp(&hexPattern, &pattern, sizeof pattern));

    ASSERT_EQ(2, RefHost_LoadWorksheet(Example("loopback-hex.ows").c_str()));
    ASSERT_EQ(1, RefHost_SaveWorksheet(kFile));
    const std::string text = ReadWholeFile(kFile);
    EXPECT_EQ(0u, text.find("orvik-worksheet 2\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("settings")) << text;
    ASSERT_EQ(2, RefHost_LoadWorksheet(kFile)) << RefHost_WorksheetProblem(0);
    for (size_t i = 0; i < 2; ++i) {
        ModuleSettings again = SettingsOf(i);
        EXPECT_EQ(0, std::memcmp(&hex[i], &again, sizeof again)) << i;
    }
}

TEST_F(WorksheetRoundTripTest, TheJapaneseExampleHoldsCodePage932Names) {
    ASSERT_EQ(1, RefHost_LoadWorksheet(Example("panel-ja.ows").c_str()))
        << RefHost_WorksheetProblem(0);
    const ModuleRecord* record = RefModule_Record(RefHost_Module(0));
    EXPECT_STREQ("操作パネル", record->name);
    EXPECT_STREQ("ソケット1 ポートA の押しボタン", record->description);
    EXPECT_EQ(0u, record->inputCount);
    EXPECT_EQ(3u, record->outputCount);
    EXPECT_STREQ("開始ボタン", record->settings->channelNames[0]);
    EXPECT_STREQ("非常停止", record->settings->channelNames[2]);
    EXPECT_EQ(1u, record->settings->socket);
    EXPECT_EQ(0u, record->settings->port);
    EXPECT_DOUBLE_EQ(2.0, RefHost_WorksheetRate());
    EXPECT_EQ(50u, RefHost_WorksheetBlockSize());
}

/* UTF-8 to code page 932 keeps a character or names it; never a look-alike. */
TEST(WorksheetText, Utf8ToCodePage932KeepsEveryCharacterOrNamesIt) {
    const struct {
        const char* utf8;
        const char* cp932; /* null: refused */
        const char* why;
    } cases[] = {
        {"Bit 7", "Bit 7", ""},
        {"", "", ""},
        {u8"開始ボタン", "開始ボタン", ""},
        {u8"ｶﾅ", "ｶﾅ", ""},
        {u8"①", "①", ""},
        {u8"\u00e9", nullptr, "holds U+00E9, which code page 932 lacks"},
        {u8"a\u00a5", nullptr, "holds U+00A5"}, /* would come back as a backslash */
        {u8"\U0001F600", nullptr, "holds U+1F600"},
        {u8"\uFF5E", "～", ""},
        {u8"\u301C", nullptr, "holds U+301C"}, /* the wave dash some input methods type */
        {"\xC3", nullptr, "is not valid UTF-8"},
        {"\xED\xA0\x80", nullptr, "is not valid UTF-8"}, /* a lone surrogate */
        {"a\tb", nullptr, "holds a control character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::string bytes, why;
        EXPECT_EQ(c.cp932 ? 1 : 0, WorksheetText_FromUtf8(c.utf8, &bytes, &why));
        if (c.cp932) {
            EXPECT_EQ(c.cp932, bytes);
        } else {
            EXPECT_EQ(0u, why.find(c.why)) << why;
        }
    }
}

TEST(WorksheetText, CodePage932ToUtf8OnlyWhenTheBytesComeBack) {
    const struct {
        const char* cp932;
        const char* utf8; /* null: refused */
    } cases[] = {
        {"Bit 0", "Bit 0"},   {"操作パネル", u8"操作パネル"},
        {"\x82\xA0", u8"あ"}, {"ab\x81", nullptr}, /* a lead byte without its trail byte */
        {"a\nb", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cp932);
        std::string text;
        EXPECT_EQ(c.utf8 ? 1 : 0, WorksheetText_ToUtf8(c.cp932, &text));
        if (c.utf8) {
            EXPECT_EQ(c.utf8, text);
        }
    }
    EXPECT_EQ(std::string(40, 'a') + "...", WorksheetText_ForMessage(std::string(50, 'a')));
    EXPECT_EQ("ok?", WorksheetText_ForMessage("ok\xFF"));
}

} // namespace
