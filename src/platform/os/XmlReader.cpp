#include "platform/os/XmlReader.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "installer/Exception.h"
#include "platform/CodePage1252.h"

namespace {

constexpr int kChunkSize = 65536;

// XML_Char is a 16-bit unit in both Expat builds we link (unsigned short or
// wchar_t); the error texts are narrow or wide depending on the build.
static_assert(sizeof(XML_Char) == sizeof(char16_t), "Expat must be built with UTF-16 text");

template <typename Char>
WideString ToWide(const Char* text, std::size_t length) {
    WideString out(length, u'\0');
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(text[i]));
    }
    return out;
}

template <typename Char>
WideString ToWide(const Char* text) {
    if (text == nullptr) return WideString();
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return ToWide(text, length);
}

std::optional<WideString> ToOptionalWide(const XML_Char* text) {
    if (text == nullptr) return std::nullopt;
    return ToWide(text);
}

// Into a buffer that only ever grows, so that an event costs no more than
// the copy. XML_Char and char16_t are both 16-bit code units: the bytes
// are copied.
std::u16string_view CopyWide(const XML_Char* text, std::size_t length, WideString& buffer) {
    if (buffer.size() < length) buffer.resize(std::max(length, 2 * buffer.size()));
    if (length > 0) std::memcpy(&buffer[0], text, length * sizeof(char16_t));
    return std::u16string_view(buffer.data(), length);
}

}  // namespace

WideString XmlReaderAttributes::Name(std::size_t i) const {
    return ToWide(static_cast<const XML_Char* const*>(pairs_)[2 * i]);
}

WideString XmlReaderAttributes::Value(std::size_t i) const {
    return ToWide(static_cast<const XML_Char* const*>(pairs_)[2 * i + 1]);
}

// Expat's C callbacks. A handler that throws must not unwind through the
// parser's C frames: the exception is kept, the parser stopped, and Read
// throws it once Expat has returned.
struct XmlReader::Events {
    template <typename F>
    static void Dispatch(void* data, F&& handler) {
        auto* reader = static_cast<XmlReader*>(data);
        if (reader->handlerFailure_) return;
        try {
            handler(*reader);
        } catch (...) {
            reader->handlerFailure_ = std::current_exception();
            XML_StopParser(reader->parser_.get(), XML_FALSE);
        }
    }

    static void XMLCALL XmlDecl(void* data, const XML_Char* version, const XML_Char* encoding, int standalone) {
        Dispatch(data, [&](XmlReader& r) {
            r.sawXmlDecl_ = true;
            r.declaredEncoding_ = ToWide(encoding);
            r.OnXmlDecl(ToOptionalWide(version), ToOptionalWide(encoding), standalone);
        });
    }
    // Only the attributes the start tag really has: those a DTD adds by
    // default come after them and are left out.
    static void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** atts) {
        Dispatch(data, [&](XmlReader& r) {
            const int specified = XML_GetSpecifiedAttributeCount(r.parser_.get());
            std::size_t count = 0;
            while (atts != nullptr && static_cast<int>(2 * count + 1) < specified && atts[2 * count] != nullptr)
                ++count;
            std::size_t length = 0;
            while (name[length] != 0) ++length;
            r.OnStartElement(CopyWide(name, length, r.text_),
                             XmlReaderAttributes(static_cast<const void*>(atts), count));
        });
    }
    static void XMLCALL EndElement(void* data, const XML_Char* /*name*/) {
        Dispatch(data, [&](XmlReader& r) { r.OnEndElement(); });
    }
    static void XMLCALL CharacterData(void* data, const XML_Char* text, int length) {
        Dispatch(data, [&](XmlReader& r) {
            r.OnCharacterData(CopyWide(text, static_cast<std::size_t>(length), r.text_));
        });
    }
    static void XMLCALL StartDoctype(void* data, const XML_Char* /*name*/, const XML_Char* /*system*/,
                                     const XML_Char* /*publicId*/, int /*internalSubset*/) {
        Dispatch(data, [](XmlReader& r) { r.OnStartDoctype(); });
    }
    static void XMLCALL Comment(void* data, const XML_Char* text) {
        Dispatch(data, [&](XmlReader& r) { r.OnComment(ToWide(text)); });
    }
    static void XMLCALL ProcessingInstruction(void* data, const XML_Char* target, const XML_Char* text) {
        Dispatch(data, [&](XmlReader& r) { r.OnProcessingInstruction(ToWide(target), ToWide(text)); });
    }
    static void XMLCALL StartCdata(void* data) {
        Dispatch(data, [](XmlReader& r) {
            r.inCdata_ = true;
            r.OnStartCdata();
        });
    }
    static void XMLCALL EndCdata(void* data) {
        Dispatch(data, [](XmlReader& r) { r.inCdata_ = false; });
    }
    // Windows-1252 is the one encoding we add to Expat's own, read with the
    // table its files are written with.
    static int XMLCALL UnknownEncoding(void* /*data*/, const XML_Char* name, XML_Encoding* info) {
        if (!EqualsIgnoreCaseAscii(ToWide(name), u"Windows-1252")) return XML_STATUS_ERROR;
        for (int i = 0; i < 256; ++i) info->map[i] = codepage1252::ToUnicode(static_cast<unsigned char>(i));
        info->data = nullptr;
        info->convert = nullptr;
        info->release = nullptr;
        return XML_STATUS_OK;
    }
};

void XmlReader::ParserFree::operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }

XmlReader::XmlReader(WideString path) : path_(std::move(path)) {}

XmlReader::~XmlReader() = default;

std::int64_t XmlReader::CurrentByteIndex() const {
    return parser_ ? static_cast<std::int64_t>(XML_GetCurrentByteIndex(parser_.get())) : -1;
}
std::int32_t XmlReader::CurrentByteCount() const { return parser_ ? XML_GetCurrentByteCount(parser_.get()) : 0; }
std::uint64_t XmlReader::CurrentLine() const {
    return parser_ ? static_cast<std::uint64_t>(XML_GetCurrentLineNumber(parser_.get())) : 0;
}
std::uint64_t XmlReader::CurrentColumn() const {
    return parser_ ? static_cast<std::uint64_t>(XML_GetCurrentColumnNumber(parser_.get())) : 0;
}

void XmlReader::Read(std::string_view bytes) {
    parser_.reset(XML_ParserCreate(nullptr));
    if (!parser_) throw Exception(TRELLIS_HERE, 4110);
    XML_Parser parser = parser_.get();
    inCdata_ = false;
    sawXmlDecl_ = false;
    declaredEncoding_.clear();
    handlerFailure_ = nullptr;
    XML_SetUserData(parser, this);
    XML_SetXmlDeclHandler(parser, &Events::XmlDecl);
    XML_SetElementHandler(parser, &Events::StartElement, &Events::EndElement);
    XML_SetCharacterDataHandler(parser, &Events::CharacterData);
    XML_SetCommentHandler(parser, &Events::Comment);
    XML_SetProcessingInstructionHandler(parser, &Events::ProcessingInstruction);
    XML_SetCdataSectionHandler(parser, &Events::StartCdata, &Events::EndCdata);
    XML_SetUnknownEncodingHandler(parser, &Events::UnknownEncoding, nullptr);
    XML_SetStartDoctypeDeclHandler(parser, &Events::StartDoctype);

    for (std::size_t offset = 0;;) {
        void* buffer = XML_GetBuffer(parser, kChunkSize);
        if (buffer == nullptr) throw Exception(TRELLIS_HERE, 4110);
        const std::size_t count = std::min<std::size_t>(kChunkSize, bytes.size() - offset);
        if (count > 0) std::memcpy(buffer, bytes.data() + offset, count);
        offset += count;
        // An empty file still goes to Expat as the final chunk, so that it
        // is reported.
        const bool final = offset == bytes.size();
        const XML_Status status = XML_ParseBuffer(parser, static_cast<int>(count), final ? XML_TRUE : XML_FALSE);
        if (handlerFailure_) std::rethrow_exception(handlerFailure_);
        if (status == XML_STATUS_ERROR) {
            XML_ParsingStatus state;
            XML_GetParsingStatus(parser, &state);
            if (state.parsing == XML_FINISHED || state.parsing == XML_SUSPENDED) break;
            const XML_Error error = XML_GetErrorCode(parser);
            if (error == XML_ERROR_UNKNOWN_ENCODING || error == XML_ERROR_INCORRECT_ENCODING)
                throw Exception(TRELLIS_HERE, 4114, {path_, declaredEncoding_});
            throw Exception(TRELLIS_HERE, 4113,
                            {path_, ToWideUnsigned(CurrentLine()), ToWideUnsigned(CurrentColumn()),
                             ToWide(XML_ErrorString(XML_GetErrorCode(parser)))});
        }
        if (final) break;
    }
    parser_.reset();
}
