// What XML 1.0 lets a file hold: names, characters, comment texts and
// version numbers. Plain checks over UTF-16 text, shared by the engine's
// checks of a package's rows and by tools that check packages.
#pragma once

#include <optional>
#include <string_view>

// A name (element or attribute) that our parser reads back as exactly this
// name, in every encoding that can hold it: ASCII letters, digits, ".", "-",
// "_" and ":" (not a digit, "." or "-" first) are decided here; a name with
// other characters is handed to Expat, as UTF-16 and as UTF-8, whose name
// characters (those of the XML 1.0 fourth edition) are narrower than the
// fifth edition's.
bool IsXmlName(std::u16string_view name);

// The first character that XML 1.0 does not allow anywhere in a document:
// controls other than tab, line feed and carriage return, U+FFFE, U+FFFF and
// lone surrogates (a surrogate pair is one allowed character). None when
// every character is allowed. A reference such as "&#1;" cannot stand for
// such a character either.
std::optional<char32_t> FindDisallowedXmlCharacter(std::u16string_view text);

// Comment text: no "--" inside, and no "-" at its end.
bool HasCommentDashes(std::u16string_view text);

// "1." followed by digits, as the XML declaration's version.
bool IsXmlVersionNumber(std::u16string_view version);
