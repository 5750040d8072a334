#include "tests/recorder/TestFiles.h"

#include <windows.h>

#include <cstdio>

std::string ScratchPath(const char* name) {
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder))
        folder[0] = '\0';
    char path[MAX_PATH + 64];
    snprintf(path, sizeof(path), "%sorvik_rec_%lu_%s", folder, GetCurrentProcessId(), name);
    return path;
}

std::string ReadBytes(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    std::string bytes;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
        bytes.append(buffer, got);
    fclose(file);
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}
