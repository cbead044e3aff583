// Code page conversions and IsTextUnicode over kernel32 and advapi32.
#include <windows.h>

#include <climits>

#include "platform/Text.h"
#include "platform/win32/Wide.h"

namespace platform {

std::u16string MultiByteToWide(std::uint32_t codePage, const std::string& bytes) {
    if (bytes.empty()) return std::u16string();
    if (bytes.size() > INT_MAX) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return std::u16string();
    }
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0) return std::u16string();
    std::u16string text(static_cast<std::size_t>(length), u'\0');
    if (::MultiByteToWideChar(codePage, 0, bytes.data(), size, win32::W(&text[0]), length) != length) {
        return std::u16string();
    }
    return text;
}

bool IsTextUnicode(const void* buffer, std::size_t size, int tests) {
    if (size > INT_MAX) return false;
    int result = tests;
    return ::IsTextUnicode(buffer, static_cast<int>(size), &result) != FALSE;
}

}  // namespace platform
