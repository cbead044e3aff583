// The first anchor: Expat (UTF-8) parses the file and nothing more. Its
// handlers only count, so the time is the parser's own.
//
//   anchor-expat FILE
#include <expat.h>

#include <cstdio>
#include <memory>
#include <type_traits>

namespace {

struct Counts {
    unsigned long long elements = 0, attributes = 0, textBytes = 0;
};

void Start(void* data, const char* /*name*/, const char** attributes) {
    auto* counts = static_cast<Counts*>(data);
    ++counts->elements;
    for (const char** a = attributes; *a != nullptr; a += 2) ++counts->attributes;
}

void End(void* /*data*/, const char* /*name*/) {}

void Text(void* data, const char* /*text*/, int length) { static_cast<Counts*>(data)->textBytes += length; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: anchor-expat FILE\n");
        return 2;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(argv[1], "rb"), &std::fclose);
    if (!in) {
        std::fprintf(stderr, "anchor-expat: cannot open %s\n", argv[1]);
        return 1;
    }
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr),
                                                                                    &XML_ParserFree);
    Counts counts;
    XML_SetUserData(parser.get(), &counts);
    XML_SetElementHandler(parser.get(), &Start, &End);
    XML_SetCharacterDataHandler(parser.get(), &Text);
    constexpr int kChunk = 1 << 20;
    for (;;) {
        void* buffer = XML_GetBuffer(parser.get(), kChunk);
        const std::size_t got = buffer ? std::fread(buffer, 1, kChunk, in.get()) : 0;
        const bool last = got < static_cast<std::size_t>(kChunk);
        if (buffer == nullptr || XML_ParseBuffer(parser.get(), static_cast<int>(got), last) != XML_STATUS_OK) {
            std::fprintf(stderr, "anchor-expat: %s:%lu: %s\n", argv[1],
                         static_cast<unsigned long>(XML_GetCurrentLineNumber(parser.get())),
                         XML_ErrorString(XML_GetErrorCode(parser.get())));
            return 1;
        }
        if (last) break;
    }
    std::printf("%llu elements, %llu attributes, %llu bytes of text\n", counts.elements, counts.attributes,
                counts.textBytes);
    return 0;
}
