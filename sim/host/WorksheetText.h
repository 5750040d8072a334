/*
 * Names in worksheet files: UTF-8 in the file, code page 932 in the records
 * the extension reads and in the texts the host keeps. A conversion either
 * keeps every character or fails with the reason; nothing is cut or replaced.
 */
#pragma once

#include <string>

/* 1 with the code page 932 bytes of a UTF-8 text; 0 with the reason when the
   text is no UTF-8, holds a control character, or holds a character code page
   932 lacks. The reason names such a character by its number ("holds U+00E9,
   which code page 932 lacks"): it goes into code page 932 text itself. */
int WorksheetText_FromUtf8(const std::string& utf8, std::string* cp932, std::string* why);
/* 1 with the UTF-8 text of code page 932 bytes that convert back to the same
   bytes and hold no control character; 0 otherwise. */
int WorksheetText_ToUtf8(const std::string& cp932, std::string* utf8);
/* 1 when bytes of a name hold no control character (below 0x20, or 0x7F). */
int WorksheetText_Printable(const std::string& text);
/* A UTF-8 text from the file, quoted in a problem line: code page 932 where
   it converts, '?' for what does not, cut after about 40 bytes. */
std::string WorksheetText_ForMessage(const std::string& utf8);
