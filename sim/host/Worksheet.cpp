/*
 * Worksheet files: the host's modules as plain text, one block per module with
 * its name, description, port, channels and run options (sim/host/WORKSHEET.md).
 * Loading checks every line before a module is restored and names each bad one
 * with its file and line; a damaged or refused module is left out and the
 * others still load.
 */
#include "sim/host/WorksheetInternal.h"
#include "sim/host/WorksheetText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#define MAX_WORKSHEET_SIZE (16u * 1024u * 1024u)
#define DEFAULT_RATE_MS    1.0
#define DEFAULT_BLOCK_SIZE 100u
#define UTF8_MARK          "\xEF\xBB\xBF"

static std::vector<std::string> s_problems;
static double s_rate = DEFAULT_RATE_MS;
static DWORD s_blockSize = DEFAULT_BLOCK_SIZE;
static int s_runLinesBad;

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

int RefHost_WorksheetRunLinesBad(void) {
    return s_runLinesBad;
}

size_t RefHost_WorksheetProblemCount(void) {
    return s_problems.size();
}

const char* RefHost_WorksheetProblem(size_t i) {
    return i < s_problems.size() ? s_problems[i].c_str() : nullptr;
}

/* ---- Saving ---------------------------------------------------------------------- */

/* Names go out in UTF-8 unless a module's name or description holds bytes
   that are no code page 932 text; then the whole file keeps code page 932
   (version 1), so the bytes come back as they were. */
static int FileVersion(void) {
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        if (!Worksheet_TextsFitUtf8(RefHost_Module(i))) {
            return WORKSHEET_HEX_VERSION;
        }
    }
    return WORKSHEET_VERSION;
}

int RefHost_SaveWorksheet(const char* path) {
    FILE* file = path ? std::fopen(path, "wb") : nullptr;
    if (!file) {
        return 0;
    }
    unsigned version = FileVersion();
    std::fprintf(file, "%s %u\n", WORKSHEET_MAGIC, version);
    std::fprintf(file, "rate-ms %.17g\n", s_rate);
    std::fprintf(file, "block-size %lu\n", static_cast<unsigned long>(s_blockSize));
    int written = 1;
    for (size_t i = 0; i < RefHost_ModuleCount() && written; ++i) {
        written = Worksheet_WriteModule(file, RefHost_Module(i), version == WORKSHEET_VERSION);
    }
    int ok = written && std::ferror(file) == 0;
    return std::fclose(file) == 0 && ok;
}

/* ---- Reading -------------------------------------------------------------------- */

struct Lines {
    std::vector<std::string> text;
    size_t next;
};

enum ReadResult { READ_OK, READ_NOT_FOUND, READ_FAILED, READ_TOO_LARGE };

/* A file over the limit is refused whole: cut at the limit, its last module
   would be reported as damaged and every later one silently lost. */
static ReadResult ReadLines(const char* path, Lines* lines) {
    errno = 0;
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return errno == ENOENT ? READ_NOT_FOUND : READ_FAILED;
    }
    std::string all;
    char buffer[4096];
    size_t got;
    while (all.size() <= MAX_WORKSHEET_SIZE &&
           (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        all.append(buffer, got);
    }
    int failed = std::ferror(file);
    std::fclose(file);
    if (failed) {
        return READ_FAILED;
    }
    if (all.size() > MAX_WORKSHEET_SIZE) {
        return READ_TOO_LARGE;
    }
    /* Editors on Windows may start a UTF-8 file with a byte order mark. */
    size_t start = all.compare(0, 3, UTF8_MARK) == 0 ? 3 : 0;
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

static int IsBlankOrComment(const std::string& line) {
    size_t begin = line.find_first_not_of(" \t");
    return begin == std::string::npos || line[begin] == '#';
}

/* "file:line: why", with the module named where the line belongs to one. */
static void Report(const char* path, size_t line, const StoredModule* module,
                   const std::string& why) {
    char head[200];
    std::snprintf(head, sizeof head, ":%u: ", static_cast<unsigned>(line));
    std::string text = path + std::string(head);
    if (module) {
        std::snprintf(head, sizeof head, "module %u ", module->number);
        text += head + ("\"" + module->name + "\": ");
    }
    s_problems.push_back(text + why);
}

/* Reads one module block, the "module" line already taken; stops after "end".
   A block cut short reports only its own bad lines and the cut: what it
   lacks is lacking because of the cut. */
static void ReadModule(Lines* lines, StoredModule* module) {
    while (lines->next < lines->text.size()) {
        size_t line = ++lines->next;
        const std::string& text = lines->text[line - 1];
        if (IsBlankOrComment(text)) {
            continue;
        }
        std::string key, value;
        Worksheet_SplitLine(text, &key, &value);
        if (key == "end") {
            StoredModule_Check(module);
            return;
        }
        if (key == "module") {
            --lines->next;
            StoredModule_Fail(module, line, "the next module begins before this one ends");
            return;
        }
        StoredModule_ParseLine(module, line, key, value);
    }
    StoredModule_Fail(module, lines->text.size(), "the file ends inside the module (no \"end\")");
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
        Report(path, stored->firstLine, stored,
               "refused by the module at restore (event 105)" + WarningsSince(mark));
        return 0;
    }
    for (UINT i = 0; i < REF_MAX_INPUTS; ++i) {
        if (stored->patternLine[i]) {
            RefHost_SetInputPattern(module, i, stored->patterns[i].c_str());
        }
    }
    RefHost_SetRecording(module, stored->recordLine ? stored->record : 1);
    return 1;
}

/* The first statement names the format; returns its version, or 0. */
static unsigned ReadHeader(const char* path, Lines* lines) {
    while (lines->next < lines->text.size() && IsBlankOrComment(lines->text[lines->next])) {
        ++lines->next;
    }
    std::string key, value;
    if (lines->next < lines->text.size()) {
        Worksheet_SplitLine(lines->text[lines->next], &key, &value);
    }
    ++lines->next;
    if (key == WORKSHEET_MAGIC && (value == "1" || value == "2")) {
        return value == "1" ? WORKSHEET_HEX_VERSION : WORKSHEET_VERSION;
    }
    Report(path, lines->next, nullptr,
           "not a worksheet (the first line must be \"orvik-worksheet 2\", or 1 for the old form)");
    return 0;
}

struct RunLines {
    size_t rateLine, blockSizeLine;
};

/* A bad run line leaves the default in place but is reported, and
   RefHost_WorksheetRunLinesBad tells callers not to run on the default. */
static void ParseRunLine(const char* path, size_t line, const std::string& key,
                         const std::string& value, RunLines* seen) {
    size_t* first = key == "rate-ms" ? &seen->rateLine : &seen->blockSizeLine;
    if (*first) {
        char why[80];
        std::snprintf(why, sizeof why, "%s given twice (first on line %u)", key.c_str(),
                      static_cast<unsigned>(*first));
        Report(path, line, nullptr, why);
        s_runLinesBad = 1;
        return;
    }
    *first = line;
    std::string quoted = "\"" + WorksheetText_ForMessage(value) + "\"";
    if (key == "rate-ms") {
        char* end = nullptr;
        double rate = std::strtod(value.c_str(), &end);
        if (value.empty() || end == value.c_str() || *end || !std::isfinite(rate) || rate <= 0.0) {
            Report(path, line, nullptr, "rate-ms " + quoted + " is no positive number");
            s_runLinesBad = 1;
        } else {
            s_rate = rate;
        }
        return;
    }
    unsigned long size = 0;
    if (!Worksheet_ParseCount(value, 65535ul, &size) || size == 0) {
        Report(path, line, nullptr, "block-size " + quoted + " is not 1 to 65535");
        s_runLinesBad = 1;
    } else {
        s_blockSize = size;
    }
}

static void ReportUnreadable(const char* path, ReadResult read) {
    const char* why = read == READ_NOT_FOUND   ? ": not found"
                      : read == READ_TOO_LARGE ? ": larger than 16 MB, not read"
                                               : ": cannot be read";
    s_problems.push_back(std::string(path ? path : "(no file)") + why);
}

/* Reads the next module block and restores it when every line was sound. */
static int LoadModule(const char* path, Lines* lines, size_t line, unsigned number,
                      unsigned version) {
    StoredModule* stored = new (std::nothrow) StoredModule();
    if (!stored) {
        Report(path, line, nullptr, "out of memory reading the module");
        return 0;
    }
    stored->utf8Texts = version == WORKSHEET_VERSION;
    stored->firstLine = line;
    stored->number = number;
    ReadModule(lines, stored);
    int loaded = 0;
    for (size_t i = 0; i < stored->problems.size(); ++i) {
        Report(path, stored->problems[i].line, stored, stored->problems[i].why);
    }
    if (stored->problems.empty()) {
        loaded = RestoreStored(path, stored);
    }
    delete stored;
    return loaded;
}

int RefHost_LoadWorksheet(const char* path) {
    s_problems.clear();
    s_runLinesBad = 0;
    Lines lines;
    ReadResult read = path ? ReadLines(path, &lines) : READ_FAILED;
    if (read != READ_OK) {
        ReportUnreadable(path, read);
        return -1;
    }
    unsigned version = ReadHeader(path, &lines);
    if (!version) {
        return -1;
    }
    DeleteAllModules();
    /* Run parameters the file does not give are the defaults, not the last file's. */
    s_rate = DEFAULT_RATE_MS;
    s_blockSize = DEFAULT_BLOCK_SIZE;
    RunLines seen = {0, 0};
    int loaded = 0;
    unsigned number = 0;
    while (lines.next < lines.text.size()) {
        size_t line = ++lines.next;
        const std::string& text = lines.text[line - 1];
        if (IsBlankOrComment(text)) {
            continue;
        }
        std::string key, value;
        Worksheet_SplitLine(text, &key, &value);
        if (key == "rate-ms" || key == "block-size") {
            ParseRunLine(path, line, key, value, &seen);
        } else if (key == "module") {
            loaded += LoadModule(path, &lines, line, ++number, version);
        } else {
            Report(path, line, nullptr,
                   "unknown line \"" + WorksheetText_ForMessage(key) + "\" outside a module");
        }
    }
    return loaded;
}
