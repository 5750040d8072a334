/*
 * The channel button ("OLM:CONTROLKANAL") and step button
 * ("OLM:CONTROLLESSMORE") window classes used by the settings dialog.
 */
#pragma once

#include <windows.h>

#define CTLM_SETSTATE      254u  /* also WM_INPUT_DEVICE_CHANGE's number */
#define CTLN_LBUTTONDOWN   1025u /* WM_USER + 1 */
#define CTLN_LBUTTONUP     1026u
#define CTLN_LBUTTONDBLCLK 1027u
#define CTLN_RBUTTONDBLCLK 1028u
#define CTLM_DESELECT      1029u /* WM_USER + 5 */

#define CHANNEL_SELECTED 1u
#define CHANNEL_PRESENT  2u
#define CHANNEL_ABSENT   3u

#define STEP_LESS_DISABLED 0u
#define STEP_LESS_ENABLED  1u
#define STEP_LESS_PRESSED  2u
#define STEP_MORE_DISABLED 3u
#define STEP_MORE_ENABLED  4u
#define STEP_MORE_PRESSED  5u

#define CMD_STEP_LESS 23000u
#define CMD_STEP_MORE 23001u

void RegisterControlClasses(void);
void UnregisterControlClasses(void);

/* Copies the state's bitmap to (0, 0) of the device context. */
void BlitStateBitmap(HDC dc, HBITMAP bitmap);
