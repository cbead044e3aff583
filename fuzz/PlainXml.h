// A second reading of an XML document, straight through Expat and nothing
// of the engine: each element's bytes, attributes as written, direct text
// and comments. The fuzz targets hold the engine's output against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fuzz {

struct PlainElement {
    std::u16string name;
    std::int64_t start = 0;  // "<" of the start tag
    std::int64_t end = 0;    // just past the element
    // Only those the start tag holds, not the defaults of a DTD.
    std::vector<std::pair<std::u16string, std::u16string>> attributes;
    std::u16string text;                  // character data directly inside
    std::vector<std::u16string> comments;  // directly inside, see CommentKey
    std::vector<std::size_t> children;
};

struct PlainDocument {
    bool wellFormed = false;
    std::string error;                     // Expat's message and line when not
    std::vector<PlainElement> elements;    // in document order; the root first
    std::vector<std::u16string> outerComments;
};

// Expat's own encodings, and Windows-1252 with the engine's table.
PlainDocument ReadPlain(std::string_view bytes);

// Text without any XML white space: what stays of character data when
// edits only move blanks and line ends.
std::u16string WithoutBlanks(std::u16string_view text);
// A comment's text as compared: line ends as a parser reads them, no blanks
// at either end.
std::u16string CommentKey(std::u16string_view text);

}  // namespace fuzz
