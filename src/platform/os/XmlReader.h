// Streams an XML file through Expat and hands each event, in UTF-16, to
// the handlers a derived class overrides.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "installer/WideString.h"

struct XML_ParserStruct;

using XmlReaderAttributes = std::vector<std::pair<WideString, WideString>>;

class XmlReader {
public:
    explicit XmlReader(WideString path);
    virtual ~XmlReader();
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    const WideString& Path() const { return path_; }

    // Parses the whole file in 64 KiB chunks. Errors: 4110 (no parser or
    // buffer), 4111 (cannot open), 4112 (cannot read), 4113 (not
    // well-formed: path, line, column and Expat's text), 4114 (an encoding
    // Expat does not know, or one the bytes contradict: path and the
    // declared name). An exception thrown by a handler stops the parse and
    // passes through unchanged.
    void Read();
    // The same over bytes held in memory; the path only names them in
    // messages.
    void Read(std::string_view bytes);

protected:
    virtual void OnXmlDecl(const std::optional<WideString>& /*version*/,
                           const std::optional<WideString>& /*encoding*/, int /*standalone*/) {}
    virtual void OnStartElement(const WideString& /*name*/, const XmlReaderAttributes& /*attributes*/) {}
    virtual void OnEndElement(const WideString& /*name*/) {}
    virtual void OnCharacterData(const WideString& /*text*/) {}
    virtual void OnComment(const WideString& /*text*/) {}
    virtual void OnProcessingInstruction(const WideString& /*target*/, const WideString& /*data*/) {}
    virtual void OnStartCdata() {}

    // Where the current event lies in the file; valid inside a handler only.
    // The count is the number of raw bytes the event covers.
    std::int64_t CurrentByteIndex() const;
    std::int32_t CurrentByteCount() const;
    std::uint64_t CurrentLine() const;
    std::uint64_t CurrentColumn() const;
    bool InCdata() const { return inCdata_; }
    bool SawXmlDecl() const { return sawXmlDecl_; }

private:
    struct Events;

    void StartParser();
    // Hands the next size bytes, already in Expat's buffer (or copied there
    // from bytes), to the parser; true when the document is complete.
    bool ParseBuffer(std::uint32_t size, bool final);
    bool ParseChunk(const char* bytes, std::uint32_t size, bool final);
    struct ParserFree {
        void operator()(XML_ParserStruct* parser) const;
    };

    WideString path_;
    std::unique_ptr<XML_ParserStruct, ParserFree> parser_;
    bool inCdata_ = false;
    bool sawXmlDecl_ = false;
    WideString declaredEncoding_;
    std::exception_ptr handlerFailure_;
};
