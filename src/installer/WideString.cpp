#include "installer/WideString.h"

WideString ToWideUnsigned(std::uint64_t value) {
    char16_t digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    WideString text;
    while (n > 0) text.push_back(digits[--n]);
    return text;
}

WideString ToWideDecimal(std::int64_t value) {
    if (value >= 0) return ToWideUnsigned(static_cast<std::uint64_t>(value));
    // Negate in unsigned arithmetic so that the smallest value does not overflow.
    WideString text = ToWideUnsigned(0 - static_cast<std::uint64_t>(value));
    text.insert(text.begin(), u'-');
    return text;
}

WideString ToWideHex8(std::uint32_t value) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    WideString text(8, u'0');
    for (int i = 7; i >= 0; --i, value >>= 4) text[i] = kDigits[value & 0xF];
    return text;
}

namespace {

// Length of the well-formed UTF-8 sequence at text[i], with its code point;
// 0 when the bytes there are not one.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t* cp) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t smallest;
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, *cp = b0 & 0x1F, smallest = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, *cp = b0 & 0x0F, smallest = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, *cp = b0 & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        *cp = (*cp << 6) | (b & 0x3F);
    }
    if (*cp < smallest || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp < 0xE000)) return 0;
    return length;
}

}  // namespace

WideString Widen(std::string_view text) {
    WideString out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t length = DecodeUtf8(text, i, &cp);
        if (length == 0) {
            out.push_back(static_cast<unsigned char>(text[i++]));  // Latin-1 fallback
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
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
    return out;
}

char16_t ToLowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool EqualsIgnoreCaseAscii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}
