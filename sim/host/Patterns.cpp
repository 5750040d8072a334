/*
 * The reference host's pattern generator: pattern texts as the command line and
 * worksheets give them, and each pattern's value at a sample index. A square
 * wave of an odd period is high for the longer half (period / 2 rounded up). A
 * CSV pattern reads its file once, on first use, and keeps the column's values
 * until Pattern_ReleaseAll; which pattern feeds which channel is the run's
 * business.
 *
 * CSV files: fields are separated by commas and may be quoted; blank lines are
 * skipped; the first line is a header when its field in the column is not a
 * number; a later row whose field is missing or not a number gives 0.0, so that
 * every row keeps its place in time.
 */
#include "sim/host/Patterns.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define LEVEL_HIGH        5.0f
#define LEVEL_LOW         0.0f
#define COUNTER_LAST_BIT  31u
#define SQUARE_MIN_PERIOD 2u
#define PATH_BYTES        (sizeof(Pattern::path))
#define FIRST_VALUES      256u

/* ---- Parsing ---------------------------------------------------------------- */

/* A double beyond the float range has no float value (the conversion would be
   undefined), so it saturates. */
static float ToFloat(double value) {
    if (value > FLT_MAX)
        return FLT_MAX;
    if (value < -FLT_MAX)
        return -FLT_MAX;
    return static_cast<float>(value);
}

/* Case-insensitive match of the keyword and its colon; returns the rest. */
static const char* AfterKeyword(const char* text, const char* keyword) {
    size_t length = strlen(keyword);
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i])
            return nullptr;
    }
    return text[length] == ':' ? text + length + 1 : nullptr;
}

/* Decimal digits only, nothing before or after, no overflow. */
static int ParseUnsigned(const char* text, size_t length, unsigned* value) {
    unsigned long long total = 0;
    if (length == 0)
        return 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        total = total * 10u + static_cast<unsigned>(text[i] - '0');
        if (total > UINT_MAX)
            return 0;
    }
    *value = static_cast<unsigned>(total);
    return 1;
}

/* A finite number filling the whole text; no blanks around it. */
static int ParseNumber(const char* text, size_t length, double* value) {
    char buffer[64];
    if (length == 0 || length >= sizeof(buffer))
        return 0;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    if (buffer[0] == ' ' || buffer[0] == '\t')
        return 0;
    char* end = nullptr;
    errno = 0;
    double number = strtod(buffer, &end);
    if (end != buffer + length || errno == ERANGE || !std::isfinite(number))
        return 0;
    *value = number;
    return 1;
}

/* "path:column": the column follows the last colon, so a drive letter in the
   path is fine. Code page 932 trail bytes never equal ':'. */
static int ParseCsvPattern(const char* rest, Pattern* pattern) {
    const char* colon = strrchr(rest, ':');
    if (!colon || colon == rest)
        return 0;
    size_t pathLength = static_cast<size_t>(colon - rest);
    if (pathLength >= PATH_BYTES)
        return 0;
    if (!ParseUnsigned(colon + 1, strlen(colon + 1), &pattern->column))
        return 0;
    memcpy(pattern->path, rest, pathLength);
    pattern->path[pathLength] = '\0';
    pattern->kind = PATTERN_CSV;
    return 1;
}

static int ParseInto(const char* text, Pattern* pattern) {
    const char* rest;
    if ((rest = AfterKeyword(text, "const")) != nullptr) {
        pattern->kind = PATTERN_CONSTANT;
        return ParseNumber(rest, strlen(rest), &pattern->level) && fabs(pattern->level) <= FLT_MAX;
    }
    if ((rest = AfterKeyword(text, "square")) != nullptr) {
        pattern->kind = PATTERN_SQUARE;
        return ParseUnsigned(rest, strlen(rest), &pattern->period) &&
               pattern->period >= SQUARE_MIN_PERIOD;
    }
    if ((rest = AfterKeyword(text, "counter")) != nullptr) {
        pattern->kind = PATTERN_COUNTER;
        return ParseUnsigned(rest, strlen(rest), &pattern->bit) && pattern->bit <= COUNTER_LAST_BIT;
    }
    if ((rest = AfterKeyword(text, "csv")) != nullptr)
        return ParseCsvPattern(rest, pattern);
    return 0;
}

int Pattern_Parse(const char* text, Pattern* pattern) {
    Pattern parsed;
    if (!text || !pattern)
        return 0;
    memset(&parsed, 0, sizeof(parsed));
    if (!ParseInto(text, &parsed))
        return 0;
    *pattern = parsed;
    return 1;
}

/* The shortest text that reads back as the same double. */
static void FormatLevel(double level, char* text, unsigned size) {
    for (int digits = 15; digits <= 17; ++digits) {
        snprintf(text, size, "%.*g", digits, level);
        if (strtod(text, nullptr) == level)
            return;
    }
}

void Pattern_Format(const Pattern* pattern, char* text, unsigned size) {
    char level[40];
    if (!text || size == 0)
        return;
    text[0] = '\0';
    if (!pattern)
        return;
    switch (pattern->kind) {
    case PATTERN_CONSTANT:
        FormatLevel(pattern->level, level, sizeof(level));
        snprintf(text, size, "const:%s", level);
        break;
    case PATTERN_SQUARE:
        snprintf(text, size, "square:%u", pattern->period);
        break;
    case PATTERN_COUNTER:
        snprintf(text, size, "counter:%u", pattern->bit);
        break;
    case PATTERN_CSV:
        snprintf(text, size, "csv:%.*s:%u", static_cast<int>(PATH_BYTES), pattern->path,
                 pattern->column);
        break;
    }
}

/* ---- CSV columns ------------------------------------------------------------------ */

struct CsvColumn {
    char path[PATH_BYTES];
    unsigned column;
    float* values;
    size_t count;
    size_t capacity;
};

static CsvColumn* s_columns;
static size_t s_columnCount;
static size_t s_columnCapacity;

static int AppendValue(CsvColumn* column, float value) {
    if (column->count == column->capacity) {
        size_t grown = column->capacity ? column->capacity * 2u : FIRST_VALUES;
        if (grown > static_cast<size_t>(-1) / sizeof(float) / 2u)
            return 0;
        float* moved = static_cast<float*>(realloc(column->values, grown * sizeof(float)));
        if (!moved)
            return 0;
        column->values = moved;
        column->capacity = grown;
    }
    column->values[column->count++] = value;
    return 1;
}

/* Finds field index of the line [line, end): returns 1 and its bounds without
   blanks and quotes, or 0 when the line has fewer fields. */
static int FindField(const char* line, const char* end, unsigned index, const char** first,
                     const char** last) {
    const char* c = line;
    for (unsigned field = 0;; ++field) {
        const char* start = c;
        int quoted = 0;
        while (c < end && (quoted || *c != ',')) {
            if (*c == '"')
                quoted = !quoted;
            ++c;
        }
        if (field == index) {
            while (start < c && (*start == ' ' || *start == '\t' || *start == '"'))
                ++start;
            const char* stop = c;
            while (stop > start && (stop[-1] == ' ' || stop[-1] == '\t' || stop[-1] == '"'))
                --stop;
            *first = start;
            *last = stop;
            return 1;
        }
        if (c >= end)
            return 0;
        ++c;
    }
}

static int IsBlankLine(const char* line, const char* end) {
    for (const char* c = line; c < end; ++c) {
        if (*c != ' ' && *c != '\t')
            return 0;
    }
    return 1;
}

/* Returns 1 and the line's value, or 0 when its field is missing or no number. */
static int FieldValue(const char* line, const char* end, unsigned index, double* value) {
    const char* first;
    const char* last;
    if (!FindField(line, end, index, &first, &last))
        return 0;
    return ParseNumber(first, static_cast<size_t>(last - first), value);
}

static int TakeLines(CsvColumn* column, const char* text, size_t length) {
    const char* end = text + length;
    const char* line = text;
    if (length >= 3u && memcmp(text, "\xEF\xBB\xBF", 3u) == 0)
        line += 3;
    int firstLine = 1;
    while (line < end) {
        const char* stop = static_cast<const char*>(memchr(line, '\n', end - line));
        const char* next = stop ? stop + 1 : end;
        if (!stop)
            stop = end;
        if (stop > line && stop[-1] == '\r')
            --stop;
        if (!IsBlankLine(line, stop)) {
            double value = 0.0;
            int numeric = FieldValue(line, stop, column->column, &value);
            if ((numeric || !firstLine) && !AppendValue(column, ToFloat(value)))
                return 0;
            firstLine = 0;
        }
        line = next;
    }
    return 1;
}

/* Reads the whole file; 0 when it cannot be read or memory runs out. */
static int ReadWholeFile(const char* path, char** text, size_t* length) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return 0;
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        size = ftell(file);
    char* buffer = size >= 0 ? static_cast<char*>(malloc(static_cast<size_t>(size) + 1u)) : nullptr;
    int ok = buffer && fseek(file, 0, SEEK_SET) == 0 &&
             fread(buffer, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    fclose(file);
    if (!ok) {
        free(buffer);
        return 0;
    }
    *text = buffer;
    *length = static_cast<size_t>(size);
    return 1;
}

/* An unreadable file, or one that runs out of memory half way, keeps no values:
   the pattern is then 0.0 throughout rather than a cut-off copy of the file. */
static void LoadColumn(CsvColumn* column) {
    char* text = nullptr;
    size_t length = 0;
    if (!ReadWholeFile(column->path, &text, &length))
        return;
    if (!TakeLines(column, text, length)) {
        free(column->values);
        column->values = nullptr;
        column->count = 0;
        column->capacity = 0;
    }
    free(text);
}

static const CsvColumn* FindColumn(const Pattern* pattern) {
    for (size_t i = 0; i < s_columnCount; ++i) {
        if (s_columns[i].column == pattern->column && strcmp(s_columns[i].path, pattern->path) == 0)
            return &s_columns[i];
    }
    return nullptr;
}

static const CsvColumn* LoadedColumn(const Pattern* pattern) {
    const CsvColumn* found = FindColumn(pattern);
    if (found)
        return found;
    if (s_columnCount == s_columnCapacity) {
        size_t grown = s_columnCapacity ? s_columnCapacity * 2u : 8u;
        CsvColumn* moved = static_cast<CsvColumn*>(realloc(s_columns, grown * sizeof(CsvColumn)));
        if (!moved)
            return nullptr;
        s_columns = moved;
        s_columnCapacity = grown;
    }
    CsvColumn* column = &s_columns[s_columnCount++];
    memset(column, 0, sizeof(*column));
    memcpy(column->path, pattern->path, PATH_BYTES);
    column->path[PATH_BYTES - 1u] = '\0';
    column->column = pattern->column;
    LoadColumn(column);
    return column;
}

void Pattern_ReleaseAll(void) {
    for (size_t i = 0; i < s_columnCount; ++i)
        free(s_columns[i].values);
    free(s_columns);
    s_columns = nullptr;
    s_columnCount = 0;
    s_columnCapacity = 0;
}

/* ---- Values ------------------------------------------------------------------------ */

static float SquareValue(unsigned period, unsigned long long n) {
    unsigned long long highSamples = (period + 1ull) / 2u;
    return n % period < highSamples ? LEVEL_HIGH : LEVEL_LOW;
}

static float CsvValue(const Pattern* pattern, unsigned long long n) {
    const CsvColumn* column = LoadedColumn(pattern);
    if (!column || column->count == 0)
        return LEVEL_LOW;
    return column->values[n % column->count];
}

float Pattern_Value(const Pattern* pattern, unsigned long long n) {
    if (!pattern)
        return LEVEL_LOW;
    switch (pattern->kind) {
    case PATTERN_CONSTANT:
        return ToFloat(pattern->level);
    case PATTERN_SQUARE:
        return pattern->period >= SQUARE_MIN_PERIOD ? SquareValue(pattern->period, n) : LEVEL_LOW;
    case PATTERN_COUNTER:
        return pattern->bit <= COUNTER_LAST_BIT && ((n >> pattern->bit) & 1u) ? LEVEL_HIGH
                                                                              : LEVEL_LOW;
    case PATTERN_CSV:
        return CsvValue(pattern, n);
    }
    return LEVEL_LOW;
}
