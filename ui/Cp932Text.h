/*
 * Byte limits on 8-bit Japanese text (code page 932): a cut never splits a
 * double-byte character.
 */
#pragma once

#include <cstddef>

/* 1 for the first byte of a double-byte character in code page 932 (0x81 to
   0x9F and 0xE0 to 0xFC). Decided from the code page's fixed ranges rather than
   IsDBCSLeadByteEx, so the cut does not depend on the system's tables. */
int IsCp932LeadByte(unsigned char byte);

/* Copies the longest prefix of source that fits in bufferBytes - 1 bytes and
   ends on a character boundary into destination, and terminates it. A
   double-byte character the limit would split, and a lead byte left without
   its trail byte, are dropped whole. Returns the bytes of text copied. */
size_t CopyCp932Prefix(char* destination, size_t bufferBytes, const char* source);
