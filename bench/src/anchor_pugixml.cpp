// The second anchor: pugixml loads the file into its tree and saves it
// again, keeping what a faithful round trip keeps (comments, the
// declaration, white space between elements) and adding no indentation.
//
//   anchor-pugixml FILE OUT
#include <pugixml.hpp>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: anchor-pugixml FILE OUT\n");
        return 2;
    }
    pugi::xml_document document;
    const pugi::xml_parse_result result =
        document.load_file(argv[1], pugi::parse_full | pugi::parse_ws_pcdata, pugi::encoding_auto);
    if (!result) {
        std::fprintf(stderr, "anchor-pugixml: %s: %s at byte %lld\n", argv[1], result.description(),
                     static_cast<long long>(result.offset));
        return 1;
    }
    if (!document.save_file(argv[2], "", pugi::format_raw | pugi::format_no_declaration)) {
        std::fprintf(stderr, "anchor-pugixml: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
