#include "platform/os/XmlSyntax.h"

#include <expat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Strings.h"

namespace {

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsAsciiName(std::u16string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        const bool start = IsAsciiLetter(c) || c == u'_' || c == u':';
        if (!start && (i == 0 || !(IsAsciiDigit(c) || c == u'.' || c == u'-'))) return false;
    }
    return true;
}

struct ParserFree {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

struct ReadName {
    std::u16string name;
    bool hasAttributes = false;
    int elements = 0;
};

void XMLCALL KeepName(void* data, const XML_Char* element, const XML_Char** atts) {
    auto* read = static_cast<ReadName*>(data);
    ++read->elements;
    read->name.clear();
    for (const XML_Char* c = element; *c != 0; ++c) read->name.push_back(static_cast<char16_t>(*c));
    read->hasAttributes = atts != nullptr && atts[0] != nullptr;
}

// Parses "<name/>" as UTF-16LE, or as UTF-8, and keeps what Expat reports.
bool ExpatReadsName(std::u16string_view name, bool utf8) {
    static const XML_Char kUtf16[] = {'U', 'T', 'F', '-', '1', '6', 'L', 'E', 0};
    static const XML_Char kUtf8[] = {'U', 'T', 'F', '-', '8', 0};
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(utf8 ? kUtf8 : kUtf16));
    if (!parser) return false;
    // In UTF-8 a lone surrogate comes back as U+FFFD, and so is no name.
    const std::u16string tag = u"<" + std::u16string(name) + u"/>";
    const std::string bytes = utf8 ? strings::ToUtf8(tag) : strings::ToUtf16Le(tag);
    ReadName read;
    XML_SetUserData(parser.get(), &read);
    XML_SetStartElementHandler(parser.get(), &KeepName);
    // Detect and prevent integer overflow of the length Expat takes.
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    const XML_Status status = XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_TRUE);
    return status == XML_STATUS_OK && read.elements == 1 && !read.hasAttributes && read.name == name;
}

}  // namespace

bool IsXmlName(std::u16string_view name) {
    if (name.empty()) return false;
    bool ascii = true;
    for (char16_t c : name) ascii = ascii && c < 0x80;
    // Expat sorts the characters below U+0100 by its ISO-8859-1 table when
    // it reads UTF-16 or ISO-8859-1 (U+00AA, U+00B5, U+00B7 and U+00BA are
    // name characters there), and by the XML 1.0 name tables when it reads
    // UTF-8 or a code page it is given: a name must read back from both.
    return ascii ? IsAsciiName(name) : ExpatReadsName(name, false) && ExpatReadsName(name, true);
}

std::optional<char32_t> FindDisallowedXmlCharacter(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') return c;
        if (c == 0xFFFE || c == 0xFFFF) return c;
        if (strings::IsLowSurrogate(c)) return c;
        if (strings::IsHighSurrogate(c)) {
            if (i + 1 >= text.size() || !strings::IsLowSurrogate(text[i + 1])) return c;
            ++i;
        }
    }
    return std::nullopt;
}

bool HasCommentDashes(std::u16string_view text) {
    return text.find(u"--") != std::u16string_view::npos || (!text.empty() && text.back() == u'-');
}

bool IsXmlVersionNumber(std::u16string_view version) {
    if (version.size() < 3 || version[0] != u'1' || version[1] != u'.') return false;
    for (std::size_t i = 2; i < version.size(); ++i) {
        if (!IsAsciiDigit(version[i])) return false;
    }
    return true;
}
