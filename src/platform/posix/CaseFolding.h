// Windows-style case folding shared by the POSIX backend: file names,
// registry names, environment names and the installer stand-in's
// identifiers compare the way Windows compares them. Defined in Text.cpp.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// The upper-case form Windows compares names by: one UTF-16 unit at a time,
// covering Latin, Greek, Cyrillic and full-width letters.
char16_t UpcaseUnit(char16_t c);
std::u16string Upcase(const std::u16string& text);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform::posix
