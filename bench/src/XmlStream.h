// Reads an XML file through Expat in fixed-size chunks, so that files of
// hundreds of megabytes are scanned in little memory, and keeps the path of
// the current element as the generator and the verifier both name it.
#pragma once

#include <expat.h>

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

// One step of an element path: the element's name, followed by its "name"
// attribute in brackets when it has one ("section[billing.3]"). The root's
// step comes first and steps are joined with "/".
std::string PathStep(const std::string& name, const char* nameAttribute);

// The value of an attribute in Expat's name/value list, or null.
const char* FindAttribute(const char** attributes, const char* name);

class XmlStream {
public:
    XmlStream() = default;
    XmlStream(const XmlStream&) = delete;
    XmlStream& operator=(const XmlStream&) = delete;
    virtual ~XmlStream() = default;

    // False with a message naming the file, line and column when the file
    // cannot be read or is not well-formed.
    bool Parse(const std::string& file, std::string* error);

protected:
    // parentPath is the path of the element's parent, path its own; depth
    // counts the root as 0. Handlers should copy a path only when they need
    // it: in a deeply nested file each is long.
    virtual void OnStart(const char* name, const char** attributes, const std::string& parentPath, int depth) = 0;
    virtual void OnEnd(const char* name, const std::string& path, int depth) = 0;
    virtual void OnText(const char* /*text*/, int /*length*/) {}
    long Line() const { return static_cast<long>(XML_GetCurrentLineNumber(parser_)); }

private:
    static void Start(void* self, const char* name, const char** attributes);
    static void End(void* self, const char* name);
    static void Text(void* self, const char* text, int length);

    XML_Parser parser_ = nullptr;
    std::string path_;
    std::vector<std::size_t> stepEnds_;
};

}  // namespace bench
