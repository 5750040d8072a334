#pragma once

#include <windows.h>

/* Runs the "DEV_SEL" dialog on a scratch copy of the device table. Returns 0
   when a card and port were chosen (the port is then claimed in the table and
   ChosenSocket/ChosenPort tell which), -1 when cancelled or when no card had a
   free port (the table is then unchanged). */
INT_PTR RunDeviceSelector(HWND parent);
WORD ChosenSocket(void);
WORD ChosenPort(void);
