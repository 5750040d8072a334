/*
 * The reference host's recorder. Each channel keeps its samples in one growing
 * float array and the blocks they came in as segments (start, distance, first
 * index, count), so a sample's time is its block's start plus its place in the
 * block times the distance: the times the module stamped, not a grid the
 * recorder made up. The writers merge the channels by time with fixed-size
 * cursors and allocate nothing. Which blocks reach the recorder, and when, is
 * the run's business.
 */
#include "sim/host/Recorder.h"

#include <windows.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define RECORDER_NAME_BYTES 64u
#define RECORDER_CODE_PAGE  932u
#define HIGH_LEVEL          5.0f
/* Samples of different channels closer than this are one row of the CSV: two
   modules at one rate stamp times that may differ in the last bits. */
#define SAME_TIME_SECONDS 1e-9
/* A time beyond about thirty years is a broken stamp, not a long run; the bound
   also keeps the dump's microsecond counts exact in a double. */
#define LATEST_TIME_SECONDS    1e9
#define FIRST_SAMPLE_CAPACITY  1024u
#define FIRST_SEGMENT_CAPACITY 16u
/* A stored name in UTF-8: no code page 932 byte needs more than three. */
#define UTF8_NAME_BYTES     (3u * RECORDER_NAME_BYTES + 1u)
#define UTF8_MAX_CHARACTERS 511u

struct Segment {
    double startTime;
    double sampleDistance;
    size_t firstIndex;
    unsigned count;
};

struct Channel {
    char moduleName[RECORDER_NAME_BYTES];
    char channelName[RECORDER_NAME_BYTES];
    float* samples;
    size_t sampleCount;
    size_t sampleCapacity;
    Segment* segments;
    size_t segmentCount;
    size_t segmentCapacity;
};

static Channel s_channels[RECORDER_MAX_CHANNELS];
static unsigned s_channelCount;

/* ---- Names ------------------------------------------------------------------ */

static int IsLeadByte(char c) {
    return IsDBCSLeadByteEx(RECORDER_CODE_PAGE, static_cast<BYTE>(c)) ? 1 : 0;
}

/* Bytes of the character at text: 2 for a lead byte with its trail, else 1. */
static unsigned CharBytes(const char* text) {
    return IsLeadByte(text[0]) && text[1] != '\0' ? 2u : 1u;
}

/* Copies at most size - 1 bytes and never keeps half of a double-byte character. */
static void CopyName(char* target, unsigned size, const char* source) {
    unsigned used = 0;
    if (source) {
        while (source[used] != '\0') {
            unsigned bytes = CharBytes(source + used);
            if (used + bytes > size - 1u)
                break;
            memcpy(target + used, source + used, bytes);
            used += bytes;
        }
    }
    target[used] = '\0';
}

/* Without the code page every character above ASCII becomes one '?', so the
   text stays valid UTF-8 whatever the name held. */
static void CopyAsciiOnly(const char* text, char* target, unsigned size) {
    unsigned used = 0;
    for (const char* c = text; *c != '\0' && used + 1u < size; c += CharBytes(c))
        target[used++] = static_cast<BYTE>(*c) < 0x80u ? *c : '?';
    target[used] = '\0';
}

int Recorder_ToUtf8(const char* text, char* target, unsigned size) {
    WCHAR wide[UTF8_MAX_CHARACTERS + 1u];
    if (!target || size == 0)
        return 0;
    target[0] = '\0';
    if (!text)
        return 1;
    int wideCount = MultiByteToWideChar(RECORDER_CODE_PAGE, MB_ERR_INVALID_CHARS, text, -1, wide,
                                        static_cast<int>(sizeof(wide) / sizeof(wide[0])));
    if (wideCount > 0 && WideCharToMultiByte(CP_UTF8, 0, wide, -1, target, static_cast<int>(size),
                                             nullptr, nullptr) > 0)
        return 1;
    CopyAsciiOnly(text, target, size);
    return 0;
}

/* ---- Recording ---------------------------------------------------------------- */

static void FreeChannel(Channel* channel) {
    free(channel->samples);
    free(channel->segments);
    memset(channel, 0, sizeof(*channel));
}

void Recorder_End(void) {
    for (unsigned i = 0; i < s_channelCount; ++i)
        FreeChannel(&s_channels[i]);
    s_channelCount = 0;
}

int Recorder_Begin(void) {
    Recorder_End();
    return 1;
}

int Recorder_AddChannel(const char* moduleName, const char* channelName) {
    if (s_channelCount >= RECORDER_MAX_CHANNELS)
        return -1;
    Channel* channel = &s_channels[s_channelCount];
    memset(channel, 0, sizeof(*channel));
    CopyName(channel->moduleName, RECORDER_NAME_BYTES, moduleName);
    CopyName(channel->channelName, RECORDER_NAME_BYTES, channelName);
    return static_cast<int>(s_channelCount++);
}

static Channel* ChannelAt(int index) {
    if (index < 0 || static_cast<unsigned>(index) >= s_channelCount)
        return nullptr;
    return &s_channels[index];
}

/* Grows *items to hold at least needed elements of itemSize bytes. */
static int Reserve(void** items, size_t* capacity, size_t needed, size_t itemSize, size_t first) {
    if (needed <= *capacity)
        return 1;
    size_t grown = *capacity ? *capacity : first;
    while (grown < needed) {
        if (grown > static_cast<size_t>(-1) / 2u)
            return 0;
        grown *= 2u;
    }
    if (grown > static_cast<size_t>(-1) / itemSize)
        return 0;
    void* moved = realloc(*items, grown * itemSize);
    if (!moved)
        return 0;
    *items = moved;
    *capacity = grown;
    return 1;
}

static double SegmentTime(const Segment* segment, unsigned offset) {
    return segment->startTime + offset * segment->sampleDistance;
}

static double LastTime(const Channel* channel) {
    const Segment* last = &channel->segments[channel->segmentCount - 1u];
    return SegmentTime(last, last->count - 1u);
}

/* Every channel's times must rise, so that the files can be merged by time and
   the dump's timestamps only go forward. */
static int BlockFits(const Channel* channel, double startTime, double sampleDistance,
                     unsigned sampleCount) {
    if (!std::isfinite(startTime) || !std::isfinite(sampleDistance))
        return 0;
    if (startTime < 0.0 || sampleDistance <= SAME_TIME_SECONDS)
        return 0;
    if (startTime + (sampleCount - 1u) * sampleDistance > LATEST_TIME_SECONDS)
        return 0;
    return channel->segmentCount == 0 || startTime > LastTime(channel) + SAME_TIME_SECONDS;
}

int Recorder_AddBlock(int channelIndex, double startTime, double sampleDistance,
                      const float* samples, unsigned sampleCount) {
    Channel* channel = ChannelAt(channelIndex);
    if (!channel)
        return 0;
    if (sampleCount == 0)
        return 1;
    if (!samples || !BlockFits(channel, startTime, sampleDistance, sampleCount))
        return 0;
    if (channel->sampleCount > static_cast<size_t>(-1) - sampleCount)
        return 0;
    void* items = channel->samples;
    int grown = Reserve(&items, &channel->sampleCapacity, channel->sampleCount + sampleCount,
                        sizeof(float), FIRST_SAMPLE_CAPACITY);
    channel->samples = static_cast<float*>(items);
    if (!grown)
        return 0;
    items = channel->segments;
    grown = Reserve(&items, &channel->segmentCapacity, channel->segmentCount + 1u, sizeof(Segment),
                    FIRST_SEGMENT_CAPACITY);
    channel->segments = static_cast<Segment*>(items);
    if (!grown)
        return 0;
    Segment* segment = &channel->segments[channel->segmentCount++];
    segment->startTime = startTime;
    segment->sampleDistance = sampleDistance;
    segment->firstIndex = channel->sampleCount;
    segment->count = sampleCount;
    memcpy(channel->samples + channel->sampleCount, samples, sampleCount * sizeof(float));
    channel->sampleCount += sampleCount;
    return 1;
}

unsigned Recorder_ChannelCount(void) {
    return s_channelCount;
}

size_t Recorder_SampleCount(int channelIndex) {
    const Channel* channel = ChannelAt(channelIndex);
    return channel ? channel->sampleCount : 0;
}

float Recorder_Sample(int channelIndex, size_t index) {
    const Channel* channel = ChannelAt(channelIndex);
    if (!channel || index >= channel->sampleCount)
        return 0.0f;
    return channel->samples[index];
}

/* The segment holding sample index, by binary search over the first indices. */
static const Segment* SegmentOf(const Channel* channel, size_t index) {
    size_t low = 0;
    size_t high = channel->segmentCount;
    while (high - low > 1u) {
        size_t middle = low + (high - low) / 2u;
        if (channel->segments[middle].firstIndex <= index)
            low = middle;
        else
            high = middle;
    }
    return &channel->segments[low];
}

double Recorder_SampleTime(int channelIndex, size_t index) {
    const Channel* channel = ChannelAt(channelIndex);
    if (!channel || index >= channel->sampleCount)
        return 0.0;
    const Segment* segment = SegmentOf(channel, index);
    return SegmentTime(segment, static_cast<unsigned>(index - segment->firstIndex));
}

/* ---- Merging by time ----------------------------------------------------------- */

struct Cursor {
    size_t segment;
    unsigned offset;
};

static void ResetCursors(Cursor* cursors) {
    memset(cursors, 0, sizeof(Cursor) * RECORDER_MAX_CHANNELS);
}

/* Returns 1 and the time of the channel's next sample, or 0 when it has none left. */
static int CursorTime(unsigned channelIndex, const Cursor* cursor, double* time) {
    const Channel* channel = &s_channels[channelIndex];
    if (cursor->segment >= channel->segmentCount)
        return 0;
    *time = SegmentTime(&channel->segments[cursor->segment], cursor->offset);
    return 1;
}

static float CursorSample(unsigned channelIndex, const Cursor* cursor) {
    const Channel* channel = &s_channels[channelIndex];
    return channel->samples[channel->segments[cursor->segment].firstIndex + cursor->offset];
}

static void AdvanceCursor(unsigned channelIndex, Cursor* cursor) {
    const Channel* channel = &s_channels[channelIndex];
    if (++cursor->offset >= channel->segments[cursor->segment].count) {
        ++cursor->segment;
        cursor->offset = 0;
    }
}

/* The earliest next sample time over all channels; 0 when every channel is done. */
static int EarliestTime(const Cursor* cursors, double* earliest) {
    int found = 0;
    for (unsigned i = 0; i < s_channelCount; ++i) {
        double time;
        if (CursorTime(i, &cursors[i], &time) && (!found || time < *earliest)) {
            *earliest = time;
            found = 1;
        }
    }
    return found;
}

/* Whether the channel's next sample belongs to the row at rowTime. */
static int InRow(unsigned channelIndex, const Cursor* cursor, double rowTime) {
    double time;
    return CursorTime(channelIndex, cursor, &time) && time <= rowTime + SAME_TIME_SECONDS;
}

static int IsHigh(float sample) {
    return sample >= HIGH_LEVEL;
}

/* The end of the recording: one sample distance after its latest sample. */
static int RecordingSpan(double* first, double* end) {
    int found = 0;
    for (unsigned i = 0; i < s_channelCount; ++i) {
        const Channel* channel = &s_channels[i];
        if (channel->segmentCount == 0)
            continue;
        double start = channel->segments[0].startTime;
        double stop =
            LastTime(channel) + channel->segments[channel->segmentCount - 1u].sampleDistance;
        if (!found || start < *first)
            *first = start;
        if (!found || stop > *end)
            *end = stop;
        found = 1;
    }
    return found;
}

/* ---- Output files --------------------------------------------------------------- */

/* An output file that remembers the first failed write; a file that could not
   be written completely is removed, so that no half file passes for a result. */
struct OutputFile {
    explicit OutputFile(const char* path)
        : path_(path), file_(path ? fopen(path, "wb") : nullptr), ok_(file_ != nullptr) {}
    ~OutputFile() {
        Close();
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Print(const char* format, ...) {
        if (!ok_)
            return;
        va_list arguments;
        va_start(arguments, format);
        if (vfprintf(file_, format, arguments) < 0)
            ok_ = 0;
        va_end(arguments);
    }
    void Put(const char* text) {
        if (ok_ && fputs(text, file_) < 0)
            ok_ = 0;
    }
    void PutChar(char c) {
        if (ok_ && fputc(static_cast<unsigned char>(c), file_) == EOF)
            ok_ = 0;
    }
    int Close() {
        if (file_) {
            if (fclose(file_) != 0)
                ok_ = 0;
            file_ = nullptr;
            if (!ok_)
                remove(path_);
        }
        return ok_;
    }

  private:
    const char* path_;
    FILE* file_;
    int ok_;
};

/* Seconds to the nanosecond, without trailing zeros: "0", "0.001", "12.5". */
static void FormatSeconds(double seconds, char* text, unsigned size) {
    snprintf(text, size, "%.9f", seconds);
    char* end = text + strlen(text);
    while (end > text && end[-1] == '0')
        *--end = '\0';
    if (end > text && end[-1] == '.')
        *--end = '\0';
    if (strcmp(text, "-0") == 0)
        strcpy(text, "0");
}

/* ---- CSV ------------------------------------------------------------------------ */

static int NeedsQuotes(const char* text) {
    return strpbrk(text, ",\"\r\n") != nullptr;
}

/* Names go out as their code page 932 bytes; the lead/trail bytes never look
   like a comma, quote or line break, so quoting can work on bytes. */
static void PutCsvName(OutputFile* out, const Channel* channel) {
    int quoted = NeedsQuotes(channel->moduleName) || NeedsQuotes(channel->channelName);
    const char* parts[2] = {channel->moduleName, channel->channelName};
    if (quoted)
        out->PutChar('"');
    for (unsigned part = 0; part < 2u; ++part) {
        if (part == 1u)
            out->PutChar('/');
        for (const char* c = parts[part]; *c != '\0'; ++c) {
            if (*c == '"')
                out->PutChar('"');
            out->PutChar(*c);
        }
    }
    if (quoted)
        out->PutChar('"');
}

static void PutCsvRow(OutputFile* out, Cursor* cursors, double rowTime) {
    char text[64];
    FormatSeconds(rowTime, text, sizeof(text));
    out->Put(text);
    for (unsigned i = 0; i < s_channelCount; ++i) {
        out->PutChar(',');
        if (!InRow(i, &cursors[i], rowTime))
            continue;
        out->Print("%g", static_cast<double>(CursorSample(i, &cursors[i])));
        AdvanceCursor(i, &cursors[i]);
    }
    out->Put("\r\n");
}

int Recorder_WriteCsv(const char* path) {
    Cursor cursors[RECORDER_MAX_CHANNELS];
    OutputFile out(path);
    out.Put("time_s");
    for (unsigned i = 0; i < s_channelCount; ++i) {
        out.PutChar(',');
        PutCsvName(&out, &s_channels[i]);
    }
    out.Put("\r\n");
    ResetCursors(cursors);
    double rowTime;
    while (EarliestTime(cursors, &rowTime))
        PutCsvRow(&out, cursors, rowTime);
    return out.Close();
}

/* ---- VCD ------------------------------------------------------------------------ */

typedef char VcdName[RECORDER_NAME_BYTES + 16u];

static int IsVcdNameChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           c == '-';
}

/* Viewers split names at blanks and read brackets and dots as structure, so
   anything else, a Japanese character included, becomes one '_' per run, none
   at either end. A name left without a letter or digit is replaced by fallback
   and its number. */
static void MakeVcdName(const char* text, const char* fallback, unsigned number, char* name,
                        unsigned size) {
    unsigned used = 0;
    int readable = 0;
    for (const char* c = text; *c != '\0' && used + 1u < size; c += CharBytes(c)) {
        if (IsVcdNameChar(*c)) {
            name[used++] = *c;
            readable |= *c != '_' && *c != '-';
        } else if (used == 0 || name[used - 1u] != '_') {
            name[used++] = '_';
        }
    }
    while (used > 0 && name[used - 1u] == '_')
        --used;
    name[used] = '\0';
    unsigned lead = 0;
    while (name[lead] == '_')
        ++lead;
    memmove(name, name + lead, used - lead + 1u);
    if (!readable)
        snprintf(name, size, "%s%u", fallback, number);
}

/* Appends "_2", "_3", ... until the name differs from every earlier one. */
static void MakeUnique(VcdName* names, unsigned index, const unsigned* group, unsigned groupOf) {
    char base[sizeof(VcdName)];
    strcpy(base, names[index]);
    for (unsigned suffix = 2;; ++suffix) {
        int clash = 0;
        for (unsigned i = 0; i < index && !clash; ++i)
            clash = group[i] == groupOf && strcmp(names[i], names[index]) == 0;
        if (!clash)
            return;
        snprintf(names[index], sizeof(VcdName), "%.*s_%u", static_cast<int>(RECORDER_NAME_BYTES),
                 base, suffix);
    }
}

/* Short identifiers from the printable characters '!' to '~', base 94. */
static void VcdIdentifier(unsigned index, char* id) {
    unsigned used = 0;
    do {
        id[used++] = static_cast<char>('!' + index % 94u);
        index /= 94u;
    } while (index > 0);
    id[used] = '\0';
}

struct VcdLayout {
    unsigned moduleOf[RECORDER_MAX_CHANNELS]; /* index of the channel's module */
    unsigned moduleCount;
    unsigned firstChannel[RECORDER_MAX_CHANNELS]; /* a channel of each module */
    VcdName moduleNames[RECORDER_MAX_CHANNELS];
    VcdName channelNames[RECORDER_MAX_CHANNELS];
    char ids[RECORDER_MAX_CHANNELS][4];
};

static unsigned ModuleIndex(const VcdLayout* layout, const char* moduleName) {
    unsigned m = 0;
    while (m < layout->moduleCount &&
           strcmp(s_channels[layout->firstChannel[m]].moduleName, moduleName) != 0)
        ++m;
    return m;
}

/* Groups the channels by module name, in the order modules first appear. */
static void BuildVcdLayout(VcdLayout* layout) {
    unsigned noGroup[RECORDER_MAX_CHANNELS] = {0};
    unsigned positionInModule[RECORDER_MAX_CHANNELS] = {0};
    layout->moduleCount = 0;
    for (unsigned i = 0; i < s_channelCount; ++i) {
        unsigned m = ModuleIndex(layout, s_channels[i].moduleName);
        if (m == layout->moduleCount) {
            layout->firstChannel[m] = i;
            MakeVcdName(s_channels[i].moduleName, "module", m + 1u, layout->moduleNames[m],
                        sizeof(VcdName));
            MakeUnique(layout->moduleNames, m, noGroup, 0);
            ++layout->moduleCount;
        }
        layout->moduleOf[i] = m;
        MakeVcdName(s_channels[i].channelName, "ch", ++positionInModule[m], layout->channelNames[i],
                    sizeof(VcdName));
        MakeUnique(layout->channelNames, i, layout->moduleOf, m);
        VcdIdentifier(i, layout->ids[i]);
    }
}

static void PutVcdHeader(OutputFile* out, const VcdLayout* layout) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    out->Print("$date\n   %04u-%02u-%02u %02u:%02u:%02u\n$end\n", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
    out->Put("$version\n   Orvik reference host recorder\n$end\n");
    out->Put("$timescale 1us $end\n");
    for (unsigned m = 0; m < layout->moduleCount; ++m) {
        out->Print("$scope module %s $end\n", layout->moduleNames[m]);
        for (unsigned i = 0; i < s_channelCount; ++i) {
            if (layout->moduleOf[i] == m)
                out->Print("$var wire 1 %s %s $end\n", layout->ids[i], layout->channelNames[i]);
        }
        out->Put("$upscope $end\n");
    }
    out->Put("$enddefinitions $end\n");
}

static long long Microseconds(double seconds) {
    return llround(seconds * 1e6);
}

/* What the dump says so far, and the levels gathered for the current microsecond. */
struct VcdState {
    char shown[RECORDER_MAX_CHANNELS];
    char level[RECORDER_MAX_CHANNELS];
    long long stamp;
    long long lastWritten;
    int started;
    int dumped;
};

/* The first stamp carries every initial value ('x' for a channel whose samples
   start later); later stamps only the channels that changed, and a stamp
   without changes is left out. */
static void FlushVcdStamp(OutputFile* out, const VcdLayout* layout, VcdState* state) {
    if (!state->dumped) {
        out->Print("#%lld\n$dumpvars\n", state->stamp);
        for (unsigned i = 0; i < s_channelCount; ++i)
            out->Print("%c%s\n", state->level[i], layout->ids[i]);
        out->Put("$end\n");
        memcpy(state->shown, state->level, sizeof(state->shown));
        state->dumped = 1;
        state->lastWritten = state->stamp;
        return;
    }
    int stamped = 0;
    for (unsigned i = 0; i < s_channelCount; ++i) {
        if (state->level[i] == state->shown[i])
            continue;
        if (!stamped)
            out->Print("#%lld\n", state->stamp);
        stamped = 1;
        out->Print("%c%s\n", state->level[i], layout->ids[i]);
        state->shown[i] = state->level[i];
    }
    if (stamped)
        state->lastWritten = state->stamp;
}

/* Samples that round to one microsecond share a stamp: the last of them wins. */
static void TakeVcdRow(OutputFile* out, const VcdLayout* layout, VcdState* state, Cursor* cursors,
                       double rowTime) {
    long long stamp = Microseconds(rowTime);
    if (state->started && stamp != state->stamp)
        FlushVcdStamp(out, layout, state);
    state->stamp = stamp;
    state->started = 1;
    for (unsigned i = 0; i < s_channelCount; ++i) {
        if (!InRow(i, &cursors[i], rowTime))
            continue;
        state->level[i] = IsHigh(CursorSample(i, &cursors[i])) ? '1' : '0';
        AdvanceCursor(i, &cursors[i]);
    }
}

int Recorder_WriteVcd(const char* path) {
    VcdLayout layout;
    VcdState state;
    Cursor cursors[RECORDER_MAX_CHANNELS];
    OutputFile out(path);
    BuildVcdLayout(&layout);
    PutVcdHeader(&out, &layout);
    memset(&state, 0, sizeof(state));
    memset(state.level, 'x', sizeof(state.level));
    ResetCursors(cursors);
    double rowTime;
    while (EarliestTime(cursors, &rowTime))
        TakeVcdRow(&out, &layout, &state, cursors, rowTime);
    if (state.started)
        FlushVcdStamp(&out, &layout, &state);
    double first;
    double end;
    /* A closing stamp lets viewers show the last sample for its full length. */
    if (RecordingSpan(&first, &end) && Microseconds(end) > state.lastWritten)
        out.Print("#%lld\n", Microseconds(end));
    return out.Close();
}

/* ---- SVG ------------------------------------------------------------------------ */

#define SVG_WIDTH       1000
#define SVG_NAME_COLUMN 250
#define SVG_RIGHT       20
#define SVG_TOP         20
#define SVG_LANE        32
#define SVG_HIGH_Y      6
#define SVG_LOW_Y       26
#define SVG_AXIS        40
#define SVG_PLOT_WIDTH  (SVG_WIDTH - SVG_NAME_COLUMN - SVG_RIGHT)
#define SVG_TICK_TARGET 6.0
/* A pause in a run leaves a gap between blocks; the line breaks there. */
#define SVG_GAP_DISTANCES 1.5

struct SvgScale {
    double first;
    double span;
};

static double SvgX(const SvgScale* scale, double time) {
    return SVG_NAME_COLUMN + (time - scale->first) / scale->span * SVG_PLOT_WIDTH;
}

static int SvgY(unsigned lane, int high) {
    return SVG_TOP + static_cast<int>(lane) * SVG_LANE + (high ? SVG_HIGH_Y : SVG_LOW_Y);
}

static void PutXmlEscaped(OutputFile* out, const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        switch (*c) {
        case '&':
            out->Put("&amp;");
            break;
        case '<':
            out->Put("&lt;");
            break;
        case '>':
            out->Put("&gt;");
            break;
        case '"':
            out->Put("&quot;");
            break;
        default:
            /* Control characters are not allowed in XML 1.0 text. */
            out->PutChar(static_cast<BYTE>(*c) < 0x20u ? ' ' : *c);
            break;
        }
    }
}

static void PutSvgName(OutputFile* out, const Channel* channel, unsigned lane) {
    char utf8[UTF8_NAME_BYTES];
    out->Print("<text x=\"8\" y=\"%d\">", SVG_TOP + static_cast<int>(lane) * SVG_LANE + 20);
    Recorder_ToUtf8(channel->moduleName, utf8, sizeof(utf8));
    PutXmlEscaped(out, utf8);
    out->PutChar('/');
    Recorder_ToUtf8(channel->channelName, utf8, sizeof(utf8));
    PutXmlEscaped(out, utf8);
    out->Put("</text>\n");
}

/* The step line of one channel. Changes that fall into a pixel column already
   drawn are folded into it: the column shows a vertical stroke either way, and
   the path stays near two commands per column however fast the level toggles. */
struct SvgTrace {
    OutputFile* out;
    const SvgScale* scale;
    unsigned lane;
    int drawnLevel;
    int pendingLevel;
    long column;
};

static void StartSubpath(SvgTrace* trace, double x, int level) {
    trace->out->Print(" M%.1f %d", x, SvgY(trace->lane, level));
    trace->drawnLevel = level;
    trace->pendingLevel = level;
    trace->column = static_cast<long>(floor(x));
}

static void SettlePending(SvgTrace* trace) {
    if (trace->pendingLevel != trace->drawnLevel) {
        trace->out->Print(" V%d", SvgY(trace->lane, trace->pendingLevel));
        trace->drawnLevel = trace->pendingLevel;
    }
}

static void StepTo(SvgTrace* trace, double x, int level) {
    if (level == trace->pendingLevel)
        return;
    long column = static_cast<long>(floor(x));
    if (column == trace->column) {
        trace->pendingLevel = level;
        return;
    }
    SettlePending(trace);
    trace->out->Print(" H%.1f V%d", x, SvgY(trace->lane, level));
    trace->drawnLevel = level;
    trace->pendingLevel = level;
    trace->column = column;
}

static void EndSubpath(SvgTrace* trace, double endTime) {
    SettlePending(trace);
    trace->out->Print(" H%.1f", SvgX(trace->scale, endTime));
}

static void PutSvgTrace(OutputFile* out, const SvgScale* scale, unsigned lane) {
    const Channel* channel = &s_channels[lane];
    if (channel->segmentCount == 0)
        return;
    SvgTrace trace = {out, scale, lane, 0, 0, 0};
    out->Put("<path class=\"trace\" d=\"");
    double previousEnd = 0.0;
    for (size_t s = 0; s < channel->segmentCount; ++s) {
        const Segment* segment = &channel->segments[s];
        const float* samples = channel->samples + segment->firstIndex;
        int gap = s > 0 && segment->startTime - previousEnd >
                               (SVG_GAP_DISTANCES - 1.0) * segment->sampleDistance;
        if (s > 0 && gap)
            EndSubpath(&trace, previousEnd);
        if (s == 0 || gap)
            StartSubpath(&trace, SvgX(scale, segment->startTime), IsHigh(samples[0]));
        for (unsigned j = 0; j < segment->count; ++j)
            StepTo(&trace, SvgX(scale, SegmentTime(segment, j)), IsHigh(samples[j]));
        previousEnd = SegmentTime(segment, segment->count - 1u) + segment->sampleDistance;
    }
    EndSubpath(&trace, previousEnd);
    out->Put("\"/>\n");
}

/* A tick step of 1, 2 or 5 times a power of ten giving about six ticks. */
static double TickStep(double span) {
    double raw = span / SVG_TICK_TARGET;
    double power = pow(10.0, floor(log10(raw)));
    double mantissa = raw / power;
    double factor = mantissa < 1.5 ? 1.0 : mantissa < 3.5 ? 2.0 : mantissa < 7.5 ? 5.0 : 10.0;
    return factor * power;
}

static void PutSvgAxis(OutputFile* out, const SvgScale* scale, unsigned lanes) {
    int axisY = SVG_TOP + static_cast<int>(lanes) * SVG_LANE + 4;
    int inMilliseconds = scale->span < 1.0;
    double step = TickStep(scale->span);
    out->Print("<line class=\"axis\" x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", SVG_NAME_COLUMN,
               axisY, SVG_NAME_COLUMN + SVG_PLOT_WIDTH, axisY);
    double last = scale->first + scale->span;
    /* Adding 0.0 turns the -0 that ceil gives just below zero into 0. */
    for (double k = ceil(scale->first / step - 1e-9) + 0.0; k * step <= last + step * 1e-9;
         k += 1.0) {
        double x = SvgX(scale, k * step);
        out->Print("<line class=\"grid\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"/>\n", x,
                   SVG_TOP, x, axisY + 5);
        out->Print("<text class=\"tick\" x=\"%.1f\" y=\"%d\">%.10g %s</text>\n", x, axisY + 20,
                   k * step * (inMilliseconds ? 1000.0 : 1.0), inMilliseconds ? "ms" : "s");
    }
}

static void PutSvgStart(OutputFile* out, int height) {
    out->Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out->Print("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
               "viewBox=\"0 0 %d %d\">\n",
               SVG_WIDTH, height, SVG_WIDTH, height);
    out->Put("<title>Timing diagram</title>\n");
    out->Put("<style>text{font-family:sans-serif;font-size:12px}"
             ".tick{text-anchor:middle;font-size:11px}.lane{fill:#f2f2f2}"
             ".trace{fill:none;stroke:#1f5fbf;stroke-width:1.5}"
             ".grid{stroke:#d0d0d0}.axis{stroke:#000}</style>\n");
    out->Print("<rect width=\"%d\" height=\"%d\" fill=\"#fff\"/>\n", SVG_WIDTH, height);
}

int Recorder_WriteSvg(const char* path) {
    SvgScale scale = {0.0, 1.0};
    double end;
    if (RecordingSpan(&scale.first, &end) && end > scale.first)
        scale.span = end - scale.first;
    int height = SVG_TOP + static_cast<int>(s_channelCount) * SVG_LANE + SVG_AXIS;
    OutputFile out(path);
    PutSvgStart(&out, height);
    for (unsigned lane = 0; lane < s_channelCount; ++lane) {
        if (lane % 2u == 0)
            out.Print("<rect class=\"lane\" x=\"0\" y=\"%d\" width=\"%d\" height=\"%d\"/>\n",
                      SVG_TOP + static_cast<int>(lane) * SVG_LANE, SVG_WIDTH, SVG_LANE);
    }
    PutSvgAxis(&out, &scale, s_channelCount);
    for (unsigned lane = 0; lane < s_channelCount; ++lane) {
        PutSvgName(&out, &s_channels[lane], lane);
        PutSvgTrace(&out, &scale, lane);
    }
    out.Put("</svg>\n");
    return out.Close();
}
