// Text helpers that need nothing but the standard library, shared by every
// layer: the engine, both platform backends, the installer stand-in and the
// tools. UTF-8 and UTF-16 conversion, UTF-16LE bytes, prefixes and
// splitting on a separator. Header-only, so that the platform uses them without depending
// on the engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace strings {

constexpr char16_t kReplacementCharacter = 0xFFFD;

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

struct Utf8Sequence {
    bool valid;
    std::size_t length;  // of the sequence, or of the bytes one U+FFFD stands for
    char32_t codePoint;
};

// The UTF-8 sequence at bytes[i]. An invalid one is cut where the Windows
// converter cuts it: a byte that cannot start a sequence is one piece; a lead
// byte with a continuation byte outside the range it allows (overlong forms,
// surrogates, values past U+10FFFF) is one piece of both; a sequence cut
// short is one piece of the bytes it had.
inline Utf8Sequence DecodeUtf8(std::string_view bytes, std::size_t i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) return {true, 1, lead};
    std::size_t length;
    char32_t cp;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return {false, 1, 0};
    }
    for (std::size_t k = 1; k < length; ++k) {
        const std::size_t at = i + k;
        const auto b = at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0;
        if ((b & 0xC0) != 0x80) return {false, k, 0};
        if (k == 1 && (b < low || b > high)) return {false, 2, 0};
        cp = (cp << 6) | (b & 0x3F);
    }
    return {true, length, cp};
}

inline void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

inline void AppendUtf8(std::string& out, char32_t cp) {
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

// The character at text[i], and in *units how many code units it takes; a
// lone surrogate reads as U+FFFD.
inline char32_t CodePointAt(std::u16string_view text, std::size_t i, std::size_t* units) {
    const char16_t c = text[i];
    *units = 1;
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        *units = 2;
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    }
    return IsHighSurrogate(c) || IsLowSurrogate(c) ? kReplacementCharacter : c;
}

namespace detail {

template <typename Char>
std::vector<std::basic_string<Char>> Split(std::basic_string_view<Char> text, Char separator) {
    std::vector<std::basic_string<Char>> pieces;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != text.npos; at = text.find(separator, start)) {
        pieces.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

}  // namespace detail

// UTF-8 to UTF-16 as the Windows converter does it (MultiByteToWideChar with
// CP_UTF8 and no flags): each invalid piece (see DecodeUtf8) is one U+FFFD.
inline std::u16string FromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Sequence sequence = DecodeUtf8(bytes, i);
        AppendUtf16(out, sequence.valid ? sequence.codePoint : kReplacementCharacter);
        i += sequence.length;
    }
    return out;
}

// UTF-8 to UTF-16 for texts that may be in another 8-bit encoding (messages
// of the standard library, source file names): a byte that does not start a
// well-formed sequence is taken as Latin-1.
inline std::u16string FromUtf8OrLatin1(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Sequence sequence = DecodeUtf8(bytes, i);
        if (sequence.valid) {
            AppendUtf16(out, sequence.codePoint);
            i += sequence.length;
        } else {
            out.push_back(static_cast<unsigned char>(bytes[i++]));
        }
    }
    return out;
}

// UTF-16 to UTF-8. A lone surrogate has no UTF-8 form: it becomes U+FFFD,
// and *exact (when given) turns false.
inline std::string ToUtf8(std::u16string_view text, bool* exact = nullptr) {
    if (exact != nullptr) *exact = true;
    std::string out;
    out.reserve(text.size());
    std::size_t units = 1;
    for (std::size_t i = 0; i < text.size(); i += units) {
        AppendUtf8(out, CodePointAt(text, i, &units));
        if (exact != nullptr && units == 1 && (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))) *exact = false;
    }
    return out;
}

// The code units as UTF-16LE bytes, without a byte order mark.
inline std::string ToUtf16Le(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

inline bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
inline bool EndsWith(std::u16string_view text, std::u16string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The pieces between the separators, empty ones included: n separators give
// n + 1 pieces, so an empty text is one empty piece.
inline std::vector<std::u16string> Split(std::u16string_view text, char16_t separator) {
    return detail::Split(text, separator);
}
inline std::vector<std::string> Split(std::string_view text, char separator) {
    return detail::Split(text, separator);
}

}  // namespace strings
