#include "HostFixture.h"

#include <cstdio>
#include <cstring>

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

std::string HexModule(const char* name, const char* counts, WORD socket, DWORD port) {
    ModuleSettings settings;
    std::memset(&settings, 0, sizeof settings);
    for (unsigned k = 0; k < CHANNEL_POSITIONS; ++k) {
        std::snprintf(settings.channelNames[k], CHANNEL_NAME_SLOT, "D%u", k);
    }
    settings.socket = socket;
    settings.port = port;
    return std::string("module\nname ") + name + "\n" + counts + "settings " +
           SettingsToHex(settings) + "\nend\n";
}

std::string ReadWholeFile(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return text;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    std::fclose(file);
    return text;
}
