/*
 * The text the host prints, in one encoding wherever it goes: every line is
 * built as UTF-8, names the extension gave in code page 932 are converted
 * first, and a line for a console window is handed over as characters
 * (WriteConsoleW), so the window shows it in its own code page. Output sent
 * to a pipe or a file stays UTF-8, which is what a Linux terminal under Wine
 * and the scripts reading it expect. Raw bytes written to a console are
 * re-coded by it and would come out garbled, so nothing takes that way.
 */
#include "sim/host/HostInternal.h"
#include "sim/host/Recorder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#define NAME_BUFFERS     8u
#define NAME_HELD_BYTES  512u
#define NAME_TEXT_BYTES  (3u * NAME_HELD_BYTES + 1u)
#define PRINT_LINE_BYTES 2048u

/* The console window behind stdout or stderr, or null when the stream goes
   to a pipe, a file or anywhere else. */
static HANDLE ConsoleOf(FILE* out) {
    DWORD which = out == stdout ? STD_OUTPUT_HANDLE : out == stderr ? STD_ERROR_HANDLE : 0;
    if (which == 0) {
        return nullptr;
    }
    HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return nullptr;
    }
    return handle;
}

static int WriteToConsole(HANDLE console, const char* text, size_t length) {
    int count = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
    if (count <= 0) {
        return 0;
    }
    std::vector<wchar_t> wide(static_cast<size_t>(count));
    MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), wide.data(), count);
    DWORD written = 0;
    return WriteConsoleW(console, wide.data(), static_cast<DWORD>(count), &written, nullptr) != 0;
}

void RefHost_PrintText(FILE* out, const char* text) {
    size_t length = std::strlen(text);
    HANDLE console = ConsoleOf(out);
    if (console) {
        std::fflush(out); /* what the stream still holds goes first */
        if (WriteToConsole(console, text, length)) {
            return;
        }
    }
    std::fwrite(text, 1, length, out);
}

void RefHost_Print(FILE* out, const char* format, ...) {
    char line[PRINT_LINE_BYTES];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    if (static_cast<size_t>(n) < sizeof line) {
        RefHost_PrintText(out, line);
        return;
    }
    std::vector<char> longer(static_cast<size_t>(n) + 1u);
    va_start(args, format);
    std::vsnprintf(longer.data(), longer.size(), format, args);
    va_end(args);
    RefHost_PrintText(out, longer.data());
}

const char* RefHost_Utf8(const char* name, size_t maxBytes) {
    static char buffers[NAME_BUFFERS][NAME_TEXT_BYTES];
    static unsigned next;
    char* out = buffers[next++ % NAME_BUFFERS];
    char held[NAME_HELD_BYTES];
    size_t n = 0;
    while (name && n < maxBytes && n + 1 < sizeof held && name[n]) {
        held[n] = name[n];
        ++n;
    }
    held[n] = 0;
    Recorder_ToUtf8(held, out, NAME_TEXT_BYTES);
    return out;
}
