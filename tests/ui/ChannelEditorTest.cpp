/*
 * The module settings dialog driven through scripted sessions: what it shows
 * for a module, channel selection, less and more at the limits, name copies,
 * text limits, and what OK, Cancel and the close box leave in the module.
 */
#include <gtest/gtest.h>

#include "card/DeviceTable.h"
#include "extension/Library.h"
#include "host/HostServices.h"
#include "resources/ResourceIds.h"
#include "sim/host/RefHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Controls.h"
#include "ui/CtlDlg.h"
#include "ui/Cp932Text.h"
#include "ui/Placement.h"

#include <cstdio>
#include <cstring>
#include <string>

static void SetCurrentModule(ModuleRecord* record) {
    for (unsigned i = 0; i < HOST_VARIABLE_COUNT; ++i) {
        if (strcmp(kHostVariableNames[i].name, "&CurrentModulePtr") == 0)
            *reinterpret_cast<ModuleRecord**>(HostVariableValue(i)) = record;
    }
}

#pragma pack(push, 1)
struct ModuleSnapshot {
    char name[MODULE_NAME_BYTES];
    char description[MODULE_DESCRIPTION_BYTES];
    DWORD inputCount;
    DWORD outputCount;
    ModuleSettings settings;
};
#pragma pack(pop)

static ModuleSnapshot Snapshot(const ModuleRecord* record) {
    ModuleSnapshot snapshot;
    memcpy(snapshot.name, record->name, sizeof snapshot.name);
    memcpy(snapshot.description, record->description, sizeof snapshot.description);
    snapshot.inputCount = record->inputCount;
    snapshot.outputCount = record->outputCount;
    snapshot.settings = *record->settings;
    return snapshot;
}

static int Same(const ModuleSnapshot& a, const ModuleSnapshot& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

/* ---- Reading and driving the dialog ---------------------------------------------------------- */

static std::vector<WORD> ChannelStates(HWND dialog) {
    std::vector<WORD> states;
    for (int k = 0; k < 8; ++k)
        states.push_back(ButtonState(GetDlgItem(dialog, IDC_CHANNEL_FIRST + k)));
    return states;
}

static WORD StepState(HWND dialog, int control) {
    return ButtonState(GetDlgItem(dialog, control));
}

static void ClickItem(HWND dialog, int control) {
    ClickControl(GetDlgItem(dialog, control));
}

static void ClickChannel(HWND dialog, int channel) {
    ClickItem(dialog, IDC_CHANNEL_FIRST + channel);
}

static void Type(HWND dialog, int control, const char* text) {
    SetDlgItemTextA(dialog, control, text);
}

static int FocusIs(HWND dialog, int control) {
    return GetFocus() == GetDlgItem(dialog, control);
}

typedef std::vector<WORD> States;

/* ---- Fixture ----------------------------------------------------------------------------------
 */

class ChannelEditorTest : public testing::Test {
  protected:
    void SetUp() override {
        m_module = Restore(0, 3);
        ASSERT_NE(nullptr, m_module);
        RefHost_ClearJournal();
        m_liveBefore = RefHost_LiveBlocks();
    }

    void TearDown() override {
        RefHost_SetRunning(0);
        RefHost_FailAllocation(0);
        if (m_module) {
            Record()->settings->outputBuffer = nullptr;
            RefHost_DeleteModule(m_module);
        }
        EXPECT_EQ(m_liveBefore, RefHost_LiveBlocks()) << "the scratch copy went back";
    }

    /* A module on socket 3, port A, as a stored worksheet gives it back. */
    static RefModule* Restore(DWORD inputs, DWORD outputs) {
        ModuleSettings settings = {};
        for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k)
            snprintf(settings.channelNames[k], CHANNEL_NAME_SLOT, "ch%u", k);
        settings.socket = 3;
        settings.port = 0;
        return RefHost_RestoreModule("Modul", "Beschreibung", inputs, outputs, &settings);
    }

    void UseModule(RefModule* module) {
        RefHost_DeleteModule(m_module);
        m_module = module;
        ASSERT_NE(nullptr, m_module);
        RefHost_ClearJournal();
        m_liveBefore = RefHost_LiveBlocks();
    }

    ModuleRecord* Record() {
        return RefModule_Record(m_module);
    }

    const char* Slot(unsigned k) {
        return Record()->settings->channelNames[k];
    }

    INT_PTR Run(std::vector<DialogScript> scripts) {
        SetCurrentModule(Record());
        INT_PTR result;
        {
            DialogDriver driver(scripts);
            result = RunChannelEditor(Record()->owner);
            m_started = driver.Started();
        }
        SetCurrentModule(nullptr);
        return result;
    }

    INT_PTR Run(DialogScript script) {
        return Run(std::vector<DialogScript>{script});
    }

    /* The only ChangeModuleSize call, as (inputs, outputs); (-1, -1) if none or several. */
    std::pair<long, long> Resized() {
        if (HostCalls("ChangeModuleSize") != 1)
            return {-1, -1};
        const JournalEntry* call = HostCall("ChangeModuleSize", 0);
        EXPECT_EQ(reinterpret_cast<DWORD>(Record()), call->value);
        return {static_cast<long>(call->a), static_cast<long>(call->b)};
    }

    RefModule* m_module = nullptr;
    size_t m_liveBefore = 0;
    size_t m_started = 0;
};

/* ---- Opening ------------------------------------------------------------------------------------
 */

TEST_F(ChannelEditorTest, OpensOnTheModuleForThreeChannels) {
    ModuleSnapshot before = Snapshot(Record());
    INT_PTR result = Run([](HWND dialog) {
        EXPECT_EQ((States{1, 2, 2, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        EXPECT_EQ(STEP_LESS_ENABLED, StepState(dialog, IDC_STEP_LESS));
        EXPECT_EQ(STEP_MORE_ENABLED, StepState(dialog, IDC_STEP_MORE));
        EXPECT_EQ("0", ItemText(dialog, IDC_SELECTED_NUMBER));
        EXPECT_EQ("ch0", ItemText(dialog, IDC_CHANNEL_NAME));
        EXPECT_EQ("Modul", ItemText(dialog, IDC_MODULE_NAME));
        EXPECT_EQ("Beschreibung", ItemText(dialog, IDC_MODULE_DESC));
        EXPECT_EQ("3", ItemText(dialog, IDC_SETTINGS_SOCKET));
        EXPECT_EQ("ポート A 入力", ItemText(dialog, IDC_SETTINGS_PORT));
        EXPECT_TRUE(FocusIs(dialog, IDC_MODULE_NAME));
        ClickButton(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(1u, m_started);
    EXPECT_TRUE(Same(before, Snapshot(Record())));
    EXPECT_EQ(0u, HostCalls("ChangeModuleSize"));
    ASSERT_EQ(1u, HostCalls("NewMemAlloc"));
    EXPECT_STREQ("CtlDlg:72", HostCall("NewMemAlloc", 0)->source);
    EXPECT_EQ(208u, HostCall("NewMemAlloc", 0)->a);
    ASSERT_EQ(1u, HostCalls("NewDoMemFree"));
    EXPECT_STREQ("CtlDlg:252", HostCall("NewDoMemFree", 0)->source);
}

TEST_F(ChannelEditorTest, ControlsSitWhereTheTemplatePutsThemAtPictureSize) {
    Run([](HWND dialog) {
        for (int k = 0; k < 16; ++k) {
            SCOPED_TRACE(k);
            HWND button = GetDlgItem(dialog, IDC_CHANNEL_FIRST + k);
            ASSERT_NE(nullptr, button);
            EXPECT_EQ(k < 8, IsWindowVisible(button) != 0);
            RECT rectangle;
            GetClientRect(button, &rectangle);
            EXPECT_EQ(22, rectangle.right);
            EXPECT_EQ(30, rectangle.bottom);
        }
        for (int control : {IDC_STEP_LESS, IDC_STEP_MORE}) {
            RECT rectangle;
            GetClientRect(GetDlgItem(dialog, control), &rectangle);
            EXPECT_EQ(24, rectangle.right);
            EXPECT_EQ(32, rectangle.bottom);
        }
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_SELECTED_NUMBER)));
        ClickButton(dialog, IDCANCEL);
    });
}

TEST_F(ChannelEditorTest, IsCentredOverTheHostWindow) {
    Run([](HWND dialog) {
        RECT client, placed;
        GetClientRect(RefHost_MainWindow(), &client);
        POINT centre = {client.right / 2, client.bottom / 2};
        ClientToScreen(RefHost_MainWindow(), &centre);
        GetWindowRect(dialog, &placed);
        SIZE size = {placed.right - placed.left, placed.bottom - placed.top};
        SIZE screen = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        POINT expected = ComputeDialogPosition(size, centre, screen);
        EXPECT_EQ(expected.x, placed.left);
        EXPECT_EQ(expected.y, placed.top);
        ClickButton(dialog, IDCANCEL);
    });
}

TEST_F(ChannelEditorTest, StepButtonsOpenByCountAndRun) {
    static const struct {
        DWORD count;
        LONG running;
        WORD less, more;
    } kCases[] = {
        {1, 0, STEP_LESS_DISABLED, STEP_MORE_ENABLED},
        {2, 0, STEP_LESS_ENABLED, STEP_MORE_ENABLED},
        {7, 0, STEP_LESS_ENABLED, STEP_MORE_ENABLED},
        {8, 0, STEP_LESS_ENABLED, STEP_MORE_DISABLED},
        {3, 1, STEP_LESS_DISABLED, STEP_MORE_DISABLED},
        {8, 1, STEP_LESS_DISABLED, STEP_MORE_DISABLED},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(testing::Message() << test.count << " channels, running " << test.running);
        Record()->outputCount = test.count;
        RefHost_SetRunning(test.running);
        Run([&test](HWND dialog) {
            EXPECT_EQ(test.less, StepState(dialog, IDC_STEP_LESS));
            EXPECT_EQ(test.more, StepState(dialog, IDC_STEP_MORE));
            States states = ChannelStates(dialog);
            for (unsigned k = 0; k < 8; ++k)
                EXPECT_EQ(k == 0 ? 1 : k < test.count ? 2 : 3, states[k]) << k;
            ClickButton(dialog, IDCANCEL);
        });
    }
    Record()->outputCount = 3;
}

TEST_F(ChannelEditorTest, WhileRunningChannelsStillSelectAndOkKeepsTheCount) {
    RefHost_SetRunning(1);
    INT_PTR result = Run([](HWND dialog) {
        ClickItem(dialog, IDC_STEP_MORE); /* disabled: nothing */
        ClickChannel(dialog, 2);
        EXPECT_EQ((States{2, 2, 1, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        Type(dialog, IDC_CHANNEL_NAME, "zwei");
        ClickButton(dialog, IDOK);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ((std::pair<long, long>{0, 3}), Resized());
    EXPECT_STREQ("zwei", Slot(2));
}

/* ---- Channel selection
 * ----------------------------------------------------------------------------- */

TEST_F(ChannelEditorTest, SelectingAChannelKeepsTheNameTypedForThePrevious) {
    INT_PTR result = Run([](HWND dialog) {
        ClickChannel(dialog, 2);
        EXPECT_EQ((States{2, 2, 1, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        EXPECT_EQ("2", ItemText(dialog, IDC_SELECTED_NUMBER));
        EXPECT_EQ("ch2", ItemText(dialog, IDC_CHANNEL_NAME));
        EXPECT_TRUE(FocusIs(dialog, IDC_MODULE_NAME));
        Type(dialog, IDC_CHANNEL_NAME, "zwei");
        ClickChannel(dialog, 0);
        EXPECT_EQ("ch0", ItemText(dialog, IDC_CHANNEL_NAME));
        ClickChannel(dialog, 2);
        EXPECT_EQ("zwei", ItemText(dialog, IDC_CHANNEL_NAME));
        ClickButton(dialog, IDOK);
    });
    EXPECT_EQ(1, result);
    EXPECT_STREQ("zwei", Slot(2));
    EXPECT_STREQ("ch0", Slot(0));
}

TEST_F(ChannelEditorTest, SelectedOrAbsentChannelOnlyMovesTheFocus) {
    Run([](HWND dialog) {
        for (int channel : {0, 5}) {
            SCOPED_TRACE(channel);
            SetFocus(GetDlgItem(dialog, IDC_CHANNEL_NAME));
            ClickChannel(dialog, channel);
            EXPECT_EQ((States{1, 2, 2, 3, 3, 3, 3, 3}), ChannelStates(dialog));
            EXPECT_EQ("0", ItemText(dialog, IDC_SELECTED_NUMBER));
            EXPECT_TRUE(FocusIs(dialog, IDC_MODULE_NAME));
        }
        ClickButton(dialog, IDCANCEL);
    });
}

/* 1025 is also DM_SETDEFID: one that no channel button sent is the dialog manager's. */
TEST_F(ChannelEditorTest, ButtonDownFromAnotherWindowIsNotASelection) {
    Run([](HWND dialog) {
        SendMessageA(dialog, CTLN_LBUTTONDOWN, IDCANCEL, 0);
        EXPECT_EQ(IDCANCEL, LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0)));
        SendMessageA(dialog, CTLN_LBUTTONDOWN, reinterpret_cast<WPARAM>(RefHost_MainWindow()),
                     CHANNEL_PRESENT);
        EXPECT_EQ((States{1, 2, 2, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        ClickButton(dialog, IDCANCEL);
    });
}

/* ---- Less and more
 * ----------------------------------------------------------------------------------- */

TEST_F(ChannelEditorTest, LessAndMoreStopAtOneAndEight) {
    Record()->outputCount = 2;
    INT_PTR result = Run([](HWND dialog) {
        ClickItem(dialog, IDC_STEP_LESS);
        EXPECT_EQ((States{1, 3, 3, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        EXPECT_EQ(STEP_LESS_DISABLED, StepState(dialog, IDC_STEP_LESS));
        SendMessageA(dialog, WM_COMMAND, CMD_STEP_LESS, 0); /* from some other sender */
        EXPECT_EQ((States{1, 3, 3, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        EXPECT_EQ(STEP_LESS_DISABLED, StepState(dialog, IDC_STEP_LESS));

        ClickItem(dialog, IDC_STEP_MORE);
        EXPECT_EQ(STEP_LESS_ENABLED, StepState(dialog, IDC_STEP_LESS));
        for (int i = 0; i < 5; ++i)
            ClickItem(dialog, IDC_STEP_MORE);
        EXPECT_EQ(STEP_MORE_ENABLED, StepState(dialog, IDC_STEP_MORE)) << "at 7";
        ClickItem(dialog, IDC_STEP_MORE);
        EXPECT_EQ((States{1, 2, 2, 2, 2, 2, 2, 2}), ChannelStates(dialog));
        EXPECT_EQ(STEP_MORE_DISABLED, StepState(dialog, IDC_STEP_MORE));
        SendMessageA(dialog, WM_COMMAND, CMD_STEP_MORE, 0);
        EXPECT_EQ(STEP_MORE_DISABLED, StepState(dialog, IDC_STEP_MORE));

        ClickItem(dialog, IDC_STEP_LESS);
        EXPECT_EQ(STEP_MORE_ENABLED, StepState(dialog, IDC_STEP_MORE)) << "8 to 7";
        EXPECT_EQ((States{1, 2, 2, 2, 2, 2, 2, 3}), ChannelStates(dialog));
        EXPECT_TRUE(FocusIs(dialog, IDC_MODULE_NAME));
        ClickButton(dialog, IDOK);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ((std::pair<long, long>{0, 7}), Resized());
}

TEST_F(ChannelEditorTest, ForeignStepsAtTheLimitsKeepTheCountInRange) {
    for (DWORD count : {1u, 8u}) {
        SCOPED_TRACE(count);
        Record()->outputCount = count;
        RefHost_ClearJournal();
        Run([count](HWND dialog) {
            for (int i = 0; i < 3; ++i)
                SendMessageA(dialog, WM_COMMAND, count == 1 ? CMD_STEP_LESS : CMD_STEP_MORE, 0);
            ClickButton(dialog, IDOK);
        });
        EXPECT_EQ((std::pair<long, long>{0, static_cast<long>(count)}), Resized());
    }
}

TEST_F(ChannelEditorTest, LessFromTheSelectedLastChannelSelectsTheNewLast) {
    INT_PTR result = Run([](HWND dialog) {
        ClickChannel(dialog, 2);
        Type(dialog, IDC_CHANNEL_NAME, "letzter");
        ClickItem(dialog, IDC_STEP_LESS);
        EXPECT_EQ((States{2, 1, 3, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        EXPECT_EQ("1", ItemText(dialog, IDC_SELECTED_NUMBER));
        EXPECT_EQ("ch1", ItemText(dialog, IDC_CHANNEL_NAME));
        ClickButton(dialog, IDOK);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ((std::pair<long, long>{0, 2}), Resized());
    EXPECT_STREQ("letzter", Slot(2)) << "all eight slots go back, also those beyond the count";
}

TEST_F(ChannelEditorTest, ChannelsRemovedAndAddedAgainKeepTheirNames) {
    Record()->outputCount = 5;
    Run([](HWND dialog) {
        ClickChannel(dialog, 4);
        Type(dialog, IDC_CHANNEL_NAME, "vier");
        ClickItem(dialog, IDC_STEP_LESS);
        ClickItem(dialog, IDC_STEP_LESS);
        EXPECT_EQ((States{2, 2, 1, 3, 3, 3, 3, 3}), ChannelStates(dialog));
        ClickItem(dialog, IDC_STEP_MORE);
        ClickItem(dialog, IDC_STEP_MORE);
        EXPECT_EQ((States{2, 2, 1, 2, 2, 3, 3, 3}), ChannelStates(dialog));
        ClickChannel(dialog, 4);
        EXPECT_EQ("vier", ItemText(dialog, IDC_CHANNEL_NAME));
        ClickChannel(dialog, 3);
        EXPECT_EQ("ch3", ItemText(dialog, IDC_CHANNEL_NAME));
        ClickButton(dialog, IDOK);
    });
    EXPECT_EQ((std::pair<long, long>{0, 5}), Resized());
}

/* ---- Copying a name to every channel
 * ------------------------------------------------------------------- */

TEST_F(ChannelEditorTest, CopyNameFollowsTheLastFocusedEdit) {
    static const struct {
        const char* name;
        int focusNameEdit; /* else a click on the selected channel button */
        UINT message;
        int copies;
    } kCases[] = {
        {"if focused, name edit focused", 1, CEM_COPYNAMEIFFOCUSED, 1},
        {"if focused, after a channel click", 0, CEM_COPYNAMEIFFOCUSED, 0},
        {"to all, name edit focused", 1, CEM_COPYNAMETOALL, 1},
        {"to all, after a channel click", 0, CEM_COPYNAMETOALL, 1},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(test.name);
        UseModule(Restore(0, 3));
        Run([&test](HWND dialog) {
            ClickChannel(dialog, 1);
            if (test.focusNameEdit)
                SetFocus(GetDlgItem(dialog, IDC_CHANNEL_NAME));
            else
                ClickChannel(dialog, 1);
            Type(dialog, IDC_CHANNEL_NAME, "gleich");
            EXPECT_EQ(FALSE, SendMessageA(dialog, test.message, 0, 0));
            EXPECT_EQ("gleich", ItemText(dialog, IDC_CHANNEL_NAME));
            ClickButton(dialog, IDOK);
        });
        EXPECT_STREQ(test.copies ? "gleich" : "ch0", Slot(0));
        EXPECT_STREQ("gleich", Slot(1));
        EXPECT_STREQ(test.copies ? "gleich" : "ch2", Slot(2));
        for (unsigned k = 3; k < 8; ++k)
            EXPECT_EQ("ch" + std::to_string(k), Slot(k)) << "beyond the count";
    }
}

/* ---- Text limits
 * ------------------------------------------------------------------------------------------ */

TEST_F(ChannelEditorTest, StoredTextsAreCutToTheirFieldsOnCharacterBoundaries) {
    static const struct {
        const char* name;
        int control;
        const char* typed;
        const char* stored;
    } kCases[] = {
        {"channel name of 20", IDC_CHANNEL_NAME, "abcdefghijklmnopqrst", "abcdefghijklmnopqrs"},
        {"module name of 12", IDC_MODULE_NAME, "abcdefghijkl", "abcdefghijkl"},
        {"module name of 13", IDC_MODULE_NAME, "abcdefghijklm", "abcdefghijkl"},
        {"description of 40", IDC_MODULE_DESC, "0123456789012345678901234567890123456789",
         "0123456789012345678901234567890123456789"},
        {"module name split in a kanji", IDC_MODULE_NAME, "abcdefghijk漢", "abcdefghijk"},
        {"module name of six kanji", IDC_MODULE_NAME, "漢字漢字漢字", "漢字漢字漢字"},
        {"channel name split in a kana", IDC_CHANNEL_NAME, "abチャンネルチャンネル",
         "abチャンネルチャン"},
        {"channel name of half-width kana", IDC_CHANNEL_NAME, "ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄ",
         "ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃ"},
        {"description split in a kanji", IDC_MODULE_DESC,
         "012345678901234567890123456789012345678説明", "012345678901234567890123456789012345678"},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(test.name);
        UseModule(Restore(0, 3));
        Run([&test](HWND dialog) {
            Type(dialog, test.control, test.typed);
            ClickButton(dialog, IDOK);
        });
        const char* stored = test.control == IDC_CHANNEL_NAME  ? Slot(0)
                             : test.control == IDC_MODULE_NAME ? Record()->name
                                                               : Record()->description;
        EXPECT_STREQ(test.stored, stored);
    }
}

TEST(Cp932Prefix, NeverEndsInALoneLeadByte) {
    static const struct {
        const char* source;
        size_t bufferBytes;
        const char* expected;
    } kCases[] = {
        {"abc", 4, "abc"},
        {"abcd", 4, "abc"},
        {"ab漢", 4, "ab"}, /* the kanji would need bytes 2 and 3 of 3 */
        {"ab漢", 5, "ab漢"},
        {"メモ", 4, "メ"}, /* メ's trail byte 0x81 looks like a lead byte */
        {"\x81", 4, ""},   /* a lead byte with nothing after it */
        {"a\x9F", 4, "a"},
        {"ｱｲｳ", 3, "ｱｲ"}, /* half-width kana are single bytes */
        {"\xE0\x40\xFC\x40", 5, "\xE0\x40\xFC\x40"},
        {"", 1, ""},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(test.source);
        char destination[16];
        memset(destination, 'X', sizeof destination);
        size_t length = CopyCp932Prefix(destination, test.bufferBytes, test.source);
        EXPECT_STREQ(test.expected, destination);
        EXPECT_EQ(strlen(test.expected), length);
    }
    for (unsigned byte = 0; byte < 256; ++byte) {
        int lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        EXPECT_EQ(lead, IsCp932LeadByte(static_cast<unsigned char>(byte))) << byte;
        EXPECT_EQ(lead != 0, IsDBCSLeadByteEx(932, static_cast<BYTE>(byte)) != 0) << byte;
    }
}

/* ---- OK, Cancel, close box
 * ---------------------------------------------------------------------------------- */

TEST_F(ChannelEditorTest, OkWritesBackResizesAndKeepsTheOutputBuffer) {
    static const struct {
        const char* name;
        DWORD inputs, outputs;
        const char* port;
        std::pair<long, long> resized;
    } kCases[] = {
        {"input module", 0, 3, "ポート A 入力", {0, 4}},
        {"output module", 3, 0, "ポート A 出力", {4, 0}},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(test.name);
        UseModule(Restore(test.inputs, test.outputs));
        BYTE sentinel[4];
        ModuleRecord* record = Record();
        INT_PTR result = Run([&test, record, &sentinel](HWND dialog) {
            EXPECT_EQ(test.port, ItemText(dialog, IDC_SETTINGS_PORT));
            Type(dialog, IDC_MODULE_NAME, "Eingang");
            Type(dialog, IDC_MODULE_DESC, "Port A der Karte 3");
            ClickItem(dialog, IDC_STEP_MORE);
            ClickChannel(dialog, 3);
            Type(dialog, IDC_CHANNEL_NAME, "neu");
            /* A run starts while the dialog is open. */
            record->settings->outputBuffer = sentinel;
            ClickButton(dialog, IDOK);
        });
        EXPECT_EQ(1, result);
        EXPECT_STREQ("Eingang", Record()->name);
        EXPECT_STREQ("Port A der Karte 3", Record()->description);
        EXPECT_STREQ("neu", Slot(3));
        EXPECT_STREQ("ch7", Slot(7));
        EXPECT_EQ(3, Record()->settings->socket);
        EXPECT_EQ(0u, Record()->settings->port);
        EXPECT_EQ(sentinel, Record()->settings->outputBuffer);
        EXPECT_EQ(test.resized, Resized());
        ASSERT_EQ(1u, HostCalls("NewDoMemFree"));
        EXPECT_STREQ("CtlDlg:236", HostCall("NewDoMemFree", 0)->source);
        Record()->settings->outputBuffer = nullptr;
    }
}

TEST_F(ChannelEditorTest, CancelCloseBoxAndEscapeChangeNothing) {
    for (const WayOut& way : kDialogWaysOut) {
        SCOPED_TRACE(way.name);
        RefHost_ClearJournal();
        ModuleSnapshot before = Snapshot(Record());
        INT_PTR result = Run([&way](HWND dialog) {
            Type(dialog, IDC_MODULE_NAME, "anders");
            Type(dialog, IDC_MODULE_DESC, "anders");
            ClickChannel(dialog, 1);
            Type(dialog, IDC_CHANNEL_NAME, "anders");
            ClickItem(dialog, IDC_STEP_LESS);
            ClickItem(dialog, IDC_STEP_LESS);
            way.leave(dialog);
        });
        EXPECT_EQ(0, result);
        EXPECT_EQ(1u, m_started);
        EXPECT_TRUE(Same(before, Snapshot(Record())));
        EXPECT_EQ(0u, HostCalls("ChangeModuleSize"));
        EXPECT_EQ(1u, HostCalls("NewDoMemFree"));
        EXPECT_EQ(m_liveBefore, RefHost_LiveBlocks());
    }
}

TEST_F(ChannelEditorTest, WithoutScratchMemoryTheDialogNeverShows) {
    ModuleSnapshot before = Snapshot(Record());
    RefHost_FailAllocation(1);
    INT_PTR result = Run([](HWND dialog) { ClickButton(dialog, IDOK); });
    EXPECT_EQ(0, result);
    EXPECT_EQ(0u, m_started);
    EXPECT_TRUE(Same(before, Snapshot(Record())));
    EXPECT_EQ(0u, HostCalls("ChangeModuleSize"));
}

TEST_F(ChannelEditorTest, WithoutAModuleOrItsSettingsTheDialogNeverShows) {
    ModuleRecord orphan = {};
    for (ModuleRecord* module : {static_cast<ModuleRecord*>(nullptr), &orphan}) {
        SetCurrentModule(module);
        DialogDriver driver({[](HWND dialog) { ClickButton(dialog, IDOK); }});
        EXPECT_EQ(0, RunChannelEditor(RefHost_MainWindow()));
        EXPECT_EQ(0u, driver.Started());
        SetCurrentModule(nullptr);
    }
    EXPECT_EQ(0u, HostCalls("NewMemAlloc"));
    EXPECT_EQ(0u, HostCalls("ChangeModuleSize"));
}

TEST_F(ChannelEditorTest, VersionButtonOpensTheAboutBoxOverTheDialog) {
    HWND settings = nullptr;
    Run({[&settings](HWND dialog) {
             settings = dialog;
             ClickButton(dialog, IDC_VERSION_BUTTON);
             EXPECT_TRUE(IsWindowEnabled(dialog)) << "the About box has closed";
             ClickButton(dialog, IDCANCEL);
         },
         [&settings](HWND box) {
             EXPECT_EQ(settings, GetWindow(box, GW_OWNER));
             EXPECT_EQ("RZX-DK08 Module Version 2.00", ItemText(box, IDC_ABOUT_VERSION));
             ClickButton(box, IDOK);
         }});
    EXPECT_EQ(2u, m_started);
}

/* Through the host: event 103 opens the dialog on the module "&CurrentModulePtr" names. */
TEST_F(ChannelEditorTest, SettingsEventOpensTheDialog) {
    DialogDriver driver({[](HWND dialog) {
        Type(dialog, IDC_MODULE_NAME, "Neu");
        ClickItem(dialog, IDC_STEP_LESS);
        ClickButton(dialog, IDOK);
    }});
    EXPECT_EQ(1, RefHost_OpenModule(m_module));
    EXPECT_EQ(1u, driver.Started());
    EXPECT_STREQ("Neu", Record()->name);
    EXPECT_EQ(2u, Record()->outputCount);
}
