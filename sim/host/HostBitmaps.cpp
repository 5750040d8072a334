/*
 * The host's pictures for the extension's two button controls, drawn once with
 * GDI: channel buttons (22 by 30) for states 0 not set, 1 selected, 2 present,
 * 3 absent; step buttons (24 by 32) for less disabled, enabled, pressed, then
 * more disabled, enabled, pressed. The host owns them; the controls only blit.
 */
#include "sim/host/HostInternal.h"

#define CHANNEL_WIDTH   22
#define CHANNEL_HEIGHT  30
#define LESSMORE_WIDTH  24
#define LESSMORE_HEIGHT 32
#define CHANNEL_STATES  4u
#define LESSMORE_STATES 6u

static HBITMAP s_channel[CHANNEL_STATES];
static HBITMAP s_lessMore[LESSMORE_STATES];

struct ChannelLook {
    COLORREF face;
    COLORREF border;
    COLORREF lamp; /* CLR_INVALID: no lamp */
};

static const ChannelLook kChannelLooks[CHANNEL_STATES] = {
    {RGB(160, 160, 160), RGB(96, 96, 96), CLR_INVALID},  /* 0 not set: plain grey */
    {RGB(255, 240, 96), RGB(200, 0, 0), RGB(255, 0, 0)}, /* 1 selected: yellow, red lamp */
    {RGB(212, 208, 200), RGB(0, 0, 0), RGB(0, 176, 0)},  /* 2 present: face, green lamp */
    {RGB(80, 80, 80), RGB(48, 48, 48), CLR_INVALID},     /* 3 absent: dark, no lamp */
};

static void FillBox(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT box = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &box, brush);
    DeleteObject(brush);
}

static void FrameBox(HDC dc, int left, int top, int right, int bottom, COLORREF colour, int width) {
    for (int i = 0; i < width; ++i) {
        RECT box = {left + i, top + i, right - i, bottom - i};
        HBRUSH brush = CreateSolidBrush(colour);
        FrameRect(dc, &box, brush);
        DeleteObject(brush);
    }
}

static void DrawChannel(HDC dc, unsigned state) {
    const ChannelLook& look = kChannelLooks[state];
    FillBox(dc, 0, 0, CHANNEL_WIDTH, CHANNEL_HEIGHT, look.face);
    FrameBox(dc, 0, 0, CHANNEL_WIDTH, CHANNEL_HEIGHT, look.border, state == 1 ? 2 : 1);
    if (look.lamp != CLR_INVALID) {
        HBRUSH brush = CreateSolidBrush(look.lamp);
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
        Ellipse(dc, 6, 9, 16, 19);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
    }
}

static void DrawArrow(HDC dc, int pointsRight, int offset, COLORREF colour) {
    POINT points[3];
    int tipX = pointsRight ? 16 : 7;
    int baseX = pointsRight ? 8 : 15;
    points[0].x = tipX + offset;
    points[0].y = 16 + offset;
    points[1].x = baseX + offset;
    points[1].y = 8 + offset;
    points[2].x = baseX + offset;
    points[2].y = 24 + offset;
    HBRUSH brush = CreateSolidBrush(colour);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    Polygon(dc, points, 3);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

static void DrawLessMore(HDC dc, unsigned state) {
    unsigned look = state % 3; /* 0 disabled, 1 enabled, 2 pressed */
    COLORREF face = RGB(212, 208, 200);
    FillBox(dc, 0, 0, LESSMORE_WIDTH, LESSMORE_HEIGHT, face);
    COLORREF light = look == 2 ? RGB(64, 64, 64) : RGB(255, 255, 255);
    COLORREF dark = look == 2 ? RGB(255, 255, 255) : RGB(64, 64, 64);
    FillBox(dc, 0, 0, LESSMORE_WIDTH, 1, light);
    FillBox(dc, 0, 0, 1, LESSMORE_HEIGHT, light);
    FillBox(dc, 0, LESSMORE_HEIGHT - 1, LESSMORE_WIDTH, LESSMORE_HEIGHT, dark);
    FillBox(dc, LESSMORE_WIDTH - 1, 0, LESSMORE_WIDTH, LESSMORE_HEIGHT, dark);
    COLORREF arrow = look == 0 ? RGB(150, 150, 150) : RGB(0, 0, 0);
    DrawArrow(dc, state >= 3, look == 2 ? 1 : 0, arrow);
}

static HBITMAP DrawBitmap(HDC screen, int width, int height, void (*draw)(HDC, unsigned),
                          unsigned state) {
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    if (!bitmap || !dc) {
        if (dc) {
            DeleteDC(dc);
        }
        return bitmap;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    draw(dc, state);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

int CreateHostBitmaps(void) {
    DeleteHostBitmaps();
    HDC screen = GetDC(nullptr);
    int ok = 1;
    for (unsigned i = 0; i < CHANNEL_STATES; ++i) {
        s_channel[i] = DrawBitmap(screen, CHANNEL_WIDTH, CHANNEL_HEIGHT, DrawChannel, i);
        ok = ok && s_channel[i];
    }
    for (unsigned i = 0; i < LESSMORE_STATES; ++i) {
        s_lessMore[i] = DrawBitmap(screen, LESSMORE_WIDTH, LESSMORE_HEIGHT, DrawLessMore, i);
        ok = ok && s_lessMore[i];
    }
    ReleaseDC(nullptr, screen);
    return ok;
}

void DeleteHostBitmaps(void) {
    for (unsigned i = 0; i < CHANNEL_STATES; ++i) {
        if (s_channel[i]) {
            DeleteObject(s_channel[i]);
            s_channel[i] = nullptr;
        }
    }
    for (unsigned i = 0; i < LESSMORE_STATES; ++i) {
        if (s_lessMore[i]) {
            DeleteObject(s_lessMore[i]);
            s_lessMore[i] = nullptr;
        }
    }
}

HBITMAP* ChannelBitmapArray(void) {
    return s_channel;
}

HBITMAP* LessMoreBitmapArray(void) {
    return s_lessMore;
}
