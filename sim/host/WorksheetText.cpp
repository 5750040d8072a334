/*
 * Names in worksheet files: the UTF-8 a person types into the file and the
 * code page 932 bytes the records hold. Each character is converted on its own
 * and converted back, so a character the code page lacks, or one it would only
 * approximate, is reported instead of turning into another one.
 */
#include "sim/host/WorksheetText.h"

#include <windows.h>

#include <cstdio>

#define CP_JAPANESE      932u
#define MESSAGE_TEXT_CAP 40u

int WorksheetText_Printable(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return 0;
        }
    }
    return 1;
}

static int ToWide(UINT codePage, const std::string& text, std::wstring* wide) {
    wide->clear();
    if (text.empty()) {
        return 1;
    }
    int size = static_cast<int>(text.size());
    int count = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (count <= 0) {
        return 0;
    }
    wide->resize(static_cast<size_t>(count));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, &(*wide)[0],
                               count) == count;
}

static int FromWide(UINT codePage, const wchar_t* wide, int count, std::string* text) {
    text->clear();
    if (count == 0) {
        return 1;
    }
    BOOL usedDefault = FALSE;
    BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
    int size = WideCharToMultiByte(codePage, 0, wide, count, nullptr, 0, nullptr, used);
    if (size <= 0 || usedDefault) {
        return 0;
    }
    text->resize(static_cast<size_t>(size));
    return WideCharToMultiByte(codePage, 0, wide, count, &(*text)[0], size, nullptr, used) ==
               size &&
           !usedDefault;
}

/* One character (one or two UTF-16 units) in code page 932, only when the
   bytes read back as the same character: best-fit look-alikes do not count. */
static int CharacterToCp932(const wchar_t* units, int count, std::string* bytes) {
    std::wstring back;
    return FromWide(CP_JAPANESE, units, count, bytes) && ToWide(CP_JAPANESE, *bytes, &back) &&
           back.size() == static_cast<size_t>(count) &&
           back.compare(0, back.size(), units, static_cast<size_t>(count)) == 0;
}

static int UnitsOfCharacter(const std::wstring& wide, size_t i) {
    return IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1]) ? 2
                                                                                              : 1;
}

static unsigned long CodePoint(const std::wstring& wide, size_t i, int units) {
    if (units == 2) {
        return 0x10000ul + ((static_cast<unsigned long>(wide[i]) - 0xD800ul) << 10) +
               (static_cast<unsigned long>(wide[i + 1]) - 0xDC00ul);
    }
    return static_cast<unsigned long>(wide[i]);
}

int WorksheetText_FromUtf8(const std::string& utf8, std::string* cp932, std::string* why) {
    std::wstring wide;
    cp932->clear();
    if (!ToWide(CP_UTF8, utf8, &wide)) {
        *why = "is not valid UTF-8";
        return 0;
    }
    if (!WorksheetText_Printable(utf8)) {
        *why = "holds a control character";
        return 0;
    }
    for (size_t i = 0; i < wide.size();) {
        int units = UnitsOfCharacter(wide, i);
        std::string bytes;
        if (!CharacterToCp932(&wide[i], units, &bytes)) {
            char text[80];
            std::snprintf(text, sizeof text, "holds U+%04lX, which code page 932 lacks",
                          CodePoint(wide, i, units));
            *why = text;
            return 0;
        }
        *cp932 += bytes;
        i += static_cast<size_t>(units);
    }
    return 1;
}

int WorksheetText_ToUtf8(const std::string& cp932, std::string* utf8) {
    std::wstring wide;
    std::string back;
    return WorksheetText_Printable(cp932) && ToWide(CP_JAPANESE, cp932, &wide) &&
           FromWide(CP_UTF8, wide.data(), static_cast<int>(wide.size()), utf8) &&
           FromWide(CP_JAPANESE, wide.data(), static_cast<int>(wide.size()), &back) &&
           back == cp932;
}

/* Decodes one UTF-8 sequence at i by its lead byte; a sequence that does not
   convert takes one byte, so a damaged text still advances. */
static size_t Utf8SequenceLength(const std::string& text, size_t i) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return i + length <= text.size() ? length : 1;
}

std::string WorksheetText_ForMessage(const std::string& utf8) {
    std::string quoted;
    size_t i = 0;
    while (i < utf8.size() && quoted.size() < MESSAGE_TEXT_CAP) {
        size_t length = Utf8SequenceLength(utf8, i);
        std::string bytes, why;
        if (WorksheetText_FromUtf8(utf8.substr(i, length), &bytes, &why)) {
            quoted += bytes;
        } else {
            quoted += '?';
        }
        i += length;
    }
    return i < utf8.size() ? quoted + "..." : quoted;
}
