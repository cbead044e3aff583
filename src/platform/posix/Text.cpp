// Code page conversions without Windows: our own UTF-8 codec and the
// shared Windows-1252 table, plus the case folding the other POSIX parts share.
#include "platform/Text.h"

#include <cstdint>

#include "platform/Files.h"
#include "platform/os/CodePage1252.h"
#include "platform/posix/Utf.h"

namespace platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr std::uint32_t kErrorInvalidParameter = 87;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::u16string FromWindows1252(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(codepage1252::ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

namespace posix {

// Invalid input follows what the Windows converter does with flags 0: a byte
// that cannot start a sequence is one U+FFFD; a lead byte followed by a
// continuation byte outside the range its sequence allows (overlong forms,
// surrogates, values past U+10FFFF) gives one U+FFFD for both bytes; a
// sequence cut short gives one U+FFFD for the bytes it had.
std::u16string FromUtf8(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        int length = 0;
        std::uint32_t cp = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        if (j >= n || !IsContinuation(static_cast<unsigned char>(bytes[j]))) {
            out.push_back(kReplacement);
            i = j;
            continue;
        }
        const auto second = static_cast<unsigned char>(bytes[j]);
        if (second < low || second > high) {
            out.push_back(kReplacement);
            i = j + 1;
            continue;
        }
        cp = (cp << 6) | (second & 0x3F);
        ++j;
        bool complete = true;
        for (int k = 2; k < length; ++k, ++j) {
            if (j >= n || !IsContinuation(static_cast<unsigned char>(bytes[j]))) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(bytes[j]) & 0x3F);
        }
        if (complete) {
            AppendCodePoint(out, cp);
        } else {
            out.push_back(kReplacement);
        }
        i = j;
    }
    return out;
}

std::string ToUtf8(const std::u16string& text, bool* exact) {
    if (exact) *exact = true;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
            if (exact) *exact = false;
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

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

bool EqualsIgnoreCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpcaseUnit(a[i]) != UpcaseUnit(b[i])) return false;
    }
    return true;
}

}  // namespace posix

std::u16string MultiByteToWide(std::uint32_t codePage, const std::string& bytes) {
    switch (codePage) {
    case kCodePageUtf8: return posix::FromUtf8(bytes);
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
