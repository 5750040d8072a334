/*
 * The data path's cost per sample and channel. Each case is timed three ways
 * in turn, five times, keeping the fastest of each: the process function as
 * the host calls it; the same number of bare driver calls; the same host block
 * services alone. What the extension itself adds is the pass minus the other
 * two. The simulator answers port calls at once, so the driver's share is no
 * more than the cost of a call.
 */
#include "Bench.h"

#include "sim/card/SimCard.h"

#include <vector>

#define SAMPLES_PER_TRIAL    2000000u
#define TRIALS               5u
#define MAX_PASSES_PER_TRIAL 50000u
#define OWN_TARGET_NS        10.0
#define QUEUED_SAMPLES       4000000u /* input samples queued ahead of an output trial */

typedef LONG(WINAPI* InPortFn)(DWORD, DWORD, BYTE*);
typedef LONG(WINAPI* OutPortFn)(DWORD, DWORD, DWORD);

static InPortFn s_inPort;
static OutPortFn s_outPort;
static PFN_GetCurrentOutputBlock s_getOutputBlock;
static PFN_NewReleaseOutputBlock s_releaseOutputBlock;
static PFN_GetInputBlock s_getInputBlock;
static PFN_NewReleaseInputBlock s_releaseInputBlock;

static void* HostFunction(const char* name) {
    return reinterpret_cast<void*>(
        SendMessageA(RefHost_MainWindow(), HM_GETFUNC, 0, reinterpret_cast<LPARAM>(name)));
}

static void* DriverEntry(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("rzxdk08.dll"), name));
}

static int BindBaselines(void) {
    s_inPort = reinterpret_cast<InPortFn>(DriverEntry("Dk08InPort"));
    s_outPort = reinterpret_cast<OutPortFn>(DriverEntry("Dk08OutPort"));
    s_getOutputBlock =
        reinterpret_cast<PFN_GetCurrentOutputBlock>(HostFunction("GetCurrentOutputBlock"));
    s_releaseOutputBlock =
        reinterpret_cast<PFN_NewReleaseOutputBlock>(HostFunction("NewReleaseOutputBlock"));
    s_getInputBlock = reinterpret_cast<PFN_GetInputBlock>(HostFunction("GetInputBlock"));
    s_releaseInputBlock =
        reinterpret_cast<PFN_NewReleaseInputBlock>(HostFunction("NewReleaseInputBlock"));
    return s_inPort && s_outPort && s_getOutputBlock && s_releaseOutputBlock && s_getInputBlock &&
           s_releaseInputBlock;
}

struct Timing {
    double pass;
    double driver;
    double host;
};

static void KeepFastest(Timing* best, const Timing& t) {
    if (t.pass < best->pass)
        best->pass = t.pass;
    if (t.driver < best->driver)
        best->driver = t.driver;
    if (t.host < best->host)
        best->host = t.host;
}

/* Small blocks are dominated by the host's block services, which cost
   microseconds: fewer passes keep those trials short. */
static unsigned PassesFor(unsigned channels, unsigned blockSize) {
    unsigned passes = SAMPLES_PER_TRIAL / (channels * blockSize);
    if (passes > MAX_PASSES_PER_TRIAL)
        passes = MAX_PASSES_PER_TRIAL;
    return passes < 20 ? 20 : passes;
}

static int s_missed;

static void SayCase(const char* kind, unsigned channels, unsigned blockSize, const Timing& best,
                    double perSample) {
    double own = (best.pass - best.driver - best.host) * perSample;
    int met = own <= OWN_TARGET_NS;
    s_missed += !met;
    Say("  %-11s %u %s  block %5u  %8.2f  %8.2f  %8.2f  %7.2f   %s\n", kind, channels,
        kind[0] == 'o' ? "in" : "ch", blockSize, best.pass * perSample, best.driver * perSample,
        best.host * perSample, own, met ? "met" : "MISSED");
}

/* ---- Acquisition ------------------------------------------------------------- */

static double TimeAcquisitionPasses(ModuleRecord* record, unsigned passes) {
    PFN_ModuleProcess process = ProcessFunction();
    double t0 = Seconds();
    for (unsigned i = 0; i < passes; ++i)
        process(record);
    return Seconds() - t0;
}

static double TimeReads(unsigned long long reads) {
    double t0 = Seconds();
    for (unsigned long long i = 0; i < reads; ++i) {
        BYTE value = 0;
        s_inPort(1, 1, &value);
    }
    return Seconds() - t0;
}

static double TimeOutputBlockServices(ModuleRecord* record, unsigned channels, unsigned passes) {
    double t0 = Seconds();
    for (unsigned i = 0; i < passes; ++i) {
        for (unsigned ch = 0; ch < channels; ++ch) {
            s_getOutputBlock(record->outputChannels[ch]);
            s_releaseOutputBlock(record->outputChannels[ch], "Process", 151);
        }
    }
    return Seconds() - t0;
}

static void BenchAcquisition(unsigned channels, unsigned blockSize) {
    RefModule* module = RestoreBenchModule(1, 1, 0, channels);
    RefHost_StartExperiment(0.0, blockSize); /* every block is due as soon as it is full */
    ModuleRecord* record = RefModule_Record(module);
    unsigned passes = PassesFor(channels, blockSize);
    unsigned long long samples = static_cast<unsigned long long>(passes) * channels * blockSize;
    Timing best = {1e30, 1e30, 1e30};
    for (unsigned trial = 0; trial < TRIALS; ++trial) {
        Timing t;
        t.pass = TimeAcquisitionPasses(record, passes);
        t.driver = TimeReads(samples);
        t.host = TimeOutputBlockServices(record, channels, passes);
        KeepFastest(&best, t);
    }
    RefHost_StopExperiment();
    RemoveAllModules();
    SayCase("acquisition", channels, blockSize, best, 1e9 / static_cast<double>(samples));
}

/* ---- Output -------------------------------------------------------------------- */

static void QueueBlocks(RefModule* module, unsigned inputs, unsigned count,
                        const std::vector<float>& samples) {
    for (unsigned b = 0; b < count; ++b) {
        for (unsigned i = 0; i < inputs; ++i)
            RefHost_QueueInputBlock(module, i, samples.data(),
                                    static_cast<unsigned>(samples.size()));
    }
}

/* Times `passes` rounds of `round` in batches, queuing each batch's input
   blocks before its clock starts. */
template <typename Round>
static double TimeFedRounds(RefModule* module, unsigned inputs, unsigned passes,
                            const std::vector<float>& samples, Round round) {
    unsigned batchLimit = QUEUED_SAMPLES / (inputs * static_cast<unsigned>(samples.size()));
    if (batchLimit == 0)
        batchLimit = 1;
    double spent = 0.0;
    for (unsigned done = 0; done < passes;) {
        unsigned batch = passes - done < batchLimit ? passes - done : batchLimit;
        QueueBlocks(module, inputs, batch, samples);
        double t0 = Seconds();
        for (unsigned b = 0; b < batch; ++b)
            round();
        spent += Seconds() - t0;
        done += batch;
    }
    return spent;
}

static double TimeWrites(unsigned long long writes) {
    double t0 = Seconds();
    for (unsigned long long i = 0; i < writes; ++i)
        s_outPort(0, 1, static_cast<DWORD>(i & 0xFF));
    return Seconds() - t0;
}

static void BenchOutput(unsigned inputs, unsigned blockSize) {
    RefModule* module = RestoreBenchModule(0, 1, inputs, 0);
    RefHost_StartExperiment(1.0, blockSize);
    ModuleRecord* record = RefModule_Record(module);
    PFN_ModuleProcess process = ProcessFunction();
    unsigned passes = PassesFor(inputs, blockSize);
    unsigned long long samples = static_cast<unsigned long long>(passes) * inputs * blockSize;
    std::vector<float> levels(blockSize);
    for (unsigned j = 0; j < blockSize; ++j)
        levels[j] = (j * 7) % 3 ? 5.0f : 0.0f;
    Timing best = {1e30, 1e30, 1e30};
    for (unsigned trial = 0; trial < TRIALS; ++trial) {
        Timing t;
        t.pass = TimeFedRounds(module, inputs, passes, levels, [&] { process(record); });
        t.driver = TimeWrites(samples);
        t.host = TimeFedRounds(module, inputs, passes, levels, [&] {
            for (unsigned i = 0; i < inputs; ++i) {
                s_getInputBlock(record, i);
                s_releaseInputBlock(record, i, "Process", 268);
            }
        });
        KeepFastest(&best, t);
    }
    RefHost_StopExperiment();
    RemoveAllModules();
    SayCase("output", inputs, blockSize, best, 1e9 / static_cast<double>(samples));
}

void BenchDataPath(void) {
    if (!AdmitExtension() || !BindBaselines()) {
        Say("Data path: the extension or its baselines could not be set up\n");
        return;
    }
    SimCard_SetTracing(0);
    SimCard_SetInstantPorts(1, 0xA5);
    Say("Data path, ns per sample and channel (fastest of %u trials; port calls answered at "
        "once):\n",
        TRIALS);
    Say("  %-11s %-17s %8s  %8s  %8s  %7s   target: own <= %.0f ns\n", "pass", "case", "pass",
        "driver", "host", "own", OWN_TARGET_NS);
    static const unsigned kChannels[] = {1, 3, 8};
    static const unsigned kBlocks[] = {1, 100, 10000};
    s_missed = 0;
    for (unsigned channels : kChannels) {
        for (unsigned block : kBlocks)
            BenchAcquisition(channels, block);
    }
    for (unsigned inputs : kChannels) {
        for (unsigned block : kBlocks)
            BenchOutput(inputs, block);
    }
    Say("  own = pass - driver - host; %s\n",
        s_missed ? "target MISSED in some cases" : "target met in every case");
    SayStolenTime();
    Say("\n");
    SimCard_SetInstantPorts(0, 0);
    DismissExtension();
}

/* ---- Allocations inside the passes ----------------------------------------------- */

void BenchAllocations(void) {
    if (!AdmitExtension()) {
        Say("Allocations: the extension was not admitted\n");
        return;
    }
    SimCard_SetTracing(0);
    RefModule* in = RestoreBenchModule(1, 1, 0, 8);
    RefModule* out = RestoreBenchModule(0, 1, 8, 0);
    RefHost_StartExperiment(0.0, 100);
    std::vector<float> levels(100, 5.0f);
    PFN_ModuleProcess process = ProcessFunction();
    size_t hostAllocations = 0;
    HookExtensionAllocations();
    for (unsigned pass = 0; pass < 10000; ++pass) {
        QueueBlocks(out, 8, 1, levels);
        size_t before = RefHost_AllocationCount();
        process(RefModule_Record(in));
        process(RefModule_Record(out));
        hostAllocations += RefHost_AllocationCount() - before;
    }
    long heapAllocations = ExtensionAllocationCount();
    RefHost_StopExperiment();
    DismissExtension();
    Say("Allocations inside 10,000 passes of each kind (8 channels, block 100; target 0):\n");
    Say("  host allocator (NewMemAlloc) calls:          %u   %s\n",
        static_cast<unsigned>(hostAllocations), hostAllocations ? "MISSED" : "met");
    if (heapAllocations < 0)
        Say("  process heap: no allocation import to count\n\n");
    else
        Say("  process heap calls by the DLL (%s): %ld   %s\n\n", HookedAllocationFunctions(),
            heapAllocations, heapAllocations ? "MISSED" : "met");
}
