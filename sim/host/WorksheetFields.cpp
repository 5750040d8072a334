/*
 * The fields of a module block in a worksheet file: name and description,
 * connector counts or direction and channel count, socket, port and channel
 * names, the bytes of the settings record no field describes, run options, and
 * the old form that holds the whole settings record as hex. Reading names every
 * bad line; writing gives the field form whenever it restores the same bytes.
 */
#include "sim/host/WorksheetInternal.h"
#include "sim/host/WorksheetText.h"

#include <cstdlib>
#include <cstring>

#define SETTINGS_HEX      (2u * sizeof(ModuleSettings))
#define SOCKET_OFFSET     192u
#define PORT_OFFSET       196u
#define POINTER_OFFSET    204u
#define MAX_SOCKET        15u
#define PORT_LETTERS      "ABC"
#define QUOTED_BYTES      40u
#define CHANNEL_NAME_TEXT (CHANNEL_NAME_SLOT - 1u)

/* ---- Small parsers ---------------------------------------------------------------- */

void Worksheet_SplitLine(const std::string& line, std::string* key, std::string* value) {
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

int Worksheet_ParseCount(const std::string& text, unsigned long limit, unsigned long* count) {
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

/* Hex digits to bytes; 0 on an odd count or a character that is no digit. */
static int ParseHex(const std::string& hex, std::string* bytes) {
    if (hex.size() % 2) {
        return 0;
    }
    bytes->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return 0;
        }
        *bytes += static_cast<char>(high * 16 + low);
    }
    return 1;
}

static std::string TrimRight(const std::string& text) {
    size_t end = text.find_last_not_of(" \t");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

static std::string Number(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%lu", value);
    return text;
}

/* ---- Reading ---------------------------------------------------------------------- */

void StoredModule_Fail(StoredModule* module, size_t line, const std::string& why) {
    StoredProblem problem;
    problem.line = line;
    problem.why = why;
    module->problems.push_back(problem);
}

/* A value from the file, as a problem line quotes it (in code page 932). */
static std::string Quote(const StoredModule* module, const std::string& text) {
    if (module->utf8Texts) {
        return "\"" + WorksheetText_ForMessage(text) + "\"";
    }
    return "\"" + (text.size() > QUOTED_BYTES ? text.substr(0, QUOTED_BYTES) + "..." : text) + "\"";
}

/* 1 when the field is given for the first time; else names the first line. */
static int FirstTime(StoredModule* module, size_t line, const std::string& key, size_t* seen) {
    if (*seen) {
        StoredModule_Fail(module, line, key + " given twice (first on line " + Number(*seen) + ")");
        return 0;
    }
    *seen = line;
    return 1;
}

/* A name as the record holds it: code page 932 bytes within limit. */
static void ParseText(StoredModule* module, size_t line, const std::string& what,
                      const std::string& value, size_t limit, std::string* text) {
    std::string bytes = value, why;
    if (module->utf8Texts && !WorksheetText_FromUtf8(value, &bytes, &why)) {
        StoredModule_Fail(module, line, what + " " + Quote(module, value) + " " + why);
        return;
    }
    if (!WorksheetText_Printable(bytes)) {
        StoredModule_Fail(module, line,
                          what + " " + Quote(module, value) + " holds a control character");
        return;
    }
    if (bytes.size() > limit) {
        StoredModule_Fail(module, line,
                          what + " " + Quote(module, value) + " is " + Number(bytes.size()) +
                              " bytes in code page 932, longer than " + Number(limit));
        return;
    }
    *text = bytes;
}

static void ParseCountField(StoredModule* module, size_t line, const std::string& key,
                            const std::string& value, unsigned long low, unsigned long high,
                            unsigned long* count) {
    if (!Worksheet_ParseCount(value, high, count) || *count < low) {
        StoredModule_Fail(module, line,
                          key + " " + Quote(module, value) + " is not " + Number(low) + " to " +
                              Number(high));
    }
}

static void ParseChannelName(StoredModule* module, size_t line, const std::string& value) {
    std::string position, text;
    Worksheet_SplitLine(value, &position, &text);
    unsigned long k = 0;
    if (!Worksheet_ParseCount(position, CHANNEL_POSITIONS - 1, &k)) {
        StoredModule_Fail(module, line, "channel " + Quote(module, position) + " is not 0 to 7");
    } else if (FirstTime(module, line, "channel " + position, &module->channelNameLine[k])) {
        ParseText(module, line, "channel " + position + " name", text, CHANNEL_NAME_TEXT,
                  &module->channelNames[k]);
    }
}

static void ParsePort(StoredModule* module, size_t line, const std::string& value) {
    const char* letter = value.size() == 1 ? std::strchr(PORT_LETTERS, value[0] & ~0x20) : nullptr;
    if (!letter || !*letter) {
        StoredModule_Fail(module, line, "port " + Quote(module, value) + " is not A, B or C");
    } else {
        module->port = static_cast<unsigned long>(letter - PORT_LETTERS);
    }
}

static void ParseDirection(StoredModule* module, size_t line, const std::string& value) {
    if (value == "input" || value == "output") {
        module->portIsOutput = value == "output";
    } else {
        StoredModule_Fail(module, line,
                          "direction " + Quote(module, value) + " is not input or output");
    }
}

static void ParseBytes(StoredModule* module, size_t line, const std::string& value) {
    std::string offset, hex;
    Worksheet_SplitLine(value, &offset, &hex);
    StoredBytes stored;
    stored.line = line;
    if (!Worksheet_ParseCount(offset, sizeof(ModuleSettings) - 1, &stored.offset)) {
        StoredModule_Fail(module, line,
                          "bytes offset " + Quote(module, offset) + " is not 0 to 207");
    } else if (!ParseHex(TrimRight(hex), &stored.bytes) || stored.bytes.empty()) {
        StoredModule_Fail(module, line, "bytes need pairs of hex digits after the offset");
    } else if (stored.offset + stored.bytes.size() > sizeof(ModuleSettings)) {
        StoredModule_Fail(module, line,
                          "bytes from offset " + offset +
                              " run past the end of the 208-byte record");
    } else {
        module->bytes.push_back(stored);
    }
}

static void ParseSettingsHex(StoredModule* module, size_t line, const std::string& value) {
    std::string hex = TrimRight(value), bytes;
    if (hex.size() != SETTINGS_HEX) {
        StoredModule_Fail(module, line,
                          "settings must be " + Number(SETTINGS_HEX) + " hex digits (" +
                              Number(sizeof(ModuleSettings)) + " bytes), found " +
                              Number(hex.size()));
    } else if (!ParseHex(hex, &bytes)) {
        StoredModule_Fail(module, line, "settings hold a character that is no hex digit");
    } else {
        std::memcpy(&module->settings, bytes.data(), sizeof module->settings);
    }
}

static void ParsePattern(StoredModule* module, size_t line, const std::string& value) {
    std::string input, text;
    Worksheet_SplitLine(value, &input, &text);
    unsigned long i = 0;
    Pattern pattern;
    if (!Worksheet_ParseCount(input, REF_MAX_INPUTS - 1, &i)) {
        StoredModule_Fail(module, line, "pattern names no input 0 to 15");
    } else if (FirstTime(module, line, "pattern for input " + input, &module->patternLine[i])) {
        if (!Pattern_Parse(text.c_str(), &pattern)) {
            StoredModule_Fail(module, line,
                              "pattern " + Quote(module, text) + " is not understood");
        } else {
            module->patterns[i] = text;
        }
    }
}

/* The fields a block gives at most once, each with the member that keeps
   its line. */
static size_t* OnceOnlyLine(StoredModule* module, const std::string& key) {
    static const struct {
        const char* key;
        size_t StoredModule::*line;
    } fields[] = {
        {"name", &StoredModule::nameLine},         {"description", &StoredModule::descriptionLine},
        {"inputs", &StoredModule::inputsLine},     {"outputs", &StoredModule::outputsLine},
        {"channels", &StoredModule::channelsLine}, {"direction", &StoredModule::directionLine},
        {"socket", &StoredModule::socketLine},     {"port", &StoredModule::portLine},
        {"settings", &StoredModule::settingsLine}, {"record", &StoredModule::recordLine},
    };
    for (const auto& field : fields) {
        if (key == field.key) {
            return &(module->*field.line);
        }
    }
    return nullptr;
}

void StoredModule_ParseLine(StoredModule* module, size_t line, const std::string& key,
                            const std::string& value) {
    size_t* seen = OnceOnlyLine(module, key);
    if (seen && !FirstTime(module, line, key, seen)) {
        return;
    }
    if (key == "name") {
        ParseText(module, line, key, value, MODULE_NAME_BYTES - 1, &module->name);
    } else if (key == "description") {
        ParseText(module, line, key, value, MODULE_DESCRIPTION_BYTES - 1, &module->description);
    } else if (key == "inputs") {
        ParseCountField(module, line, key, value, 0, CHANNEL_POSITIONS, &module->inputs);
    } else if (key == "outputs") {
        ParseCountField(module, line, key, value, 0, CHANNEL_POSITIONS, &module->outputs);
    } else if (key == "channels") {
        ParseCountField(module, line, key, value, 1, CHANNEL_POSITIONS, &module->channels);
    } else if (key == "direction") {
        ParseDirection(module, line, value);
    } else if (key == "socket") {
        ParseCountField(module, line, key, value, 0, MAX_SOCKET, &module->socket);
    } else if (key == "port") {
        ParsePort(module, line, value);
    } else if (key == "settings") {
        ParseSettingsHex(module, line, value);
    } else if (key == "record") {
        module->record = value == "1";
        if (value != "0" && value != "1") {
            StoredModule_Fail(module, line, "record " + Quote(module, value) + " is not 0 or 1");
        }
    } else if (key == "channel") {
        ParseChannelName(module, line, value);
    } else if (key == "bytes") {
        ParseBytes(module, line, value);
    } else if (key == "pattern") {
        ParsePattern(module, line, value);
    } else {
        StoredModule_Fail(module, line, "unknown field " + Quote(module, key));
    }
}

/* ---- Checking the block ------------------------------------------------------------- */

/* The connectors come from direction and channel count (a module on one port)
   or from the two counts (any module); one form, given whole. */
static void CheckCounts(StoredModule* module) {
    size_t portForm = module->directionLine ? module->directionLine : module->channelsLine;
    size_t countForm = module->inputsLine ? module->inputsLine : module->outputsLine;
    if (portForm && countForm) {
        StoredModule_Fail(module, portForm > countForm ? portForm : countForm,
                          "direction and channels, or inputs and outputs: not both");
        return;
    }
    if (portForm) {
        if (!module->directionLine || !module->channelsLine) {
            StoredModule_Fail(module, module->firstLine,
                              module->directionLine ? "missing channels" : "missing direction");
            return;
        }
        module->inputs = module->portIsOutput ? module->channels : 0;
        module->outputs = module->portIsOutput ? 0 : module->channels;
        return;
    }
    if (!module->inputsLine || !module->outputsLine) {
        StoredModule_Fail(module, module->firstLine,
                          !countForm           ? "missing direction and channels"
                          : module->inputsLine ? "missing outputs"
                                               : "missing inputs");
        return;
    }
    if (module->inputs == 0 && module->outputs == 0) {
        StoredModule_Fail(module, module->inputsLine,
                          "no inputs and no outputs: a module needs at least one channel");
    }
}

static void CheckHexSettings(StoredModule* module) {
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        if (!std::memchr(module->settings.channelNames[k], 0, CHANNEL_NAME_SLOT)) {
            StoredModule_Fail(module, module->settingsLine,
                              "channel name " + Number(k) + " has no terminator within " +
                                  Number(CHANNEL_NAME_SLOT) + " bytes");
        }
    }
}

/* Which field a settings byte belongs to, or null for a byte no field
   describes (after a channel name's terminator, and offsets 194, 195, 200 to
   203). */
static const char* FieldOfByte(const std::string* channelNames, size_t offset, char* text,
                               size_t size) {
    if (offset < SOCKET_OFFSET) {
        size_t k = offset / CHANNEL_NAME_SLOT;
        if (offset % CHANNEL_NAME_SLOT > channelNames[k].size()) {
            return nullptr;
        }
        std::snprintf(text, size, "the name of channel %u", static_cast<unsigned>(k));
        return text;
    }
    if (offset < SOCKET_OFFSET + 2) {
        return "the socket";
    }
    if (offset >= PORT_OFFSET && offset < PORT_OFFSET + 4) {
        return "the port";
    }
    if (offset >= POINTER_OFFSET) {
        return "the output buffer pointer, which a file never holds";
    }
    return nullptr;
}

static void BuildFieldSettings(StoredModule* module) {
    ModuleSettings* settings = &module->settings;
    std::memset(settings, 0, sizeof *settings);
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        std::memcpy(settings->channelNames[k], module->channelNames[k].data(),
                    module->channelNames[k].size());
    }
    settings->socket = static_cast<WORD>(module->socket);
    settings->port = module->port;
    size_t setBy[sizeof(ModuleSettings)] = {0};
    BYTE* bytes = reinterpret_cast<BYTE*>(settings);
    for (size_t i = 0; i < module->bytes.size(); ++i) {
        const StoredBytes& stored = module->bytes[i];
        for (size_t b = 0; b < stored.bytes.size(); ++b) {
            size_t offset = stored.offset + b;
            char field[40];
            const char* owner = FieldOfByte(module->channelNames, offset, field, sizeof field);
            if (owner || setBy[offset]) {
                StoredModule_Fail(module, stored.line,
                                  "bytes at offset " + Number(offset) + " fall on " +
                                      (owner ? std::string(owner)
                                             : "bytes given on line " + Number(setBy[offset])));
                break;
            }
            setBy[offset] = stored.line;
            bytes[offset] = static_cast<BYTE>(stored.bytes[b]);
        }
    }
}

static void CheckFieldSettings(StoredModule* module) {
    size_t field = 0;
    for (unsigned k = 0; k < CHANNEL_POSITIONS && !field; ++k) {
        field = module->channelNameLine[k];
    }
    if (!field && !module->bytes.empty()) {
        field = module->bytes[0].line;
    }
    field = module->socketLine ? module->socketLine : module->portLine ? module->portLine : field;
    if (module->settingsLine && field) {
        StoredModule_Fail(module, field,
                          "the settings line (line " + Number(module->settingsLine) +
                              ") and socket, port, channel or bytes fields: use one form");
        return;
    }
    if (module->settingsLine) {
        CheckHexSettings(module);
        return;
    }
    if (!module->socketLine || !module->portLine) {
        StoredModule_Fail(module, module->firstLine,
                          !module->socketLine ? "missing socket" : "missing port");
        return;
    }
    BuildFieldSettings(module);
}

void StoredModule_Check(StoredModule* module) {
    if (!module->nameLine) {
        StoredModule_Fail(module, module->firstLine, "missing name");
    }
    CheckCounts(module);
    CheckFieldSettings(module);
    module->settings.outputBuffer = nullptr; /* a pointer means nothing in a file */
    for (unsigned i = 0; i < REF_MAX_INPUTS; ++i) {
        if (module->patternLine[i] && i >= module->inputs) {
            StoredModule_Fail(module, module->patternLine[i],
                              "pattern for input " + Number(i) + " of a module with " +
                                  Number(module->inputs) + " inputs");
        }
    }
}

/* ---- Writing ------------------------------------------------------------------------ */

static std::string Terminated(const char* text, size_t size) {
    const void* end = std::memchr(text, 0, size);
    return std::string(text, end ? static_cast<const char*>(end) - text : size);
}

/* The text as the file carries it, or 0 when no line can. */
static int FileText(const std::string& cp932, int utf8Texts, std::string* text) {
    if (utf8Texts) {
        return WorksheetText_ToUtf8(cp932, text);
    }
    *text = cp932;
    return WorksheetText_Printable(cp932);
}

int Worksheet_TextsFitUtf8(RefModule* module) {
    const ModuleRecord& record = module->record;
    std::string text;
    return WorksheetText_ToUtf8(Terminated(record.name, MODULE_NAME_BYTES), &text) &&
           WorksheetText_ToUtf8(Terminated(record.description, MODULE_DESCRIPTION_BYTES), &text);
}

/* The fields restore these exact bytes only when every channel name ends in
   its slot and reads back the same, and socket and port are ones the fields
   can name; otherwise the module keeps the hex line. */
static int SettingsFitFields(const ModuleSettings& settings, int utf8Texts, std::string* names) {
    if (settings.socket > MAX_SOCKET || settings.port >= sizeof PORT_LETTERS - 1) {
        return 0;
    }
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        if (!std::memchr(settings.channelNames[k], 0, CHANNEL_NAME_SLOT) ||
            !FileText(settings.channelNames[k], utf8Texts, &names[k])) {
            return 0;
        }
    }
    return 1;
}

static void WriteHex(FILE* file, const BYTE* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::fprintf(file, "%02X", bytes[i]);
    }
}

/* Every non-zero byte no field describes, one line per run of them. */
static void WriteUncoveredBytes(FILE* file, const ModuleSettings& settings) {
    std::string cp932Names[CHANNEL_POSITIONS];
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        cp932Names[k] = settings.channelNames[k];
    }
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&settings);
    size_t offset = 0;
    while (offset < POINTER_OFFSET) {
        char field[40];
        if (bytes[offset] == 0 || FieldOfByte(cp932Names, offset, field, sizeof field)) {
            ++offset;
            continue;
        }
        size_t end = offset;
        while (end < POINTER_OFFSET && bytes[end] != 0 &&
               !FieldOfByte(cp932Names, end, field, sizeof field)) {
            ++end;
        }
        std::fprintf(file, "bytes %u ", static_cast<unsigned>(offset));
        WriteHex(file, bytes + offset, end - offset);
        std::fprintf(file, "\n");
        offset = end;
    }
}

static void WriteSettings(FILE* file, const ModuleSettings& stored, int utf8Texts) {
    ModuleSettings settings = stored;
    settings.outputBuffer = nullptr;
    std::string names[CHANNEL_POSITIONS];
    if (!SettingsFitFields(settings, utf8Texts, names)) {
        std::fprintf(file, "settings ");
        WriteHex(file, reinterpret_cast<const BYTE*>(&settings), sizeof settings);
        std::fprintf(file, "\n");
        return;
    }
    std::fprintf(file, "socket %u\nport %c\n", static_cast<unsigned>(settings.socket),
                 PORT_LETTERS[settings.port]);
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        if (!names[k].empty()) {
            std::fprintf(file, "channel %u %s\n", k, names[k].c_str());
        }
    }
    WriteUncoveredBytes(file, settings);
}

/* A module on one port says which way the port goes and how many channels it
   has; any other shape keeps the two counts. */
static void WriteCounts(FILE* file, const ModuleRecord& record) {
    DWORD in = record.inputCount, out = record.outputCount;
    if ((in == 0) != (out == 0) && in <= CHANNEL_POSITIONS && out <= CHANNEL_POSITIONS) {
        std::fprintf(file, "direction %s\nchannels %lu\n", in ? "output" : "input",
                     static_cast<unsigned long>(in ? in : out));
    } else {
        std::fprintf(file, "inputs %lu\noutputs %lu\n", static_cast<unsigned long>(in),
                     static_cast<unsigned long>(out));
    }
}

int Worksheet_WriteModule(FILE* file, RefModule* module, int utf8Texts) {
    const ModuleRecord& record = module->record;
    std::string name, description;
    if (!FileText(Terminated(record.name, MODULE_NAME_BYTES), utf8Texts, &name) ||
        !FileText(Terminated(record.description, MODULE_DESCRIPTION_BYTES), utf8Texts,
                  &description)) {
        return 0;
    }
    std::fprintf(file, "module\nname %s\n", name.c_str());
    if (!description.empty()) {
        std::fprintf(file, "description %s\n", description.c_str());
    }
    WriteCounts(file, record);
    WriteSettings(file, *record.settings, utf8Texts);
    for (UINT i = 0; i < record.inputCount && i < REF_MAX_INPUTS; ++i) {
        if (module->inputs[i].hasPattern) {
            char text[300];
            Pattern_Format(&module->inputs[i].pattern, text, sizeof text);
            std::fprintf(file, "pattern %u %s\n", i, text);
        }
    }
    std::fprintf(file, "record %d\nend\n", module->recordOutputs);
    return 1;
}
