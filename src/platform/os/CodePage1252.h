// Windows-1252 as one table that every build shares, so that an XML file
// in that code page reads and writes the same characters on Windows and
// elsewhere. The five bytes the code page leaves undefined (81, 8D, 8F, 90,
// 9D) stand for the C1 controls of the same value, so that no byte is lost.
#pragma once

namespace codepage1252 {

// The character of a byte.
char16_t ToUnicode(unsigned char byte);
// The byte of a character; false when the code page has none for it.
bool FromUnicode(char16_t unit, unsigned char* byte);

}  // namespace codepage1252
