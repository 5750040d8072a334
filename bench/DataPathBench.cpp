/*
 * The extension's own cost in the data path, per block and per sample, with
 * the allocations made inside the passes. The passes run against block
 * services of the bench's own that hand out one ready block and count the
 * releases, so the host's queues take no part; the simulator answers port
 * calls at once, and the thread keeps to one processor. Each case is timed
 * three ways in turn, five times in each of four rounds over the table,
 * keeping the fastest of each: the process function as the host calls it; the same
 * number of bare driver calls; the same block service calls alone. What the
 * extension itself costs is the pass minus the other two.
 */
#include "Bench.h"

#include "sim/card/SimCard.h"

#include <cstring>
#include <vector>

#define SAMPLES_PER_TRIAL    1000000u
#define TRIALS               5u /* per case and round */
#define TABLE_ROUNDS         4u
#define MAX_PASSES_PER_TRIAL 20000u
#define MAX_BENCH_BLOCK      10000u
#define BLOCK_TARGET_NS      30.0 /* per block and channel */
#define SAMPLE_TARGET_NS     3.0  /* per sample and channel, from block size 100 up */
#define SAMPLE_TARGET_FROM   100u

typedef LONG(WINAPI* InPortFn)(DWORD, DWORD, BYTE*);
typedef LONG(WINAPI* OutPortFn)(DWORD, DWORD, DWORD);

static InPortFn s_inPort;
static OutPortFn s_outPort;

/* ---- Block services that cost next to nothing ----------------------------------- */

/* One block for every channel and input: room for the largest block, and
   the header's doubles left where the host's layout puts them. */
static DWORD s_blockStore[(sizeof(DataBlock) + MAX_BENCH_BLOCK * sizeof(float)) / sizeof(DWORD)];
static DataBlock* const s_block = reinterpret_cast<DataBlock*>(s_blockStore);
static volatile unsigned long s_outputReleases;
static volatile unsigned long s_inputReleases;

static void* WINAPI ReadyOutputBlock(void*) {
    return s_block;
}

static void WINAPI CountOutputRelease(void*, const char*, int) {
    s_outputReleases = s_outputReleases + 1;
}

static void* WINAPI ReadyInputBlock(void*, UINT) {
    return s_block;
}

static void WINAPI CountInputRelease(void*, UINT, const char*, int) {
    s_inputReleases = s_inputReleases + 1;
}

static const BlockServices kReadyBlocks = {ReadyOutputBlock, CountOutputRelease, ReadyInputBlock,
                                           CountInputRelease};

/* Called through pointers the compiler cannot see through, as the extension
   calls them. */
static PFN_GetCurrentOutputBlock volatile s_getOutputBlock = ReadyOutputBlock;
static PFN_NewReleaseOutputBlock volatile s_releaseOutputBlock = CountOutputRelease;
static PFN_GetInputBlock volatile s_getInputBlock = ReadyInputBlock;
static PFN_NewReleaseInputBlock volatile s_releaseInputBlock = CountInputRelease;

static void* DriverEntry(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("rzxdk08.dll"), name));
}

static int BindDriver(void) {
    s_inPort = reinterpret_cast<InPortFn>(DriverEntry("Dk08InPort"));
    s_outPort = reinterpret_cast<OutPortFn>(DriverEntry("Dk08OutPort"));
    return s_inPort && s_outPort;
}

struct Timing {
    double pass;
    double driver;
    double services;
};

static void KeepFastest(Timing* best, const Timing& t) {
    if (t.pass < best->pass)
        best->pass = t.pass;
    if (t.driver < best->driver)
        best->driver = t.driver;
    if (t.services < best->services)
        best->services = t.services;
}

static unsigned PassesFor(unsigned channels, unsigned blockSize) {
    unsigned passes = SAMPLES_PER_TRIAL / (channels * blockSize);
    if (passes > MAX_PASSES_PER_TRIAL)
        passes = MAX_PASSES_PER_TRIAL;
    return passes < 20 ? 20 : passes;
}

static unsigned s_blockTargetMissed, s_blockCases;
static unsigned s_sampleTargetMissed, s_sampleCases;
static unsigned s_shortCases; /* cases in which not every pass moved every block */

/* The per-block target is judged at block size 1, where a block's fixed work
   is the whole pass; the per-sample target from block size 100 up, where it
   is spread over the samples. */
static void SayCase(const char* kind, unsigned channels, unsigned blockSize, unsigned passes,
                    const Timing& best) {
    double blocks = static_cast<double>(passes) * channels;
    double perBlock = 1e9 / blocks;
    double perSample = perBlock / blockSize;
    double own = best.pass - best.driver - best.services;
    const char* verdict = "";
    if (blockSize == 1) {
        int met = own * perBlock <= BLOCK_TARGET_NS;
        s_blockTargetMissed += !met;
        ++s_blockCases;
        verdict = TimeVerdict(met);
    } else if (blockSize >= SAMPLE_TARGET_FROM) {
        int met = own * perSample <= SAMPLE_TARGET_NS;
        s_sampleTargetMissed += !met;
        ++s_sampleCases;
        verdict = TimeVerdict(met);
    }
    Say("  %-11s %u %s %5u  %9.1f %9.1f %9.1f %9.1f   %8.2f   %s\n", kind, channels,
        kind[0] == 'o' ? "in" : "ch", blockSize, best.pass * perBlock, best.driver * perBlock,
        best.services * perBlock, own * perBlock, own * perSample, verdict);
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

static double TimeOutputServices(ModuleRecord* record, unsigned channels, unsigned passes) {
    double t0 = Seconds();
    for (unsigned i = 0; i < passes; ++i) {
        for (unsigned ch = 0; ch < channels; ++ch) {
            s_getOutputBlock(record->outputChannels[ch]);
            s_releaseOutputBlock(record->outputChannels[ch], "Process", 151);
        }
    }
    return Seconds() - t0;
}

/* Adds one case's trials to *best; returns the passes per trial. */
static unsigned TimeAcquisitionCase(unsigned channels, unsigned blockSize, Timing* best) {
    RefModule* module = RestoreBenchModule(1, 1, 0, channels);
    RefHost_StartExperiment(0.0, blockSize);
    /* The reference host may take its start tick from a finer clock than
       GetTickCount, ahead of it by up to a step; from the tick now on, every
       block is due as soon as it is full. */
    RefHost_SetStartTicks(GetTickCount());
    ModuleRecord* record = RefModule_Record(module);
    unsigned passes = PassesFor(channels, blockSize);
    unsigned long long samples = static_cast<unsigned long long>(passes) * channels * blockSize;
    /* One untimed round first: the first case of the table would otherwise
       pay for cold caches and branch history. */
    TimeAcquisitionPasses(record, passes);
    TimeReads(samples);
    for (unsigned trial = 0; trial < TRIALS; ++trial) {
        Timing t;
        unsigned long before = s_outputReleases;
        t.pass = TimeAcquisitionPasses(record, passes);
        s_shortCases += s_outputReleases - before != static_cast<unsigned long>(passes) * channels;
        t.driver = TimeReads(samples);
        t.services = TimeOutputServices(record, channels, passes);
        KeepFastest(best, t);
    }
    RefHost_StopExperiment();
    RemoveAllModules();
    return passes;
}

/* ---- Output -------------------------------------------------------------------- */

static double TimeOutputPasses(ModuleRecord* record, unsigned passes) {
    PFN_ModuleProcess process = ProcessFunction();
    double t0 = Seconds();
    for (unsigned i = 0; i < passes; ++i)
        process(record);
    return Seconds() - t0;
}

static double TimeWrites(unsigned long long writes) {
    double t0 = Seconds();
    for (unsigned long long i = 0; i < writes; ++i)
        s_outPort(0, 1, static_cast<DWORD>(i & 0xFF));
    return Seconds() - t0;
}

static double TimeInputServices(ModuleRecord* record, unsigned inputs, unsigned passes) {
    double t0 = Seconds();
    for (unsigned i = 0; i < passes; ++i) {
        for (unsigned in = 0; in < inputs; ++in) {
            s_getInputBlock(record, in);
            s_releaseInputBlock(record, in, "Process", 268);
        }
    }
    return Seconds() - t0;
}

static unsigned TimeOutputCase(unsigned inputs, unsigned blockSize, Timing* best) {
    RefModule* module = RestoreBenchModule(0, 1, inputs, 0);
    RefHost_StartExperiment(1.0, blockSize);
    ModuleRecord* record = RefModule_Record(module);
    unsigned passes = PassesFor(inputs, blockSize);
    unsigned long long samples = static_cast<unsigned long long>(passes) * inputs * blockSize;
    /* A block the size of the run, of mixed levels. */
    s_block->sampleCount = static_cast<WORD>(blockSize);
    float* levels = BlockSamples(s_block);
    for (unsigned j = 0; j < blockSize; ++j)
        levels[j] = (j * 7) % 3 ? 5.0f : 0.0f;
    TimeOutputPasses(record, passes);
    TimeWrites(samples);
    for (unsigned trial = 0; trial < TRIALS; ++trial) {
        Timing t;
        unsigned long before = s_inputReleases;
        t.pass = TimeOutputPasses(record, passes);
        s_shortCases += s_inputReleases - before != static_cast<unsigned long>(passes) * inputs;
        t.driver = TimeWrites(samples);
        t.services = TimeInputServices(record, inputs, passes);
        KeepFastest(best, t);
    }
    RefHost_StopExperiment();
    RemoveAllModules();
    return passes;
}

/* What plain arithmetic costs on this machine, beside the figures: a float
   comparison with a byte update per element (the output pass's work on a
   sample, without the port call), and the same with integers. On a real
   processor each is about a nanosecond; a user-mode emulator does floating
   point in software. */
static void SayYardstick(void) {
    static float levels[MAX_BENCH_BLOCK];
    static int counts[MAX_BENCH_BLOCK];
    static BYTE bytes[MAX_BENCH_BLOCK];
    for (unsigned j = 0; j < MAX_BENCH_BLOCK; ++j) {
        levels[j] = (j * 7) % 3 ? 5.0f : 0.0f;
        counts[j] = static_cast<int>((j * 7) % 3);
    }
    const unsigned rounds = 100;
    volatile BYTE mask = 4;
    double best[2] = {1e30, 1e30};
    for (unsigned trial = 0; trial < TRIALS; ++trial) {
        double t0 = Seconds();
        for (unsigned r = 0; r < rounds; ++r) {
            BYTE m = mask;
            for (unsigned j = 0; j < MAX_BENCH_BLOCK; ++j)
                bytes[j] = static_cast<BYTE>(levels[j] >= 5.0f ? bytes[j] | m : bytes[j] & ~m);
        }
        double t1 = Seconds();
        for (unsigned r = 0; r < rounds; ++r) {
            BYTE m = mask;
            for (unsigned j = 0; j < MAX_BENCH_BLOCK; ++j)
                bytes[j] = static_cast<BYTE>(counts[j] >= 1 ? bytes[j] | m : bytes[j] & ~m);
        }
        double t2 = Seconds();
        if (t1 - t0 < best[0])
            best[0] = t1 - t0;
        if (t2 - t1 < best[1])
            best[1] = t2 - t1;
    }
    double per = 1e9 / (static_cast<double>(rounds) * MAX_BENCH_BLOCK);
    Say("  yardstick: a float comparison with a byte update costs %.2f ns here, the same with "
        "integers %.2f ns (byte %u)\n",
        best[0] * per, best[1] * per, static_cast<unsigned>(bytes[MAX_BENCH_BLOCK - 1]));
    /* A block's due tick as the pass works it out: the samples so far times
       the milliseconds per sample, rounded to a double, truncated by the
       conversion to an integer, in 32-bit wrap-around. */
    volatile double ms = 0.01;
    DWORD sum = 0;
    double bestDue = 1e30;
    const unsigned dueRounds = 100000;
    for (unsigned trial = 0; trial < TRIALS; ++trial) {
        double t0 = Seconds();
        for (unsigned i = 0; i < dueRounds; ++i) {
            volatile double elapsed = static_cast<double>(static_cast<LONG>(i * 1000u)) * ms;
            sum += static_cast<DWORD>(static_cast<long long>(elapsed));
        }
        double t = Seconds() - t0;
        if (t < bestDue)
            bestDue = t;
    }
    Say("  yardstick: one due tick from a sample count (multiply, truncate, wrap, in doubles) "
        "costs %.1f ns here (sum %lu)\n",
        bestDue * 1e9 / dueRounds, static_cast<unsigned long>(sum));
}

void BenchDataPath(void) {
    if (!AdmitExtensionWith(&kReadyBlocks) || !BindDriver()) {
        Say("Data path: the extension or the driver's entries could not be set up\n");
        return;
    }
    SimCard_SetTracing(0);
    SimCard_SetInstantPorts(1, 0xA5);
    /* On one processor: left free to move between them, the same code ran up
       to 70 % slower for seconds at a time on a shared two-processor machine. */
    DWORD_PTR formerAffinity = SetThreadAffinityMask(GetCurrentThread(), 1);
    Say("Data path, the extension's own cost (fastest of %u trials, in %u rounds over the "
        "table; one processor; block services of the bench's own, port calls answered at once):\n",
        TRIALS * TABLE_ROUNDS, TABLE_ROUNDS);
    Say("  targets: own <= %.0f ns per block and channel (judged at block 1), <= %.0f ns per "
        "sample and channel (block %u up)\n",
        BLOCK_TARGET_NS, SAMPLE_TARGET_NS, SAMPLE_TARGET_FROM);
    Say("  %-11s %-10s  %9s %9s %9s %9s   %8s\n", "", "", "-- ns per", "block and", "channel", "--",
        "ns/sample");
    Say("  %-11s %-10s  %9s %9s %9s %9s   %8s\n", "pass", "case", "pass", "driver", "services",
        "own", "own");
    static const unsigned kChannels[] = {1, 3, 8};
    static const unsigned kBlocks[] = {1, 100, 10000};
    struct DataCase {
        int output;
        unsigned channels;
        unsigned blockSize;
        unsigned passes;
        Timing best;
    };
    DataCase cases[2 * 3 * 3];
    unsigned count = 0;
    for (int output = 0; output < 2; ++output) {
        for (unsigned channels : kChannels) {
            for (unsigned block : kBlocks)
                cases[count++] = {output, channels, block, 0, {1e30, 1e30, 1e30}};
        }
    }
    s_blockTargetMissed = s_sampleTargetMissed = s_shortCases = 0;
    s_blockCases = s_sampleCases = 0;
    /* The rounds spread each case's trials over the whole part, so that a
       burst of work elsewhere on a shared machine cannot cover all of them. */
    for (unsigned round = 0; round < TABLE_ROUNDS; ++round) {
        for (unsigned i = 0; i < count; ++i) {
            DataCase& c = cases[i];
            c.passes = c.output ? TimeOutputCase(c.channels, c.blockSize, &c.best)
                                : TimeAcquisitionCase(c.channels, c.blockSize, &c.best);
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        const DataCase& c = cases[i];
        SayCase(c.output ? "output" : "acquisition", c.channels, c.blockSize, c.passes, c.best);
    }
    SayYardstick();
    Say("  own = pass - driver - services. Per block: target missed in %u of %u cases; per "
        "sample: missed in %u of %u cases\n",
        s_blockTargetMissed, s_blockCases, s_sampleTargetMissed, s_sampleCases);
    if (s_shortCases)
        Say("  WARNING: in %u trials not every pass moved a block on every channel\n",
            s_shortCases);
    SayStolenTime();
    Say("\n");
    if (formerAffinity)
        SetThreadAffinityMask(GetCurrentThread(), formerAffinity);
    SimCard_SetInstantPorts(0, 0);
    DismissExtension();
}

/* ---- Allocations inside the passes ----------------------------------------------- */

static void QueueBlocks(RefModule* module, unsigned inputs, unsigned count,
                        const std::vector<float>& samples) {
    for (unsigned b = 0; b < count; ++b) {
        for (unsigned i = 0; i < inputs; ++i)
            RefHost_QueueInputBlock(module, i, samples.data(),
                                    static_cast<unsigned>(samples.size()));
    }
}

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
