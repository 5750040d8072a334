/*
 * Worksheet files: the host's modules as plain text, one block per module with
 * its name, description, connector counts, run options and the module's
 * private settings as hex (sim/host/WORKSHEET.md). Loading checks every field
 * the host reads before the module is restored; a damaged or refused module is
 * reported with the file and the module named, and the others still load.
 */
#include "sim/host/HostInternal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#define WORKSHEET_MAGIC    "orvik-worksheet"
#define WORKSHEET_VERSION  1
#define SETTINGS_HEX       (2u * sizeof(ModuleSettings))
#define MAX_WORKSHEET_SIZE (16u * 1024u * 1024u)

static std::vector<std::string> s_problems;
static double s_rate = 1.0;
static DWORD s_blockSize = 100;

double RefHost_WorksheetRate(void) {
    return s_rate;
}

DWORD RefHost_WorksheetBlockSize(void) {
    return s_blockSize;
}

void RefHost_SetWorksheetRun(double millisecondsPerSample, DWORD blockSize) {
    s_rate = millisecondsPerSample;
    s_blockSize = blockSize;
}

size_t RefHost_WorksheetProblemCount(void) {
    return s_problems.size();
}

const char* RefHost_WorksheetProblem(size_t i) {
    return i < s_problems.size() ? s_problems[i].c_str() : nullptr;
}

/* ---- Saving ---------------------------------------------------------------------- */

static void WriteHex(FILE* file, const BYTE* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::fprintf(file, "%02X", bytes[i]);
    }
}

static void WriteModule(FILE* file, RefModule* module) {
    const ModuleRecord& record = module->record;
    std::fprintf(file, "module\n");
    /* A field the module left without a terminator still ends at its size. */
    std::fprintf(file, "name %.12s\n", record.name);
    std::fprintf(file, "description %.40s\n", record.description);
    std::fprintf(file, "inputs %lu\n", static_cast<unsigned long>(record.inputCount));
    std::fprintf(file, "outputs %lu\n", static_cast<unsigned long>(record.outputCount));
    for (UINT i = 0; i < record.inputCount && i < REF_MAX_INPUTS; ++i) {
        if (module->inputs[i].hasPattern) {
            char text[300];
            Pattern_Format(&module->inputs[i].pattern, text, sizeof text);
            std::fprintf(file, "pattern %u %s\n", i, text);
        }
    }
    std::fprintf(file, "record %d\n", module->recordOutputs);
    ModuleSettings settings;
    std::memcpy(&settings, record.settings, sizeof settings);
    settings.outputBuffer = nullptr; /* a pointer means nothing in a file */
    std::fprintf(file, "settings ");
    WriteHex(file, reinterpret_cast<const BYTE*>(&settings), sizeof settings);
    std::fprintf(file, "\nend\n");
}

int RefHost_SaveWorksheet(const char* path) {
    FILE* file = path ? std::fopen(path, "wb") : nullptr;
    if (!file) {
        return 0;
    }
    std::fprintf(file, "%s %d\n", WORKSHEET_MAGIC, WORKSHEET_VERSION);
    std::fprintf(file, "rate-ms %.17g\n", s_rate);
    std::fprintf(file, "block-size %lu\n", static_cast<unsigned long>(s_blockSize));
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        WriteModule(file, RefHost_Module(i));
    }
    int ok = std::ferror(file) == 0;
    return std::fclose(file) == 0 && ok;
}

/* ---- Reading -------------------------------------------------------------------- */

struct Lines {
    std::vector<std::string> text;
    size_t next;
};

enum ReadResult { READ_OK, READ_FAILED, READ_TOO_LARGE };

/* A file over the limit is refused whole: cut at the limit, its last module
   would be reported as damaged and every later one silently lost. */
static ReadResult ReadLines(const char* path, Lines* lines) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return READ_FAILED;
    }
    std::string all;
    char buffer[4096];
    size_t got;
    while (all.size() <= MAX_WORKSHEET_SIZE &&
           (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        all.append(buffer, got);
    }
    std::fclose(file);
    if (all.size() > MAX_WORKSHEET_SIZE) {
        return READ_TOO_LARGE;
    }
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        std::string line = all.substr(start, end - start);
        if (!line.empty() && line[line.size() - 1] == '\r') {
            line.erase(line.size() - 1);
        }
        lines->text.push_back(line);
        start = end + 1;
    }
    lines->next = 0;
    return READ_OK;
}

/* Splits "key value": the key is the first word, the value everything after the
   one blank that follows it (kept byte for byte, blanks included). */
static void SplitLine(const std::string& line, std::string* key, std::string* value) {
    size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        key->clear();
        value->clear();
        return;
    }
    size_t end = line.find_first_of(" \t", begin);
    if (end == std::string::npos) {
        *key = line.substr(begin);
        value->clear();
        return;
    }
    *key = line.substr(begin, end - begin);
    *value = line.substr(end + 1);
}

static int IsBlankOrComment(const std::string& line) {
    size_t begin = line.find_first_not_of(" \t");
    return begin == std::string::npos || line[begin] == '#';
}

static int ParseCount(const std::string& text, unsigned long limit, unsigned long* count) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    *count = std::strtoul(text.c_str(), nullptr, 10);
    return *count <= limit;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

/* What one module block of the file says, checked field by field. */
struct StoredModule {
    size_t firstLine;
    unsigned number;
    std::string name;
    std::string description;
    unsigned long inputs;
    unsigned long outputs;
    int haveName, haveDescription, haveInputs, haveOutputs, haveSettings, haveRecord;
    int record;
    ModuleSettings settings;
    std::string patterns[REF_MAX_INPUTS];
    int havePattern[REF_MAX_INPUTS];
    std::string problem; /* empty while the block is sound */
    size_t problemLine;
};

static void Fail(StoredModule* module, size_t line, const std::string& why) {
    if (module->problem.empty()) {
        module->problem = why;
        module->problemLine = line;
    }
}

static void ParseSettings(StoredModule* module, size_t line, const std::string& value) {
    std::string hex = value;
    while (!hex.empty() && (hex[hex.size() - 1] == ' ' || hex[hex.size() - 1] == '\t')) {
        hex.erase(hex.size() - 1);
    }
    if (hex.size() != SETTINGS_HEX) {
        char why[120];
        std::snprintf(why, sizeof why, "settings must be %u hex digits (%u bytes), found %u",
                      SETTINGS_HEX, static_cast<unsigned>(sizeof(ModuleSettings)),
                      static_cast<unsigned>(hex.size()));
        Fail(module, line, why);
        return;
    }
    BYTE* bytes = reinterpret_cast<BYTE*>(&module->settings);
    for (size_t i = 0; i < sizeof(ModuleSettings); ++i) {
        int high = HexDigit(hex[2 * i]);
        int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            Fail(module, line, "settings hold a character that is no hex digit");
            return;
        }
        bytes[i] = static_cast<BYTE>(high * 16 + low);
    }
    module->haveSettings = 1;
}

static void ParsePattern(StoredModule* module, size_t line, const std::string& value) {
    std::string key, text;
    SplitLine(value, &key, &text);
    unsigned long input = 0;
    Pattern pattern;
    if (!ParseCount(key, REF_MAX_INPUTS - 1, &input)) {
        Fail(module, line, "pattern names no input 0 to 15");
    } else if (module->havePattern[input]) {
        Fail(module, line, "pattern for input " + key + " given twice");
    } else if (!Pattern_Parse(text.c_str(), &pattern)) {
        Fail(module, line, "pattern \"" + text + "\" is not understood");
    } else {
        module->patterns[input] = text;
        module->havePattern[input] = 1;
    }
}

static void ParseCountField(StoredModule* module, size_t line, const std::string& key,
                            const std::string& value, unsigned long* count, int* have) {
    if (*have) {
        Fail(module, line, key + " given twice");
    } else if (!ParseCount(value, 0xFFFFFFFFul, count)) {
        Fail(module, line, key + " \"" + value + "\" is no count");
    } else {
        *have = 1;
    }
}

static void ParseTextField(StoredModule* module, size_t line, const std::string& key,
                           const std::string& value, size_t limit, std::string* text, int* have) {
    if (*have) {
        Fail(module, line, key + " given twice");
    } else if (value.size() > limit) {
        char why[120];
        std::snprintf(why, sizeof why, "%s of %u bytes is longer than %u", key.c_str(),
                      static_cast<unsigned>(value.size()), static_cast<unsigned>(limit));
        Fail(module, line, why);
    } else {
        *text = value;
        *have = 1;
    }
}

static void ParseModuleLine(StoredModule* module, size_t line, const std::string& key,
                            const std::string& value) {
    if (key == "name") {
        ParseTextField(module, line, key, value, MODULE_NAME_BYTES - 1, &module->name,
                       &module->haveName);
    } else if (key == "description") {
        ParseTextField(module, line, key, value, MODULE_DESCRIPTION_BYTES - 1, &module->description,
                       &module->haveDescription);
    } else if (key == "inputs") {
        ParseCountField(module, line, key, value, &module->inputs, &module->haveInputs);
    } else if (key == "outputs") {
        ParseCountField(module, line, key, value, &module->outputs, &module->haveOutputs);
    } else if (key == "pattern") {
        ParsePattern(module, line, value);
    } else if (key == "record") {
        if (module->haveRecord) {
            Fail(module, line, "record given twice");
        }
        module->haveRecord = value == "0" || value == "1";
        module->record = value == "1";
        if (!module->haveRecord) {
            Fail(module, line, "record must be 0 or 1");
        }
    } else if (key == "settings") {
        if (module->haveSettings) {
            Fail(module, line, "settings given twice");
        } else {
            ParseSettings(module, line, value);
        }
    } else {
        Fail(module, line, "unknown field \"" + key + "\"");
    }
}

/* Checks what the host itself relies on: connector counts it can keep, and
   channel names it can show. */
static void CheckModule(StoredModule* module) {
    size_t line = module->firstLine;
    if (!module->haveName || !module->haveInputs || !module->haveOutputs || !module->haveSettings) {
        Fail(module, line,
             std::string("missing ") + (!module->haveName      ? "name"
                                        : !module->haveInputs  ? "inputs"
                                        : !module->haveOutputs ? "outputs"
                                                               : "settings"));
        return;
    }
    char why[160];
    if (module->inputs > CHANNEL_POSITIONS || module->outputs > CHANNEL_POSITIONS) {
        std::snprintf(why, sizeof why,
                      "%lu inputs and %lu outputs: a module has at most %u of each", module->inputs,
                      module->outputs, CHANNEL_POSITIONS);
        Fail(module, line, why);
    } else if (module->inputs == 0 && module->outputs == 0) {
        Fail(module, line, "no inputs and no outputs: a module needs at least one channel");
    }
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        if (!std::memchr(module->settings.channelNames[k], 0, CHANNEL_NAME_SLOT)) {
            std::snprintf(why, sizeof why, "channel name %u has no terminator within %u bytes", k,
                          CHANNEL_NAME_SLOT);
            Fail(module, line, why);
        }
    }
    for (unsigned i = 0; i < REF_MAX_INPUTS; ++i) {
        if (module->havePattern[i] && i >= module->inputs) {
            std::snprintf(why, sizeof why, "pattern for input %u of a module with %lu inputs", i,
                          module->inputs);
            Fail(module, line, why);
        }
    }
}

static void Report(const char* path, const StoredModule* module, const std::string& why,
                   size_t line) {
    char head[400];
    if (module) {
        std::snprintf(head, sizeof head, "%s: module %u \"%s\" (line %u): ", path, module->number,
                      module->name.c_str(), static_cast<unsigned>(line));
    } else {
        std::snprintf(head, sizeof head, "%s (line %u): ", path, static_cast<unsigned>(line));
    }
    s_problems.push_back(head + why);
}

/* Reads one module block, the "module" line already taken; stops after "end". */
static void ReadModule(Lines* lines, StoredModule* module) {
    while (lines->next < lines->text.size()) {
        size_t line = ++lines->next;
        const std::string& text = lines->text[line - 1];
        if (IsBlankOrComment(text)) {
            continue;
        }
        std::string key, value;
        SplitLine(text, &key, &value);
        if (key == "end") {
            CheckModule(module);
            return;
        }
        if (key == "module") {
            --lines->next;
            Fail(module, line, "next module begins before this one ends");
            return;
        }
        ParseModuleLine(module, line, key, value);
    }
    Fail(module, lines->text.size(), "the file ends inside the module (no \"end\")");
}

/* The extension's warnings journaled since mark, for the report. */
static std::string WarningsSince(size_t mark) {
    std::string text;
    for (size_t i = mark; i < RefHost_JournalSize(); ++i) {
        const JournalEntry* entry = RefHost_JournalEntry(i);
        if (entry->kind == J_WARNING) {
            std::string warning = entry->text;
            for (size_t k = 0; k < warning.size(); ++k) {
                if (warning[k] == '\n') {
                    warning[k] = ' ';
                }
            }
            text += " [" + warning + "]";
        }
    }
    return text;
}

static int RestoreStored(const char* path, const StoredModule* stored) {
    size_t mark = RefHost_JournalSize();
    RefModule* module = RefHost_RestoreModule(stored->name.c_str(), stored->description.c_str(),
                                              stored->inputs, stored->outputs, &stored->settings);
    if (!module) {
        Report(path, stored, "refused by the module at restore (event 105)" + WarningsSince(mark),
               stored->firstLine);
        return 0;
    }
    for (UINT i = 0; i < REF_MAX_INPUTS; ++i) {
        if (stored->havePattern[i]) {
            RefHost_SetInputPattern(module, i, stored->patterns[i].c_str());
        }
    }
    RefHost_SetRecording(module, stored->haveRecord ? stored->record : 1);
    return 1;
}

static int ReadHeader(const char* path, Lines* lines) {
    while (lines->next < lines->text.size() && IsBlankOrComment(lines->text[lines->next])) {
        ++lines->next;
    }
    std::string key, value;
    if (lines->next < lines->text.size()) {
        SplitLine(lines->text[lines->next], &key, &value);
    }
    if (key != WORKSHEET_MAGIC || value != "1") {
        Report(path, nullptr, "not a worksheet (the first line must be \"orvik-worksheet 1\")",
               lines->next + 1);
        return 0;
    }
    ++lines->next;
    return 1;
}

static void ParseRunLine(const char* path, size_t line, const std::string& key,
                         const std::string& value) {
    if (key == "rate-ms") {
        char* end = nullptr;
        double rate = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end || !std::isfinite(rate) || rate <= 0.0) {
            Report(path, nullptr, "rate-ms \"" + value + "\" is no positive number", line);
        } else {
            s_rate = rate;
        }
    } else {
        unsigned long size = 0;
        if (!ParseCount(value, 65535ul, &size) || size == 0) {
            Report(path, nullptr, "block-size \"" + value + "\" is not 1 to 65535", line);
        } else {
            s_blockSize = size;
        }
    }
}

int RefHost_LoadWorksheet(const char* path) {
    s_problems.clear();
    Lines lines;
    ReadResult read = path ? ReadLines(path, &lines) : READ_FAILED;
    if (read != READ_OK) {
        s_problems.push_back(
            std::string(path ? path : "(no file)") +
            (read == READ_TOO_LARGE ? ": larger than 16 MB, not read" : ": cannot be read"));
        return -1;
    }
    if (!ReadHeader(path, &lines)) {
        return -1;
    }
    DeleteAllModules();
    int loaded = 0;
    unsigned number = 0;
    while (lines.next < lines.text.size()) {
        size_t line = ++lines.next;
        const std::string& text = lines.text[line - 1];
        if (IsBlankOrComment(text)) {
            continue;
        }
        std::string key, value;
        SplitLine(text, &key, &value);
        if (key == "rate-ms" || key == "block-size") {
            ParseRunLine(path, line, key, value);
            continue;
        }
        if (key != "module") {
            Report(path, nullptr, "unknown line \"" + key + "\"", line);
            continue;
        }
        StoredModule* stored = new (std::nothrow) StoredModule();
        if (!stored) {
            break;
        }
        stored->firstLine = line;
        stored->number = ++number;
        ReadModule(&lines, stored);
        if (!stored->problem.empty()) {
            Report(path, stored, stored->problem, stored->problemLine);
        } else {
            loaded += RestoreStored(path, stored);
        }
        delete stored;
    }
    return loaded;
}
