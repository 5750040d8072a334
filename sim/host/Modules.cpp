/*
 * The host's modules: one host-owned record per module, whose head is the
 * ModuleRecord the extension reads at fixed offsets, with its ModuleSettings
 * and eight ChannelState records allocated from the sizes in the registered
 * class descriptor, and one output-channel record per output. Creation (101),
 * deletion (102), settings (103) and restore (105) go through the extension's
 * event handler; the host's connectors follow the counts in the record after
 * every event.
 */
#include "sim/host/HostInternal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

static std::vector<RefModule*> s_modules;
static ModuleRecord* s_currentModulePtr;
static unsigned s_nextId = 1;

ModuleRecord** CurrentModulePtrAddress(void) {
    return &s_currentModulePtr;
}

ModuleRecord* RefModule_Record(RefModule* module) {
    return module ? &module->record : nullptr;
}

RefModule* FindModuleByRecord(const void* record) {
    for (size_t i = 0; i < s_modules.size(); ++i) {
        if (&s_modules[i]->record == record) {
            return s_modules[i];
        }
    }
    return nullptr;
}

RefOutput* FindOutputChannel(const void* channel) {
    for (size_t i = 0; i < s_modules.size(); ++i) {
        for (unsigned k = 0; k < MODULE_OUTPUT_SLOTS; ++k) {
            if (&s_modules[i]->outputs[k].head == channel) {
                return &s_modules[i]->outputs[k];
            }
        }
    }
    return nullptr;
}

size_t RefHost_ModuleCount(void) {
    return s_modules.size();
}

RefModule* RefHost_Module(size_t i) {
    return i < s_modules.size() ? s_modules[i] : nullptr;
}

static int IsListed(const RefModule* module) {
    for (size_t i = 0; i < s_modules.size(); ++i) {
        if (s_modules[i] == module) {
            return 1;
        }
    }
    return 0;
}

static void Unlist(const RefModule* module) {
    for (size_t i = 0; i < s_modules.size(); ++i) {
        if (s_modules[i] == module) {
            s_modules.erase(s_modules.begin() + static_cast<long>(i));
            return;
        }
    }
}

/* Zeroed bytes followed by guard bytes, so an overrun shows at deletion. */
static BYTE* NewGuardedBytes(DWORD size) {
    BYTE* bytes = static_cast<BYTE*>(std::calloc(1, size + REF_GUARD_BYTES));
    if (bytes) {
        std::memset(bytes + size, REF_GUARD_FILL, REF_GUARD_BYTES);
    }
    return bytes;
}

static void CheckGuardedBytes(const BYTE* bytes, DWORD size, const char* what,
                              const RefModule* module) {
    for (unsigned i = 0; i < REF_GUARD_BYTES; ++i) {
        if (bytes[size + i] != REF_GUARD_FILL) {
            JournalViolation("%s of module \"%.13s\" written past their %lu bytes", what,
                             module->record.name, static_cast<unsigned long>(size));
            return;
        }
    }
}

static DWORD CheckedSize(DWORD given, DWORD expected, const char* what) {
    if (given != expected) {
        JournalViolation("the module class gives %lu bytes for %s, not %lu",
                         static_cast<unsigned long>(given), what,
                         static_cast<unsigned long>(expected));
    }
    return given > expected ? given : expected;
}

static void NameNewModule(RefModule* module, const ModuleClassDescriptor* descriptor) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%u", descriptor->shortName ? descriptor->shortName : "M",
                  module->id);
    CopyText(module->record.name, name, MODULE_NAME_BYTES);
    CopyText(module->record.description, descriptor->longName ? descriptor->longName : "",
             MODULE_DESCRIPTION_BYTES);
}

static void DiscardModule(RefModule* module) {
    if (s_currentModulePtr == &module->record) {
        s_currentModulePtr = nullptr;
    }
    if (module->settingsBlock) {
        CheckGuardedBytes(module->settingsBlock, module->settingsSize, "the settings", module);
        std::free(module->settingsBlock);
    }
    if (module->statesBlock) {
        CheckGuardedBytes(module->statesBlock, module->stateSize * CHANNEL_POSITIONS,
                          "the channel states", module);
        std::free(module->statesBlock);
    }
    FreeModuleBlocks(module);
    module->magic = 0;
    delete module;
}

static RefModule* NewModule(void) {
    const ModuleClassDescriptor* descriptor = RefHost_ModuleClass();
    if (!descriptor) {
        return nullptr;
    }
    RefModule* module = new (std::nothrow) RefModule();
    if (!module) {
        return nullptr;
    }
    module->magic = REF_MODULE_MAGIC;
    module->id = s_nextId++;
    module->recordOutputs = 1;
    module->settingsSize =
        CheckedSize(descriptor->settingsSize, sizeof(ModuleSettings), "the module settings");
    module->stateSize =
        CheckedSize(descriptor->channelStateSize, sizeof(ChannelState), "one channel state");
    module->settingsBlock = NewGuardedBytes(module->settingsSize);
    module->statesBlock = NewGuardedBytes(module->stateSize * CHANNEL_POSITIONS);
    if (!module->settingsBlock || !module->statesBlock) {
        DiscardModule(module);
        return nullptr;
    }
    ModuleRecord& record = module->record;
    record.owner = RefHost_MainWindow();
    record.enable = 1;
    record.settings = reinterpret_cast<ModuleSettings*>(module->settingsBlock);
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        record.channelStates[k] =
            reinterpret_cast<ChannelState*>(module->statesBlock + k * module->stateSize);
    }
    for (unsigned k = 0; k < MODULE_OUTPUT_SLOTS; ++k) {
        module->outputs[k].magic = REF_OUTPUT_MAGIC;
        module->outputs[k].module = module;
        module->outputs[k].index = k;
        module->outputs[k].recorderChannel = -1;
    }
    NameNewModule(module, descriptor);
    return module;
}

void SyncModuleConnectors(RefModule* module) {
    ModuleRecord& record = module->record;
    DWORD outputs = record.outputCount;
    if (outputs > MODULE_OUTPUT_SLOTS) {
        JournalViolation("module \"%.13s\" has %lu outputs; the record holds %u", record.name,
                         static_cast<unsigned long>(outputs), MODULE_OUTPUT_SLOTS);
        outputs = MODULE_OUTPUT_SLOTS;
    }
    if (record.inputCount > REF_MAX_INPUTS) {
        JournalViolation("module \"%.13s\" has %lu inputs; the host connects %u", record.name,
                         static_cast<unsigned long>(record.inputCount), REF_MAX_INPUTS);
    }
    for (unsigned k = 0; k < MODULE_OUTPUT_SLOTS; ++k) {
        record.outputChannels[k] = k < outputs ? &module->outputs[k].head : nullptr;
    }
}

static LONG CallHandler(RefModule* module, UINT code, DWORD arg1, DWORD arg2) {
    const ModuleClassDescriptor* descriptor = RefHost_ModuleClass();
    if (!descriptor || !descriptor->eventHandler) {
        return 0;
    }
    LONG result = descriptor->eventHandler(&module->record, code, arg1, arg2);
    SyncModuleConnectors(module);
    return result;
}

LONG RefHost_SendEvent(RefModule* module, UINT code, DWORD arg1, DWORD arg2) {
    if (!module || !IsListed(module)) {
        return 0;
    }
    return CallHandler(module, code, arg1, arg2);
}

RefModule* RefHost_CreateModule(void) {
    RefModule* module = NewModule();
    if (!module) {
        return nullptr;
    }
    s_modules.push_back(module);
    if (CallHandler(module, ME_CREATE, 0, 0) == 0) {
        Unlist(module);
        DiscardModule(module);
        return nullptr;
    }
    return module;
}

void RefHost_DeleteModule(RefModule* module) {
    if (!module || !IsListed(module)) {
        return;
    }
    CallHandler(module, ME_DELETE, 0, 0);
    Unlist(module);
    DiscardModule(module);
}

void DeleteAllModules(void) {
    while (!s_modules.empty()) {
        RefHost_DeleteModule(s_modules.back());
    }
}

void ResetModuleNumbers(void) {
    s_nextId = 1;
}

LONG RefHost_OpenModule(RefModule* module) {
    if (!module || !IsListed(module)) {
        return 0;
    }
    s_currentModulePtr = &module->record;
    LONG result = CallHandler(module, ME_SETTINGS, 0, 0);
    s_currentModulePtr = nullptr;
    return result;
}

RefModule* RefHost_RestoreModule(const char* name, const char* description, DWORD inputs,
                                 DWORD outputs, const ModuleSettings* settings) {
    if (!settings || inputs > REF_MAX_INPUTS || outputs > MODULE_OUTPUT_SLOTS) {
        return nullptr;
    }
    RefModule* module = NewModule();
    if (!module) {
        return nullptr;
    }
    CopyText(module->record.name, name ? name : "", MODULE_NAME_BYTES);
    CopyText(module->record.description, description ? description : "", MODULE_DESCRIPTION_BYTES);
    module->record.inputCount = inputs;
    module->record.outputCount = outputs;
    std::memcpy(module->record.settings, settings, sizeof(ModuleSettings));
    /* A stored buffer pointer belonged to another run of another process. */
    module->record.settings->outputBuffer = nullptr;
    SyncModuleConnectors(module);
    s_modules.push_back(module);
    if (CallHandler(module, ME_RESTORE, 0, 0) == 0) {
        Unlist(module);
        DiscardModule(module);
        return nullptr;
    }
    return module;
}

unsigned RefModule_Id(const RefModule* module) {
    return module ? module->id : 0;
}

int RefHost_SetInputPattern(RefModule* module, UINT input, const char* text) {
    Pattern pattern;
    if (!module || input >= REF_MAX_INPUTS || !text || !Pattern_Parse(text, &pattern)) {
        return 0;
    }
    module->inputs[input].pattern = pattern;
    module->inputs[input].hasPattern = 1;
    return 1;
}

int RefHost_InputPattern(RefModule* module, UINT input, Pattern* pattern) {
    if (!module || input >= REF_MAX_INPUTS) {
        return 0;
    }
    if (module->inputs[input].hasPattern) {
        *pattern = module->inputs[input].pattern;
        return 1;
    }
    /* Unset inputs count: input k shows bit k of the sample number. */
    char text[32];
    std::snprintf(text, sizeof text, "counter:%u", input);
    return Pattern_Parse(text, pattern);
}

int RefHost_InputPatternSet(RefModule* module, UINT input) {
    return module && input < REF_MAX_INPUTS && module->inputs[input].hasPattern;
}

void RefHost_SetRecording(RefModule* module, int record) {
    if (module) {
        module->recordOutputs = record ? 1 : 0;
    }
}

int RefHost_Recording(const RefModule* module) {
    return module ? module->recordOutputs : 0;
}
