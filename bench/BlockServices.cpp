/*
 * Block services of the bench's own in place of the reference host's. The
 * extension looks its services up through the host window when it is set up;
 * the bench takes over that window's answers to function lookups for the four
 * block services it puts in place, and leaves every other message to the
 * reference host. Used to time the passes without the host's queues, and to
 * read the clock at the very moment of a release.
 */
#include "Bench.h"

#include <cstring>

static WNDPROC s_hostProcedure;
static BlockServices s_substitutes;
static BlockServices s_hostServices;

static void* HostAnswer(HWND window, const char* name) {
    return reinterpret_cast<void*>(
        CallWindowProcA(s_hostProcedure, window, HM_GETFUNC, 0, reinterpret_cast<LPARAM>(name)));
}

static void* Substitute(const char* name) {
    if (strcmp(name, "GetCurrentOutputBlock") == 0)
        return reinterpret_cast<void*>(s_substitutes.getCurrentOutputBlock);
    if (strcmp(name, "NewReleaseOutputBlock") == 0)
        return reinterpret_cast<void*>(s_substitutes.newReleaseOutputBlock);
    if (strcmp(name, "GetInputBlock") == 0)
        return reinterpret_cast<void*>(s_substitutes.getInputBlock);
    if (strcmp(name, "NewReleaseInputBlock") == 0)
        return reinterpret_cast<void*>(s_substitutes.newReleaseInputBlock);
    return nullptr;
}

static LRESULT CALLBACK AnswerWithSubstitutes(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == HM_GETFUNC && lParam) {
        void* substitute = Substitute(reinterpret_cast<const char*>(lParam));
        if (substitute)
            return reinterpret_cast<LRESULT>(substitute);
    }
    return CallWindowProcA(s_hostProcedure, window, message, wParam, lParam);
}

int SwapBlockServices(const BlockServices* substitutes) {
    HWND window = RefHost_MainWindow();
    if (!window || !substitutes)
        return 0;
    s_substitutes = *substitutes;
    /* Each admission creates a new host window, so the swap is made anew. */
    if (GetWindowLongPtrA(window, GWLP_WNDPROC) !=
        reinterpret_cast<LONG_PTR>(AnswerWithSubstitutes)) {
        LONG_PTR previous = SetWindowLongPtrA(window, GWLP_WNDPROC,
                                              reinterpret_cast<LONG_PTR>(AnswerWithSubstitutes));
        if (!previous)
            return 0;
        s_hostProcedure = reinterpret_cast<WNDPROC>(previous);
    }
    s_hostServices.getCurrentOutputBlock =
        reinterpret_cast<PFN_GetCurrentOutputBlock>(HostAnswer(window, "GetCurrentOutputBlock"));
    s_hostServices.newReleaseOutputBlock =
        reinterpret_cast<PFN_NewReleaseOutputBlock>(HostAnswer(window, "NewReleaseOutputBlock"));
    s_hostServices.getInputBlock =
        reinterpret_cast<PFN_GetInputBlock>(HostAnswer(window, "GetInputBlock"));
    s_hostServices.newReleaseInputBlock =
        reinterpret_cast<PFN_NewReleaseInputBlock>(HostAnswer(window, "NewReleaseInputBlock"));
    return s_hostServices.getCurrentOutputBlock && s_hostServices.newReleaseOutputBlock &&
           s_hostServices.getInputBlock && s_hostServices.newReleaseInputBlock;
}

const BlockServices* HostBlockServices(void) {
    return &s_hostServices;
}
