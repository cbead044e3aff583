// Windows-style case folding shared by the POSIX backend: file names,
// registry names, environment names and the installer stand-in's
// identifiers compare the way Windows compares them. Defined in Text.cpp.
#pragma once

#include <string>

namespace platform::posix {

// The upper-case form Windows compares names by: one UTF-16 unit at a time,
// covering Latin, Greek, Cyrillic and full-width letters.
char16_t UpcaseUnit(char16_t c);
std::u16string Upcase(const std::u16string& text);
bool EqualsIgnoreCase(const std::u16string& a, const std::u16string& b);

}  // namespace platform::posix
