#pragma once

#include <windows.h>

/* Where a dialog of the given size goes: centred on the given point (screen
   coordinates), then kept on a primary screen of the given size. */
POINT ComputeDialogPosition(SIZE dialog, POINT centreOnScreen, SIZE screen);

/* Centres the dialog over the reference window (may be null) and gives its
   statics and buttons the cached normal-weight font. */
void PlaceDialog(HWND dialog, HWND reference);

/* Releases the cached dialog font through the host, if it was ever made. */
void ReleaseDialogFont(void);

/* The "ABOUT" box; only OK or Enter closes it. */
void RunAboutBox(HWND parent);
