// Windows-1252 as one table that every build shares, so that an XML file
// in that code page reads and writes the same characters on Windows and
// elsewhere. The five bytes the code page leaves undefined (81, 8D, 8F, 90,
// 9D) stand for the C1 controls of the same value, so that no byte is lost.
// Header-only and free of the engine, like Strings.h: the POSIX backend's
// converter uses it too.
#pragma once

namespace codepage1252 {

// Bytes 0x80..0x9F; every other byte is the Latin-1 character of its value.
inline constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

// The character of a byte.
inline char16_t ToUnicode(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte; }

// The byte of a character; false when the code page has none for it.
inline bool FromUnicode(char16_t unit, unsigned char* byte) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        *byte = static_cast<unsigned char>(unit);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == unit) {
            *byte = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

}  // namespace codepage1252
