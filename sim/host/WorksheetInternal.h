/*
 * What the worksheet reader and writer share: one module block as read from a
 * file, before the module is restored, and the field parsers that fill it.
 */
#pragma once

#include "sim/host/HostInternal.h"

#include <cstdio>
#include <string>
#include <vector>

#define WORKSHEET_MAGIC       "orvik-worksheet"
#define WORKSHEET_HEX_VERSION 1u /* the old form: names as code page 932 bytes */
#define WORKSHEET_VERSION     2u /* names in UTF-8, settings as fields */

/* A "bytes" line: settings bytes that no field describes. */
struct StoredBytes {
    size_t line;
    unsigned long offset;
    std::string bytes;
};

struct StoredProblem {
    size_t line;
    std::string why;
};

/* What one module block of the file says. Texts are held in code page 932,
   as the record will hold them; each field remembers its line (0 while not
   given), so a field given twice or in conflict is named by its line. */
struct StoredModule {
    int utf8Texts; /* the file's texts are UTF-8 (version 2) */
    size_t firstLine;
    unsigned number;
    std::string name, description;
    unsigned long inputs, outputs, channels, socket, port;
    int portIsOutput; /* from "direction" */
    int record;
    std::string channelNames[CHANNEL_POSITIONS];
    std::vector<StoredBytes> bytes;
    ModuleSettings settings; /* the hex line's bytes, then what is restored */
    std::string patterns[REF_MAX_INPUTS];
    size_t nameLine, descriptionLine, inputsLine, outputsLine, directionLine, channelsLine;
    size_t socketLine, portLine, settingsLine, recordLine;
    size_t channelNameLine[CHANNEL_POSITIONS];
    size_t patternLine[REF_MAX_INPUTS];
    std::vector<StoredProblem> problems; /* empty while the block is sound */
};

/* Splits "key value": the key is the first word, the value everything after the
   one blank that follows it (kept byte for byte, blanks included). */
void Worksheet_SplitLine(const std::string& line, std::string* key, std::string* value);
/* A decimal count of at most ten digits, at most limit. Returns 1 or 0. */
int Worksheet_ParseCount(const std::string& text, unsigned long limit, unsigned long* count);

void StoredModule_Fail(StoredModule* module, size_t line, const std::string& why);
/* One line of the block (not "module" or "end"). */
void StoredModule_ParseLine(StoredModule* module, size_t line, const std::string& key,
                            const std::string& value);
/* At "end": checks the block as a whole and fills the connector counts and
   the settings record. */
void StoredModule_Check(StoredModule* module);

/* 1 when the module's name, description and channel names all read back
   the same from UTF-8; otherwise the file keeps its texts as code page 932. */
int Worksheet_TextsFitUtf8(RefModule* module);
/* Writes the module block; 0 when a text of the module holds a character no
   line can carry (a line break). */
int Worksheet_WriteModule(FILE* file, RefModule* module, int utf8Texts);
