// Odd target files against one ordinary plan: each is merged (and then
// reads back, stays as it is on a second install, and loses the element
// again on uninstall) or refused with the right error and left alone.
#include <gtest/gtest.h>

#include "XmlTestSupport.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "support/MergeBench.h"

namespace {

using test::ElementRow;
using test::AttributeRow;

// Insert <add k="n€w" v="é€"/> below the root, set v where it exists,
// remove the element on uninstall.
const std::vector<ElementRow> kPlan = {{u"r", u"", u"r", 0, 0, u"", 0}, {u"add", u"r", u"add", 1, 2 | 4 | 8, u"", 0}};
const std::vector<AttributeRow> kPlanAttributes = {{u"add", u"k", 1 | 2 | 8, 0, u"n\u20ACw"},
                                                   {u"add", u"v", 2 | 4 | 8, 1, u"\u00E9\u20AC"}};

const std::string kBody = "<r>\n  <keep a=\"1\"/>\n</r>\n";

std::string Decl(const std::string& encoding) { return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>"; }
std::string Le(const std::string& ascii, bool bom = true) {
    return (bom ? "\xFF\xFE" : "") + xmltest::Utf16Le(Widen(ascii));
}
std::string Be(const std::u16string& text, bool bom = true) { return (bom ? "\xFE\xFF" : "") + xmltest::Utf16Be(text); }
std::string Repeat(const std::string& piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
}

// The plan's element as a parser reads the file back: how many there are.
int PlannedElements(const std::string& bytes, bool strict, const std::u16string& path) {
    int found = 0;
    if (strict) {
        const auto elements = test::StrictRead(bytes);
        EXPECT_TRUE(elements.has_value()) << "no longer XML";
        for (const auto& e : elements.value_or(std::vector<test::ReadElement>{}))
            found += e.name == u"add" && e.Attribute(u"k") == u"n\u20ACw" && e.Attribute(u"v") == u"\u00E9\u20AC";
        return found;
    }
    XmlTargetDatabase db(path);
    db.Parse();
    for (const auto& entry : db.Nodes()) {
        const auto& a = entry.second.attributes;
        found += entry.second.name == u"add" && a.size() == 2 && a[0].value == u"n\u20ACw" &&
                 a[1].value == u"\u00E9\u20AC";
    }
    return found;
}

struct FileCase {
    const char* name;
    std::string bytes;
    int error;
    bool strict = true;  // false: Expat alone cannot read it (Windows-1252)
};

// Merged files read back, stay as they are on a second install, and lose
// the element on uninstall; refused ones keep every byte (MergeBench).
void ExpectMergedOrRefused(const std::vector<FileCase>& cases) {
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::MergeBench bench;
        bench.SetFile(c.bytes);
        const test::MergeOutcome install = bench.Run(kPlan, kPlanAttributes, XML_UPDATE_INSTALL);
        EXPECT_EQ(install.error, c.error);
        if (c.error != 0 || install.error != 0) continue;
        const std::string merged = bench.Bytes();
        EXPECT_EQ(PlannedElements(merged, c.strict, bench.Path()), 1);
        EXPECT_EQ(bench.Run(kPlan, kPlanAttributes, XML_UPDATE_INSTALL).error, 0);
        EXPECT_EQ(bench.Bytes(), merged) << "a second install changed the file";
        EXPECT_EQ(bench.Run(kPlan, kPlanAttributes, XML_UPDATE_UNINSTALL).error, 0);
        EXPECT_EQ(PlannedElements(bench.Bytes(), c.strict, bench.Path()), 0);
    }
}

TEST(HostileFiles, EveryEncodingRoundTripsOrIsRefused) {
    ExpectMergedOrRefused({
        // UTF-8 and its byte order mark
        {"UTF-8 without declaration", kBody, 0},
        {"UTF-8 mark and declaration", "\xEF\xBB\xBF" + Decl("utf-8") + kBody, 0},
        {"UTF-8 mark, ISO-8859-1 declared", "\xEF\xBB\xBF" + Decl("ISO-8859-1") + kBody, 4114},
        {"UTF-8 mark, UTF-16 declared", "\xEF\xBB\xBF" + Decl("UTF-16") + kBody, 4114},
        {"UTF-8 declared, Latin-1 bytes", Decl("UTF-8") + "<r a=\"\xE9\"/>", 4113},
        {"UTF-8 encoded surrogate", "<r a=\"\xED\xA0\x80\"/>", 4113},
        {"overlong UTF-8", "<r a=\"\xC0\xBC\"/>", 4113},
        {"NUL byte", std::string("<r>\0</r>", 8), 4113},
        {"reference to a control character", "<r>&#1;</r>", 4113},
        {"reference to a surrogate", "<r>&#xD800;</r>", 4113},
        // UTF-16 in both byte orders, with and without mark and declaration
        {"UTF-16LE mark", Le(kBody), 0},
        {"UTF-16LE mark, UTF-16 declared", Le(Decl("UTF-16") + kBody), 0},
        {"UTF-16LE without mark, UTF-16 declared", Le(Decl("UTF-16") + kBody, false), 0},
        {"UTF-16LE mark, UTF-16LE declared", Le(Decl("UTF-16LE") + kBody), 0},
        {"UTF-16LE mark, UTF-16BE declared", Le(Decl("UTF-16BE") + kBody), 4114},
        {"UTF-16LE mark, UTF-8 declared", Le(Decl("UTF-8") + kBody), 4114},
        {"UTF-16BE mark", Be(Widen(kBody)), 0},
        {"UTF-16BE mark, UTF-16 declared", Be(Widen(Decl("UTF-16") + kBody)), 0},
        {"UTF-16BE without mark, UTF-16BE declared", Be(Widen(Decl("UTF-16BE") + kBody), false), 0},
        {"UTF-16BE mark, UTF-16LE declared", Be(Widen(Decl("UTF-16LE") + kBody)), 4114},
        {"UTF-16BE with a character beyond U+FFFF", Be(u"<r>\U0001F600</r>"), 0},
        {"UTF-16LE lone surrogate", Le("<r>") + std::string("\x00\xDC", 2) + xmltest::Utf16Le(u"</r>"), 4113},
        {"UTF-16 declared in single-byte text", Decl("UTF-16") + kBody, 4114},
        // Single-byte encodings: what they cannot hold goes in as references
        {"\u00E9 into US-ASCII", Decl("US-ASCII") + kBody, 0},
        {"\u20AC into ISO-8859-1", Decl("ISO-8859-1") + "<r><keep a=\"\x80\xE9\"/></r>", 0},
        {"Windows-1252", Decl("windows-1252") + "<r><keep a=\"\x80\x81\x9F\"/></r>", 0, false},
        {"US-ASCII with a byte above 0x7F", Decl("US-ASCII") + "<r a=\"\xE9\"/>", 4113},
        // Encodings that are refused
        {"Shift_JIS", Decl("Shift_JIS") + kBody, 4114},
        {"an alias of Latin-1", Decl("latin1") + kBody, 4114},
        {"UTF-7", Decl("UTF-7") + kBody, 4114},
        {"UTF-32LE mark", std::string("\xFF\xFE\0\0<\0\0\0", 8) + std::string(12, '\0'), 4114},
        {"UTF-32BE", std::string("\0\0\0<\0\0\0r\0\0\0/\0\0\0>", 16), 4114},
        {"EBCDIC", "\x4C\x6F\xA7\x94\x93\x40", 4114},
    });
}

TEST(HostileFiles, MarkupTheEditsCannotTrustIsRefused) {
    std::string laughs;  // each entity ten times the one before
    for (char c = 'b'; c <= 'j'; ++c)
        laughs += std::string("<!ENTITY ") + c + " \"" + Repeat(std::string("&") + char(c - 1) + ";", 10) + "\">";
    ExpectMergedOrRefused({
        // Not well-formed, or not the package's file
        {"empty file", "", 4113},
        {"only blanks", "  \r\n\t", 4113},
        {"unclosed root", "<r><keep>", 4113},
        {"mismatched tags", "<r><a></b></r>", 4113},
        {"two roots", "<r/><r/>", 4113},
        {"text before the root", "x<r/>", 4113},
        {"another root element", "<config/>", 4117},
        // Layouts the edits must keep whole
        {"CR-only line ends", "<r>\r  <keep a=\"1\"/>\r</r>\r", 0},
        {"comments and instructions before the root", "<!--a--><?pi x?>\n<r/>\n<!--b-->", 0},
        {"CDATA in the root", "<r><![CDATA[<not markup>]]></r>", 0},
        {"empty-element root", "<r/>", 0},
        // Document types and entities
        {"entity standing for markup", "<!DOCTYPE r [<!ENTITY e \"<x/>\">]>\n<r>&e;</r>", 4119},
        {"entity standing for a CDATA section", "<!DOCTYPE r [<!ENTITY e \"<![CDATA[a]]>\">]><r>&e;</r>", 4119},
        {"entity for an entity for markup",
         "<!DOCTYPE r [<!ENTITY i \"&#60;x/>\"><!ENTITY e \"a&i;\">]><r><keep>&e;</keep></r>", 4119},
        {"entity standing for text", "<!DOCTYPE r [<!ENTITY e \"text\">]>\n<r>&e;</r>", 0},
        {"external entity, not loaded", "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>", 0},
        {"external DTD, not loaded", "<!DOCTYPE r SYSTEM \"missing.dtd\">\n<r/>", 0},
        {"undefined entity", "<r>&nothing;</r>", 4113},
        {"entities growing a billion times", "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">" + laughs + "]><r>&j;</r>", 4113},
    });
}

// Nothing here may take time or stack that grows faster than the file.
TEST(HostileFiles, DeepWideAndLargeFilesAreMerged) {
    ExpectMergedOrRefused({
        {"100,000 nested elements", "<r>" + Repeat("<d>", 100000) + Repeat("</d>", 100000) + "</r>", 0},
        {"20,000 nested elements with comments", "<r>" + Repeat("<d><!--c-->", 20000) + Repeat("</d>", 20000) + "</r>",
         0},
        {"20,000 siblings", "<r>" + Repeat("\n<add k=\"x\"/>", 20000) + "\n</r>", 0},
        {"a 2 MB attribute", "<r big=\"" + std::string(2 << 20, 'x') + "\"/>", 0},
        {"a 1 MB text", "<r>" + std::string(1 << 20, 'x') + "</r>", 0},
    });
}

// What the file's bytes become, where the exact bytes are the point.
TEST(HostileFiles, CharactersKeepTheirBytesAndReferencesStandInForTheRest) {
    const struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"US-ASCII holds \u00E9 and \u20AC as references", Decl("US-ASCII") + "<r/>",
         Decl("US-ASCII") + "<r>\r\n  <add k=\"n&#8364;w\" v=\"&#233;&#8364;\"/>\r\n</r>"},
        {"ISO-8859-1 holds \u00E9 and references \u20AC", Decl("ISO-8859-1") + "<r/>",
         Decl("ISO-8859-1") + "<r>\r\n  <add k=\"n&#8364;w\" v=\"\xE9&#8364;\"/>\r\n</r>"},
        // Undefined bytes included: an attribute the update does not
        // change keeps its bytes.
        {"Windows-1252 bytes 0x80-0x9F survive a rewrite next to them",
         Decl("Windows-1252") + "<r><add k=\"n\x80w\" v=\"old\" o=\"\x80\x93\x94\x81\x9F\"/></r>",
         Decl("Windows-1252") + "<r><add k=\"n\x80w\" v=\"\xE9\x80\" o=\"\x80\x93\x94\x81\x9F\"/></r>"},
        {"an attribute the DTD adds is not written out",
         "<!DOCTYPE r [<!ATTLIST add d CDATA \"x\">]><r><add k=\"n\xE2\x82\xACw\" v=\"old\"/></r>",
         "<!DOCTYPE r [<!ATTLIST add d CDATA \"x\">]><r><add k=\"n\xE2\x82\xACw\" v=\"\xC3\xA9\xE2\x82\xAC\"/></r>"},
        {"UTF-16BE is edited in its own byte order", Be(u"<r/>"),
         Be(u"<r>\r\n  <add k=\"n\u20ACw\" v=\"\u00E9\u20AC\"/>\r\n</r>")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::MergeBench bench;
        bench.SetFile(c.before);
        ASSERT_EQ(bench.Run(kPlan, kPlanAttributes, XML_UPDATE_INSTALL).error, 0);
        EXPECT_EQ(bench.Bytes(), c.after);
        // Uninstall finds the element by the values it was given, € and all.
        ASSERT_EQ(bench.Run(kPlan, kPlanAttributes, XML_UPDATE_UNINSTALL).error, 0);
        EXPECT_EQ(bench.Bytes().find("k=\"n"), std::string::npos);
    }
}

}  // namespace
