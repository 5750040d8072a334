/* Placeholder until the card access lands. */
#include "card/DeviceTable.h"
#include "card/Driver.h"
int CreateNotifyWindow(void) { return 0; }
void DestroyNotifyWindow(void) {}
int EnumerateDevices(void) { return 0; }
int CloseDevices(void) { return 1; }
