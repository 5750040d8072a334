/*
 * Numbers shared by the resource script and the code that loads its dialogs
 * and strings. Plain decimal numbers only: the resource compiler reads this
 * file too. The resources themselves are named by string ("DEV_SEL",
 * "DK08_SET", "ABOUT", "QX4_MENU", "ICO_DK08", "BMP_DK08").
 */
#ifndef ORVIK_RESOURCE_IDS_H
#define ORVIK_RESOURCE_IDS_H

/* String table. */
#define IDS_SHORT_NAME     2950
#define IDS_TIMER          2951
#define IDS_SEPARATE       2954
#define IDS_LONG_NAME      3950
#define IDS_UNKNOWN        3951
#define IDS_MODULE_VERSION 3952

/* "QX4_MENU": the item that creates a module. */
#define IDM_CREATE_MODULE 2951

/* "DEV_SEL", the device selection dialog. */
#define IDC_DEVICE_LIST   103
#define IDC_IO_RANGE_1    1001
#define IDC_IO_RANGE_2    1002
#define IDC_DEVICE_SOCKET 1011
#define IDC_PORT_COMBO    1012
#define IDC_DIR_INPUT     1045
#define IDC_DIR_OUTPUT    1046

/* "DK08_SET", the module settings dialog. Channel button k is
   IDC_CHANNEL_FIRST + k for k = 0 to 15; only 0 to 7 are ever used. */
#define IDC_STEP_LESS       23000
#define IDC_STEP_MORE       23001
#define IDC_CHANNEL_FIRST   23002
#define IDC_MODULE_NAME     23018
#define IDC_MODULE_DESC     23019
#define IDC_SELECTED_NUMBER 23020
#define IDC_CHANNEL_NAME    23021
#define IDC_HELP_BUTTON     9
#define IDC_VERSION_BUTTON  1006
#define IDC_SETTINGS_SOCKET 1011
#define IDC_SETTINGS_PORT   1044

/* "ABOUT". */
#define IDC_ABOUT_VERSION 1007

#endif
