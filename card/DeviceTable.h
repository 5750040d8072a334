/*
 * The sixteen card sockets as found at start-up, which of their ports modules
 * claim and in which direction, the hidden window the driver tells about pulled
 * cards, and the enumeration and closing of the cards.
 */
#pragma once

#include <windows.h>

#define SOCKET_COUNT   16u
#define NO_CARD_HANDLE 0xFFFFu

struct DeviceEntry {
    DWORD status; /* 1: a card answered and its resources were read */
    DWORD ioBase1;
    DWORD ioBase2;
    DWORD ioLength1;
    DWORD ioLength2;
    WORD handle;        /* what Dk08Create left in the socket variable; 0xFFFF for none */
    DWORD portInUse[3]; /* modules bound to each port: 0 free, more than 1 only from a worksheet */
    DWORD portIsOutput[3];
    DWORD configured; /* directions programmed for the current run */
};

/* The library-wide table; index by socket number below SOCKET_COUNT only. */
DeviceEntry* DeviceTable(void);
/* Socket and port from stored settings are checked before they index the table. */
int IsValidSocketPort(unsigned socket, unsigned port);

/* 1 when the class "DK08MSGPROC" was registered and the window created. */
int CreateNotifyWindow(void);
HWND NotifyWindow(void);
/* Destroys the window and unregisters its class; safe when neither exists. */
void DestroyNotifyWindow(void);

/* Loads the driver library and fills the table; 0 only when loading failed. */
int EnumerateDevices(void);
/* Closes every present card, then unloads the driver library; always 1. */
int CloseDevices(void);
