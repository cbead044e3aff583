// The third anchor: libxml2 reads the file into its tree and saves it.
//
//   anchor-libxml2 FILE OUT
//
// XML_PARSE_HUGE lifts the limits on depth and text size that would refuse
// the deeply nested files.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: anchor-libxml2 FILE OUT\n");
        return 2;
    }
    xmlDocPtr document = xmlReadFile(argv[1], nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
    if (document == nullptr) {
        std::fprintf(stderr, "anchor-libxml2: cannot parse %s\n", argv[1]);
        return 1;
    }
    const int written = xmlSaveFile(argv[2], document);
    xmlFreeDoc(document);
    xmlCleanupParser();
    if (written < 0) {
        std::fprintf(stderr, "anchor-libxml2: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
