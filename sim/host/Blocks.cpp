/*
 * The host's block queues and module sizes: GetCurrentOutputBlock and
 * NewReleaseOutputBlock for each output channel, GetInputBlock and
 * NewReleaseInputBlock for each input connector, and ChangeModuleSize. Output
 * blocks hold the block size current when they are handed out, with guard
 * bytes after the last sample, so a module that writes more than the block
 * size is caught at release.
 */
#include "sim/host/HostInternal.h"

#include <cstdlib>
#include <cstring>

#define BLOCK_MAGIC          0x4B4C4252u /* "RBLK" */
#define RELEASED_KEPT        20000u      /* per output; later blocks are counted, not kept */
#define UNWRITTEN_SAMPLE_BIT 0x7FC0DEADu /* a NaN, so a sample never written is visible */

static int s_withholdOutputBlocks;

void RefHost_WithholdOutputBlocks(int withhold) {
    s_withholdOutputBlocks = withhold;
}

static ReleaseObserver s_observer;

void SetReleaseObserver(ReleaseObserver observer) {
    s_observer = observer;
}

ReleaseObserver CurrentReleaseObserver(void) {
    return s_observer;
}

BlockPrefix* PrefixOf(const DataBlock* block) {
    return reinterpret_cast<BlockPrefix*>(const_cast<BYTE*>(reinterpret_cast<const BYTE*>(block)) -
                                          sizeof(BlockPrefix));
}

static BYTE* BlockGuard(DataBlock* block) {
    return reinterpret_cast<BYTE*>(BlockSamples(block) + PrefixOf(block)->capacity);
}

DataBlock* NewHostBlock(DWORD capacity) {
    size_t bytes =
        sizeof(BlockPrefix) + sizeof(DataBlock) + capacity * sizeof(float) + REF_GUARD_BYTES;
    BYTE* memory = static_cast<BYTE*>(std::malloc(bytes));
    if (!memory) {
        return nullptr;
    }
    std::memset(memory, 0, sizeof(BlockPrefix) + sizeof(DataBlock));
    BlockPrefix* prefix = reinterpret_cast<BlockPrefix*>(memory);
    prefix->magic = BLOCK_MAGIC;
    prefix->capacity = capacity;
    DataBlock* block = reinterpret_cast<DataBlock*>(memory + sizeof(BlockPrefix));
    DWORD unwritten = UNWRITTEN_SAMPLE_BIT;
    float* samples = BlockSamples(block);
    for (DWORD i = 0; i < capacity; ++i) {
        std::memcpy(&samples[i], &unwritten, sizeof unwritten);
    }
    std::memset(BlockGuard(block), REF_GUARD_FILL, REF_GUARD_BYTES);
    return block;
}

void FreeHostBlock(DataBlock* block) {
    if (block) {
        PrefixOf(block)->magic = 0;
        std::free(PrefixOf(block));
    }
}

static int BlockGuardIntact(DataBlock* block) {
    const BYTE* guard = BlockGuard(block);
    for (unsigned i = 0; i < REF_GUARD_BYTES; ++i) {
        if (guard[i] != REF_GUARD_FILL) {
            return 0;
        }
    }
    return 1;
}

DWORD RefHost_BlockCapacity(const DataBlock* block) {
    return block ? PrefixOf(block)->capacity : 0;
}

DWORD RefHost_BlockReleaseTick(const DataBlock* block) {
    return block ? PrefixOf(block)->releaseTick : 0;
}

/* ---- Output channels -------------------------------------------------------------- */

void* WINAPI Host_GetCurrentOutputBlock(void* outputChannel) {
    RefOutput* output = FindOutputChannel(outputChannel);
    DataBlock* block = nullptr;
    if (!output) {
        JournalViolation("GetCurrentOutputBlock for %p, which is no output channel of this host",
                         outputChannel);
    } else if (output->index >= output->module->record.outputCount) {
        JournalViolation("GetCurrentOutputBlock for output %u of module \"%.13s\", which has %lu",
                         output->index, output->module->record.name,
                         static_cast<unsigned long>(output->module->record.outputCount));
    } else if (!s_withholdOutputBlocks) {
        if (!output->current && HostBlockSize() > 0 && HostBlockSize() <= REF_MAX_BLOCK) {
            output->current = NewHostBlock(HostBlockSize());
        }
        block = output->current;
        if (block) {
            Loopback_OutputBlockGiven(output);
        }
    }
    JournalBlockCall("GetCurrentOutputBlock", reinterpret_cast<DWORD>(block),
                     output ? output->index : 0, 0, 0, nullptr, 0);
    return block;
}

static void KeepReleased(RefOutput* output, DataBlock* block) {
    ++output->releasedTotal;
    ReleaseObserver observer = s_observer;
    int keep = observer ? observer(output->module, output->index, block) : 1;
    if (keep && output->released.size() < RELEASED_KEPT) {
        output->released.push_back(block);
    } else {
        FreeHostBlock(block);
    }
}

void WINAPI Host_NewReleaseOutputBlock(void* outputChannel, const char* sourceFile, int line) {
    RefOutput* output = FindOutputChannel(outputChannel);
    DataBlock* block = output ? output->current : nullptr;
    JournalBlockCall("NewReleaseOutputBlock", reinterpret_cast<DWORD>(block),
                     output ? output->index : 0, block ? block->sampleCount : 0, 0, sourceFile,
                     line);
    if (!output) {
        JournalViolation("NewReleaseOutputBlock for %p, which is no output channel of this host",
                         outputChannel);
        return;
    }
    if (!block) {
        JournalViolation("NewReleaseOutputBlock on output %u of module \"%.13s\" with no block "
                         "handed out",
                         output->index, output->module->record.name);
        return;
    }
    output->current = nullptr;
    PrefixOf(block)->releaseTick = HostTick();
    if (!BlockGuardIntact(block)) {
        JournalViolation("output %u of module \"%.13s\" wrote past its block of %lu samples",
                         output->index, output->module->record.name,
                         static_cast<unsigned long>(PrefixOf(block)->capacity));
    }
    if (block->sampleCount > PrefixOf(block)->capacity) {
        JournalViolation("output %u of module \"%.13s\" released %u samples in a block of %lu",
                         output->index, output->module->record.name, block->sampleCount,
                         static_cast<unsigned long>(PrefixOf(block)->capacity));
        block->sampleCount = static_cast<WORD>(PrefixOf(block)->capacity);
    }
    Loopback_OutputBlockReleased(output, block);
    KeepReleased(output, block);
}

size_t RefHost_ReleasedBlockCount(RefModule* module, UINT output) {
    if (!module || output >= MODULE_OUTPUT_SLOTS) {
        return 0;
    }
    return module->outputs[output].released.size();
}

size_t RefHost_ReleasedBlockTotal(RefModule* module, UINT output) {
    if (!module || output >= MODULE_OUTPUT_SLOTS) {
        return 0;
    }
    return module->outputs[output].releasedTotal;
}

const DataBlock* RefHost_ReleasedBlock(RefModule* module, UINT output, size_t i) {
    if (!module || output >= MODULE_OUTPUT_SLOTS || i >= module->outputs[output].released.size()) {
        return nullptr;
    }
    return module->outputs[output].released[i];
}

/* ---- Input connectors ------------------------------------------------------------- */

int RefHost_QueueInputBlock(RefModule* module, UINT input, const float* samples,
                            unsigned sampleCount) {
    if (!module || input >= REF_MAX_INPUTS || sampleCount > 65535u ||
        (sampleCount > 0 && !samples)) {
        return 0;
    }
    DataBlock* block = NewHostBlock(sampleCount > 0 ? sampleCount : 1u);
    if (!block) {
        return 0;
    }
    RefInput& in = module->inputs[input];
    block->sampleDistance = HostMillisecondsPerSample() * 0.001;
    block->startTime = static_cast<double>(in.samplesQueued) * block->sampleDistance;
    block->sampleCount = static_cast<WORD>(sampleCount);
    if (sampleCount > 0) {
        std::memcpy(BlockSamples(block), samples, sampleCount * sizeof(float));
    }
    in.queue.push_back(block);
    in.samplesQueued += sampleCount;
    return 1;
}

size_t RefHost_PendingInputBlocks(RefModule* module, UINT input) {
    if (!module || input >= REF_MAX_INPUTS) {
        return 0;
    }
    return module->inputs[input].queue.size();
}

size_t RefHost_ConsumedInputBlocks(RefModule* module, UINT input) {
    if (!module || input >= REF_MAX_INPUTS) {
        return 0;
    }
    return module->inputs[input].consumed;
}

static RefInput* CheckedInput(const char* service, void* moduleRecord, UINT inputIndex) {
    RefModule* module = FindModuleByRecord(moduleRecord);
    if (!module) {
        JournalViolation("%s for %p, which is no module of this host", service, moduleRecord);
        return nullptr;
    }
    if (inputIndex >= module->record.inputCount || inputIndex >= REF_MAX_INPUTS) {
        JournalViolation("%s for input %u of module \"%.13s\", which has %lu", service, inputIndex,
                         module->record.name,
                         static_cast<unsigned long>(module->record.inputCount));
        return nullptr;
    }
    return &module->inputs[inputIndex];
}

void* WINAPI Host_GetInputBlock(void* moduleRecord, UINT inputIndex) {
    RefInput* input = CheckedInput("GetInputBlock", moduleRecord, inputIndex);
    DataBlock* block = nullptr;
    if (input && !input->queue.empty()) {
        block = input->queue.front();
        Loopback_InputBlockGiven(FindModuleByRecord(moduleRecord), inputIndex,
                                 !input->frontHandedOut);
        input->frontHandedOut = 1;
    }
    JournalBlockCall("GetInputBlock", reinterpret_cast<DWORD>(block),
                     reinterpret_cast<DWORD>(moduleRecord), inputIndex, 0, nullptr, 0);
    return block;
}

void WINAPI Host_NewReleaseInputBlock(void* moduleRecord, UINT inputIndex, const char* sourceFile,
                                      int line) {
    RefInput* input = CheckedInput("NewReleaseInputBlock", moduleRecord, inputIndex);
    DataBlock* block = input && !input->queue.empty() ? input->queue.front() : nullptr;
    JournalBlockCall("NewReleaseInputBlock", reinterpret_cast<DWORD>(block),
                     reinterpret_cast<DWORD>(moduleRecord), inputIndex, 0, sourceFile, line);
    if (!input) {
        return;
    }
    if (!block || !input->frontHandedOut) {
        JournalViolation("NewReleaseInputBlock for input %u at %s:%d with no block handed out",
                         inputIndex, sourceFile ? sourceFile : "(no source)", line);
        return;
    }
    Loopback_InputBlockReleased(FindModuleByRecord(moduleRecord), inputIndex, block);
    input->queue.pop_front();
    input->frontHandedOut = 0;
    ++input->consumed;
    FreeHostBlock(block);
}

/* ---- Module size -------------------------------------------------------------------- */

void WINAPI Host_ChangeModuleSize(void* moduleRecord, UINT inputs, UINT outputs) {
    JournalCall("ChangeModuleSize", reinterpret_cast<DWORD>(moduleRecord), inputs, outputs, 0,
                nullptr, 0);
    RefModule* module = FindModuleByRecord(moduleRecord);
    if (!module) {
        JournalViolation("ChangeModuleSize for %p, which is no module of this host", moduleRecord);
        return;
    }
    if (inputs > REF_MAX_INPUTS || outputs > MODULE_OUTPUT_SLOTS) {
        JournalViolation("ChangeModuleSize to %u inputs and %u outputs; the host keeps at most "
                         "%u and %u",
                         inputs, outputs, REF_MAX_INPUTS, MODULE_OUTPUT_SLOTS);
        inputs = inputs > REF_MAX_INPUTS ? REF_MAX_INPUTS : inputs;
        outputs = outputs > MODULE_OUTPUT_SLOTS ? MODULE_OUTPUT_SLOTS : outputs;
    }
    module->record.inputCount = inputs;
    module->record.outputCount = outputs;
    SyncModuleConnectors(module);
}

/* ---- Cleanup ------------------------------------------------------------------------ */

void FreeReleasedBlocks(RefModule* module) {
    for (unsigned k = 0; k < MODULE_OUTPUT_SLOTS; ++k) {
        RefOutput& output = module->outputs[k];
        for (size_t i = 0; i < output.released.size(); ++i) {
            FreeHostBlock(output.released[i]);
        }
        output.released.clear();
        output.releasedTotal = 0;
    }
}

void FreeCurrentOutputBlocks(RefModule* module) {
    for (unsigned k = 0; k < MODULE_OUTPUT_SLOTS; ++k) {
        FreeHostBlock(module->outputs[k].current);
        module->outputs[k].current = nullptr;
    }
}

void FreeModuleBlocks(RefModule* module) {
    FreeReleasedBlocks(module);
    FreeCurrentOutputBlocks(module);
    for (unsigned k = 0; k < REF_MAX_INPUTS; ++k) {
        RefInput& input = module->inputs[k];
        for (size_t i = 0; i < input.queue.size(); ++i) {
            FreeHostBlock(input.queue[i]);
        }
        input.queue.clear();
        input.frontHandedOut = 0;
    }
}
