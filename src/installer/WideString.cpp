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

char16_t ToLowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool EqualsIgnoreCaseAscii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}
