/*
 * One standard scenario (two cards, three modules, a run, stop, delete,
 * shut-down) run once per driver call with exactly that call failing, and once
 * per host allocation with exactly that one refused. Whatever fails, nothing
 * crashes, nothing leaks, warnings stay few, and the device table claims
 * exactly the ports of the modules still alive.
 */
#include "ModuleHarness.h"

#include "card/DeviceTable.h"
#include "extension/Library.h"
#include "module/Process.h"

#include <cstring>
#include <vector>

#define SWEEP_ROUNDS 20u
#define SWEEP_BLOCK  5u

static DWORD SweepTick(void) {
    return g_fakeTick;
}

struct ScenarioOutcome {
    DWORD driverCalls;
    size_t warnings;
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

    if (RefHost_StartExperiment(1.0, SWEEP_BLOCK)) {
        RefHost_SetStartTicks(g_fakeTick);
        static const float kSamples[SWEEP_BLOCK] = {5, 0, 5, 5, 0};
        for (unsigned round = 0; round < SWEEP_ROUNDS && !RefHost_StopRequested(); ++round) {
            if (writer) {
                RefHost_QueueInputBlock(writer, 0, kSamples, SWEEP_BLOCK);
                RefHost_QueueInputBlock(writer, 1, kSamples, SWEEP_BLOCK);
            }
            RefHost_ProcessAll();
            g_fakeTick += SWEEP_BLOCK;
        }
        RefHost_StopExperiment();
    }
    tableOk = tableOk && TableMatchesModules();
    while (RefHost_ModuleCount())
        RefHost_DeleteModule(RefHost_Module(0));
    tableOk = tableOk && TableMatchesModules();
    RefHost_UnloadExtension();
    SetTickSource(nullptr);

    outcome.driverCalls = SimCard_TraceCount();
    outcome.warnings = RefHost_CountKind(J_WARNING);
    outcome.leaks = RefHost_CheckLeaks() + RefHost_CheckGuards();
    outcome.violations = RefHost_CountKind(J_VIOLATION);
    outcome.allocations = RefHost_AllocationCount() - allocationsBefore;
    outcome.tableConsistent = tableOk;
    RefHost_Destroy();
    return outcome;
}

static void FailNthDriverCall(unsigned n) {
    SimCard_FailNth(SIM_ANY_CALL, n, 4242);
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
    ASSERT_GT(clean.driverCalls, 100u);
    for (unsigned n = 1; n <= clean.driverCalls; ++n) {
        SCOPED_TRACE(n);
        ExpectSound(RunScenario(FailNthDriverCall, n));
        if (HasFailure())
            break;
    }
    printf("fault sweep: %lu driver call positions\n", clean.driverCalls);
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
