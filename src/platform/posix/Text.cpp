// Code page conversions without Windows: the shared UTF-8 codec and
// Windows-1252 table, plus the case folding the other POSIX parts share.
#include "platform/Text.h"

#include <cstdint>

#include "platform/CodePage1252.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/posix/CaseFolding.h"

namespace platform {
namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;

std::u16string FromWindows1252(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(codepage1252::ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

namespace posix {

char16_t UpcaseUnit(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    // Latin Extended-A: pairs of capital and small letters.
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c & 1) ? static_cast<char16_t>(c - 1) : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c : static_cast<char16_t>(c - 1);
    // Greek.
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c == 0x3C2) return 0x3A3;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 0x3F);
    // Cyrillic.
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return (c & 1) ? static_cast<char16_t>(c - 1) : c;
    // Full-width Latin.
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
    return c;
}

std::u16string Upcase(const std::u16string& text) {
    std::u16string out(text);
    for (char16_t& c : out) c = UpcaseUnit(c);
    return out;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpcaseUnit(a[i]) != UpcaseUnit(b[i])) return false;
    }
    return true;
}

}  // namespace posix

std::u16string MultiByteToWide(std::uint32_t codePage, const std::string& bytes) {
    switch (codePage) {
    case kCodePageUtf8: return strings::FromUtf8(bytes);
    case kCodePageWindows1252: return FromWindows1252(bytes);
    default: SetLastError(kErrorInvalidParameter); return std::u16string();
    }
}

// Our own stand-ins for two of the Windows tests. "Statistics": read as
// little-endian UTF-16, most of the (at least two) characters have a zero
// high byte, which holds for Latin text. "Null bytes": a zero byte before the
// last one, which plain 8-bit text does not have. Both agree with Windows on
// ordinary text; other tests are not supported and never pass.
bool IsTextUnicode(const void* buffer, std::size_t size, int tests) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    if ((tests & kIsTextUnicodeStatistics) != 0) {
        const std::size_t units = size / 2;
        std::size_t zeroHigh = 0;
        for (std::size_t i = 0; i < units; ++i) {
            if (bytes[2 * i + 1] == 0) ++zeroHigh;
        }
        if (units >= 2 && 2 * zeroHigh > units) return true;
    }
    if ((tests & kIsTextUnicodeNullBytes) != 0) {
        for (std::size_t i = 0; i + 1 < size; ++i) {
            if (bytes[i] == 0) return true;
        }
    }
    return false;
}

}  // namespace platform
