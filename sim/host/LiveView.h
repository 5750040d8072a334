/*
 * The live view of a run: a window beside the workbench that draws each
 * module's channels as a scrolling strip chart, one lane per channel between
 * its 0 V and 5 V levels with the channel's name at the left, under a heading
 * with the module's counts (blocks, late releases, failures). It copies what
 * the run has moved on a timer and draws from its copy; the run's passes never
 * wait for it. Its pure parts (reading the run's sample rings, the lane
 * layout, the columns of a trace) are here for the tests.
 */
#pragma once

#include "sim/host/RefHost.h"

#define IDM_VIEW_LIVE 40022u

/* ---- The ring of latest samples ------------------------------------------------ */

/* Copies the latest samples of a ring that has had written samples appended
   (sample i at i % capacity), oldest first, at most want of them. Returns how
   many were copied. */
size_t LiveRing_Latest(const float* ring, size_t capacity, unsigned long long written,
                       float* target, size_t want);

/* ---- Lane layout ------------------------------------------------------------------ */

#define LIVE_HEADING_HEIGHT 18
#define LIVE_LANE_MIN       14
#define LIVE_LANE_MAX       40

/* One row of the chart, top to bottom: a module's heading (channel -1) or one
   of its channels, with the y of its 5 V (high) and 0 V (low) levels. */
struct LiveLane {
    int module;
    int channel;
    int top;
    int bottom; /* exclusive */
    int high;
    int low;
};
/* Lays out a heading and the channel lanes of each module from y = top down
   to height: lanes share the room evenly, each between LIVE_LANE_MIN and
   LIVE_LANE_MAX high. Rows that would end below height are left out. Returns
   the number of rows written (at most maxLanes). */
size_t LiveLayout_Lanes(int top, int height, const unsigned* channels, size_t modules,
                        LiveLane* lanes, size_t maxLanes);

/* ---- A trace's columns ------------------------------------------------------------ */

/* A sample as the view keeps it: 0 for 0 V (and below, and for a value that
   is not a number) to LIVE_LEVEL_TOP for 5 V (and above). Kept as bytes, the
   columns of a trace take integer work only. */
#define LIVE_LEVEL_TOP 255u
unsigned char LiveLevel_Quantize(float value);
/* The y of a level in a lane: LIVE_LEVEL_TOP at high, 0 at low. */
int LiveLevel_Y(unsigned level, int high, int low);

/* The lowest and highest level drawn in one pixel column. */
struct LiveColumn {
    unsigned char low;
    unsigned char high;
    unsigned char last; /* the newest level in the column, where the trace goes on from */
    int filled;         /* 0: no sample falls into the column */
};
/* Spreads the window of the latest span samples over columns, the newest at
   the right: levels holds count of them, oldest first (count may be less
   than span, leaving the left columns empty). */
void LiveTrace_Columns(const unsigned char* levels, size_t count, size_t span, int columns,
                       LiveColumn* out);

/* ---- The window ------------------------------------------------------------------- */

/* Opens the view as a window owned by owner (or shows it if it is open).
   Returns 1, or 0 when it could not be created. */
int LiveView_Open(HWND owner);
void LiveView_Close(void);
HWND LiveView_Window(void); /* null while closed */
/* Copies what the run going on has moved (the timer does this every
   LIVE_VIEW_PERIOD_MS); keeps the last copy when no run goes on. */
void LiveView_Capture(void);
/* Draws the last copy into dc, width by height pixels. */
void LiveView_PaintContent(HDC dc, int width, int height);
/* Paints the window has finished since it opened. */
unsigned long LiveView_PaintCount(void);

#define LIVE_VIEW_PERIOD_MS 100u

/* The view takes at most one part in LIVE_VIEW_SHARE of the run's thread: after
   a look (copy and paint) that cost cost ms and ended at lastEnd, the next is
   due once (LIVE_VIEW_SHARE - 1) * cost ms have passed. Ticks wrap. */
#define LIVE_VIEW_SHARE 10u
int LiveView_LookDue(DWORD now, DWORD lastEnd, DWORD cost);
