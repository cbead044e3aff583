// Streams the bytes of an XML file through Expat and hands each event, in
// UTF-16, to the handlers a derived class overrides.
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

// The attributes of a start tag as the parser reports them, in tag order;
// valid during the handler only. Copied only when asked for.
class XmlReaderAttributes {
public:
    // pairs: Expat's array of name and value pointers.
    XmlReaderAttributes(const void* pairs, std::size_t count) : pairs_(pairs), count_(count) {}
    std::size_t size() const { return count_; }
    WideString Name(std::size_t i) const;
    WideString Value(std::size_t i) const;

private:
    const void* pairs_;
    std::size_t count_;
};

class XmlReader {
public:
    explicit XmlReader(WideString path);
    virtual ~XmlReader();
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    const WideString& Path() const { return path_; }

    // Parses the file's bytes, already read, in 64 KiB chunks. Errors: 4110
    // (no parser or buffer), 4113 (not well-formed: path, line, column and
    // Expat's text), 4114 (an encoding Expat does not know, or one the bytes
    // contradict: path and the declared name). An exception thrown by a
    // handler stops the parse and passes through unchanged.
    void Read(std::string_view bytes);

protected:
    virtual void OnXmlDecl(const std::optional<WideString>& /*version*/,
                           const std::optional<WideString>& /*encoding*/, int /*standalone*/) {}
    // The name stays valid until the next event.
    virtual void OnStartElement(std::u16string_view /*name*/, const XmlReaderAttributes& /*attributes*/) {}
    virtual void OnEndElement() {}
    virtual void OnCharacterData(std::u16string_view /*text*/) {}
    virtual void OnComment(const WideString& /*text*/) {}
    virtual void OnProcessingInstruction(const WideString& /*target*/, const WideString& /*data*/) {}
    virtual void OnStartCdata() {}
    virtual void OnStartDoctype() {}

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
    struct ParserFree {
        void operator()(XML_ParserStruct* parser) const;
    };

    WideString path_;
    std::unique_ptr<XML_ParserStruct, ParserFree> parser_;
    bool inCdata_ = false;
    bool sawXmlDecl_ = false;
    WideString declaredEncoding_;
    WideString text_;  // the current event's name or text, reused
    std::exception_ptr handlerFailure_;
};
