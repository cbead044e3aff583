// Escaping of text written into XML: character data and attribute values.
#pragma once

#include <string_view>

#include "installer/WideString.h"

// Character data: "&", "<" and ">" become entity references; graph
// characters, tab, line feed, carriage return, space and quotes are copied;
// any other character becomes a decimal character reference.
WideString EscapeText(std::u16string_view text);

// An attribute value between double quotes: the five markup characters
// become entity references; graph characters and space are copied; every
// other character, tab and line ends included, becomes a decimal character
// reference, so that the value survives attribute-value normalisation.
WideString EscapeAttribute(std::u16string_view text);
