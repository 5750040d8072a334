#pragma once

#include <windows.h>

/* Where a dialog of the given size goes: centred over the reference rectangle
   (screen coordinates of the reference window's client area, or the desktop's
   size taken from the origin), then kept on a primary screen of the given size. */
POINT ComputeDialogPosition(SIZE dialog, RECT referenceOnScreen, SIZE screen);

/* Centres the dialog over the reference window (may be null) and gives its
   statics and buttons the cached normal-weight font. */
void PlaceDialog(HWND dialog, HWND reference);

/* Releases the cached dialog font through the host, if it was ever made. */
void ReleaseDialogFont(void);

/* The "ABOUT" box; only OK or Enter closes it. */
void RunAboutBox(HWND parent);
