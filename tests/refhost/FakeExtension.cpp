/*
 * A small extension DLL for the program's exit-code tests: it does one thing
 * wrong (or nothing), chosen by the ORVIK_FAKE_EXTENSION environment variable
 * of the process that loads it:
 *   refuse   SetupOrvikDLL answers 0
 *   leak     allocates a block and never frees it
 *   badfree  frees a pointer the host never handed out
 *   warn     shows one warning
 * Anything else admits and does nothing.
 */
#include "host/HostAbi.h"

#include <cstring>

template <typename T> static T Lookup(HWND host, const char* name) {
    return reinterpret_cast<T>(SendMessageA(host, HM_GETFUNC, 0, reinterpret_cast<LPARAM>(name)));
}

extern "C" __declspec(dllexport) LONG WINAPI SetupOrvikDLL(HWND host) {
    char mode[32] = "";
    GetEnvironmentVariableA("ORVIK_FAKE_EXTENSION", mode, sizeof mode);
    if (std::strcmp(mode, "refuse") == 0) {
        return 0;
    }
    PFN_DefineDllModule define = Lookup<PFN_DefineDllModule>(host, "DefineDllModule");
    if (!define || !define()) {
        return 0;
    }
    if (std::strcmp(mode, "leak") == 0) {
        Lookup<PFN_NewMemAlloc>(host, "NewMemAlloc")(16, "fake", 1);
    } else if (std::strcmp(mode, "badfree") == 0) {
        static char notFromHost[16];
        Lookup<PFN_NewDoMemFree>(host, "NewDoMemFree")(notFromHost, "fake", 2);
    } else if (std::strcmp(mode, "warn") == 0) {
        Lookup<PFN_ShowWarning>(host, "ShowWarning")("fake", "a warning from the fake extension");
    }
    return 1;
}

extern "C" __declspec(dllexport) LONG WINAPI FinishOrvikDLL(LONG) {
    return 1;
}
