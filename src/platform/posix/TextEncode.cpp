// Our own UTF-8 encoder and the shared Windows-1252 table, matching Windows
// byte for byte.
#include "platform/TextEncode.h"

#include "platform/CodePage1252.h"
#include "platform/Strings.h"
#include "platform/Text.h"

namespace platform {

std::string WideToCodePage(std::uint32_t codePage, const std::u16string& text, bool* usedDefaultChar) {
    if (usedDefaultChar != nullptr) *usedDefaultChar = false;
    if (codePage == kCodePageUtf8) return strings::ToUtf8(text);
    if (codePage != kCodePageWindows1252) return std::string();
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t c : text) {
        unsigned char byte = '?';
        if (!codepage1252::FromUnicode(c, &byte) && usedDefaultChar != nullptr) *usedDefaultChar = true;
        bytes.push_back(static_cast<char>(byte));
    }
    return bytes;
}

}  // namespace platform
