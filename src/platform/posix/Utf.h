// UTF-8 / UTF-16 helpers and Windows-style case folding shared by the POSIX
// backend (file names, registry names, environment). Defined in Text.cpp.
#pragma once

#include <string>

namespace platform::posix {

// UTF-16 to UTF-8. A lone surrogate cannot be written to a Linux file name
// faithfully, so it becomes U+FFFD and *exact (when given) turns false.
std::string ToUtf8(const std::u16string& text, bool* exact = nullptr);

// UTF-8 to UTF-16 with the same replacement of invalid bytes as
// MultiByteToWide(kCodePageUtf8, ...).
std::u16string FromUtf8(const std::string& bytes);

// The upper-case form Windows compares names by: one UTF-16 unit at a time,
// covering Latin, Greek, Cyrillic and full-width letters.
char16_t UpcaseUnit(char16_t c);
std::u16string Upcase(const std::u16string& text);
bool EqualsIgnoreCase(const std::u16string& a, const std::u16string& b);

}  // namespace platform::posix
