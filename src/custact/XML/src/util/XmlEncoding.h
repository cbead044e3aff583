// The encodings the engine reads, edits and writes XML files in, and the
// conversion of UTF-16 text into each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "installer/WideString.h"

enum class XmlEncoding : std::int32_t {
    None = -1,
    Utf8 = 0,
    Utf16 = 1,  // little-endian
    Iso88591 = 2,
    Windows1252 = 3,
    UsAscii = 4,
};

// The table entry whose name equals this one, ignoring ASCII case; None
// when there is none.
XmlEncoding FindXmlEncoding(std::u16string_view name);
// The table's spelling ("UTF-8", "UTF-16", "ISO-8859-1", "Windows-1252",
// "US-ASCII"); empty outside the table.
WideString XmlEncodingName(XmlEncoding encoding);

// The bytes of the text in the encoding: UTF-8; UTF-16LE code units;
// code page 1252 for both ISO-8859-1 and Windows-1252, with "?" for what it
// cannot hold; the low byte of each code unit for US-ASCII. Nothing outside
// the table. No byte order mark.
std::string EncodeXmlText(XmlEncoding encoding, const WideString& text);
