/*
 * The sixteen card sockets: the enumeration that fills the DeviceTable at
 * start-up, the closing of the cards at shut-down, and the hidden window the
 * driver posts to when a card is pulled. Which ports modules claim is written
 * by the module and dialog code; this file only clears the claims.
 */
#include "card/DeviceTable.h"

#include "card/Driver.h"
#include "card/DriverAbi.h"
#include "card/Ppi8255.h"
#include "host/LibraryHandles.h"
#include "host/HostServices.h"

#include <cstring>

#define NOTIFY_CLASS_NAME   "DK08MSGPROC"
#define NOTIFY_WINDOW_TITLE "GETMSG"
#define NOTIFY_CLASS_STYLE  (CS_DBLCLKS | CS_NOCLOSE)
#define NOTIFY_WINDOW_STYLE (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN)
static_assert(NOTIFY_CLASS_STYLE == 0x0208, "notify class style");
static_assert(NOTIFY_WINDOW_STYLE == 0x02CF0000, "notify window style");

static DeviceEntry s_devices[SOCKET_COUNT];
static HWND s_notifyWindow;
/* Set only when this extension registered the class, so that shut-down never
   unregisters a class somebody else owns. */
static int s_notifyClassRegistered;

DeviceEntry* DeviceTable(void) {
    return s_devices;
}

int IsValidSocketPort(unsigned socket, unsigned port) {
    return socket < SOCKET_COUNT && port < PORT_COUNT;
}

HWND NotifyWindow(void) {
    return s_notifyWindow;
}

/* ---- Card-removal notice ------------------------------------------------- */

/* Both parameters are ignored: any pulled card stops the run alike. */
static LRESULT NotifyWindow_OnCardRemoved(HWND, WPARAM, LPARAM) {
    const HostCalls& host = Host();
    if (host.StopExperiment)
        host.StopExperiment();
    if (host.ShowWarning)
        host.ShowWarning("RZX-DK08 警告",
                         "実行にカードを抜かないでください\n"
                         "継続する場合はカードを差込み、Orvikを再起動してください");
    return 0;
}

struct NotifyHandler {
    UINT message;
    LRESULT (*handle)(HWND window, WPARAM wParam, LPARAM lParam);
};
static const NotifyHandler kNotifyHandlers[] = {
    {WM_DK08_CARD_REMOVED, NotifyWindow_OnCardRemoved},
};

static LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    for (const NotifyHandler& handler : kNotifyHandlers) {
        if (handler.message == message)
            return handler.handle(window, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int RegisterNotifyClass(void) {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = NOTIFY_CLASS_STYLE;
    windowClass.lpfnWndProc = NotifyWindowProc;
    windowClass.cbWndExtra = 4;
    windowClass.hInstance = HostInstance();
    windowClass.hIcon = LoadIconA(LibraryInstance(), IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = NOTIFY_CLASS_NAME;
    return RegisterClassA(&windowClass) != 0;
}

int CreateNotifyWindow(void) {
    if (!RegisterNotifyClass())
        return 0;
    s_notifyClassRegistered = 1;
    s_notifyWindow = nullptr;
    s_notifyWindow = CreateWindowExA(0, NOTIFY_CLASS_NAME, NOTIFY_WINDOW_TITLE, NOTIFY_WINDOW_STYLE,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     HostMainWindow(), nullptr, HostInstance(), nullptr);
    return s_notifyWindow != nullptr;
}

/* The window's procedure is ours: it must be gone before the extension (or the
   driver that posts to it) is unloaded. */
void DestroyNotifyWindow(void) {
    if (s_notifyWindow && IsWindow(s_notifyWindow))
        DestroyWindow(s_notifyWindow);
    s_notifyWindow = nullptr;
    if (s_notifyClassRegistered)
        UnregisterClassA(NOTIFY_CLASS_NAME, HostInstance());
    s_notifyClassRegistered = 0;
}

/* ---- Enumeration and closing ---------------------------------------------- */

static void ClearPortClaims(DeviceEntry* entry) {
    entry->configured = 0;
    for (unsigned port = 0; port < PORT_COUNT; ++port) {
        entry->portInUse[port] = 0;
        entry->portIsOutput[port] = 0;
    }
}

static void RecordAbsent(DeviceEntry* entry) {
    entry->status = 0;
    entry->ioBase1 = 0;
    entry->ioBase2 = 0;
    entry->ioLength1 = 0;
    entry->ioLength2 = 0;
    entry->handle = NO_CARD_HANDLE;
}

static void RecordPresent(DeviceEntry* entry, const DriverResource& resource, DWORD handle) {
    entry->status = 1;
    entry->ioBase1 = resource.ioBase1;
    entry->ioBase2 = resource.ioBase2;
    entry->ioLength1 = resource.ioLength1;
    entry->ioLength2 = resource.ioLength2;
    entry->handle = static_cast<WORD>(handle & 0xFFFFu);
}

/* Only exactly 1 counts from either call: a driver may answer other non-zero
   codes for a card it cannot hand out. A card whose resources cannot be read
   is closed again right away and never again at shut-down. */
static void EnumerateSocket(unsigned socket) {
    DeviceEntry* entry = &s_devices[socket];
    ClearPortClaims(entry);
    DWORD socketVariable = socket;
    if (CardCreate(&socketVariable, s_notifyWindow, WM_DK08_CARD_REMOVED, 0) != 1) {
        RecordAbsent(entry);
        return;
    }
    DriverResource resource;
    memset(&resource, 0, sizeof resource);
    if (CardGetResource(socketVariable, &resource) == 1) {
        RecordPresent(entry, resource, socketVariable);
        return;
    }
    RecordAbsent(entry);
    CardClose(socketVariable);
}

int EnumerateDevices(void) {
    if (!LoadDriverLibrary())
        return 0;
    for (unsigned socket = 0; socket < SOCKET_COUNT; ++socket)
        EnumerateSocket(socket);
    return 1;
}

int CloseDevices(void) {
    for (unsigned socket = 0; socket < SOCKET_COUNT; ++socket) {
        if (s_devices[socket].status == 1)
            CardClose(s_devices[socket].handle);
    }
    UnloadDriverLibrary();
    return 1;
}
