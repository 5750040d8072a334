/*
 * The module event handler in the reference host: creation through the device
 * selection dialog, port claims, restore, start and stop, and what reaches the
 * card at the start of a run.
 */
#include "ModuleHarness.h"

#include "card/DeviceTable.h"
#include "module/Dk08Main.h"

#include <cstring>

class ModuleEvents : public HostedExtension {};

TEST_F(ModuleEvents, CreatedModuleOnInputPortGetsOneOutputAndDescendingBitNames) {
    AnswerNextDialog(IDOK);
    RefModule* m = RefHost_CreateModule();
    ASSERT_NE(nullptr, m);
    ModuleRecord* r = RefModule_Record(m);
    EXPECT_EQ(0u, r->settings->socket); /* first row, first free port */
    EXPECT_EQ(0u, r->settings->port);
    EXPECT_EQ(0u, r->inputCount);
    EXPECT_EQ(1u, r->outputCount);
    EXPECT_EQ(nullptr, r->settings->outputBuffer);
    char expected[16];
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        snprintf(expected, sizeof expected, "Bit %u", 7 - k);
        EXPECT_STREQ(expected, r->settings->channelNames[k]);
    }
    EXPECT_EQ(1u, DeviceTable()[0].portInUse[0]);

    RefHost_DeleteModule(m);
    EXPECT_EQ(0u, DeviceTable()[0].portInUse[0]);
}

TEST_F(ModuleEvents, CreatedModuleOnOutputPortGetsOneInput) {
    DeviceTable()[0].portIsOutput[0] = 1; /* shown as output in the dialog */
    AnswerNextDialog(IDOK);
    RefModule* m = RefHost_CreateModule();
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(1u, RefModule_Record(m)->inputCount);
    EXPECT_EQ(0u, RefModule_Record(m)->outputCount);
}

TEST_F(ModuleEvents, CancelledCreationClaimsNothingAndItsDeleteFreesNothing) {
    RefModule* holder = Restore(0, 0, 0, 1); /* socket 0 port A taken */
    ASSERT_NE(nullptr, holder);
    DeviceEntry before[SOCKET_COUNT];
    memcpy(before, DeviceTable(), sizeof before);

    ModuleSettings settings;
    memset(&settings, 0, sizeof settings);
    ModuleRecord record;
    memset(&record, 0, sizeof record);
    record.settings = &settings;
    AnswerNextDialog(IDCANCEL);
    EXPECT_EQ(0, ModuleEvent(&record, ME_CREATE, 0, 0));
    EXPECT_EQ(0, memcmp(before, DeviceTable(), sizeof before));
    EXPECT_EQ(1, ModuleEvent(&record, ME_DELETE, 0, 0));
    EXPECT_EQ(1u, DeviceTable()[0].portInUse[0]);
}

TEST_F(ModuleEvents, RestoreClaimsThePortWithItsDirection) {
    RefModule* in = Restore(1, 2, 0, 2);
    RefModule* out = Restore(1, 0, 1, 0);
    ASSERT_NE(nullptr, in);
    ASSERT_NE(nullptr, out);
    const DeviceEntry& card = DeviceTable()[1];
    EXPECT_EQ(1u, card.portInUse[2]);
    EXPECT_EQ(0u, card.portIsOutput[2]);
    EXPECT_EQ(1u, card.portInUse[0]);
    EXPECT_EQ(1u, card.portIsOutput[0]);
}

TEST_F(ModuleEvents, RestoreRefusesMissingCardsAndBadStoredSettings) {
    static const struct {
        unsigned socket;
        unsigned port;
        const char* number;
    } cases[] = {
        {5, 0, "5"},                  /* no card in the socket */
        {16, 0, "16"},                /* past the table */
        {255, 1, "255"}, {0, 3, "0"}, /* the control register is no port */
        {0, 9, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.socket * 100 + c.port);
        DeviceEntry before[SOCKET_COUNT];
        memcpy(before, DeviceTable(), sizeof before);
        RefHost_ClearJournal();
        EXPECT_EQ(nullptr, Restore(c.socket, c.port, 0, 1));
        ASSERT_EQ(1u, Warnings());
        std::string text = std::string("RZX-DK08 ERROR\n\x8e\x77\x92\xe8\x82\xcc\x83\x5c\x83\x50"
                                       "\x83\x62\x83\x67 ") +
                           c.number +
                           " \x82\xc9\x83\x66\x83\x6f\x83\x43\x83\x58\x82\xaa\x91\xb6\x8d\xdd"
                           "\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd";
        for (size_t i = 0; i < RefHost_JournalSize(); ++i) {
            if (RefHost_JournalEntry(i)->kind == J_WARNING) {
                EXPECT_EQ(text, RefHost_JournalEntry(i)->text);
            }
        }
        EXPECT_EQ(0, memcmp(before, DeviceTable(), sizeof before));
    }
}

TEST_F(ModuleEvents, AcknowledgedAndUnknownCodes) {
    RefModule* m = Restore(0, 0, 0, 1);
    ASSERT_NE(nullptr, m);
    for (UINT code : {1u, 104u, 201u})
        EXPECT_EQ(1, RefHost_SendEvent(m, code, 7, 9));
    EXPECT_EQ(0u, RefHost_CountCalls("PerformDefaultAction"));
    RefHost_SendEvent(m, 150, 7, 9);
    EXPECT_EQ(1u, RefHost_CountCalls("PerformDefaultAction"));
}

TEST_F(ModuleEvents, OneCardIsProgrammedOncePerRunWhateverItsModules) {
    ASSERT_NE(nullptr, Restore(0, 0, 0, 1)); /* A in */
    ASSERT_NE(nullptr, Restore(0, 1, 1, 0)); /* B out */
    SimCard_ClearTrace();
    Start(1.0, 10);
    static const TraceRow kProgramAinBout[] = {
        {SIM_SETDIRECTION, 0, 0, 0x15},
        {SIM_OUTPORT, 0, 3, 0x99},
        {SIM_SETDIRECTION, 0, 0, 0x19},
        {SIM_SETDIRECTION, 0, 0, 0x08},
    };
    SCOPED_TRACE("first run");
    ExpectTrace(CardTrace(), kProgramAinBout, 4);
    EXPECT_EQ(1u, DeviceTable()[0].configured);

    RefHost_StopExperiment();
    EXPECT_EQ(0u, DeviceTable()[0].configured);
    SimCard_ClearTrace();
    Start(1.0, 10);
    SCOPED_TRACE("second run programs again");
    ExpectTrace(CardTrace(), kProgramAinBout, 4);
}

TEST_F(ModuleEvents, StartThatFailsGivesBackWhatItTook) {
    RefModule* out = Restore(0, 1, 1, 0);
    ASSERT_NE(nullptr, out);
    size_t live = RefHost_LiveBlocks();

    RefHost_FailAllocation(1);
    EXPECT_EQ(0, RefHost_SendEvent(out, ME_START, 0, 0));
    EXPECT_EQ(1u, Warnings());
    EXPECT_EQ(0u, CardTrace(SIM_SETDIRECTION).size()); /* no buffer, no programming */

    SimCard_FailNth(SIM_SETDIRECTION, 1, 5);
    EXPECT_EQ(0, RefHost_SendEvent(out, ME_START, 0, 0));
    EXPECT_EQ(live, RefHost_LiveBlocks());
    EXPECT_EQ(nullptr, RefModule_Record(out)->settings->outputBuffer);
    EXPECT_EQ(0u, DeviceTable()[0].configured);

    EXPECT_EQ(1, RefHost_SendEvent(out, ME_START, 0, 0));
    EXPECT_EQ(1, RefHost_SendEvent(out, ME_START, 0, 0)); /* twice without a stop */
    EXPECT_EQ(live + 1, RefHost_LiveBlocks());
    EXPECT_EQ(1, RefHost_SendEvent(out, ME_STOP, 0, 0));
    EXPECT_EQ(1, RefHost_SendEvent(out, ME_STOP, 0, 0)); /* and a stop without a start */
    EXPECT_EQ(live, RefHost_LiveBlocks());
}

TEST_F(ModuleEvents, LoopbackThroughTheCableReadsBackWhatWasWritten) {
    RefModule* out = Restore(0, 1, 1, 0); /* socket 0 port B drives the cable */
    RefModule* in = Restore(1, 0, 0, 1);  /* socket 1 port A reads it */
    ASSERT_NE(nullptr, out);
    ASSERT_NE(nullptr, in);
    Start(1.0, 1);
    static const float kPattern[6] = {5, 0, 0, 5, 5, 0};
    for (float level : kPattern) {
        RefHost_QueueInputBlock(out, 0, &level, 1);
        RefHost_ProcessAll(); /* written, then read back in the same round */
        g_fakeTick += 1;
        RefHost_ProcessAll(); /* the read block is due and handed on */
    }
    ASSERT_EQ(6u, RefHost_ReleasedBlockCount(in, 0));
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const DataBlock* b = RefHost_ReleasedBlock(in, 0, i);
        EXPECT_EQ(kPattern[i], BlockSamples(const_cast<DataBlock*>(b))[0]);
    }
}

/* The one NewMemAlloc call of a start, from the journal; null when none. */
static const JournalEntry* OnlyAllocation(void) {
    const JournalEntry* found = nullptr;
    for (size_t i = 0; i < RefHost_JournalSize(); ++i) {
        const JournalEntry* e = RefHost_JournalEntry(i);
        if (e->kind != J_CALL || strcmp(e->text, "NewMemAlloc") != 0)
            continue;
        if (found)
            return nullptr;
        found = e;
    }
    return found;
}

/* The host sees exactly the block size asked for, and the settings record holds
   exactly the block it returned, whose bytes are the port's from the first. */
TEST_F(ModuleEvents, OutputBufferIsTheHostsBlockOfBlockSizeBytes) {
    static const DWORD kBlockSizes[] = {1, 3, 100, 65535, 65536, 100000};
    static const float kLevels[3] = {5, 0, 5};
    for (DWORD blockSize : kBlockSizes) {
        SCOPED_TRACE(blockSize);
        RefModule* out = Restore(0, 1, 1, 0);
        ASSERT_NE(nullptr, out);
        RefHost_ClearJournal();
        Start(1.0, blockSize);
        const JournalEntry* allocation = OnlyAllocation();
        ASSERT_NE(nullptr, allocation);
        EXPECT_EQ(blockSize, allocation->a);
        EXPECT_STREQ("Dk08Main:210", allocation->source);
        const BYTE* buffer = RefModule_Record(out)->settings->outputBuffer;
        EXPECT_EQ(allocation->value, reinterpret_cast<DWORD>(buffer));

        SimCard_ClearTrace();
        RefHost_QueueInputBlock(out, 0, kLevels, 3);
        RefHost_ProcessAll();
        std::vector<TraceRow> writes = CardTrace(SIM_OUTPORT);
        ASSERT_EQ(blockSize < 3 ? blockSize : 3u, writes.size());
        for (size_t j = 0; j < writes.size(); ++j)
            EXPECT_EQ(writes[j].value, buffer[j]) << "byte " << j;
        RefHost_StopExperiment();
        EXPECT_EQ(nullptr, RefModule_Record(out)->settings->outputBuffer);
        RefHost_DeleteModule(out);
    }
}
