/*
 * What the module's data path costs the host: nanoseconds per sample and
 * channel of the process function with a card whose port calls return at once,
 * beside the bare driver calls it makes, and the host allocations per pass.
 * Prints the figures and writes them to the file named by the first argument.
 */
#include "extension/Library.h"
#include "sim/card/SimCard.h"
#include "sim/host/RefHost.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

static FILE* s_out;

static void Say(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fputs(line, stdout);
    if (s_out) {
        fputs(line, s_out);
        fflush(s_out);
    }
}

static double Seconds(void) {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static PFN_ModuleProcess Process(void) {
    return RefHost_ModuleClass()->process;
}

static RefModule* RestoreModule(unsigned socket, unsigned port, DWORD inputs, DWORD outputs) {
    ModuleSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.socket = static_cast<WORD>(socket);
    settings.port = port;
    return RefHost_RestoreModule("bench", "", inputs, outputs, &settings);
}

static void RemoveAllModules(void) {
    while (RefHost_ModuleCount())
        RefHost_DeleteModule(RefHost_Module(0));
}

/* The same number of reads straight through the driver entry. */
static double BareReadNs(unsigned long long reads) {
    typedef LONG(WINAPI * InPort)(DWORD, DWORD, BYTE*);
    InPort inPort = reinterpret_cast<InPort>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("rzxdk08.dll"), "Dk08InPort")));
    BYTE value = 0;
    double t0 = Seconds();
    for (unsigned long long i = 0; i < reads; ++i) {
        value = 0;
        inPort(1, 1, &value);
    }
    return (Seconds() - t0) * 1e9 / static_cast<double>(reads);
}

static double BareWriteNs(unsigned long long writes) {
    typedef LONG(WINAPI * OutPort)(DWORD, DWORD, DWORD);
    OutPort outPort = reinterpret_cast<OutPort>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("rzxdk08.dll"), "Dk08OutPort")));
    double t0 = Seconds();
    for (unsigned long long i = 0; i < writes; ++i)
        outPort(0, 1, static_cast<DWORD>(i & 0xFF));
    return (Seconds() - t0) * 1e9 / static_cast<double>(writes);
}

static unsigned PassesFor(unsigned channels, unsigned blockSize) {
    unsigned passes = 2000000u / (channels * blockSize);
    return passes < 20 ? 20 : passes;
}

static void BenchAcquisition(unsigned channels, unsigned blockSize) {
    RefModule* module = RestoreModule(1, 1, 0, channels);
    RefHost_StartExperiment(0.0, blockSize); /* every block is due at once */
    ModuleRecord* record = RefModule_Record(module);
    unsigned passes = PassesFor(channels, blockSize);
    double t0 = Seconds();
    for (unsigned i = 0; i < passes; ++i)
        Process()(record);
    double ns = (Seconds() - t0) * 1e9 / (static_cast<double>(passes) * channels * blockSize);
    RefHost_StopExperiment();
    RemoveAllModules();
    double bare = BareReadNs(static_cast<unsigned long long>(passes) * channels * blockSize);
    Say("  acquisition  %u ch  block %5u  %8.2f ns  bare reads %8.2f ns  own %7.2f ns  (target <= "
        "10)\n",
        channels, blockSize, ns, bare, ns - bare);
}

static void BenchOutput(unsigned inputs, unsigned blockSize) {
    RefModule* module = RestoreModule(0, 1, inputs, 0);
    RefHost_StartExperiment(1.0, blockSize);
    ModuleRecord* record = RefModule_Record(module);
    unsigned passes = PassesFor(inputs, blockSize);
    if (passes > 20000)
        passes = 20000;
    std::vector<float> samples(blockSize, 5.0f);
    double spent = 0.0;
    unsigned done = 0;
    while (done < passes) {
        unsigned batch = passes - done < 500 ? passes - done : 500;
        for (unsigned b = 0; b < batch; ++b) {
            for (unsigned i = 0; i < inputs; ++i)
                RefHost_QueueInputBlock(module, i, samples.data(), blockSize);
        }
        double t0 = Seconds();
        for (unsigned b = 0; b < batch; ++b)
            Process()(record);
        spent += Seconds() - t0;
        done += batch;
    }
    double ns = spent * 1e9 / (static_cast<double>(passes) * inputs * blockSize);
    RefHost_StopExperiment();
    RemoveAllModules();
    double bare = BareWriteNs(static_cast<unsigned long long>(passes) * inputs * blockSize);
    Say("  output       %u in  block %5u  %8.2f ns  bare writes %7.2f ns  own %7.2f ns  (target <= "
        "10)\n",
        inputs, blockSize, ns, bare, ns - bare);
}

static void BenchAllocations(void) {
    RefModule* in = RestoreModule(1, 1, 0, 8);
    RefModule* out = RestoreModule(0, 1, 8, 0);
    RefHost_StartExperiment(0.0, 100);
    std::vector<float> samples(100, 5.0f);
    size_t allocations = 0;
    for (unsigned pass = 0; pass < 10000; ++pass) {
        for (unsigned i = 0; i < 8; ++i)
            RefHost_QueueInputBlock(out, i, samples.data(), 100);
        size_t before = RefHost_AllocationCount();
        Process()(RefModule_Record(in));
        Process()(RefModule_Record(out));
        allocations += RefHost_AllocationCount() - before;
    }
    RefHost_StopExperiment();
    RemoveAllModules();
    Say("  host allocations in 10,000 passes of each kind (8 channels, block 100): %u (target 0)\n",
        static_cast<unsigned>(allocations));
}

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    s_out = argc > 1 ? fopen(argv[1], "w") : nullptr;
    SetLibraryInstance(GetModuleHandleA(nullptr));
    if (!SimCard_Reset(nullptr) || !RefHost_Create(GetModuleHandleA(nullptr), 0) ||
        RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL) != 1) {
        fprintf(stderr, "bench: the extension was not admitted\n");
        return 1;
    }
    SimCard_SetTracing(0);
    Say("Data path, per sample and channel (card simulator in fast mode):\n");
    static const unsigned kChannels[] = {1, 3, 8};
    static const unsigned kBlocks[] = {1, 100, 10000};
    for (unsigned channels : kChannels) {
        for (unsigned block : kBlocks)
            BenchAcquisition(channels, block);
    }
    for (unsigned inputs : kChannels) {
        for (unsigned block : kBlocks)
            BenchOutput(inputs, block);
    }
    BenchAllocations();
    RefHost_UnloadExtension();
    RefHost_Destroy();
    if (s_out)
        fclose(s_out);
    return 0;
}
