/*
 * Checks, during a run on the card simulator, that what output modules write
 * comes back through a cable to the input modules, every bit of every sample.
 * Reads and writes are not one to one in time (an input module reads a whole
 * block in a burst, an output module writes a whole block at once), so the
 * chain is checked link by link against the simulator's trace of port calls,
 * in call order:
 *   written:   each byte an output module wrote for sample j of input i
 *              carries bit i = (sample j of the pattern block >= 5.0);
 *   cable:     each read of a cabled input port returned the other port's
 *              connector at that moment: its latch, the last byte written to
 *              it, where that card drives the port, pull-ups elsewhere;
 *   read back: each sample of channel k an input module released is 5.0 or
 *              0.0 by bit k of the byte read for it.
 * The trace entries between two host services belong to the block handed out
 * by the first, which is how the passes use them: a block is fetched, then
 * filled or written out sample by sample, then handed back.
 */
#include "sim/host/HostInternal.h"
#include "sim/card/SimConfig.h"
#include "card/Ppi8255.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define TRACE_CLEAR_AT  32768u
#define MISMATCHES_KEPT 12u
#define UNDRIVEN        0xFFu

struct Cable {
    DWORD toSocket, toPort, fromSocket, fromPort;
    int checkable;
    char why[120];
};

struct LinkStats {
    unsigned long long samples;
    unsigned long long mismatches;
};

struct PortModel {
    BYTE latch;
    BYTE outputMask; /* lines the control word makes output */
    BYTE driven;     /* lines the card drives onto its connector */
};

static int s_active;
static const SimCalls* s_sim;
static DWORD s_cursor;
static DWORD s_droppedBase;
static unsigned long long s_dropped;
static PortModel s_ports[SIM_SOCKETS][PORT_COUNT];
static std::vector<Cable> s_cables;
static LinkStats s_written[SIM_SOCKETS][PORT_COUNT];
static LinkStats s_cable[SIM_SOCKETS][PORT_COUNT];
static LinkStats s_readBack[SIM_SOCKETS][PORT_COUNT];
static std::vector<std::string> s_mismatches;
static unsigned long long s_mismatchTotal;
static std::vector<BYTE>* s_target;
static DWORD s_targetCall, s_targetSocket, s_targetPort;
static std::string s_configText;
static SimConfig s_config;

static const char* PortName(DWORD port) {
    static const char* const names[] = {"A", "B", "C", "?"};
    return names[port < PORT_COUNT ? port : 3];
}

static const BYTE kDriverBit[PORT_COUNT] = {DIR_A_OUTPUT, DIR_B_OUTPUT, DIR_C_OUTPUT};

void RefHost_SetSimConfigText(const char* text) {
    s_configText = text ? text : "";
}

static void Mismatch(const char* format, ...) {
    ++s_mismatchTotal;
    if (s_mismatches.size() >= MISMATCHES_KEPT) {
        return;
    }
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    s_mismatches.push_back(text);
}

/* The configuration text the simulator is running, when the host can know it. */
static std::string ConfigText(void) {
    const char* source = s_sim->SimCard_ConfigSource();
    if (!source || std::strcmp(source, "default") == 0) {
        return kSimDefaultConfig;
    }
    if (std::strcmp(source, "text") == 0) {
        return s_configText;
    }
    std::string text;
    FILE* file = std::fopen(source, "rb");
    if (file) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}

static void FindCables(void) {
    s_cables.clear();
    char error[160];
    std::string text = ConfigText();
    if (!ParseSimConfig(text.c_str(), &s_config, error, sizeof error)) {
        return;
    }
    for (DWORD socket = 0; socket < SIM_SOCKETS; ++socket) {
        if (!s_config.cards[socket].present) {
            continue;
        }
        for (DWORD port = 0; port < PORT_COUNT; ++port) {
            const SimSource& source = s_config.cards[socket].sources[port];
            if (source.kind == SRC_CABLE && source.cableSocket < SIM_SOCKETS &&
                source.cablePort < PORT_COUNT) {
                Cable cable;
                std::memset(&cable, 0, sizeof cable);
                cable.toSocket = socket;
                cable.toPort = port;
                cable.fromSocket = source.cableSocket;
                cable.fromPort = source.cablePort;
                cable.checkable = 1;
                s_cables.push_back(cable);
            }
        }
    }
}

static void SnapshotPorts(void) {
    std::memset(s_ports, 0, sizeof s_ports);
    for (DWORD socket = 0; socket < SIM_SOCKETS; ++socket) {
        SimCardState state;
        if (!s_sim->SimCard_GetState(socket, &state)) {
            continue;
        }
        for (DWORD port = 0; port < PORT_COUNT; ++port) {
            PortModel& model = s_ports[socket][port];
            model.latch = state.latch[port];
            model.outputMask = state.outputMask[port];
            model.driven = (state.directionValue & kDriverBit[port]) ? state.outputMask[port] : 0;
            if (!state.present || state.pulled) {
                model.driven = 0;
            }
        }
    }
}

static void Uncheck(DWORD socket, const char* why) {
    for (size_t i = 0; i < s_cables.size(); ++i) {
        Cable& cable = s_cables[i];
        if (cable.checkable && (cable.toSocket == socket || cable.fromSocket == socket)) {
            cable.checkable = 0;
            std::snprintf(cable.why, sizeof cable.why, "%s on socket %lu", why,
                          static_cast<unsigned long>(socket));
        }
    }
}

static BYTE Connector(DWORD socket, DWORD port) {
    const PortModel& model = s_ports[socket][port];
    return static_cast<BYTE>((model.latch & model.driven) | (UNDRIVEN & ~model.driven));
}

static void CheckCableRead(DWORD socket, DWORD port, BYTE value) {
    for (size_t i = 0; i < s_cables.size(); ++i) {
        const Cable& cable = s_cables[i];
        if (!cable.checkable || cable.toSocket != socket || cable.toPort != port) {
            continue;
        }
        const PortModel& to = s_ports[socket][port];
        BYTE expected =
            static_cast<BYTE>((to.latch & to.outputMask) |
                              (Connector(cable.fromSocket, cable.fromPort) & ~to.outputMask));
        LinkStats& stats = s_cable[socket][port];
        ++stats.samples;
        if (value != expected) {
            ++stats.mismatches;
            Mismatch("cable: read %llu of socket %lu port %s gave 0x%02X, the cable from socket "
                     "%lu port %s carried 0x%02X",
                     stats.samples, static_cast<unsigned long>(socket), PortName(port), value,
                     static_cast<unsigned long>(cable.fromSocket), PortName(cable.fromPort),
                     expected);
        }
    }
}

static int TargetWants(const SimTraceEntry& entry) {
    return s_target && entry.call == s_targetCall && entry.socket == s_targetSocket &&
           entry.port == s_targetPort;
}

static void Apply(const SimTraceEntry& entry) {
    if (entry.call == SIM_PULLED) {
        if (entry.socket < SIM_SOCKETS) {
            Uncheck(entry.socket, "card pulled");
            for (DWORD port = 0; port < PORT_COUNT; ++port) {
                s_ports[entry.socket][port].driven = 0;
            }
        }
        return;
    }
    if (entry.socket >= SIM_SOCKETS || entry.port > PORT_CTRL) {
        return;
    }
    if (entry.call == SIM_SETDIRECTION && entry.result) {
        Uncheck(entry.socket, "directions changed during the run");
    } else if (entry.call == SIM_OUTPORT) {
        if (entry.port == PORT_CTRL) {
            if (entry.result) {
                Uncheck(entry.socket, "control word written during the run");
            }
            return;
        }
        if (entry.result) {
            s_ports[entry.socket][entry.port].latch = static_cast<BYTE>(entry.value);
        }
        if (TargetWants(entry)) {
            s_target->push_back(static_cast<BYTE>(entry.value));
        }
    } else if (entry.call == SIM_INPORT && entry.port < PORT_COUNT) {
        if (TargetWants(entry)) {
            s_target->push_back(static_cast<BYTE>(entry.value));
        }
        if (entry.result) {
            CheckCableRead(entry.socket, entry.port, static_cast<BYTE>(entry.value));
        }
    }
}

void Loopback_Consume(void) {
    if (!s_active) {
        return;
    }
    DWORD count = s_sim->SimCard_TraceCount();
    for (; s_cursor < count; ++s_cursor) {
        SimTraceEntry entry;
        if (!s_sim->SimCard_TraceEntry(s_cursor, &entry)) {
            break;
        }
        Apply(entry);
    }
    DWORD dropped = s_sim->SimCard_TraceDropped();
    if (dropped > s_droppedBase) {
        s_dropped += dropped - s_droppedBase;
        s_droppedBase = dropped;
    }
    if (s_cursor >= TRACE_CLEAR_AT) {
        s_sim->SimCard_ClearTrace();
        s_cursor = 0;
        s_droppedBase = s_sim->SimCard_TraceDropped();
    }
}

static int ModulePort(const RefModule* module, DWORD* socket, DWORD* port) {
    const ModuleSettings* settings = module->record.settings;
    if (!settings || settings->socket >= SIM_SOCKETS || settings->port >= PORT_COUNT) {
        return 0;
    }
    *socket = settings->socket;
    *port = settings->port;
    return 1;
}

static void Aim(std::vector<BYTE>* target, DWORD call, DWORD socket, DWORD port) {
    s_target = target;
    s_targetCall = call;
    s_targetSocket = socket;
    s_targetPort = port;
}

void Loopback_OutputBlockGiven(RefOutput* output) {
    if (!s_active) {
        return;
    }
    Loopback_Consume();
    s_target = nullptr;
    DWORD socket, port;
    if (output->module->record.inputCount == 0 && ModulePort(output->module, &socket, &port)) {
        output->loopReads.clear();
        Aim(&output->loopReads, SIM_INPORT, socket, port);
    }
}

void Loopback_OutputBlockReleased(RefOutput* output, const DataBlock* block) {
    if (!s_active) {
        return;
    }
    Loopback_Consume();
    s_target = nullptr;
    DWORD socket, port;
    if (output->module->record.inputCount != 0 || !ModulePort(output->module, &socket, &port)) {
        return;
    }
    const std::vector<BYTE>& reads = output->loopReads;
    LinkStats& stats = s_readBack[socket][port];
    const char* name = output->module->record.name;
    if (reads.size() != block->sampleCount) {
        ++stats.mismatches;
        Mismatch("read back: channel %u of \"%s\" released %u samples after %u port reads",
                 output->index, RefHost_Utf8(name, MODULE_NAME_BYTES), block->sampleCount,
                 static_cast<unsigned>(reads.size()));
    }
    const float* samples = BlockSamples(const_cast<DataBlock*>(block));
    size_t n = reads.size() < block->sampleCount ? reads.size() : block->sampleCount;
    for (size_t j = 0; j < n; ++j) {
        int bit = output->index < 8 && ((reads[j] >> output->index) & 1u);
        float expected = bit ? 5.0f : 0.0f;
        ++stats.samples;
        if (samples[j] != expected) {
            ++stats.mismatches;
            Mismatch("read back: sample %u of channel %u of \"%s\" at %.6f s is %g, the byte "
                     "read was 0x%02X",
                     static_cast<unsigned>(j), output->index, RefHost_Utf8(name, MODULE_NAME_BYTES),
                     block->startTime + j * block->sampleDistance, static_cast<double>(samples[j]),
                     reads[j]);
        }
    }
    output->loopReads.clear();
}

void Loopback_InputBlockGiven(RefModule* module, UINT input, int newBlock) {
    if (!s_active) {
        return;
    }
    Loopback_Consume();
    s_target = nullptr;
    DWORD socket, port;
    if (ModulePort(module, &socket, &port)) {
        if (newBlock) {
            module->inputs[input].loopWrites.clear();
        }
        Aim(&module->inputs[input].loopWrites, SIM_OUTPORT, socket, port);
    }
}

void Loopback_InputBlockReleased(RefModule* module, UINT input, const DataBlock* block) {
    if (!s_active) {
        return;
    }
    Loopback_Consume();
    s_target = nullptr;
    DWORD socket, port;
    if (!ModulePort(module, &socket, &port)) {
        return;
    }
    const std::vector<BYTE>& writes = module->inputs[input].loopWrites;
    LinkStats& stats = s_written[socket][port];
    size_t expectedWrites =
        block->sampleCount < HostBlockSize() ? block->sampleCount : HostBlockSize();
    if (writes.size() != expectedWrites) {
        ++stats.mismatches;
        Mismatch("written: input %u of \"%s\" made %u port writes for a block of %u samples", input,
                 RefHost_Utf8(module->record.name, MODULE_NAME_BYTES),
                 static_cast<unsigned>(writes.size()), block->sampleCount);
    }
    const float* samples = BlockSamples(const_cast<DataBlock*>(block));
    size_t n = writes.size() < expectedWrites ? writes.size() : expectedWrites;
    for (size_t j = 0; j < n && input < 8; ++j) {
        int expected = samples[j] >= 5.0f;
        int written = (writes[j] >> input) & 1u;
        ++stats.samples;
        if (expected != written) {
            ++stats.mismatches;
            Mismatch("written: sample %u of input %u of \"%s\" at %.6f s is %g, the byte "
                     "written was 0x%02X",
                     static_cast<unsigned>(j), input,
                     RefHost_Utf8(module->record.name, MODULE_NAME_BYTES),
                     block->startTime + j * block->sampleDistance, static_cast<double>(samples[j]),
                     writes[j]);
        }
    }
    module->inputs[input].loopWrites.clear();
}

void Loopback_ProcessCallDone(void) {
    if (s_active) {
        Loopback_Consume();
        s_target = nullptr;
    }
}

void Loopback_Begin(void) {
    s_active = 0;
    s_sim = SimLink();
    std::memset(s_written, 0, sizeof s_written);
    std::memset(s_cable, 0, sizeof s_cable);
    std::memset(s_readBack, 0, sizeof s_readBack);
    s_mismatches.clear();
    s_mismatchTotal = 0;
    s_dropped = 0;
    s_target = nullptr;
    s_cables.clear();
    if (!s_sim) {
        return;
    }
    FindCables();
    SnapshotPorts();
    s_sim->SimCard_SetTracing(1);
    s_cursor = s_sim->SimCard_TraceCount();
    s_droppedBase = s_sim->SimCard_TraceDropped();
    s_active = 1;
}

void Loopback_End(void) {
    Loopback_Consume();
    s_target = nullptr;
    s_active = 0;
}

int Loopback_Active(void) {
    return s_active;
}

/* ---- Report ------------------------------------------------------------------------ */

static RefModule* ModuleOnPort(DWORD socket, DWORD port, int wantInputs) {
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        RefModule* module = RefHost_Module(i);
        DWORD s, p;
        int hasInputs = module->record.inputCount > 0;
        if (ModulePort(module, &s, &p) && s == socket && p == port && hasInputs == wantInputs) {
            return module;
        }
    }
    return nullptr;
}

struct LoopTotals {
    unsigned pairs;
    unsigned long long samples;
    unsigned long long bits;
    unsigned long long mismatches;
    int unchecked;
};

/* The input module reads its port in a burst when it takes a block and hands
   the block on once the block's time is over, so the samples carry evenly
   spaced times that are not the moments of the reads. */
static void PrintSampling(FILE* out) {
    DWORD size = HostBlockSize();
    double blockMs = HostMillisecondsPerSample() * size;
    RefHost_Print(
        out,
        "  sampling:  the input port was read in a burst of %lu reads per channel at the start "
        "of each %g ms block; the %g ms sample times are nominal, not the moments of the "
        "reads\n",
        static_cast<unsigned long>(size), blockMs, HostMillisecondsPerSample());
}

static void PrintPair(FILE* out, const Cable& cable, RefModule* writer, RefModule* reader,
                      LoopTotals* totals) {
    const LinkStats& written = s_written[cable.fromSocket][cable.fromPort];
    const LinkStats& carried = s_cable[cable.toSocket][cable.toPort];
    const LinkStats& readBack = s_readBack[cable.toSocket][cable.toPort];
    RefHost_Print(out,
                  "loop: socket %lu port %s -> socket %lu port %s: \"%s\" (%lu inputs) to "
                  "\"%s\" (%lu outputs)\n",
                  static_cast<unsigned long>(cable.fromSocket), PortName(cable.fromPort),
                  static_cast<unsigned long>(cable.toSocket), PortName(cable.toPort),
                  RefHost_Utf8(writer->record.name, MODULE_NAME_BYTES),
                  static_cast<unsigned long>(writer->record.inputCount),
                  RefHost_Utf8(reader->record.name, MODULE_NAME_BYTES),
                  static_cast<unsigned long>(reader->record.outputCount));
    RefHost_Print(out, "  written:   %llu samples, %llu mismatched\n", written.samples,
                  written.mismatches);
    if (cable.checkable) {
        RefHost_Print(out, "  cable:     %llu reads, %llu mismatched\n", carried.samples,
                      carried.mismatches);
    } else {
        RefHost_Print(out, "  cable:     %llu reads, %llu mismatched, then not checked (%s)\n",
                      carried.samples, carried.mismatches, cable.why);
        totals->unchecked = 1;
    }
    RefHost_Print(out, "  read back: %llu samples, %llu mismatched\n", readBack.samples,
                  readBack.mismatches);
    PrintSampling(out);
    if (written.samples == 0 || readBack.samples == 0 || carried.samples == 0) {
        totals->unchecked = 1;
    }
    ++totals->pairs;
    totals->samples += written.samples + readBack.samples;
    totals->bits += written.samples + 8u * carried.samples + readBack.samples;
    totals->mismatches += written.mismatches + carried.mismatches + readBack.mismatches;
}

int RefHost_PrintLoopback(FILE* out) {
    if (!s_sim) {
        RefHost_Print(out, "loop not checked: the card driver is not the simulator\n");
        return -1;
    }
    LoopTotals totals;
    std::memset(&totals, 0, sizeof totals);
    for (size_t i = 0; i < s_cables.size(); ++i) {
        const Cable& cable = s_cables[i];
        RefModule* writer = ModuleOnPort(cable.fromSocket, cable.fromPort, 1);
        RefModule* reader = ModuleOnPort(cable.toSocket, cable.toPort, 0);
        if (writer && reader) {
            PrintPair(out, cable, writer, reader, &totals);
        }
    }
    if (totals.pairs == 0) {
        RefHost_Print(out, "loop not checked: no output module is cabled to an input module\n");
        return -1;
    }
    if (s_dropped > 0) {
        RefHost_Print(out,
                      "loop not checked completely: the simulator dropped %llu trace entries\n",
                      s_dropped);
    }
    for (size_t i = 0; i < s_mismatches.size(); ++i) {
        RefHost_Print(out, "  mismatch: %s\n", s_mismatches[i].c_str());
    }
    if (s_mismatchTotal > 0 || totals.mismatches > 0) {
        RefHost_Print(out, "loop broken: %llu mismatches (%llu samples, %llu bits compared)\n",
                      s_mismatchTotal, totals.samples, totals.bits);
        return 0;
    }
    if (LastRunFellBehind()) {
        RefHost_Print(out,
                      "loop not judged: no mismatch in %llu samples, %llu bits, but the run fell "
                      "behind, so the pace asked for was not tested\n",
                      totals.samples, totals.bits);
        return -1;
    }
    if (totals.unchecked || s_dropped > 0) {
        RefHost_Print(out, "loop not checked completely: no mismatch in %llu samples, %llu bits\n",
                      totals.samples, totals.bits);
        return -1;
    }
    RefHost_Print(out, "loop held: every sample matched (%llu samples, %llu bits)\n",
                  totals.samples, totals.bits);
    return 1;
}
