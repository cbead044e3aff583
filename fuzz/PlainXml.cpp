#include "PlainXml.h"

#include <expat.h>

#include <memory>

#include "platform/CodePage1252.h"

namespace fuzz {

namespace {

static_assert(sizeof(XML_Char) == sizeof(char16_t), "Expat must be built with UTF-16 text");

std::u16string Wide(const XML_Char* text, std::size_t length) {
    std::u16string out(length, u'\0');
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char16_t>(text[i]);
    return out;
}

std::u16string Wide(const XML_Char* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return Wide(text, length);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

struct Reader {
    XML_Parser parser;
    PlainDocument* document;
    std::vector<std::size_t> open;

    static void XMLCALL Start(void* data, const XML_Char* name, const XML_Char** atts) {
        auto* r = static_cast<Reader*>(data);
        PlainElement element;
        element.name = Wide(name);
        element.start = XML_GetCurrentByteIndex(r->parser);
        const int specified = XML_GetSpecifiedAttributeCount(r->parser);
        for (int i = 0; i + 1 < specified; i += 2) element.attributes.emplace_back(Wide(atts[i]), Wide(atts[i + 1]));
        const std::size_t index = r->document->elements.size();
        if (!r->open.empty()) r->document->elements[r->open.back()].children.push_back(index);
        r->document->elements.push_back(std::move(element));
        r->open.push_back(index);
    }
    static void XMLCALL End(void* data, const XML_Char* /*name*/) {
        auto* r = static_cast<Reader*>(data);
        // The end tag, or the whole empty-element tag, is the current event.
        r->document->elements[r->open.back()].end =
            XML_GetCurrentByteIndex(r->parser) + XML_GetCurrentByteCount(r->parser);
        r->open.pop_back();
    }
    static void XMLCALL Text(void* data, const XML_Char* text, int length) {
        auto* r = static_cast<Reader*>(data);
        if (!r->open.empty())
            r->document->elements[r->open.back()].text += Wide(text, static_cast<std::size_t>(length));
    }
    static void XMLCALL Comment(void* data, const XML_Char* text) {
        auto* r = static_cast<Reader*>(data);
        std::vector<std::u16string>& list =
            r->open.empty() ? r->document->outerComments : r->document->elements[r->open.back()].comments;
        list.push_back(CommentKey(Wide(text)));
    }
    static int XMLCALL UnknownEncoding(void* /*data*/, const XML_Char* name, XML_Encoding* info) {
        std::u16string lower = Wide(name);
        for (char16_t& c : lower) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
        if (lower != u"windows-1252") return XML_STATUS_ERROR;
        for (int i = 0; i < 256; ++i) info->map[i] = codepage1252::ToUnicode(static_cast<unsigned char>(i));
        info->data = nullptr;
        info->convert = nullptr;
        info->release = nullptr;
        return XML_STATUS_OK;
    }
};

struct ParserFree {
    void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};

}  // namespace

PlainDocument ReadPlain(std::string_view bytes) {
    PlainDocument document;
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(nullptr));
    if (!parser) {
        document.error = "no parser";
        return document;
    }
    Reader reader{parser.get(), &document, {}};
    XML_SetUserData(parser.get(), &reader);
    XML_SetElementHandler(parser.get(), &Reader::Start, &Reader::End);
    XML_SetCharacterDataHandler(parser.get(), &Reader::Text);
    XML_SetCommentHandler(parser.get(), &Reader::Comment);
    XML_SetUnknownEncodingHandler(parser.get(), &Reader::UnknownEncoding, nullptr);
    if (XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_ERROR) {
        const XML_LChar* message = XML_ErrorString(XML_GetErrorCode(parser.get()));
        document.error.clear();
        for (std::size_t i = 0; message != nullptr && message[i] != 0; ++i)
            document.error += static_cast<char>(message[i]);
        document.error += " at line " + std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
                          std::to_string(XML_GetCurrentColumnNumber(parser.get()));
        return document;
    }
    document.wellFormed = true;
    return document;
}

std::u16string WithoutBlanks(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (!IsBlank(c)) out += c;
    }
    return out;
}

std::u16string CommentKey(std::u16string_view text) {
    std::u16string normalised;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            normalised += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else {
            normalised += text[i];
        }
    }
    std::size_t first = 0;
    std::size_t last = normalised.size();
    while (first < last && IsBlank(normalised[first])) ++first;
    while (last > first && IsBlank(normalised[last - 1])) --last;
    return normalised.substr(first, last - first);
}

}  // namespace fuzz
