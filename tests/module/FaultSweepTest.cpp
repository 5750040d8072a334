/*
 * One standard scenario (two cards, three modules, a run of 50 blocks, stop,
 * delete, shut-down) run once per driver call with exactly that call failing,
 * and once per host allocation with exactly that one refused. Whatever fails,
 * nothing crashes, nothing leaks, warnings stay few, and the device table
 * claims exactly the ports of the modules still alive. A call that fails while
 * the run goes on stops the run with exactly one warning. The same scenario
 * runs once more per call on one card with the card pulled right after it.
 */
#include "ModuleHarness.h"

#include "card/DeviceTable.h"
#include "extension/Library.h"
#include "module/Process.h"

#include <cstring>
#include <vector>

/* Fifty short blocks keep the number of driver calls, and so the sweep's
   time, near that of twenty blocks of five. */
#define SWEEP_ROUNDS  50u
#define SWEEP_BLOCK   2u
#define PULLED_SOCKET 0u /* the writer's and the port C module's card */
#define PULL_CAPTION  "RZX-DK08 警告"

static DWORD SweepTick(void) {
    return g_fakeTick;
}

struct ScenarioOutcome {
    DWORD driverCalls;
    /* Trace positions [runFirstCall, runEndCall) are the calls of the process
       passes; both stay 0 when the start was refused. */
    DWORD runFirstCall;
    DWORD runEndCall;
    int stopRequested; /* the extension asked the host to stop the run */
    size_t warnings;
    size_t pullWarnings;
    size_t leaks;
    size_t violations;
    size_t allocations;
    int tableConsistent;
};

/* Every claimed port belongs to exactly one live module and every live module's
   port is claimed. */
static int TableMatchesModules(void) {
    DWORD claims[SOCKET_COUNT][3] = {};
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        const ModuleSettings* s = RefModule_Record(RefHost_Module(i))->settings;
        if (IsValidSocketPort(s->socket, s->port))
            ++claims[s->socket][s->port];
    }
    for (unsigned socket = 0; socket < SOCKET_COUNT; ++socket) {
        for (unsigned port = 0; port < 3; ++port) {
            if (claims[socket][port] > 1 ||
                DeviceTable()[socket].portInUse[port] != claims[socket][port])
                return 0;
        }
    }
    return 1;
}

/* Runs the scenario with the faults the caller armed after the simulator's
   reset (armed is called between reset and admission). */
static ScenarioOutcome RunScenario(void (*arm)(unsigned), unsigned n) {
    ScenarioOutcome outcome = {};
    SimCard_Reset(nullptr);
    RefHost_ClearJournal();
    RefHost_Create(GetModuleHandleA(nullptr), 0);
    size_t allocationsBefore = RefHost_AllocationCount();
    g_fakeTick = 5000;
    SetTickSource(SweepTick);
    if (arm)
        arm(n);
    RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL);

    RefModule* writer = RestoreModuleOn(0, 1, 2, 0); /* socket 0 port B, output */
    RestoreModuleOn(1, 0, 0, 3);                     /* socket 1 port A, cabled to it */
    RestoreModuleOn(0, 2, 0, 1);                     /* socket 0 port C, input */
    int tableOk = TableMatchesModules();
    DeliverPostedMessages();

    if (RefHost_StartExperiment(1.0, SWEEP_BLOCK)) {
        RefHost_SetStartTicks(g_fakeTick);
        outcome.runFirstCall = SimCard_TraceCount();
        static const float kSamples[SWEEP_BLOCK] = {5, 0};
        for (unsigned round = 0; round < SWEEP_ROUNDS; ++round) {
            /* As the host's run loop: waiting messages (a card-removal notice)
               first, then the blocks and the passes. */
            DeliverPostedMessages();
            if (RefHost_StopRequested())
                break;
            if (writer) {
                RefHost_QueueInputBlock(writer, 0, kSamples, SWEEP_BLOCK);
                RefHost_QueueInputBlock(writer, 1, kSamples, SWEEP_BLOCK);
            }
            RefHost_ProcessAll();
            g_fakeTick += SWEEP_BLOCK;
        }
        outcome.runEndCall = SimCard_TraceCount();
        DeliverPostedMessages();
        outcome.stopRequested = RefHost_StopRequested();
        RefHost_StopExperiment();
    }
    tableOk = tableOk && TableMatchesModules();
    while (RefHost_ModuleCount())
        RefHost_DeleteModule(RefHost_Module(0));
    tableOk = tableOk && TableMatchesModules();
    DeliverPostedMessages();
    RefHost_UnloadExtension();
    DeliverPostedMessages();
    SetTickSource(nullptr);

    outcome.driverCalls = SimCard_TraceCount();
    outcome.warnings = RefHost_CountKind(J_WARNING);
    outcome.pullWarnings = WarningsCaptioned(PULL_CAPTION);
    outcome.leaks = RefHost_CheckLeaks() + RefHost_CheckGuards() + RefHost_CheckFreedBlocks();
    outcome.violations = RefHost_CountKind(J_VIOLATION);
    outcome.allocations = RefHost_AllocationCount() - allocationsBefore;
    outcome.tableConsistent = tableOk;
    RefHost_Destroy();
    return outcome;
}

static void FailNthDriverCall(unsigned n) {
    SimCard_FailNth(SIM_ANY_CALL, n, 4242);
}

static void PullAfterNthCall(unsigned n) {
    SimCard_PullAfterCalls(PULLED_SOCKET, n);
}

static void FailNthAllocation(unsigned n) {
    RefHost_FailAllocation(n);
}

static void ExpectSound(const ScenarioOutcome& o) {
    EXPECT_EQ(0u, o.leaks);
    EXPECT_EQ(0u, o.violations);
    EXPECT_TRUE(o.tableConsistent);
    /* One failing call costs at most a warning per module it touches. */
    EXPECT_LE(o.warnings, 3u);
}

TEST(FaultSweep, EveryDriverCallOfTheScenarioMayFail) {
    SetLibraryInstance(GetModuleHandleA(nullptr));
    ScenarioOutcome clean = RunScenario(nullptr, 0);
    ExpectSound(clean);
    EXPECT_EQ(0u, clean.warnings);
    EXPECT_EQ(0, clean.stopRequested);
    ASSERT_GT(clean.driverCalls, 100u);
    /* Every round reads or writes on all three modules. */
    ASSERT_GE(clean.runEndCall - clean.runFirstCall, SWEEP_ROUNDS * 3u);
    for (unsigned n = 1; n <= clean.driverCalls; ++n) {
        SCOPED_TRACE(n);
        ScenarioOutcome o = RunScenario(FailNthDriverCall, n);
        ExpectSound(o);
        /* Up to the failure the run is the clean one, call for call. */
        if (n > clean.runFirstCall && n <= clean.runEndCall) {
            EXPECT_TRUE(o.stopRequested);
            EXPECT_EQ(1u, o.warnings);
        }
        if (HasFailure())
            break;
    }
    printf("fault sweep: %lu driver call positions\n", clean.driverCalls);
}

/* Trace positions of the clean scenario's calls on the pulled card. */
static std::vector<DWORD> CallsOnPulledCard(void) {
    std::vector<DWORD> positions;
    SimTraceEntry e;
    for (DWORD i = 0; SimCard_TraceEntry(i, &e); ++i) {
        if (e.socket == PULLED_SOCKET)
            positions.push_back(i);
    }
    return positions;
}

TEST(FaultSweep, TheCardMayBePulledAfterEveryCallOnIt) {
    SetLibraryInstance(GetModuleHandleA(nullptr));
    ScenarioOutcome clean = RunScenario(nullptr, 0);
    std::vector<DWORD> positions = CallsOnPulledCard(); /* the trace outlives the host */
    ASSERT_GT(positions.size(), 50u);
    for (unsigned n = 1; n <= positions.size(); ++n) {
        SCOPED_TRACE(n);
        ScenarioOutcome o = RunScenario(PullAfterNthCall, n);
        ExpectSound(o);
        /* No notice once the card is closed at shut-down. */
        EXPECT_LE(o.pullWarnings, 1u);
        DWORD at = positions[n - 1];
        if (at >= clean.runFirstCall && at < clean.runEndCall) {
            EXPECT_TRUE(o.stopRequested);
            EXPECT_EQ(1u, o.pullWarnings);
        }
        if (HasFailure())
            break;
    }
    printf("fault sweep: card pulled at %u call positions\n",
           static_cast<unsigned>(positions.size()));
}

TEST(FaultSweep, EveryHostAllocationOfTheScenarioMayFail) {
    SetLibraryInstance(GetModuleHandleA(nullptr));
    size_t allocations = RunScenario(nullptr, 0).allocations;
    ASSERT_GE(allocations, 1u); /* the writer's output buffer */
    for (unsigned n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        ScenarioOutcome o = RunScenario(FailNthAllocation, n);
        ExpectSound(o);
        EXPECT_GE(o.warnings, 1u);
    }
    RefHost_FailAllocation(0);
    printf("fault sweep: %u host allocation positions\n", static_cast<unsigned>(allocations));
}
