#include "XmlStream.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

namespace bench {

std::string PathStep(const std::string& name, const char* nameAttribute) {
    return nameAttribute == nullptr ? name : name + "[" + nameAttribute + "]";
}

const char* FindAttribute(const char** attributes, const char* name) {
    for (const char** a = attributes; *a != nullptr; a += 2) {
        if (std::strcmp(a[0], name) == 0) return a[1];
    }
    return nullptr;
}

void XmlStream::Start(void* data, const char* name, const char** attributes) {
    auto* self = static_cast<XmlStream*>(data);
    // Only the parent's path is handed on, so the element's own step is
    // appended afterwards; each element costs the length of its step, not
    // of the whole path, however deep the file nests.
    self->OnStart(name, attributes, self->path_, static_cast<int>(self->stepEnds_.size()));
    if (!self->stepEnds_.empty()) self->path_ += '/';
    self->path_ += PathStep(name, FindAttribute(attributes, "name"));
    self->stepEnds_.push_back(self->path_.size());
}

void XmlStream::End(void* data, const char* name) {
    auto* self = static_cast<XmlStream*>(data);
    self->stepEnds_.pop_back();
    self->OnEnd(name, self->path_, static_cast<int>(self->stepEnds_.size()));
    std::size_t keep = 0;
    if (!self->stepEnds_.empty()) keep = self->stepEnds_.back();
    self->path_.resize(keep);
}

void XmlStream::Text(void* data, const char* text, int length) { static_cast<XmlStream*>(data)->OnText(text, length); }

bool XmlStream::Parse(const std::string& file, std::string* error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!in) {
        *error = file + ": cannot open";
        return false;
    }
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr),
                                                                                    &XML_ParserFree);
    parser_ = parser.get();
    path_.clear();
    stepEnds_.clear();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &XmlStream::Start, &XmlStream::End);
    XML_SetCharacterDataHandler(parser_, &XmlStream::Text);
    constexpr int kChunk = 1 << 20;
    for (;;) {
        void* buffer = XML_GetBuffer(parser_, kChunk);
        if (buffer == nullptr) {
            *error = file + ": out of memory";
            return false;
        }
        const std::size_t got = std::fread(buffer, 1, kChunk, in.get());
        if (std::ferror(in.get())) {
            *error = file + ": read error";
            return false;
        }
        const bool last = got < static_cast<std::size_t>(kChunk);
        if (XML_ParseBuffer(parser_, static_cast<int>(got), last) != XML_STATUS_OK) {
            *error = file + ":" + std::to_string(XML_GetCurrentLineNumber(parser_)) + ":" +
                     std::to_string(XML_GetCurrentColumnNumber(parser_)) + ": " +
                     XML_ErrorString(XML_GetErrorCode(parser_));
            return false;
        }
        if (last) return true;
    }
}

}  // namespace bench
