// UTF-16 text helpers shared by the whole engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Strings.h"

using WideString = std::u16string;

// Decimal digits of a number, with a minus sign when negative.
WideString ToWideDecimal(std::int64_t value);
WideString ToWideUnsigned(std::uint64_t value);
// Widens narrow text: UTF-8 decoded, invalid bytes taken as Latin-1.
inline WideString Widen(std::string_view text) { return strings::FromUtf8OrLatin1(text); }
// UTF-8 for messages and tests; lone surrogates become U+FFFD.
inline std::string Narrow(std::u16string_view text) { return strings::ToUtf8(text); }
// ASCII-only case folding, as Windows does for identifiers.
char16_t ToLowerAscii(char16_t c);
bool EqualsIgnoreCaseAscii(std::u16string_view a, std::u16string_view b);

// Appends text to out, each character for which special() holds written by
// escape(out, c) instead. Escapes are rare in the texts this serves, so the
// runs between them are appended whole.
template <class Special, class Escape>
void AppendEscaped(WideString& out, std::u16string_view text, Special special, Escape escape) {
    out.reserve(out.size() + text.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!special(text[i])) continue;
        out.append(text.substr(start, i - start));
        escape(out, text[i]);
        start = i + 1;
    }
    out.append(text.substr(start));
}
