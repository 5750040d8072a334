/*
 * The live view: its ring of latest samples, the layout of headings and lanes,
 * how a trace spreads over pixel columns, and the window itself during a real
 * loopback run of the extension on the card simulator (it paints while the run
 * goes on, draws both modules' traces, and closes cleanly).
 */
#include "HostFixture.h"
#include "sim/host/HostProgram.h"
#include "sim/host/LiveView.h"

#include <cmath>
#include <limits>

namespace {

/* ---- The ring --------------------------------------------------------------------- */

struct RingCase {
    const char* what;
    size_t capacity;
    std::vector<size_t> blocks; /* sizes appended in turn; sample values count up from 0 */
    size_t want;
    std::vector<float> latest;
};

TEST(LiveRing, KeepsTheLatestSamplesInOrder) {
    static const RingCase kCases[] = {
        {"nothing written", 4, {}, 4, {}},
        {"part filled", 8, {3}, 8, {0, 1, 2}},
        {"fewer wanted than held", 8, {5}, 2, {3, 4}},
        {"exactly full", 4, {4}, 4, {0, 1, 2, 3}},
        {"wrapped over two blocks", 4, {3, 3}, 4, {2, 3, 4, 5}},
        {"more written than the ring holds", 4, {10}, 4, {6, 7, 8, 9}},
        {"wrapped, fewer wanted", 4, {3, 3, 3}, 3, {6, 7, 8}},
    };
    for (const RingCase& c : kCases) {
        SCOPED_TRACE(c.what);
        /* As the run appends: sample i lands at i % capacity. */
        std::vector<float> ring(c.capacity, -1.0f);
        unsigned long long written = 0;
        for (size_t size : c.blocks) {
            for (size_t j = 0; j < size; ++j, ++written) {
                ring[written % c.capacity] = static_cast<float>(written);
            }
        }
        std::vector<float> latest(c.want + 1, -1.0f);
        size_t got = LiveRing_Latest(ring.data(), ring.size(), written, latest.data(), c.want);
        latest.resize(got);
        EXPECT_EQ(c.latest, latest);
    }
}

/* ---- Lane layout -------------------------------------------------------------------- */

struct LayoutCase {
    const char* what;
    int top;
    int height;
    std::vector<unsigned> channels;
    size_t maxRows;
    size_t rows;
    int laneHeight; /* of the channel lanes; 0 when there are none */
};

TEST(LiveLayout, SharesTheRoomAndLeavesOutWhatDoesNotFit) {
    static const LayoutCase kCases[] = {
        {"roomy: lanes stop at the largest height", 20, 1000, {3}, 64, 4, LIVE_LANE_MAX},
        {"two modules of eight share the room", 20, 520, {8, 8}, 64, 18, 29},
        {"too small: the smallest lanes, the rest left out", 0, 100, {8}, 64, 6, LIVE_LANE_MIN},
        {"a module without channels has its heading", 0, 100, {0, 2}, 64, 4, 32},
        {"no modules", 20, 500, {}, 64, 0, 0},
        {"no more rows than the caller holds", 0, 1000, {8}, 5, 5, LIVE_LANE_MAX},
        {"a window shorter than its heading", 0, 10, {2}, 64, 0, 0},
    };
    for (const LayoutCase& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<LiveLane> lanes(c.maxRows);
        size_t rows = LiveLayout_Lanes(c.top, c.height, c.channels.data(), c.channels.size(),
                                       lanes.data(), lanes.size());
        ASSERT_EQ(c.rows, rows);
        int y = c.top;
        size_t module = 0;
        int channel = -1;
        for (size_t i = 0; i < rows; ++i) {
            const LiveLane& lane = lanes[i];
            /* Rows follow each other: each module's heading, then its channels. */
            while (channel >= static_cast<int>(c.channels[module])) {
                ++module;
                channel = -1;
            }
            EXPECT_EQ(static_cast<int>(module), lane.module) << "row " << i;
            EXPECT_EQ(channel, lane.channel) << "row " << i;
            EXPECT_EQ(y, lane.top) << "row " << i;
            EXPECT_LE(lane.bottom, c.height) << "row " << i;
            if (lane.channel < 0) {
                EXPECT_EQ(LIVE_HEADING_HEIGHT, lane.bottom - lane.top);
            } else {
                EXPECT_EQ(c.laneHeight, lane.bottom - lane.top) << "row " << i;
                EXPECT_LE(lane.top, lane.high);
                EXPECT_LT(lane.high, lane.low) << "5 V above 0 V, row " << i;
                EXPECT_LT(lane.low, lane.bottom);
            }
            y = lane.bottom;
            ++channel;
        }
    }
}

/* ---- A trace's columns ---------------------------------------------------------------- */

struct ColumnsCase {
    const char* what;
    std::vector<unsigned char> levels;
    size_t span;
    /* per column: empty, or low high last */
    std::vector<std::vector<unsigned char>> columns;
};

const unsigned char H = LIVE_LEVEL_TOP;

TEST(LiveTrace, SpreadsTheLatestWindowOverTheColumns) {
    static const ColumnsCase kCases[] = {
        {"one sample a column", {0, H, H, 0}, 4, {{0, 0, 0}, {H, H, H}, {H, H, H}, {0, 0, 0}}},
        {"two samples a column: the band and the newest",
         {0, H, 0, 0, H, H, H, 0},
         8,
         {{0, H, H}, {0, 0, 0}, {H, H, H}, {0, H, 0}}},
        {"a band between levels", {100, 20, 200, 50}, 4, {{20, 200, 50}}},
        {"fewer samples than the window: the newest at the right",
         {H, H},
         8,
         {{}, {}, {}, {H, H, H}}},
        {"more samples than the window: only the latest", {0, 0, H, 0}, 2, {{H, H, H}, {0, 0, 0}}},
        {"more columns than samples in the window", {0, H}, 2, {{0, 0, 0}, {}, {H, H, H}, {}}},
        {"no samples", {}, 4, {{}, {}}},
    };
    for (const ColumnsCase& c : kCases) {
        SCOPED_TRACE(c.what);
        int columns = static_cast<int>(c.columns.size());
        std::vector<LiveColumn> out(c.columns.size());
        LiveTrace_Columns(c.levels.data(), c.levels.size(), c.span, columns, out.data());
        for (int i = 0; i < columns; ++i) {
            const std::vector<unsigned char>& want = c.columns[static_cast<size_t>(i)];
            const LiveColumn& got = out[static_cast<size_t>(i)];
            ASSERT_EQ(!want.empty(), got.filled != 0) << "column " << i;
            if (!want.empty()) {
                EXPECT_EQ(want[0], got.low) << "column " << i;
                EXPECT_EQ(want[1], got.high) << "column " << i;
                EXPECT_EQ(want[2], got.last) << "column " << i;
            }
        }
    }
}

TEST(LiveTrace, SamplesBecomeLevelsAndLevelsSitBetweenTheLanesLines) {
    static const struct {
        float value;
        unsigned level;
        int y; /* in a lane with 5 V at y 10 and 0 V at y 30 */
    } kCases[] = {
        {5.0f, H, 10},
        {0.0f, 0, 30},
        {2.5f, 128, 20},
        {1.0f, 51, 26},
        {7.0f, H, 10},
        {-1.0f, 0, 30},
        {std::numeric_limits<float>::quiet_NaN(), 0, 30},
        {std::numeric_limits<float>::infinity(), H, 10},
    };
    for (const auto& c : kCases) {
        unsigned level = LiveLevel_Quantize(c.value);
        EXPECT_EQ(c.level, level) << c.value;
        EXPECT_EQ(c.y, LiveLevel_Y(level, 10, 30)) << c.value;
    }
}

TEST(LiveView, LooksTakeAtMostATenthOfTheThread) {
    static const struct {
        DWORD now;
        DWORD lastEnd;
        DWORD cost;
        int due;
    } kCases[] = {
        {100, 100, 0, 1},    /* a free look is always due */
        {126, 100, 3, 0},    /* 26 ms after a 3 ms look: not yet */
        {127, 100, 3, 1},    /* 27 ms: nine times the cost */
        {1000, 100, 100, 1}, /* 900 ms after a 100 ms look */
        {999, 100, 100, 0},
        {5, 0xFFFFFFF0u, 2, 1},           /* 21 ms across the wrap */
        {0xFFFFFFF5u, 0xFFFFFFF0u, 2, 0}, /* 5 ms before it */
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.due, LiveView_LookDue(c.now, c.lastEnd, c.cost))
            << c.now << " " << c.lastEnd << " " << c.cost;
    }
}

/* ---- The window during a run -------------------------------------------------------------- */

#define VIEW_WIDTH  760
#define VIEW_HEIGHT 560

const DWORD kInputColour = 0x00005AC8u;  /* RGB(0, 90, 200) as a DIB pixel */
const DWORD kOutputColour = 0x00C85A00u; /* RGB(200, 90, 0) */

struct Seen {
    unsigned long paints;
    std::vector<int> inputBands; /* heights of runs of rows the reader's trace touches */
    size_t outputPixels;
    unsigned long long readerBlocks;
    unsigned long long readerSamples; /* appended to the reader's rings */
    int looked;
} s_seen;

/* Draws the view's copy as the window does, into a bitmap the test can read. */
void LookAtTheView(void) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = VIEW_WIDTH;
    info.bmiHeader.biHeight = -VIEW_HEIGHT; /* top row first */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, bitmap);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    LiveView_Capture();
    LiveView_PaintContent(dc, VIEW_WIDTH, VIEW_HEIGHT);
    GdiFlush();
    const DWORD* pixels = static_cast<const DWORD*>(bits);
    int band = 0;
    for (int y = 0; y < VIEW_HEIGHT; ++y) {
        int input = 0;
        for (int x = 0; x < VIEW_WIDTH; ++x) {
            DWORD pixel = pixels[y * VIEW_WIDTH + x] & 0x00FFFFFFu;
            input |= pixel == kInputColour;
            s_seen.outputPixels += pixel == kOutputColour;
        }
        if (input) {
            ++band;
        } else if (band) {
            s_seen.inputBands.push_back(band);
            band = 0;
        }
    }
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void CALLBACK LookMidRun(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    s_seen.looked = 1;
    s_seen.paints = LiveView_PaintCount();
    const RunLiveModule* reader = RefHost_RunLive(1);
    s_seen.readerBlocks = reader ? reader->blocks : 0;
    for (unsigned k = 0; reader && k < RUN_LIVE_CHANNELS; ++k) {
        s_seen.readerSamples += reader->written[k];
    }
    LookAtTheView();
    RefHost_RequestRunStop();
}

RefModule* Restore(const char* name, WORD socket, DWORD port, DWORD inputs, DWORD outputs) {
    ModuleSettings settings;
    std::memset(&settings, 0, sizeof settings);
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        std::snprintf(settings.channelNames[k], CHANNEL_NAME_SLOT, "ビット %u", k);
    }
    settings.socket = socket;
    settings.port = port;
    return RefHost_RestoreModule(name, "", inputs, outputs, &settings);
}

class LiveViewTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        SetEnvironmentVariableA("RZXDK08_CONFIG", nullptr);
        ASSERT_EQ(1, RefHost_LoadExtension("Orvik_qx4.dll"));
        ASSERT_NE(nullptr, RefHost_ModuleClass()) << "the simulator's cards were not found";
        /* The simulator's default cable joins socket 0 port B to socket 1 port A. */
        ASSERT_NE(nullptr, Restore("writer", 0, 1, 3, 0));
        ASSERT_NE(nullptr, Restore("reader", 1, 0, 0, 8));
        s_seen = Seen();
    }
    void TearDown() override {
        LiveView_Close();
        HostTest::TearDown();
    }
};

TEST_F(LiveViewTest, PaintsBothModulesWhileARunGoesOnAndClosesCleanly) {
    ASSERT_EQ(1, LiveView_Open(RefHost_MainWindow()));
    ASSERT_NE(nullptr, LiveView_Window());
    RunOptions options;
    RefHost_DefaultRunOptions(&options);
    options.millisecondsPerSample = 1.0;
    options.blockSize = 50;
    options.seconds = 10.0; /* the look mid-run stops it long before */
    SetTimer(nullptr, 0, 1200, LookMidRun);
    RunReport report;
    ASSERT_EQ(1, RefHost_Run(&options, &report));
    ASSERT_EQ(1, s_seen.looked) << "the run ended before the look";
    EXPECT_EQ(RUN_STOPPED_BY_USER, report.end);
    EXPECT_GT(s_seen.paints, 1u) << "the window was not repainted during the run";
    EXPECT_GT(s_seen.readerBlocks, 0u);
    EXPECT_EQ(s_seen.readerBlocks * options.blockSize, s_seen.readerSamples);
    /* One band per reader lane. The writer drives bits 0 to 2 of the cabled
       port; the reader samples the port in a burst per block, so a bit that
       changes from block to block swings across its lane, the rest are flat. */
    std::string bands = ::testing::PrintToString(s_seen.inputBands);
    ASSERT_EQ(8u, s_seen.inputBands.size()) << bands;
    int swinging = 0;
    for (size_t k = 0; k < 8; ++k) {
        swinging += s_seen.inputBands[k] > 10;
        if (k >= 3) {
            EXPECT_EQ(1, s_seen.inputBands[k]) << "bit " << k << " is not driven: " << bands;
        }
    }
    EXPECT_GE(swinging, 1) << bands;
    EXPECT_GT(s_seen.outputPixels, 0u) << "the writer's fed samples were not drawn";
    EXPECT_EQ(nullptr, RefHost_RunLive(0)) << "no live record outside a run";

    HWND view = LiveView_Window();
    ASSERT_NE(nullptr, view) << "the view closed during the run";
    LiveView_Close();
    EXPECT_EQ(nullptr, LiveView_Window());
    EXPECT_FALSE(IsWindow(view));
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
}

TEST_F(LiveViewTest, TheViewMenuOpensAndClosesIt) {
    ProgramOptions options;
    DefaultProgramOptions(&options);
    ASSERT_EQ(1, AttachWorkbench(&options));
    SendMessageA(RefHost_MainWindow(), WM_COMMAND, IDM_VIEW_LIVE, 0);
    HWND view = LiveView_Window();
    EXPECT_NE(nullptr, view);
    EXPECT_EQ(RefHost_MainWindow(), GetWindow(view, GW_OWNER));
    SendMessageA(RefHost_MainWindow(), WM_COMMAND, IDM_VIEW_LIVE, 0);
    EXPECT_EQ(nullptr, LiveView_Window());
    EXPECT_FALSE(IsWindow(view));
    DetachWorkbench();
}

HWND s_viewDuringRun;

void Pump(DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

void CALLBACK StopTheRun(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    s_viewDuringRun = LiveView_Window();
    RefHost_RequestRunStop();
}

/* As a user finds it: the experiment menu is the menu bar's last, start its
   first entry. */
UINT StartCommand(void) {
    HMENU bar = RefHost_MainMenu();
    return GetMenuItemID(GetSubMenu(bar, GetMenuItemCount(bar) - 1), 0);
}

/* Starts a run from the menu and stops it half a second in; returns the view
   as it was during the run. */
HWND StartAndStopARun(void) {
    s_viewDuringRun = nullptr;
    SetTimer(nullptr, 0, 500, StopTheRun);
    SendMessageA(RefHost_MainWindow(), WM_COMMAND, StartCommand(), 0);
    return s_viewDuringRun;
}

TEST_F(LiveViewTest, ARunOpensItUntilTheUserClosesIt) {
    ProgramOptions options;
    DefaultProgramOptions(&options);
    ASSERT_EQ(1, AttachWorkbench(&options));
    HWND view = StartAndStopARun();
    ASSERT_NE(nullptr, view) << "the first run did not open the view";
    EXPECT_EQ(view, LiveView_Window()) << "the view closed with the run";
    unsigned long paints = LiveView_PaintCount();
    Pump(400);
    EXPECT_GT(LiveView_PaintCount(), paints) << "the run's end was not shown";

    SendMessageA(view, WM_CLOSE, 0, 0); /* the user's close box */
    EXPECT_EQ(nullptr, LiveView_Window());
    EXPECT_EQ(nullptr, StartAndStopARun()) << "a view the user closed came back";

    SendMessageA(RefHost_MainWindow(), WM_COMMAND, IDM_VIEW_LIVE, 0);
    ASSERT_NE(nullptr, LiveView_Window());
    EXPECT_NE(nullptr, StartAndStopARun()) << "reopened from the menu, the view stays for runs";
    DetachWorkbench();
    EXPECT_EQ(nullptr, LiveView_Window());
}

} // namespace
