/*
 * The live view of a run (see LiveView.h): a timer takes in each module's
 * counts and the samples the run moved since the last look, as byte levels,
 * and the window paints that copy through off-screen bitmaps, so a paint never
 * shows a half-drawn chart and never reads the run's own records. The timer
 * and the paints are dispatched by the run's message pump between rounds, so
 * whatever they cost delays the run: the names and level lines are drawn once
 * into a still layer, and the traces are written as pixels, not line calls.
 */
#include "sim/host/LiveView.h"
#include "sim/host/HostInternal.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#define LIVE_CLASS        "OrvikLiveView"
#define LIVE_TIMER        1u
#define LIVE_STATUS_ROW   20
#define LIVE_LABEL_WIDTH  150
#define LIVE_LEVEL_WIDTH  22
#define LIVE_RIGHT_MARGIN 8

#define COLOUR_BACKGROUND RGB(255, 255, 255)
#define COLOUR_LANE_ALT   RGB(244, 246, 250)
#define COLOUR_HEADING    RGB(226, 232, 242)
#define COLOUR_LEVEL      RGB(190, 190, 190)
#define COLOUR_TEXT       RGB(0, 0, 0)
#define COLOUR_DIM_TEXT   RGB(120, 120, 120)
#define COLOUR_ALARM      RGB(200, 0, 0)
#define COLOUR_INPUT      RGB(0, 90, 200) /* samples an input module released */
#define COLOUR_OUTPUT     RGB(200, 90, 0) /* samples fed to an output module */

/* ---- The ring of latest samples ------------------------------------------------ */

size_t LiveRing_Latest(const float* ring, size_t capacity, unsigned long long written,
                       float* target, size_t want) {
    if (!ring || capacity == 0 || !target) {
        return 0;
    }
    unsigned long long available = written < capacity ? written : capacity;
    size_t count = available < want ? static_cast<size_t>(available) : want;
    unsigned long long first = written - count;
    for (size_t j = 0; j < count; ++j) {
        target[j] = ring[(first + j) % capacity];
    }
    return count;
}

/* ---- Lane layout ------------------------------------------------------------------ */

static int LaneHeight(int room, size_t lanes) {
    if (lanes == 0) {
        return LIVE_LANE_MAX;
    }
    int height = room > 0 ? static_cast<int>(room / static_cast<int>(lanes)) : 0;
    if (height < LIVE_LANE_MIN) {
        return LIVE_LANE_MIN;
    }
    return height > LIVE_LANE_MAX ? LIVE_LANE_MAX : height;
}

size_t LiveLayout_Lanes(int top, int height, const unsigned* channels, size_t modules,
                        LiveLane* lanes, size_t maxLanes) {
    size_t channelRows = 0;
    for (size_t m = 0; m < modules; ++m) {
        channelRows += channels[m];
    }
    int room = height - top - static_cast<int>(modules) * LIVE_HEADING_HEIGHT;
    int laneHeight = LaneHeight(room, channelRows);
    int margin = laneHeight / 5;
    size_t n = 0;
    int y = top;
    for (size_t m = 0; m < modules; ++m) {
        for (int k = -1; k < static_cast<int>(channels[m]); ++k) {
            int rowHeight = k < 0 ? LIVE_HEADING_HEIGHT : laneHeight;
            if (n >= maxLanes || y + rowHeight > height) {
                return n;
            }
            LiveLane& lane = lanes[n++];
            lane.module = static_cast<int>(m);
            lane.channel = k;
            lane.top = y;
            lane.bottom = y + rowHeight;
            lane.high = k < 0 ? y : y + margin;
            lane.low = k < 0 ? y : y + rowHeight - 1 - margin;
            y += rowHeight;
        }
    }
    return n;
}

/* ---- A trace's columns ------------------------------------------------------------ */

void LiveTrace_Columns(const unsigned char* levels, size_t count, size_t span, int columns,
                       LiveColumn* out) {
    if (columns <= 0) {
        return;
    }
    for (int c = 0; c < columns; ++c) {
        out[c].filled = 0;
    }
    if (span == 0 || count == 0) {
        return;
    }
    if (count > span) {
        levels += count - span;
        count = span;
    }
    /* Sample j of the window (0 oldest) lies in column j * columns / span. */
    size_t empty = span - count;
    size_t width = static_cast<size_t>(columns);
    for (size_t j = 0; j < count; ++j) {
        LiveColumn& column = out[(empty + j) * width / span];
        unsigned char level = levels[j];
        if (!column.filled) {
            column.low = column.high = level;
            column.filled = 1;
        } else if (level < column.low) {
            column.low = level;
        } else if (level > column.high) {
            column.high = level;
        }
        column.last = level;
    }
}

unsigned char LiveLevel_Quantize(float value) {
    if (!(value > 0.0f)) {
        return 0; /* also not a number */
    }
    if (value >= 5.0f) {
        return LIVE_LEVEL_TOP;
    }
    return static_cast<unsigned char>(std::lround(value / 5.0f * LIVE_LEVEL_TOP));
}

int LiveLevel_Y(unsigned level, int high, int low) {
    if (level > LIVE_LEVEL_TOP) {
        level = LIVE_LEVEL_TOP;
    }
    int rise = static_cast<int>((level * static_cast<unsigned>(low - high) + LIVE_LEVEL_TOP / 2) /
                                LIVE_LEVEL_TOP);
    return low - rise;
}

/* ---- What the view copied from the run --------------------------------------------- */

struct LiveCopy {
    char name[MODULE_NAME_BYTES + 1];
    char channelNames[RUN_LIVE_CHANNELS][CHANNEL_NAME_SLOT + 1];
    unsigned channels;
    int output;
    unsigned long long blocks;
    unsigned long long late;
    unsigned long long failures;
    unsigned long long seen[RUN_LIVE_CHANNELS]; /* the run's samples taken in so far */
    size_t count[RUN_LIVE_CHANNELS];
    unsigned char levels[RUN_LIVE_CHANNELS][RUN_LIVE_SAMPLES]; /* oldest first */
};

static std::vector<LiveCopy> s_copies;
static int s_running;
static int s_wasRunning;
static int s_changed; /* the copy changed since the window last painted it */
static double s_seconds;
static double s_msPerSample;

static HWND s_window;
static HFONT s_font;
static unsigned long s_paints;
static DWORD s_lookEnd;  /* HostTick when the last look ended */
static DWORD s_lookCost; /* and what it cost, ms */
static std::vector<LiveColumn> s_columns;
static std::vector<LiveLane> s_lanes;
static std::vector<float> s_fresh; /* samples new since the last capture */

static int s_stillValid; /* the still layer shows the current lanes and names */

/* The fields in front of blocks say what the lanes are; the still layer is
   drawn again when they change. */
static void CopyNames(RefModule* module, LiveCopy* copy) {
    char before[offsetof(LiveCopy, blocks)];
    std::memcpy(before, copy, sizeof before);
    const ModuleRecord* record = RefModule_Record(module);
    CopyText(copy->name, record->name, sizeof copy->name);
    copy->output = record->inputCount > 0;
    DWORD channels = copy->output ? record->inputCount : record->outputCount;
    copy->channels = channels < RUN_LIVE_CHANNELS ? channels : RUN_LIVE_CHANNELS;
    for (unsigned k = 0; k < RUN_LIVE_CHANNELS; ++k) {
        char* name = copy->channelNames[k];
        name[0] = 0;
        if (record->settings) {
            /* A stored name may fill its slot without a terminator. */
            std::memcpy(name, record->settings->channelNames[k], CHANNEL_NAME_SLOT);
            name[CHANNEL_NAME_SLOT] = 0;
        }
        if (!name[0]) {
            std::snprintf(name, CHANNEL_NAME_SLOT + 1, "%s %u", copy->output ? "in" : "out", k);
        }
    }
    if (std::memcmp(before, copy, sizeof before) != 0) {
        s_stillValid = 0;
    }
}

/* The worksheet as it stands, with no samples: what the view shows before a run. */
static void CopyWorksheet(void) {
    s_copies.assign(RefHost_ModuleCount(), LiveCopy());
    s_stillValid = 0;
    s_changed = 1;
    for (size_t m = 0; m < s_copies.size(); ++m) {
        CopyNames(RefHost_Module(m), &s_copies[m]);
    }
}

/* Appends the samples the run added to channel k since the last look, as
   levels; only these are converted, so a look costs what the run moved. */
static void TakeInSamples(LiveCopy* copy, unsigned k, const float* ring,
                          unsigned long long written) {
    if (written < copy->seen[k]) {
        copy->seen[k] = copy->count[k] = 0; /* a new run */
    }
    unsigned long long fresh = written - copy->seen[k];
    size_t n = fresh < RUN_LIVE_SAMPLES ? static_cast<size_t>(fresh) : RUN_LIVE_SAMPLES;
    copy->seen[k] = written;
    s_fresh.resize(RUN_LIVE_SAMPLES);
    n = LiveRing_Latest(ring, RUN_LIVE_SAMPLES, written, s_fresh.data(), n);
    unsigned char* levels = copy->levels[k];
    if (copy->count[k] + n > RUN_LIVE_SAMPLES) {
        size_t drop = copy->count[k] + n - RUN_LIVE_SAMPLES;
        std::memmove(levels, levels + drop, copy->count[k] - drop);
        copy->count[k] -= drop;
    }
    for (size_t j = 0; j < n; ++j) {
        levels[copy->count[k] + j] = LiveLevel_Quantize(s_fresh[j]);
    }
    copy->count[k] += n;
}

void LiveView_Capture(void) {
    const RunReport* progress = RefHost_RunProgress();
    s_wasRunning = s_running;
    s_running = progress != nullptr;
    s_changed |= s_running || s_wasRunning;
    if (!s_running) {
        if (s_copies.size() != RefHost_ModuleCount()) {
            CopyWorksheet();
        }
        return;
    }
    if (s_copies.size() != RefHost_ModuleCount()) {
        s_copies.resize(RefHost_ModuleCount());
        s_stillValid = 0;
    }
    if (!s_wasRunning) {
        for (LiveCopy& copy : s_copies) {
            std::memset(copy.seen, 0, sizeof copy.seen);
            std::memset(copy.count, 0, sizeof copy.count);
        }
    }
    s_seconds = progress->seconds;
    s_msPerSample = HostMillisecondsPerSample();
    for (size_t m = 0; m < s_copies.size(); ++m) {
        const RunLiveModule* live = RefHost_RunLive(m);
        if (!live) {
            continue;
        }
        LiveCopy& copy = s_copies[m];
        CopyNames(RefHost_Module(m), &copy);
        copy.blocks = live->blocks;
        copy.late = live->late;
        copy.failures = live->failures;
        for (unsigned k = 0; k < copy.channels; ++k) {
            TakeInSamples(&copy, k, live->ring[k], live->written[k]);
        }
    }
}

/* ---- Drawing ---------------------------------------------------------------------- */

static void FillBox(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT box = {left, top, right, bottom};
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &box, nullptr, 0, nullptr);
}

static void DrawText8(HDC dc, int x, int y, int right, COLORREF colour, const char* text) {
    RECT clip = {x, y, right, y + LIVE_HEADING_HEIGHT};
    SetTextColor(dc, colour);
    ExtTextOutA(dc, x, y, ETO_CLIPPED, &clip, text, static_cast<UINT>(std::strlen(text)), nullptr);
}

static void DrawStatus(HDC dc, int width) {
    char text[200];
    double span = s_msPerSample * RUN_LIVE_SAMPLES / 1000.0;
    int n = 0;
    if (s_running) {
        n = std::snprintf(text, sizeof text, "実験中 %.1f 秒 (running)%s", s_seconds,
                          RefHost_RunPaused() ? "  一時停止 (paused)" : "");
    } else if (s_msPerSample > 0.0) {
        n = std::snprintf(text, sizeof text, "実験終了 %.1f 秒 (ended)", s_seconds);
    } else {
        n = std::snprintf(text, sizeof text, "実験していません (no run)");
    }
    if (n > 0 && s_msPerSample > 0.0) {
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                      "    表示幅 %.3g 秒 (%u サンプル)    警告 %u", span, RUN_LIVE_SAMPLES,
                      static_cast<unsigned>(RefHost_CountKind(J_WARNING)));
    }
    DrawText8(dc, 4, 3, width, COLOUR_TEXT, text);
}

/* An off-screen 32-bit top-down bitmap, the DC it is selected into, and its
   pixels (0x00RRGGBB). */
struct Surface {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
    DWORD* bits;
    int width;
    int height;
};

static Surface s_frame; /* the next frame, blitted whole to the target */
static Surface s_still; /* what changes only with the size or the worksheet */

static void ReleaseSurface(Surface* surface) {
    if (surface->dc) {
        SelectObject(surface->dc, surface->previous);
        DeleteDC(surface->dc);
    }
    if (surface->bitmap) {
        DeleteObject(surface->bitmap);
    }
    std::memset(surface, 0, sizeof *surface);
}

/* Returns 1 when the surface already had this size, 2 when it was made anew, 0
   when it could not be. */
static int EnsureSurface(Surface* surface, HDC like, int width, int height) {
    if (surface->dc && surface->width == width && surface->height == height) {
        return 1;
    }
    ReleaseSurface(surface);
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    surface->dc = CreateCompatibleDC(like);
    surface->bitmap = CreateDIBSection(like, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    surface->bits = static_cast<DWORD*>(bits);
    if (!surface->dc || !surface->bitmap || !surface->bits) {
        ReleaseSurface(surface);
        return 0;
    }
    surface->previous = SelectObject(surface->dc, surface->bitmap);
    surface->width = width;
    surface->height = height;
    return 2;
}

static size_t LayOut(int height) {
    unsigned channels[64];
    size_t modules = s_copies.size() < 64 ? s_copies.size() : 64;
    for (size_t m = 0; m < modules; ++m) {
        channels[m] = s_copies[m].channels;
    }
    s_lanes.resize(modules * (RUN_LIVE_CHANNELS + 1));
    return LiveLayout_Lanes(LIVE_STATUS_ROW, height, channels, modules, s_lanes.data(),
                            s_lanes.size());
}

static void DrawLevels(HDC dc, const LiveLane& lane, int left, int right) {
    HPEN pen = CreatePen(PS_DOT, 1, COLOUR_LEVEL);
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, left, lane.high, nullptr);
    LineTo(dc, right, lane.high);
    MoveToEx(dc, left, lane.low, nullptr);
    LineTo(dc, right, lane.low);
    SelectObject(dc, previous);
    DeleteObject(pen);
    if (lane.low - lane.high >= 20) {
        DrawText8(dc, left - LIVE_LEVEL_WIDTH, lane.high - 6, left, COLOUR_DIM_TEXT, "5V");
        DrawText8(dc, left - LIVE_LEVEL_WIDTH, lane.low - 6, left, COLOUR_DIM_TEXT, "0V");
    }
}

/* A lane without its trace: shading, name, level lines. */
static void DrawStillLane(HDC dc, const LiveLane& lane, size_t row, int width) {
    if (lane.channel < 0) {
        FillBox(dc, 0, lane.top, width, lane.bottom, COLOUR_HEADING);
        return;
    }
    const LiveCopy& copy = s_copies[static_cast<size_t>(lane.module)];
    if (row % 2) {
        FillBox(dc, 0, lane.top, width, lane.bottom, COLOUR_LANE_ALT);
    }
    int middle = (lane.top + lane.bottom) / 2;
    DrawText8(dc, 4, middle - 7, LIVE_LABEL_WIDTH - LIVE_LEVEL_WIDTH - 2, COLOUR_TEXT,
              copy.channelNames[lane.channel]);
    if (width - LIVE_RIGHT_MARGIN > LIVE_LABEL_WIDTH) {
        DrawLevels(dc, lane, LIVE_LABEL_WIDTH, width - LIVE_RIGHT_MARGIN);
    }
}

/* Everything but the status, the counts and the traces; text is the slow part
   of a paint, and the names and lanes change only with the worksheet. */
static void DrawStill(HDC dc, int width, int height, size_t rows) {
    FillBox(dc, 0, 0, width, height, COLOUR_BACKGROUND);
    for (size_t i = 0; i < rows; ++i) {
        DrawStillLane(dc, s_lanes[i], i, width);
    }
}

static void DrawCounts(HDC dc, const LiveLane& lane, int width) {
    const LiveCopy& copy = s_copies[static_cast<size_t>(lane.module)];
    char text[160];
    std::snprintf(text, sizeof text, "%s   %s   ブロック %llu   遅れ %llu   失敗 %llu", copy.name,
                  copy.output ? "出力" : "入力", copy.blocks, copy.late, copy.failures);
    DrawText8(dc, 4, lane.top + 2, width, copy.late || copy.failures ? COLOUR_ALARM : COLOUR_TEXT,
              text);
}

static DWORD PixelOf(COLORREF colour) {
    return static_cast<DWORD>(GetRValue(colour)) << 16 |
           static_cast<DWORD>(GetGValue(colour)) << 8 | GetBValue(colour);
}

/* Each pixel column from its band's top to its bottom, joined to the newest
   level of the column before, so a channel that toggles faster than the
   columns shows as a filled band rather than nothing. Written straight into
   the frame's pixels: a line call per column costs more than the column. */
static void DrawTrace(Surface* frame, const LiveLane& lane, const LiveCopy& copy, int left,
                      int columns) {
    size_t k = static_cast<size_t>(lane.channel);
    s_columns.resize(static_cast<size_t>(columns));
    LiveTrace_Columns(copy.levels[k], copy.count[k], RUN_LIVE_SAMPLES, columns, s_columns.data());
    DWORD pixel = PixelOf(copy.output ? COLOUR_OUTPUT : COLOUR_INPUT);
    int before = -1;
    for (int c = 0; c < columns; ++c) {
        const LiveColumn& column = s_columns[static_cast<size_t>(c)];
        int x = left + c;
        if (!column.filled || x < 0 || x >= frame->width) {
            before = -1;
            continue;
        }
        int top = LiveLevel_Y(column.high, lane.high, lane.low);
        int bottom = LiveLevel_Y(column.low, lane.high, lane.low);
        if (before >= 0) {
            top = before < top ? before : top;
            bottom = before > bottom ? before : bottom;
        }
        top = top < 0 ? 0 : top;
        bottom = bottom >= frame->height ? frame->height - 1 : bottom;
        for (int y = top; y <= bottom; ++y) {
            frame->bits[static_cast<size_t>(y) * static_cast<size_t>(frame->width) +
                        static_cast<size_t>(x)] = pixel;
        }
        before = LiveLevel_Y(column.last, lane.high, lane.low);
    }
}

static void DrawLive(Surface* frame, size_t rows) {
    DrawStatus(frame->dc, frame->width);
    for (size_t i = 0; i < rows; ++i) {
        if (s_lanes[i].channel < 0) {
            DrawCounts(frame->dc, s_lanes[i], frame->width);
        }
    }
    GdiFlush(); /* the text is in the pixels before the traces go over them */
    int columns = frame->width - LIVE_RIGHT_MARGIN - LIVE_LABEL_WIDTH;
    for (size_t i = 0; i < rows && columns > 0; ++i) {
        const LiveLane& lane = s_lanes[i];
        if (lane.channel >= 0) {
            DrawTrace(frame, lane, s_copies[static_cast<size_t>(lane.module)], LIVE_LABEL_WIDTH,
                      columns);
        }
    }
}

void LiveView_PaintContent(HDC dc, int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    size_t rows = LayOut(height);
    int still = EnsureSurface(&s_still, dc, width, height);
    if (!still || !EnsureSurface(&s_frame, dc, width, height)) {
        return; /* out of GDI memory: the window keeps what it showed */
    }
    HGDIOBJ font = s_font ? s_font : GetStockObject(DEFAULT_GUI_FONT);
    if (still == 2 || !s_stillValid) {
        HGDIOBJ previous = SelectObject(s_still.dc, font);
        SetBkMode(s_still.dc, TRANSPARENT);
        DrawStill(s_still.dc, width, height, rows);
        SelectObject(s_still.dc, previous);
        s_stillValid = 1;
    }
    BitBlt(s_frame.dc, 0, 0, width, height, s_still.dc, 0, 0, SRCCOPY);
    HGDIOBJ previous = SelectObject(s_frame.dc, font);
    SetBkMode(s_frame.dc, TRANSPARENT);
    DrawLive(&s_frame, rows);
    SelectObject(s_frame.dc, previous);
    BitBlt(dc, 0, 0, width, height, s_frame.dc, 0, 0, SRCCOPY);
}

/* ---- The window ------------------------------------------------------------------- */

static LRESULT LiveView_OnPaint(HWND window, WPARAM, LPARAM) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    int width = client.right > 1 ? client.right : 1;
    int height = client.bottom > 1 ? client.bottom : 1;
    LiveView_PaintContent(dc, width, height);
    EndPaint(window, &paint);
    ++s_paints;
    return 0;
}

int LiveView_LookDue(DWORD now, DWORD lastEnd, DWORD cost) {
    return now - lastEnd >= (LIVE_VIEW_SHARE - 1u) * cost;
}

/* A look is timed whole, painting included, since its cost is what the run
   waits; a stretched one (a loaded or emulated machine) spaces out the next. */
static LRESULT LiveView_OnTimer(HWND window, WPARAM, LPARAM) {
    DWORD start = HostTick();
    if (!LiveView_LookDue(start, s_lookEnd, s_lookCost)) {
        return 0;
    }
    LiveView_Capture();
    if (s_changed) {
        s_changed = 0;
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
    s_lookEnd = HostTick();
    s_lookCost = s_lookEnd - start;
    return 0;
}

static LRESULT LiveView_OnEraseBackground(HWND, WPARAM, LPARAM) {
    return 1; /* the paint covers every pixel */
}

static LRESULT LiveView_OnSize(HWND window, WPARAM, LPARAM) {
    InvalidateRect(window, nullptr, FALSE);
    return 0;
}

static LRESULT LiveView_OnClose(HWND, WPARAM, LPARAM) {
    LiveView_Close();
    return 0;
}

static LRESULT LiveView_OnDestroy(HWND window, WPARAM, LPARAM) {
    KillTimer(window, LIVE_TIMER);
    ReleaseSurface(&s_frame);
    ReleaseSurface(&s_still);
    if (s_font) {
        DeleteObject(s_font);
        s_font = nullptr;
    }
    s_window = nullptr;
    return 0;
}

struct LiveHandler {
    UINT message;
    LRESULT (*handle)(HWND window, WPARAM wParam, LPARAM lParam);
};

static const LiveHandler kLiveHandlers[] = {
    {WM_PAINT, LiveView_OnPaint},
    {WM_TIMER, LiveView_OnTimer},
    {WM_ERASEBKGND, LiveView_OnEraseBackground},
    {WM_SIZE, LiveView_OnSize},
    {WM_CLOSE, LiveView_OnClose},
    {WM_DESTROY, LiveView_OnDestroy},
};

static LRESULT CALLBACK LiveViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    for (size_t i = 0; i < sizeof kLiveHandlers / sizeof kLiveHandlers[0]; ++i) {
        if (kLiveHandlers[i].message == message) {
            return kLiveHandlers[i].handle(window, wParam, lParam);
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int RegisterLiveClass(HINSTANCE instance) {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = LiveViewProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = LIVE_CLASS;
    if (RegisterClassA(&wc)) {
        return 1;
    }
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int LiveView_Open(HWND owner) {
    if (s_window) {
        ShowWindow(s_window, SW_SHOWNOACTIVATE);
        return 1;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterLiveClass(instance)) {
        return 0;
    }
    s_window =
        CreateWindowExA(0, LIVE_CLASS, "ライブビュー (live view)", WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, 760, 560, owner, nullptr, instance, nullptr);
    if (!s_window) {
        return 0;
    }
    s_font =
        CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "ＭＳ ゴシック");
    s_paints = 0;
    s_lookEnd = s_lookCost = 0;
    s_running = s_wasRunning = 0;
    s_msPerSample = 0.0;
    s_copies.clear();
    LiveView_Capture();
    SetTimer(s_window, LIVE_TIMER, LIVE_VIEW_PERIOD_MS, nullptr);
    ShowWindow(s_window, SW_SHOWNOACTIVATE);
    UpdateWindow(s_window);
    return 1;
}

void LiveView_Close(void) {
    if (s_window) {
        DestroyWindow(s_window);
    }
    ReleaseSurface(&s_frame);
    ReleaseSurface(&s_still);
    s_copies.clear();
    s_copies.shrink_to_fit();
    s_stillValid = 0;
}

HWND LiveView_Window(void) {
    return s_window;
}

unsigned long LiveView_PaintCount(void) {
    return s_paints;
}
