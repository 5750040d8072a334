/*
 * A card pulled at each phase of a module's life: before a run, while a start
 * programs the card's directions, in the middle of a run (under the input
 * module and under the output module) and while a run stops. Each time the run
 * is stopped, the pulled-card warning comes once, nothing leaks and the device
 * table still knows the card; once the card is back in its socket the next run
 * on it moves data again.
 */
#include "ModuleHarness.h"

#include "card/DeviceTable.h"

#include <cstring>

#define PULL_CAPTION  "RZX-DK08 警告"
#define WRITER_SOCKET 0u /* port B, cabled to the reader */
#define READER_SOCKET 1u /* port A */
#define PULL_BLOCK    4u

enum PullPhase {
    PULL_BEFORE_START,
    PULL_WHILE_PROGRAMMING, /* after the n-th direction call of the start */
    PULL_MID_RUN,           /* after the n-th port call of the run on that card */
    PULL_WHILE_STOPPING,
};

struct PullCase {
    const char* what;
    PullPhase phase;
    DWORD socket;
    DWORD calls;
    int startRefused;     /* the start that meets the pulled card is refused */
    size_t otherWarnings; /* the refused start's or the failing port call's */
};

class CardPull : public HostedExtension {
  protected:
    RefModule* writer = nullptr;
    RefModule* reader = nullptr;

    void SetUp() override {
        HostedExtension::SetUp();
        writer = Restore(WRITER_SOCKET, 1, 1, 0);
        reader = Restore(READER_SOCKET, 0, 0, 1);
        ASSERT_NE(nullptr, writer);
        ASSERT_NE(nullptr, reader);
    }

    /* One host round as a paced run makes it: the waiting messages first, then
       a block for the writer and every process function. 0 once the extension
       has asked for the run to stop. */
    int Round(void) {
        DeliverPostedMessages();
        if (RefHost_StopRequested())
            return 0;
        static const float kHigh[PULL_BLOCK] = {5, 5, 5, 5};
        RefHost_QueueInputBlock(writer, 0, kHigh, PULL_BLOCK);
        RefHost_ProcessAll();
        g_fakeTick += PULL_BLOCK;
        return 1;
    }

    /* Runs up to the given number of rounds; the rounds made. */
    unsigned Rounds(unsigned count) {
        unsigned made = 0;
        while (made < count && Round())
            ++made;
        return made;
    }

    /* Starts at the fake tick; the host's answer. */
    int StartRun(void) {
        int started = RefHost_StartExperiment(1.0, PULL_BLOCK);
        RefHost_SetStartTicks(g_fakeTick);
        return started;
    }

    /* What happens to the card in this phase, up to the end of the run. */
    void Provoke(const PullCase& c) {
        switch (c.phase) {
        case PULL_BEFORE_START:
            SimCard_Pull(c.socket);
            DeliverPostedMessages();
            EXPECT_EQ(c.startRefused != 0, StartRun() == 0);
            break;
        case PULL_WHILE_PROGRAMMING:
            SimCard_PullAfterCalls(c.socket, c.calls);
            EXPECT_EQ(c.startRefused != 0, StartRun() == 0);
            Rounds(4);
            break;
        case PULL_MID_RUN:
            ASSERT_EQ(1, StartRun());
            ASSERT_EQ(3u, Rounds(3));
            SimCard_PullAfterCalls(c.socket, c.calls);
            EXPECT_LT(Rounds(20), 20u) << "the run went on without its card";
            break;
        case PULL_WHILE_STOPPING:
            ASSERT_EQ(1, StartRun());
            ASSERT_EQ(3u, Rounds(3));
            SimCard_Pull(c.socket);
            break;
        }
        RefHost_StopExperiment();
        DeliverPostedMessages();
    }

    /* Warnings other than the pull's. */
    static size_t OtherWarnings(void) {
        return RefHost_CountKind(J_WARNING) - WarningsCaptioned(PULL_CAPTION);
    }

    /* A run on the re-inserted card: written bits come back through the cable. */
    void ExpectDataFlows(void) {
        SimCard_ClearTrace();
        RefHost_ClearJournal();
        ASSERT_EQ(1, StartRun());
        EXPECT_EQ(8u, Rounds(8));
        EXPECT_EQ(0u, RefHost_CountKind(J_WARNING));
        EXPECT_FALSE(RefHost_StopRequested());
        size_t writes = 0;
        for (const TraceRow& row : CardTrace(SIM_OUTPORT)) {
            if (row.socket == WRITER_SOCKET && row.port == 1)
                ++writes;
        }
        EXPECT_EQ(8u * PULL_BLOCK, writes);
        ASSERT_GE(RefHost_ReleasedBlockCount(reader, 0), 3u);
        for (size_t b = 0; b < RefHost_ReleasedBlockCount(reader, 0); ++b) {
            const DataBlock* block = RefHost_ReleasedBlock(reader, 0, b);
            const float* s = BlockSamples(const_cast<DataBlock*>(block));
            for (unsigned j = 0; j < block->sampleCount; ++j)
                EXPECT_EQ(5.0f, s[j]) << "block " << b << " sample " << j;
        }
        RefHost_StopExperiment();
    }
};

TEST_F(CardPull, AtEveryPhaseTheRunStopsOnceAndTheReinsertedCardWorks) {
    static const PullCase cases[] = {
        {"before the start, output card", PULL_BEFORE_START, WRITER_SOCKET, 0, 1, 1},
        {"before the start, input card", PULL_BEFORE_START, READER_SOCKET, 0, 1, 1},
        {"after the first direction value", PULL_WHILE_PROGRAMMING, WRITER_SOCKET, 1, 1, 1},
        {"after the control word", PULL_WHILE_PROGRAMMING, WRITER_SOCKET, 2, 1, 1},
        {"after the second direction value", PULL_WHILE_PROGRAMMING, READER_SOCKET, 3, 1, 1},
        {"right after programming", PULL_WHILE_PROGRAMMING, READER_SOCKET, 4, 0, 0},
        {"mid-run under the input module", PULL_MID_RUN, READER_SOCKET, 2, 0, 1},
        {"mid-run under the output module", PULL_MID_RUN, WRITER_SOCKET, 3, 0, 1},
        {"while the run stops, output card", PULL_WHILE_STOPPING, WRITER_SOCKET, 0, 0, 0},
        {"while the run stops, input card", PULL_WHILE_STOPPING, READER_SOCKET, 0, 0, 0},
    };
    for (const PullCase& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceEntry table[SOCKET_COUNT];
        memcpy(table, DeviceTable(), sizeof table);
        size_t live = RefHost_LiveBlocks();
        SimCard_ClearTrace();
        RefHost_ClearJournal();

        Provoke(c);
        EXPECT_EQ(1u, WarningsCaptioned(PULL_CAPTION));
        EXPECT_EQ(c.otherWarnings, OtherWarnings());
        EXPECT_GE(RefHost_CountCalls("StopExperiment"), 1u);
        /* Before the start there is no run to stop, and the start clears the request. */
        if (c.phase != PULL_BEFORE_START) {
            EXPECT_TRUE(RefHost_StopRequested());
        }
        EXPECT_EQ(1u, CardTrace(SIM_PULLED).size());
        EXPECT_EQ(live, RefHost_LiveBlocks());
        EXPECT_EQ(0u, RefHost_CheckGuards());
        EXPECT_EQ(0u, RefHost_CheckFreedBlocks());
        EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION));
        /* A pulled card stays in the table with its ports claimed. */
        EXPECT_EQ(0, memcmp(table, DeviceTable(), sizeof table));

        SimCard_Insert(c.socket);
        DeliverPostedMessages();
        ExpectDataFlows();
        if (HasFailure())
            break;
    }
}

TEST_F(CardPull, AReinsertedCardTakesNewModules) {
    SimCard_Pull(READER_SOCKET);
    DeliverPostedMessages();
    EXPECT_EQ(nullptr, Restore(READER_SOCKET, 2, 0, 1)); /* the card does not answer */
    SimCard_Insert(READER_SOCKET);
    RefModule* late = Restore(READER_SOCKET, 2, 0, 1);
    ASSERT_NE(nullptr, late);
    ASSERT_EQ(1, StartRun());
    Rounds(4);
    size_t reads = 0;
    for (const TraceRow& row : CardTrace(SIM_INPORT)) {
        if (row.socket == READER_SOCKET && row.port == 2)
            ++reads;
    }
    EXPECT_GT(reads, 0u);
    EXPECT_GE(RefHost_ReleasedBlockCount(late, 0), 1u);
}
