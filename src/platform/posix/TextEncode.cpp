// Our own UTF-8 and Windows-1252 encoders, matching Windows byte for byte.
#include "platform/TextEncode.h"

#include "platform/Text.h"
#include "platform/posix/Utf.h"

namespace platform {
namespace {

// Code points of bytes 0x80..0x9F.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

bool ToWindows1252Byte(char16_t c, char* byte) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        *byte = static_cast<char>(c);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kWindows1252High[i] == c) {
            *byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

}  // namespace

std::string WideToCodePage(std::uint32_t codePage, const std::u16string& text, bool* usedDefaultChar) {
    if (usedDefaultChar != nullptr) *usedDefaultChar = false;
    if (codePage == kCodePageUtf8) return posix::ToUtf8(text);
    if (codePage != kCodePageWindows1252) return std::string();
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t c : text) {
        char byte = '?';
        if (!ToWindows1252Byte(c, &byte) && usedDefaultChar != nullptr) *usedDefaultChar = true;
        bytes.push_back(byte);
    }
    return bytes;
}

}  // namespace platform
