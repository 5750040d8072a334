/*
 * The extension's entry points: the start-up sequence that binds it to the host,
 * the card and the user interface, and the shut-down sequence that undoes it.
 * Process attach itself lives in DllMain.cpp, the DLL's thin shell; the two
 * handles it records live in host/LibraryHandles.cpp.
 */
#include "extension/Library.h"

#include "card/DeviceTable.h"
#include "host/HostServices.h"
#include "module/Dk08Main.h"
#include "ui/Controls.h"
#include "ui/Placement.h"

/* Without the notification window or the driver the host gets no menu and no
   module type, but the extension is still admitted. */
static void SetUpCardAndModule(void) {
    if (!CreateNotifyWindow())
        return;
    if (!EnumerateDevices())
        return;
    RegisterDk08ModuleClass();
}

extern "C" LONG WINAPI SetupOrvikDLL(HWND hostMainWindow) {
    SetHostMainWindow(hostMainWindow);
    if (!ResolveHostServices(hostMainWindow))
        return 0;
    if (!RegisterWithHost())
        return 0;
    SetUpCardAndModule();
    RegisterControlClasses();
    return 1;
}

/* The notification window goes before the driver: its procedure is ours, and a
   host that unloads us before destroying its main window must not reach it. */
extern "C" LONG WINAPI FinishOrvikDLL(LONG) {
    UnregisterControlClasses();
    ReleaseDialogFont();
    DestroyNotifyWindow();
    CloseDevices();
    return 1;
}

extern "C" LONG WINAPI WEP(LONG) {
    return 1;
}
