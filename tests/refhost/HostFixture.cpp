#include "HostFixture.h"

#include <cstdio>

std::vector<UINT> FakeClass::events;
LONG FakeClass::answer[256];
int FakeClass::processCalls;

std::string SettingsToHex(const ModuleSettings& settings) {
    std::string hex;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&settings);
    for (size_t i = 0; i < sizeof settings; ++i) {
        char two[3];
        snprintf(two, sizeof two, "%02X", bytes[i]);
        hex += two;
    }
    return hex;
}
