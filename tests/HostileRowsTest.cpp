// Odd package rows against ordinary files: everything the rows would write
// is checked before any byte changes, and a row that cannot be written
// fails its file with 4118 naming the table, the row and the column.
#include <gtest/gtest.h>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlManager.h"
#include "custact/XML/src/xml/XmlRecordCheck.h"
#include "support/MergeBench.h"

namespace {

using test::AttributeRow;
using test::ElementRow;

constexpr int kKey = 1 | 2 | 8;
constexpr int kSet = 2 | 4 | 8;
constexpr int kInsert = 4 | 8;

const std::string kUtf8 = "<r>\r\n  <add k=\"a\" v=\"1\"/>\r\n</r>\r\n";
const ElementRow kRoot = {u"r", u"", u"r", 0, 0, u"", 0};

struct RowsCase {
    const char* name;
    std::vector<ElementRow> elements;  // the first is the file's root row
    std::vector<AttributeRow> attributes;
    std::vector<std::u16string> where;  // 4118: table, row, column; empty: merged
    std::string file = kUtf8;
    std::u16string root = u"r";
};

// A child "e" of the root with the given name, flags and text.
std::vector<ElementRow> Child(const std::u16string& name, int flags = kInsert, const std::u16string& text = u"") {
    return {kRoot, {u"e", u"r", name, 1, flags, text, 0}};
}

TEST(HostileRows, WhatCannotBeWrittenFailsTheFileFirst) {
    const std::string ascii = "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><r/>";
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r/>";
    const std::vector<std::u16string> name = {u"QM_XmlElement", u"e", u"Name"};
    const std::vector<std::u16string> text = {u"QM_XmlElement", u"e", u"Text"};
    const RowsCase cases[] = {
        // Names
        {"element name with a blank", Child(u"add x"), {}, name},
        {"element name with markup", Child(u"a<b"), {}, name},
        {"empty element name", Child(u""), {}, name},
        {"element name starting with a digit", Child(u"1st"), {}, name},
        {"element name Expat does not read as one", Child(u"x\u2070"), {}, name},
        {"non-ASCII element name", Child(u"caf\u00E9"), {}, {}},
        {"attribute name with a blank and =", Child(u"add"), {{u"e", u"x y=", kSet, 0, u"1"}},
         {u"QM_XmlAttribute", u"attr0", u"Name"}},
        {"empty attribute name", Child(u"add", 8), {{u"e", u"k", kKey, 0, u"a"}, {u"e", u"", kSet, 1, u"1"}},
         {u"QM_XmlAttribute", u"attr1", u"Name"}},
        // Comments, whatever a property made of them
        {"comment with --", Child(u"", 1, u"a--b"), {}, text},
        {"comment ending in -", Child(u"", 1, u"note-"), {}, text},
        {"comment text that would close the comment", Child(u"", 1, u"--><x/><!--"), {}, text},
        {"comment with a control character", Child(u"", 1, u"a\u0007"), {}, text},
        // Characters XML does not allow, even as references
        {"text with a control character", Child(u"add", kInsert, u"a\u0001b"), {}, text},
        {"text with a lone surrogate", Child(u"add", kInsert, u"\xD800"), {}, text},
        {"value with U+FFFE", Child(u"add"), {{u"e", u"v", kSet, 0, u"\uFFFE"}},
         {u"QM_XmlAttribute", u"attr0", u"Value"}},
        {"markup characters in values and texts are escaped",
         Child(u"add", kInsert, u"]]> & <x>"), {{u"e", u"v", kSet, 0, u"\"'<&>\t\r\n"}}, {}},
        // The file's encoding
        {"\u00E9 in a US-ASCII text and a pair in a value",
         Child(u"add", kInsert, u"\u00E9"), {{u"e", u"v", kSet, 0, u"\U0001F600"}}, {}, ascii},
        {"\u00E9 in a US-ASCII name", Child(u"caf\u00E9"), {}, name, ascii},
        {"\u20AC in an ISO-8859-1 comment", Child(u"", 1, u"5 \u20AC"), {}, text, latin1},
        {"\u20AC in an ISO-8859-1 attribute name", Child(u"add"), {{u"e", u"\u20AC", kSet, 0, u"1"}},
         {u"QM_XmlAttribute", u"attr0", u"Name"}, latin1},
        // The tree of rows
        {"root row in a loop through a child", {{u"r", u"c", u"r", 0, 0, u"", 0}, {u"c", u"r", u"c", 1, 4, u"", 0}}, {},
         {u"QM_XmlElement", u"r", u"ParentElement"}},
        {"root row that is its own parent", {{u"r", u"r", u"r", 0, 0, u"", 0}}, {},
         {u"QM_XmlElement", u"r", u"ParentElement"}},
        {"rows with an empty key and an empty parent are roots", {{u"", u"", u"r", 0, 0, u"", 0}, kRoot}, {}, {},
         kUtf8, u""},
        {"root row below another row", {{u"r", u"top", u"r", 0, 0, u"", 0}, {u"top", u"", u"top", 0, 0, u"", 0}}, {},
         {u"QM_XmlElement", u"r", u"ParentElement"}},
        {"no root row", {kRoot}, {}, {u"QM_XmlFile", u"file", u"RootElement"}, kUtf8, u"cfg"},
        {"a loop of rows no file reaches", {kRoot, {u"x", u"y", u"x", 0, 4, u"", 0}, {u"y", u"x", u"y", 0, 4, u"", 0}},
         {}, {}},
        {"a 1 MB value", Child(u"add"), {{u"e", u"v", kSet, 0, std::u16string(1 << 20, u'v')}}, {}},
    };
    for (const RowsCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::MergeBench bench;
        bench.SetFile(c.file);
        bench.SetRootKey(c.root);
        const test::MergeOutcome outcome = bench.Run(c.elements, c.attributes, XML_UPDATE_INSTALL);
        if (c.where.empty()) {
            EXPECT_EQ(outcome.error, 0);
            if (outcome.error != 0) continue;
            const std::string merged = bench.Bytes();
            EXPECT_TRUE(test::StrictRead(merged).has_value()) << "no longer XML";
            EXPECT_EQ(bench.Run(c.elements, c.attributes, XML_UPDATE_INSTALL).error, 0);
            EXPECT_EQ(bench.Bytes(), merged) << "a second install changed the file";
            continue;
        }
        EXPECT_EQ(outcome.error, 4118);
        if (outcome.arguments.size() < 4) continue;
        EXPECT_EQ(std::vector<std::u16string>(outcome.arguments.begin() + 1, outcome.arguments.begin() + 4), c.where);
    }
}

TEST(HostileRows, RowsNestDownToTheLimitAndNoFurther) {
    // A chain of rows below the root, each inserted with the one above.
    const auto chain = [](int depth) {
        std::vector<ElementRow> rows = {kRoot};
        for (int i = 1; i <= depth; ++i) {
            rows.push_back({u"e" + ToWideDecimal(i), i == 1 ? u"r" : u"e" + ToWideDecimal(i - 1), u"d", 1, kInsert,
                            u"", 0});
        }
        return rows;
    };
    test::MergeBench bench;
    bench.SetFile("<r/>");
    const test::MergeOutcome tooDeep = bench.Run(chain(kMaxRecordDepth + 1), {}, XML_UPDATE_INSTALL);
    ASSERT_EQ(tooDeep.error, 4118);
    EXPECT_EQ(tooDeep.arguments[2], u"e" + ToWideDecimal(kMaxRecordDepth + 1));
    ASSERT_EQ(bench.Run(chain(kMaxRecordDepth), {}, XML_UPDATE_INSTALL).error, 0);
    const auto read = test::StrictRead(bench.Bytes());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), static_cast<std::size_t>(kMaxRecordDepth) + 1);
}

TEST(HostileRows, NewFilesAreCheckedBeforeAnythingIsCreated) {
    const struct {
        const char* name;
        std::u16string version;
        std::u16string encoding;
        int error;
        std::u16string root = u"r";
    } cases[] = {
        {"empty version", u"", u"UTF-8", 4118},
        {"version that would end the declaration", u"1.0\"?><x/><?y", u"UTF-8", 4118},
        {"encoding outside the table", u"1.0", u"UTF-7", 4114},
        {"no encoding", u"1.0", u"", 4114},
        {"\u00E9 in a US-ASCII name", u"1.0", u"US-ASCII", 4118, u"n"},
        {"no root row: no record that the file was built", u"1.0", u"UTF-8", 4118, u"cfg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::MergeBench bench;
        bench.Remove();
        bench.SetVersion(c.version);
        bench.SetRootKey(c.root);
        const std::vector<ElementRow> rows = {kRoot, {u"n", u"", u"caf\u00E9", 0, 0, u"", 0}};
        EXPECT_EQ(bench.Run(rows, {}, XML_UPDATE_INSTALL, kXmlFileCreateIfMissing, c.encoding).error, c.error);
    }
}

TEST(HostileRows, ABadFileStopsTheInstallBeforeAnyFileChangesUnlessItStandsAlone) {
    test::MergeBench bench;  // an empty backup registry and a folder
    // Several good files, so that some come before the bad one in the run;
    // each has rows of its own, since a row written once is done.
    const std::vector<std::u16string> goods = {u"g1", u"g2", u"g3", u"g4", u"g5"};
    std::vector<ElementRow> rows = {{u"b", u"", u"r", 0, 0, u"", 0}, {u"x", u"b", u"a b", 1, kInsert, u"", 0}};
    for (const std::u16string& g : goods) {
        rows.push_back({g, u"", u"r", 0, 0, u"", 0});
        rows.push_back({g + u"c", g, u"c", 1, kInsert, u"", 0});
    }
    const std::u16string bad = bench.Folder() + u"bad.xml";
    const auto run = [&](int badFlags) {
        std::vector<test::FileRow> files = {{u"bad", u"bad.xml", bench.Folder(), u"b", badFlags}};
        for (const std::u16string& g : goods) {
            test::WriteBytes(bench.Folder() + g, "<r/>");
            files.push_back({g, g, bench.Folder(), g, 0});
        }
        test::WriteBytes(bad, "<r/>");
        return ExecuteXmlUpdates(*test::BuildManager({{u"ProductCode", u"{P}"}}, files, rows, {}), XML_UPDATE_INSTALL);
    };
    EXPECT_EQ(run(0), 1603u);
    for (const std::u16string& g : goods) EXPECT_EQ(test::ReadBytes(bench.Folder() + g), "<r/>");
    EXPECT_FALSE(test::CurrentUserKeyExists(ProductBackupKey(u"{P}")));
    // Standing alone (flag 32), the bad file fails by itself.
    EXPECT_EQ(run(kXmlFileRollbackAlone), 0u);
    for (const std::u16string& g : goods) EXPECT_EQ(test::ReadBytes(bench.Folder() + g), "<r>\r\n <c/>\r\n</r>");
    EXPECT_EQ(test::ReadBytes(bad), "<r/>");
    EXPECT_EQ(test::CurrentUserValue(ProductBackupKey(u"{P}"), bad), u"<absent>");
}

}  // namespace
