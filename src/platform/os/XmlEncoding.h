// The encodings the engine reads, edits and writes XML files in, and the
// conversion of UTF-16 text into each.
#pragma once

#include <cstdint>
#include <optional>
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
    Utf16BE = 5,
};

// The table entry whose name equals this one, ignoring ASCII case; None
// when there is none. "UTF-16LE" is UTF-16.
XmlEncoding FindXmlEncoding(std::u16string_view name);
// The table's spelling ("UTF-8", "UTF-16", "ISO-8859-1", "Windows-1252",
// "US-ASCII", "UTF-16BE"); empty outside the table.
WideString XmlEncodingName(XmlEncoding encoding);
inline bool IsUtf16(XmlEncoding encoding) { return encoding == XmlEncoding::Utf16 || encoding == XmlEncoding::Utf16BE; }

// What a file's first bytes say about its encoding before its declaration
// is read, as the XML recommendation's autodetection (and Expat) reads
// them: a byte order mark, or a zero byte among the first two, means
// UTF-16 of that byte order; anything else is single-byte text whose
// declaration decides. UTF-32 and EBCDIC are recognised only to be refused.
struct XmlFileStart {
    XmlEncoding utf16 = XmlEncoding::None;  // Utf16 or Utf16BE; None for single-byte text
    bool utf8ByteOrderMark = false;
    WideString unsupported;  // "UTF-32" or "EBCDIC"; empty otherwise
};
XmlFileStart InspectXmlFileStart(std::string_view bytes);
// How the start describes the bytes: "UTF-16LE", "UTF-16BE", "UTF-8 with a
// byte order mark" or "single-byte text".
WideString DescribeXmlFileStart(const XmlFileStart& start);
// The encoding a file with this start and this declared encoding name
// (empty when the declaration names none) is edited in. UTF-16 bytes need
// a UTF-16 name of their byte order ("UTF-16", or "UTF-16LE"/"UTF-16BE");
// single-byte text takes the declared name, UTF-8 without one; a UTF-8 byte
// order mark allows only UTF-8. None when the name is outside the table or
// contradicts the bytes.
XmlEncoding ResolveXmlEncoding(const XmlFileStart& start, std::u16string_view declared);

// The code unit at byte pos of size bytes in the encoding, byteAt(i)
// giving byte i: one byte of single-byte text, two in the encoding's order
// for UTF-16; 0 outside the bytes, and for half a unit at their end.
template <typename ByteAt>
char16_t CodeUnitAt(XmlEncoding encoding, std::int64_t size, std::int64_t pos, const ByteAt& byteAt) {
    if (pos < 0 || pos >= size) return 0;
    const unsigned char low = byteAt(pos);
    if (!IsUtf16(encoding)) return low;
    if (pos + 1 >= size) return 0;
    const unsigned char high = byteAt(pos + 1);
    return encoding == XmlEncoding::Utf16BE ? static_cast<char16_t>((low << 8) | high)
                                            : static_cast<char16_t>(low | (high << 8));
}
inline char16_t CodeUnitAt(XmlEncoding encoding, std::string_view bytes, std::int64_t pos) {
    const auto byteAt = [bytes](std::int64_t i) {
        return static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    };
    return CodeUnitAt(encoding, static_cast<std::int64_t>(bytes.size()), pos, byteAt);
}

// Whether a file in this encoding holds the character as bytes of its own:
// every character for UTF-8 and UTF-16, U+0000..U+00FF for ISO-8859-1, the
// 256 characters of code page 1252 (one shared table) for Windows-1252,
// U+0000..U+007F for US-ASCII.
bool CanEncode(XmlEncoding encoding, char32_t character);
// The first character of the text that the encoding cannot hold (a lone
// surrogate counts as U+FFFD); none when it holds them all.
std::optional<char32_t> FirstUnencodable(XmlEncoding encoding, std::u16string_view text);

// The bytes of the text in the encoding, without byte order mark; nothing
// outside the table. A character the encoding cannot hold becomes a decimal
// character reference ("&#8364;", one for a whole surrogate pair), which
// reads back as that character wherever XML allows references: callers
// write such characters only in character data and attribute values, and
// check names and comments with FirstUnencodable first. A lone surrogate is
// written as U+FFFD.
std::string EncodeXmlText(XmlEncoding encoding, const WideString& text);
// The text of bytes in the encoding: the inverse of EncodeXmlText for text
// without references. Invalid UTF-8 bytes read as Latin-1, an odd last
// byte of UTF-16 is dropped.
WideString DecodeXmlText(XmlEncoding encoding, std::string_view bytes);
