// WideCharToMultiByte without best-fit substitutes, so that Windows gives the
// bytes the other builds give.
#include <windows.h>

#include <climits>

#include "platform/Text.h"
#include "platform/TextEncode.h"
#include "platform/win32/Wide.h"

namespace platform {

std::string WideToCodePage(std::uint32_t codePage, const std::u16string& text, bool* usedDefaultChar) {
    if (usedDefaultChar != nullptr) *usedDefaultChar = false;
    if (text.empty() || text.size() > INT_MAX) return std::string();
    if (codePage != kCodePageUtf8 && codePage != kCodePageWindows1252) return std::string();
    // UTF-8 accepts neither flags nor the default-character arguments.
    const bool utf8 = codePage == kCodePageUtf8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    LPBOOL usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(codePage, flags, win32::W(text), size, nullptr, 0, nullptr, usedDefaultOut);
    if (length <= 0) return std::string();
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(codePage, flags, win32::W(text), size, &bytes[0], length, nullptr,
                              usedDefaultOut) != length) {
        return std::string();
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault != FALSE;
    return bytes;
}

}  // namespace platform
