// UTF-16 to the byte encodings that edited XML files use, giving the same
// bytes on every build: Windows' converter on Windows, our own elsewhere.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// kCodePageUtf8: a lone surrogate becomes U+FFFD (EF BF BD).
// kCodePageWindows1252: a character the code page cannot hold becomes its
// default character "?" (no similar-looking substitutes); *usedDefaultChar,
// when given, tells whether that happened. The five bytes the code page
// leaves undefined (81, 8D, 8F, 90, 9D) stand for the C1 controls of the
// same value.
// Other code pages give no bytes. *usedDefaultChar is false for UTF-8.
std::string WideToCodePage(std::uint32_t codePage, const std::u16string& text, bool* usedDefaultChar = nullptr);

}  // namespace platform
