// Shared by the XML engine tests: the sample files, their text as Expat
// reads it, and a check of every target node's positions against the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "platform/os/XmlEncoding.h"

namespace xmltest {

// The bytes of tests/data/xml/<name>; empty, with a test failure, when the
// file cannot be read.
std::string ReadSample(const std::string& name);

std::string Utf16Le(std::u16string_view text);
std::string Utf16Be(std::u16string_view text);

// A file's text as our parser setup reads it: UTF-8, UTF-16LE, code page
// 1252 for Windows-1252, and single bytes as the code points of the same
// values (ISO-8859-1, US-ASCII). A byte order mark is kept as U+FEFF.
struct DecodedFile {
    WideString text;
    // The byte offset where each code unit's character starts, and the size.
    std::vector<std::int32_t> offsets;
    // The unit whose character starts at this offset; -1 when none does.
    std::int32_t UnitAt(std::int32_t offset) const;
};
DecodedFile Decode(const std::string& bytes, XmlEncoding encoding);

// The document (text without byte order mark) in another encoding: the
// declaration names the encoding, UTF-16 gets FF FE, and characters the
// encoding cannot hold become character references.
std::string Transcode(WideString text, XmlEncoding to);

// Raw character data or attribute text with its references resolved and
// its line ends normalised as a parser does.
WideString Unescape(std::u16string_view raw);

// Checks the positions of every node of a freshly parsed file against the
// bytes: start, attrStart, startTagEnd, endTagStart, end, lines, nesting,
// sibling indices, the attributes in the attribute area, and that the text
// ranges hold the node's trimmed text.
void ExpectPositionsMatchBytes(const XmlTargetDatabase& db);

// The raw text of a byte range of the database's buffer.
WideString RawText(const XmlTargetDatabase& db, std::int32_t begin, std::int32_t end);

}  // namespace xmltest
