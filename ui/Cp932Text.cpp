/*
 * Cutting code page 932 text to a byte limit on a character boundary, for the
 * names and descriptions the settings dialog stores in fixed-size fields.
 */
#include "ui/Cp932Text.h"

#include <cstring>

int IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

/* Bytes of the character starting at text: 2 for a lead and its trail byte,
   1 for a single-byte character, 0 for a lead byte with nothing after it. */
static size_t CharacterBytes(const char* text) {
    if (!IsCp932LeadByte(static_cast<unsigned char>(text[0])))
        return 1;
    return text[1] != '\0' ? 2 : 0;
}

size_t CopyCp932Prefix(char* destination, size_t bufferBytes, const char* source) {
    if (bufferBytes == 0)
        return 0;
    size_t length = 0;
    while (source[length] != '\0') {
        size_t width = CharacterBytes(source + length);
        if (width == 0 || length + width > bufferBytes - 1)
            break;
        length += width;
    }
    memmove(destination, source, length);
    destination[length] = '\0';
    return length;
}
