/*
 * The device selection dialog driven as a user drives it: list rows, the
 * combo box of free ports, the direction radio buttons, and the ways out.
 */
#include <gtest/gtest.h>

#include "card/DeviceTable.h"
#include "resources/ResourceIds.h"
#include "sim/host/RefHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/DeviceSelector.h"

#include <cstring>

class DeviceSelectorTest : public testing::Test {
  protected:
    void SetUp() override {
        memcpy(m_saved, DeviceTable(), sizeof m_saved);
        memset(DeviceTable(), 0, sizeof m_saved);
        Card(3, 0x300, 4, 0, 0);
        Card(7, 0x320, 4, 0x330, 16);
        DeviceTable()[7].portInUse[0] = 1; /* A and B claimed: only C is offered */
        DeviceTable()[7].portInUse[1] = 1;
        Card(5, 0x340, 4, 0x350, 4); /* every port claimed: not listed */
        for (DWORD& inUse : DeviceTable()[5].portInUse)
            inUse = 1;
        DeviceTable()[9].ioBase1 = 0x360; /* status 0: never listed */
        memcpy(m_before, DeviceTable(), sizeof m_before);
        RefHost_ClearJournal();
    }

    void TearDown() override {
        memcpy(DeviceTable(), m_saved, sizeof m_saved);
    }

    static void Card(unsigned socket, DWORD base1, DWORD length1, DWORD base2, DWORD length2) {
        DeviceEntry& entry = DeviceTable()[socket];
        entry.status = 1;
        entry.ioBase1 = base1;
        entry.ioLength1 = length1;
        entry.ioBase2 = base2;
        entry.ioLength2 = length2;
        entry.handle = static_cast<WORD>(socket);
    }

    INT_PTR Run(DialogScript script) {
        DialogDriver driver({script});
        INT_PTR result = RunDeviceSelector(RefHost_MainWindow());
        m_started = driver.Started();
        return result;
    }

    int TableUnchanged() const {
        return memcmp(m_before, DeviceTable(), sizeof m_before) == 0;
    }

    DeviceEntry m_saved[SOCKET_COUNT];
    DeviceEntry m_before[SOCKET_COUNT];
    size_t m_started = 0;
};

/* ---- What the user does ----------------------------------------------------------------- */

static void SelectRow(HWND dialog, int row) {
    SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_SETCURSEL, row, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_DEVICE_LIST)));
}

/* Picks a combo row with the drop-down list; closeUp 0 is the arrow keys on a closed list. */
static void PickPort(HWND dialog, int row, int closeUp = 1) {
    SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_SETCURSEL, row, 0);
    if (closeUp)
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PORT_COMBO, CBN_CLOSEUP),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_PORT_COMBO)));
}

static std::vector<std::string> ListTexts(HWND dialog, int control, UINT countMessage,
                                          UINT textMessage) {
    std::vector<std::string> texts;
    LRESULT count = SendDlgItemMessageA(dialog, control, countMessage, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = "";
        SendDlgItemMessageA(dialog, control, textMessage, i, reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

static std::vector<std::string> Rows(HWND dialog) {
    return ListTexts(dialog, IDC_DEVICE_LIST, LB_GETCOUNT, LB_GETTEXT);
}

static std::vector<std::string> Ports(HWND dialog) {
    return ListTexts(dialog, IDC_PORT_COMBO, CB_GETCOUNT, CB_GETLBTEXT);
}

static int Checked(HWND dialog) {
    if (IsDlgButtonChecked(dialog, IDC_DIR_INPUT))
        return IsDlgButtonChecked(dialog, IDC_DIR_OUTPUT) ? -1 : IDC_DIR_INPUT;
    return IsDlgButtonChecked(dialog, IDC_DIR_OUTPUT) ? IDC_DIR_OUTPUT : 0;
}

/* ---- Tests ------------------------------------------------------------------------------------
 */

TEST_F(DeviceSelectorTest, ListsCardsWithFreePortsByRowNumber) {
    INT_PTR result = Run([](HWND dialog) {
        EXPECT_EQ((std::vector<std::string>{"RZX-DK08 #0", "RZX-DK08 #1"}), Rows(dialog));
        EXPECT_EQ(0, SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0));
        EXPECT_EQ("3", ItemText(dialog, IDC_DEVICE_SOCKET));
        EXPECT_EQ("300h - 303h", ItemText(dialog, IDC_IO_RANGE_1));
        EXPECT_EQ("000h - FFFFFFFFh", ItemText(dialog, IDC_IO_RANGE_2));
        EXPECT_EQ((std::vector<std::string>{"ポート A", "ポート B", "ポート C"}), Ports(dialog));
        EXPECT_EQ(0, SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0));
        EXPECT_EQ(IDC_DIR_INPUT, Checked(dialog));

        SelectRow(dialog, 1);
        EXPECT_EQ("7", ItemText(dialog, IDC_DEVICE_SOCKET));
        EXPECT_EQ("320h - 323h", ItemText(dialog, IDC_IO_RANGE_1));
        EXPECT_EQ("330h - 33Fh", ItemText(dialog, IDC_IO_RANGE_2));
        EXPECT_EQ((std::vector<std::string>{"ポート C"}), Ports(dialog));
        ClickButton(dialog, IDCANCEL);
    });
    EXPECT_EQ(-1, result);
    EXPECT_EQ(1u, m_started);
    EXPECT_TRUE(TableUnchanged());
}

TEST_F(DeviceSelectorTest, TemplateTextsAndCaption) {
    Run([](HWND dialog) {
        char caption[64] = "";
        GetWindowTextA(dialog, caption, sizeof caption);
        EXPECT_STREQ("ハードウェア選択", caption);
        EXPECT_EQ("ｷｬﾝｾﾙ", ItemText(dialog, IDCANCEL));
        EXPECT_EQ("入力", ItemText(dialog, IDC_DIR_INPUT));
        EXPECT_EQ("出力", ItemText(dialog, IDC_DIR_OUTPUT));
        ClickButton(dialog, IDCANCEL);
    });
}

TEST_F(DeviceSelectorTest, CommitClaimsOnlyTheChosenPortAndKeepsOtherDirections) {
    INT_PTR result = Run([](HWND dialog) {
        PickPort(dialog, 1); /* B */
        EXPECT_EQ(IDC_DIR_INPUT, Checked(dialog));
        ClickButton(dialog, IDC_DIR_OUTPUT);
        PickPort(dialog, 0); /* A */
        EXPECT_EQ(IDC_DIR_INPUT, Checked(dialog));
        PickPort(dialog, 1); /* back to B: its new direction shows */
        EXPECT_EQ(IDC_DIR_OUTPUT, Checked(dialog));
        PickPort(dialog, 0);
        ClickButton(dialog, IDOK);
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(3, ChosenSocket());
    EXPECT_EQ(0, ChosenPort());
    const DeviceEntry& card = DeviceTable()[3];
    EXPECT_EQ(1u, card.portInUse[0]);
    EXPECT_EQ(0u, card.portIsOutput[0]);
    EXPECT_EQ(0u, card.portInUse[1]);
    EXPECT_EQ(1u, card.portIsOutput[1]) << "a free port keeps the direction set for it";
    EXPECT_EQ(0u, card.portInUse[2]);
}

TEST_F(DeviceSelectorTest, ArrowKeysOnAClosedListLeaveTheRadioButtons) {
    INT_PTR result = Run([](HWND dialog) {
        PickPort(dialog, 2); /* C */
        ClickButton(dialog, IDC_DIR_OUTPUT);
        PickPort(dialog, 1, 0); /* B without CBN_CLOSEUP */
        EXPECT_EQ(IDC_DIR_OUTPUT, Checked(dialog)) << "still what C showed";
        ClickButton(dialog, IDC_DIR_INPUT); /* applies to B */
        ClickButton(dialog, IDC_DIR_OUTPUT);
        ClickButton(dialog, IDOK);
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(1, ChosenPort());
    EXPECT_EQ(1u, DeviceTable()[3].portIsOutput[1]);
    EXPECT_EQ(1u, DeviceTable()[3].portIsOutput[2]);
}

TEST_F(DeviceSelectorTest, SelectingTheShownRowChangesNothing) {
    Run([](HWND dialog) {
        PickPort(dialog, 1);
        ClickButton(dialog, IDC_DIR_OUTPUT);
        SelectRow(dialog, 0);
        EXPECT_EQ(1, SendDlgItemMessageA(dialog, IDC_PORT_COMBO, CB_GETCURSEL, 0, 0));
        EXPECT_EQ(IDC_DIR_OUTPUT, Checked(dialog));
        ClickButton(dialog, IDCANCEL);
    });
}

TEST_F(DeviceSelectorTest, DoubleClickCommitsWithTheComboPort) {
    INT_PTR result = Run([](HWND dialog) {
        SelectRow(dialog, 1);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, LBN_DBLCLK),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_DEVICE_LIST)));
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(7, ChosenSocket());
    EXPECT_EQ(2, ChosenPort());
    EXPECT_EQ(1u, DeviceTable()[7].portInUse[2]);
}

TEST_F(DeviceSelectorTest, CancelCloseBoxAndEscapeLeaveTheTable) {
    for (const WayOut& way : kDialogWaysOut) {
        SCOPED_TRACE(way.name);
        WORD socketBefore = ChosenSocket();
        INT_PTR result = Run([&way](HWND dialog) {
            ClickButton(dialog, IDC_DIR_OUTPUT);
            PickPort(dialog, 2);
            ClickButton(dialog, IDC_DIR_OUTPUT);
            SelectRow(dialog, 1);
            way.leave(dialog);
        });
        EXPECT_EQ(-1, result);
        EXPECT_EQ(1u, m_started);
        EXPECT_TRUE(TableUnchanged());
        EXPECT_EQ(socketBefore, ChosenSocket());
    }
}

TEST_F(DeviceSelectorTest, NoFreePortWarnsAndEndsBeforeShowing) {
    for (unsigned socket : {3u, 7u})
        for (DWORD& inUse : DeviceTable()[socket].portInUse)
            inUse = 1;
    memcpy(m_before, DeviceTable(), sizeof m_before);
    INT_PTR result = Run([](HWND dialog) { ClickButton(dialog, IDCANCEL); });
    EXPECT_EQ(-1, result);
    EXPECT_EQ(0u, m_started) << "the dialog never showed";
    EXPECT_EQ((std::vector<std::string>{"RZX-DK08\n使えるデバイスがありませんでした"}),
              HostWarnings());
    EXPECT_TRUE(TableUnchanged());
}

/* Through the host: menu command 2951 sends 101, which runs this dialog. */
TEST_F(DeviceSelectorTest, CreatingAModuleRunsTheSelection) {
    DialogDriver driver({[](HWND dialog) {
        SelectRow(dialog, 1);
        ClickButton(dialog, IDC_DIR_OUTPUT);
        ClickButton(dialog, IDOK);
    }});
    RefModule* module = RefHost_CreateModule();
    ASSERT_NE(nullptr, module);
    ModuleRecord* record = RefModule_Record(module);
    EXPECT_EQ(7, record->settings->socket);
    EXPECT_EQ(2u, record->settings->port);
    EXPECT_EQ(1u, record->inputCount) << "an output port takes samples in";
    EXPECT_EQ(0u, record->outputCount);
    RefHost_DeleteModule(module);
    EXPECT_EQ(0u, DeviceTable()[7].portInUse[2]);
}
