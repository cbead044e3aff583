// Node edits on target files: the bytes each edit writes, in the layout of
// the file around it; positions that agree with a fresh parse of the edited
// bytes, so that the next edit of the same run lands in the right place; and
// an uninstall that gives back the bytes an insertion found.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "XmlTestSupport.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

constexpr std::uint32_t kAdd = kXmlAttributeBelongs | kXmlAttributeInstall;
constexpr std::uint32_t kSet = kAdd | kXmlAttributeSetOrRemove;
constexpr std::uint32_t kRemove = kXmlAttributeSetOrRemove | kXmlAttributeInstall;
constexpr std::uint32_t kSetOnUninstall = kXmlAttributeBelongs | kXmlAttributeSetOrRemove | kXmlAttributeUninstall;

// Positions, text runs and attributes of a node, for comparison.
std::vector<std::int32_t> Layout(const TargetNode& n) {
    std::vector<std::int32_t> v{n.attrStart, n.startTagEnd, n.endTagStart, n.end};
    for (const TextRange& r : n.textRanges) v.insert(v.end(), {r.begin, r.end, r.cdata});
    return v;
}
WideString Attributes(const TargetNode& n) {
    WideString all;
    for (const XmlAttributeRecord& a : n.attributes) all += a.name + u"=" + a.value + u";";
    return all;
}

class XmlNodeEditsTest : public ::testing::Test {
protected:
    void SetUp() override { file.indentUnits = 2; }
    std::unique_ptr<XmlTargetDatabase> Parse(const std::string& bytes) {
        EXPECT_TRUE(WriteWholeFile(scratch / u"target.xml", bytes));
        auto db = std::make_unique<XmlTargetDatabase>(scratch / u"target.xml");
        db->Parse();
        return db;
    }
    XmlElementRecord& Add(const char16_t* name, const char16_t* parent) {
        XmlElementRecord& r = data.elements[name];
        r.key = r.name = name;
        r.parent = parent ? &data.elements.at(parent) : nullptr;
        return r;
    }
    // Every node still in the file is where a fresh parse finds it. Texts
    // follow text updates only.
    void ExpectMatchesFreshParse(const XmlTargetDatabase& db, bool compareText = true) {
        const auto fresh = Parse(db.Updater().Bytes());
        std::map<std::int32_t, const TargetNode*> byStart;
        for (const auto& entry : fresh->Nodes()) byStart[entry.second.start] = &entry.second;
        for (const auto& entry : db.Nodes()) {
            const TargetNode& n = entry.second;
            if (n.start == -1) continue;
            SCOPED_TRACE(Narrow(entry.first));
            ASSERT_EQ(byStart.count(n.start), 1u);
            EXPECT_EQ(Layout(n), Layout(*byStart[n.start]));
            EXPECT_EQ(Attributes(n), Attributes(*byStart[n.start]));
            EXPECT_TRUE(!compareText || n.text == byStart[n.start]->text) << Narrow(n.text);
        }
    }

    // What an uninstall does after this run: in a fresh parse of the edited
    // bytes, the elements with these names go, and the record of the run
    // (through its registry text) gives back the rest: the original bytes.
    void ExpectGivenBack(const XmlTargetDatabase& edited, const std::string& original,
                         const std::set<WideString>& added) {
        const AddedMarkup record = ParseAddedMarkup(FormatAddedMarkup(edited.AddedInThisRun()));
        const auto db = Parse(edited.Updater().Bytes());
        for (auto& entry : db->Nodes()) {
            TargetNode& n = entry.second;
            if (added.count(n.name) != 0 && (n.Parent() == nullptr || added.count(n.Parent()->name) == 0))
                db->RemoveNodeAndChildren(n);
        }
        db->GiveBackAddedMarkup(record);
        EXPECT_EQ(db->Updater().Bytes(), original);
        ExpectMatchesFreshParse(*db, false);
    }

    test::ScratchFolder scratch;
    XmlUpdateData data;
    XmlFileRecord file;
};

// "{I}" stands for one level of the file's indentation, "{E}" for its line end.
std::string Styled(std::string text, const std::string& indent, const std::string& lineEnd) {
    for (const auto& [mark, with] : {std::pair<std::string, std::string>{"{I}", indent}, {"{E}", lineEnd}}) {
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + with.size()))
            text.replace(at, mark.size(), with);
    }
    return text;
}

TEST_F(XmlNodeEditsTest, RemovalTakesTheLineOrTheBlanksAround) {
    const std::pair<const char*, const char*> cases[] = {
        {"<r>\r\n  <a/>\r\n  <b x=\"1\">\r\n    <c><e/></c>\r\n  </b>\r\n  <d/>\r\n</r>", "<r>\r\n  <a/>\r\n  <d/>\r\n</r>"},
        {"<r><a/> \t<b/>  <d/></r>", "<r><a/>  <d/></r>"},
        {"<r>\r\n  <a/> <b/>\r\n\r\n</r>", "<r>\r\n  <a/>\r\n\r\n</r>"},
        {"<r>text<b>t</b>more</r>", "<r>textmore</r>"},
        // A lone CR ends a line too; what follows on the line keeps the
        // indentation.
        {"<r>\r  <a/>\r  <b/> \r  <d/>\r</r>", "<r>\r  <a/>\r  <d/>\r</r>"},
        {"<r>\n  <b><c/></b><d/>\n</r>", "<r>\n  <d/>\n</r>"},
    };
    Add(u"r", nullptr);
    Add(u"b", u"r");
    Add(u"n", u"b");
    XmlElementRecord& source = Add(u"e", nullptr);
    source.text = u"t";
    source.attributes = {{kAttributeFromUpdate, u"y", u"1", kAdd, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const auto db = Parse(c.first);
        TargetNode& b = db->Nodes().at(u"b");
        db->RemoveNodeAndChildren(b);
        EXPECT_EQ(db->Updater().Bytes(), c.second);
        ExpectMatchesFreshParse(*db, false);
        // What went with the removal is never edited again.
        db->RemoveNodeAndChildren(b);
        db->UpdateXmlNode(file, b, source, XML_UPDATE_INSTALL);
        db->InsertNodeAndChildren(data, file, data.elements.at(u"n"), XML_UPDATE_INSTALL);
        EXPECT_EQ(db->Updater().Bytes(), c.second);
    }
    // Below a removed node only the direct children become processed.
    const auto db = Parse(cases[0].first);
    db->RemoveNodeAndChildren(db->Nodes().at(u"b"));
    TargetNode& e = db->Nodes().at(u"e");
    EXPECT_TRUE(db->Nodes().at(u"c").IsProcessed() && !e.IsProcessed());
    db->UpdateXmlNode(file, e, source, XML_UPDATE_INSTALL);
    EXPECT_EQ(db->Updater().Bytes(), cases[0].second);
}

// One run over the same file in each style: a new sibling, first children
// of "<e/>" and "<t></t>", a fragment three levels deep into "<f />", a
// comment after the last child of p and one before s, and an attribute for
// s. The file's indentation and line ends win over the table's three spaces.
TEST_F(XmlNodeEditsTest, NewMarkupTakesTheLayoutOfTheFile) {
    const std::string original = "<?xml version=\"1.0\"?>{E}<r>{E}{I}<s a=\"1\"/>{E}{I}<p>{E}{I}{I}<a/>{E}{I}</p>{E}"
                                 "{I}<e/>{E}{I}<f />{E}{I}<t></t>{E}</r>{E}";
    const std::string expected =
        "<?xml version=\"1.0\"?>{E}<r>{E}{I}<!-- y -->{E}{I}<s a=\"1\" b=\"2\"/>{E}{I}<p>{E}{I}{I}<a/>{E}"
        "{I}{I}<!-- x -->{E}{I}</p>{E}{I}<e>{E}{I}{I}<c/>{E}{I}</e>{E}{I}<f>{E}{I}{I}<g>{E}{I}{I}{I}<h>{E}"
        "{I}{I}{I}{I}<i/>{E}{I}{I}{I}</h>{E}{I}{I}</g>{E}{I}</f>{E}{I}<t>{E}{I}{I}<u/>{E}{I}</t>{E}"
        "{I}<n k=\"1\"/>{E}</r>{E}";
    const std::pair<const char*, const char*> styles[] = {
        {"  ", "\n"}, {"    ", "\r\n"}, {"\t", "\r\n"}, {"\t", "\n"}, {"", "\n"}, {"", "\r\n"}, {"  ", "\r"},
    };
    file.indentUnits = 3;
    Add(u"r", nullptr);
    for (const char16_t* name : {u"s", u"p", u"e", u"f", u"t"}) Add(name, u"r");
    Add(u"n", u"r").attributes = {{0, u"k", u"1", kAdd, 0}};
    Add(u"c", u"e");
    Add(u"g", u"f");
    Add(u"h", u"g");
    Add(u"i", u"h");
    Add(u"u", u"t");
    Add(u"x", u"p").flags = kXmlElementComment;
    Add(u"y", u"r").flags = kXmlElementComment;
    data.elements.at(u"x").text = u"x";
    data.elements.at(u"y").text = u"y";
    data.elements.at(u"s").attributes = {{0, u"b", u"2", kAdd, 0}};
    for (const auto& [indent, lineEnd] : styles) {
        const char* endName = lineEnd[0] == '\n' ? "LF" : lineEnd[1] ? "CRLF" : "CR";
        SCOPED_TRACE("indent '" + std::string(indent) + "', line end " + endName);
        for (auto& entry : data.elements) entry.second.SetProcessed(false);
        const std::string before = Styled(original, indent, lineEnd);
        const auto db = Parse(before);
        db->InsertComment(data, file, data.elements.at(u"y"), &data.elements.at(u"s"), XML_UPDATE_INSTALL);
        db->UpdateNodeAttributes(db->Nodes().at(u"s"), data.elements.at(u"s"), XML_UPDATE_INSTALL);
        for (const char16_t* key : {u"n", u"c", u"g", u"u", u"x"})
            db->InsertNodeAndChildren(data, file, data.elements.at(key), XML_UPDATE_INSTALL);
        EXPECT_EQ(db->Updater().Bytes(), Styled(expected, indent, lineEnd));
        ExpectMatchesFreshParse(*db);
        EXPECT_TRUE(data.elements.at(u"i").IsProcessed());
        // With the attribute taken out as well, an uninstall gives back the
        // bytes the run found.
        data.elements.at(u"s").attributes = {{0, u"b", u"", kRemove, 0}};
        db->UpdateNodeAttributes(db->Nodes().at(u"s"), data.elements.at(u"s"), XML_UPDATE_INSTALL);
        data.elements.at(u"s").attributes = {{0, u"b", u"2", kAdd, 0}};
        ExpectGivenBack(*db, before, {u"n", u"c", u"g", u"u"});
    }
}

// Places where the layout has to be learned further away, or not at all,
// and parents whose end tag does not start a line. Each gets the element c
// (or the comment "n") as the last child of the element named in the case.
TEST_F(XmlNodeEditsTest, InsertionsIntoEachShapeOfParent) {
    const struct {
        const char* name;
        const char* document;
        const char16_t* parent;
        const char* expected;
    } cases[] = {
        {"one line: the table's unit, CRLF", "<r><p/></r>", u"p", "<r><p>\r\n   <c/>\r\n</p></r>"},
        {"end tag after a child", "<r>\n  <p><a/></p>\n</r>", u"p", "<r>\n  <p><a/>\n    <c/>\n  </p>\n</r>"},
        {"end tag after text", "<r>\n  <p>text  </p>\n</r>", u"p", "<r>\n  <p>text\n    <c/>\n  </p>\n</r>"},
        {"blanks only inside", "<r>\n  <p>  </p>\n</r>", u"p", "<r>\n  <p>\n    <c/>\n  </p>\n</r>"},
        {"a sibling's own indentation", "<r>\n  <p>\n      <a/>\n  </p>\n</r>", u"p",
         "<r>\n  <p>\n      <a/>\n      <c/>\n  </p>\n</r>"},
        {"the nearest step", "<r>\n  <p>\n      <a/>\n  </p>\n  <q/>\n</r>", u"q",
         "<r>\n  <p>\n      <a/>\n  </p>\n  <q>\n    <c/>\n  </q>\n</r>"},
        {"an empty step is passed over", "<r>\n<a>\n    <b/>\n</a>\n<p/>\n</r>", u"p",
         "<r>\n<a>\n    <b/>\n</a>\n<p>\n    <c/>\n</p>\n</r>"},
        {"a step whose indentation changes kind is not one", "<r>\n\t<a>\n        <b/>\n\t</a>\n\t<p/>\n</r>", u"p",
         "<r>\n\t<a>\n        <b/>\n\t</a>\n\t<p>\n\t\t<c/>\n\t</p>\n</r>"},
        {"the line end of the line", "<r>\r\n  <a/>\n  <p/>\r\n</r>\n", u"p",
         "<r>\r\n  <a/>\n  <p>\r\n    <c/>\r\n  </p>\r\n</r>\n"},
        {"the first line end for a last line without one", "<r>\n  <a/>\r\n  <p/></r>", u"p",
         "<r>\n  <a/>\r\n  <p>\n    <c/>\n  </p></r>"},
        {"attributes on their lines, no blank before >", "<r>\n  <p\n     k=\"1\"\n  />\n</r>", u"p",
         "<r>\n  <p\n     k=\"1\">\n    <c/>\n  </p>\n</r>"},
        {"after a byte order mark", "\xEF\xBB\xBF<r>\n\t<p/>\n</r>", u"p",
         "\xEF\xBB\xBF<r>\n\t<p>\n\t\t<c/>\n\t</p>\n</r>"},
        {"a comment before a sibling on a shared line stays on it", "<r><p/> <a/></r>", u"a",
         "<r><p/><!-- n --> <a/></r>"},
        {"a comment after a child on the end tag's line", "<r>\n  <p><a/></p>\n</r>", nullptr,
         "<r>\n  <p><a/>\n    <!-- n -->\n  </p>\n</r>"},
    };
    file.indentUnits = 3;
    Add(u"r", nullptr);
    for (const char16_t* name : {u"p", u"q", u"a"}) Add(name, u"r");
    XmlElementRecord& comment = Add(u"n", u"p");
    comment.flags = kXmlElementComment;
    comment.text = u"n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto db = Parse(c.document);
        if (c.parent == nullptr) {
            db->InsertComment(data, file, comment, nullptr, XML_UPDATE_INSTALL);
        } else if (WideString(c.parent) == u"a") {
            comment.parent = &data.elements.at(u"r");
            db->InsertComment(data, file, comment, &data.elements.at(u"a"), XML_UPDATE_INSTALL);
            comment.parent = &data.elements.at(u"p");
        } else {
            db->InsertNodeAndChildren(data, file, Add(u"c", c.parent), XML_UPDATE_INSTALL);
        }
        EXPECT_EQ(db->Updater().Bytes(), c.expected);
        ExpectMatchesFreshParse(*db);
        ExpectGivenBack(*db, c.document, {u"c"});
    }
}

// Successive insertions into one parent land before its end tag in call
// order; a comment whose sibling is missing, or that has none, follows them.
TEST_F(XmlNodeEditsTest, CommentsWithoutTheirSiblingGoLast) {
    Add(u"r", nullptr);
    Add(u"p", u"r");
    Add(u"m", u"p");
    XmlElementRecord& comment = Add(u"n", u"p");
    comment.flags = kXmlElementComment;
    comment.text = u"n";
    const char16_t* notFound = u"Sibling node after this comment was NOT found on target XML => insert comment as "
                               u"last element in parent...";
    const char16_t* noSibling = u"NO sibling node after this comment => insert comment as last element in parent...";
    for (const char16_t* logged : {notFound, noSibling}) {
        test::TestSession session;
        LogSession on(session.Handle(), u"");
        const auto db = Parse("<r>\r\n  <p/>\r\n</r>");
        db->InsertNodeAndChildren(data, file, Add(u"c", u"p"), XML_UPDATE_INSTALL);
        db->InsertNodeAndChildren(data, file, Add(u"d", u"p"), XML_UPDATE_INSTALL);
        db->InsertComment(data, file, comment, logged == notFound ? &data.elements.at(u"m") : nullptr,
                          XML_UPDATE_INSTALL);
        EXPECT_EQ(db->Updater().Bytes(), "<r>\r\n  <p>\r\n    <c/>\r\n    <d/>\r\n    <!-- n -->\r\n  </p>\r\n</r>");
        const auto log = session.LogLines();
        EXPECT_NE(std::find(log.begin(), log.end(), logged), log.end());
        ExpectGivenBack(*db, "<r>\r\n  <p/>\r\n</r>", {u"c", u"d"});
    }
    const auto db = Parse("<r/>");
    try {
        db->InsertNodeAndChildren(data, file, Add(u"x", u"c"), XML_UPDATE_INSTALL);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Description(), u"Unexpected exception.");
    }
}

// A record is only ever applied to what it fits: one that names no element,
// a comment that is not there, an element that holds more than the
// installation left in it, or a tail that is not the element's end leaves
// every byte alone. Lines that are no entry are skipped.
TEST_F(XmlNodeEditsTest, RecordsThatNoLongerFitChangeNothing) {
    const std::string document = "<r>\n  <p/>\n  <q>\n    <a/>\n  </q>\n  <s><a/>\n  </s>\n  <!-- n -->\n</r>\n";
    const char16_t* records[] = {
        u"C\tr/x[3]\tn", u"C\tr\tother", u"C\tr/p[0]\tn",
        u"E\tr/p[0]\t0\t />",                       // already empty
        u"E\tr/q[1]\t0\t />",                       // holds a child
        u"T\tr/s[2]\t0\t</s>",                      // holds more children than it kept
        u"T\tr/q[1]\t1\t</q><evil/>", u"T\tr/q[1]\t1\t</p>", u"E\tr/q[1]\t1\t/><x/>",
        u"E\tr/p[x]\t0\t />", u"E\tr/p[99999999999999999999]\t0\t />", u"E\tr/q[0]\t0\t />",
        u"E\tx/p[0]\t0\t />", u"T\tr/q[1]", u"X\tr\tn", u"",
    };
    for (const char16_t* record : records) {
        SCOPED_TRACE(Narrow(record));
        const auto db = Parse(document);
        db->GiveBackAddedMarkup(ParseAddedMarkup(record));
        EXPECT_EQ(db->Updater().Bytes(), document);
    }
    // The same file does take entries that fit.
    const auto db = Parse(document);
    db->GiveBackAddedMarkup(ParseAddedMarkup(u"C\tr\t n \nT\tr/s[2]\t1\t</s>\n"));
    EXPECT_EQ(db->Updater().Bytes(), "<r>\n  <p/>\n  <q>\n    <a/>\n  </q>\n  <s><a/></s>\n</r>\n");
    ExpectMatchesFreshParse(*db);
}

TEST_F(XmlNodeEditsTest, AttributesMergeIntoTheStartTag) {
    const struct {
        const char* document;
        std::vector<XmlAttributeRecord> planned;
        int mode;
        const char* expected;  // null: no edit
    } cases[] = {
        {"<a x=\"1\"/>", {{0, u"x", u"2", kAdd, 0}, {0, u"z", u"", kRemove, 0}}, 1, nullptr},
        {"<a x='1'/>", {{0, u"x", u"1", kSet, 0}, {0, u"x", u"2", kSetOnUninstall, 0}}, 1, nullptr},
        {"<a x='1'  y=\"2\" />", {{0, u"x", u"3", kSet, 0}}, 1, "<a x='3'  y=\"2\" />"},
        {"<a key=\"a\" value=\"1\" />", {{0, u"value", u"2", kSet, 0}}, 1, "<a key=\"a\" value=\"2\" />"},
        {"<a x='1'/>", {{0, u"x", u"it's \"q\"", kSet, 0}, {0, u"y", u"2", kAdd, 0}}, 1,
         "<a x='it&apos;s &quot;q&quot;' y='2'/>"},
        {"<a\r\n  key=\"a\"\r\n  value=\"1\"/>", {{0, u"value", u"2", kSet, 0}}, 1,
         "<a\r\n  key=\"a\"\r\n  value=\"2\"/>"},
        {"<a\r\n  key=\"a\"\r\n  value=\"1\"/>", {{0, u"key", u"", kRemove, 0}, {0, u"z", u"3", kAdd, 0}}, 1,
         "<a\r\n  value=\"1\"\r\n  z=\"3\"/>"},
        {"<a\r\n  key=\"a\">t</a>", {{0, u"key", u"", kRemove, 0}}, 1, "<a>t</a>"},
        {"<a x=\"1\"  y=\"2\" />", {{0, u"x", u"", kRemove, 0}, {0, u"y", u"", kRemove, 0}}, 1, "<a />"},
        {"<a x=\"1\">t</a>", {{0, u"x", u"", kRemove, 0}}, 1, "<a>t</a>"},
        {"<a/>", {{0, u"y", u"2", kAdd, 0}}, 1, "<a y=\"2\"/>"},
        {"<a>t</a>", {{0, u"q", u"say \"hi\" & bye\nnow", kAdd, 0}}, 1,
         "<a q=\"say &quot;hi&quot; &amp; bye&#10;now\">t</a>"},
        {"<a x=\"1\"\r\n   y=\"2\"/>", {{0, u"y", u"", kRemove, 0}, {0, u"w", u"5", kAdd, 2}, {0, u"v", u"4", kAdd, 1}},
         1, "<a x=\"1\"\r\n   v=\"4\"\r\n   w=\"5\"/>"},
        {"<a x=\"1\"/>", {{0, u"x", u"2", kSetOnUninstall, 0}}, 2, "<a x=\"2\"/>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        test::TestSession session;
        LogSession on(session.Handle(), u"");
        const auto db = Parse(c.document);
        TargetNode& a = db->Nodes().at(u"a");
        Add(u"a", nullptr).attributes = c.planned;
        db->UpdateNodeAttributes(a, data.elements.at(u"a"), c.mode);
        EXPECT_EQ(db->Updater().Bytes(), c.expected ? c.expected : c.document);
        EXPECT_EQ(db->Updater().IsModified(), c.expected != nullptr);
        // A rewrite never leaves a CR without its LF.
        const std::string& bytes = db->Updater().Bytes();
        for (std::size_t at = bytes.find('\r'); at != std::string::npos; at = bytes.find('\r', at + 1))
            EXPECT_EQ(bytes[at + 1], '\n') << "lone CR at " << at;
        const auto log = session.LogLines();
        EXPECT_EQ(c.expected == nullptr, std::count(log.begin(), log.end(), u"NO changes in attribute list.") == 1);
        ExpectMatchesFreshParse(*db);
        // The next record of the run finds the tag as it is now.
        data.elements.at(u"a").attributes = {{0, u"z", u"9", kAdd | kXmlAttributeUninstall, 0}};
        db->UpdateNodeAttributes(a, data.elements.at(u"a"), c.mode);
        EXPECT_EQ(a.attributes.back().name, u"z");
        ExpectMatchesFreshParse(*db);
    }
}

TEST_F(XmlNodeEditsTest, TextUpdatesTwiceInOneRun) {
    const struct {
        const char* document;
        const char16_t* first;
        const char* afterFirst;
        const char16_t* second;
        const char* afterSecond;
    } cases[] = {
        {"<r>\r\n  <v>  old  </v>\r\n</r>", u"a < b & c", "<r>\r\n  <v>  a &lt; b &amp; c  </v>\r\n</r>", u"2",
         "<r>\r\n  <v>  2  </v>\r\n</r>"},
        {"<r><v>\r\n    <c/>\r\n  </v></r>", u"new", "<r><v>\r\n    <c/>new\r\n  </v></r>", u"2",
         "<r><v>\r\n    <c/>2\r\n  </v></r>"},
        {"<r><v>a<c/>b<d/></v></r>", u"new", "<r><v>a<c/>b<d/>\r\n  new</v></r>", u"2",
         "<r><v>a<c/>b<d/>\r\n  new\r\n  2</v></r>"},
        {"<r>\n\t<v>a\n\t\t<c/>b</v></r>", u"new", "<r>\n\t<v>a\n\t\t<c/>b\n\t\tnew</v></r>", u"2",
         "<r>\n\t<v>a\n\t\t<c/>b\n\t\tnew\n\t\t2</v></r>"},
        {"<r><v x=\"1\"/></r>", u"new", "<r><v x=\"1\">new</v></r>", u"2", "<r><v x=\"1\">2</v></r>"},
        {"<r><v>old</v></r>", u"", "<r><v></v></r>", u"2", "<r><v>2</v></r>"},
        {"<r><v></v></r>", u"", "<r><v></v></r>", u"", "<r><v></v></r>"},
        {"<r><v><c/></v></r>", u" x ", "<r><v><c/> x </v></r>", u"y", "<r><v><c/> y </v></r>"},
        {"<r><v>\n  <![CDATA[old]]>\n</v></r>", u"a < b", "<r><v>\n  <![CDATA[a < b]]>\n</v></r>", u"x ]]> y",
         "<r><v>\n  x ]]&gt; y\n</v></r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        const auto db = Parse(c.document);
        TargetNode& v = db->Nodes().at(u"v");
        XmlElementRecord& source = Add(u"v", nullptr);
        source.text = c.first;
        db->UpdateXmlNode(file, v, source, XML_UPDATE_UNINSTALL);
        EXPECT_EQ(db->Updater().Bytes(), c.document);
        EXPECT_TRUE(source.IsProcessed());
        db->UpdateXmlNode(file, v, source, XML_UPDATE_INSTALL);
        EXPECT_EQ(db->Updater().Bytes(), c.afterFirst);
        ExpectMatchesFreshParse(*db);
        source.text = c.second;
        db->UpdateNodeText(file, v, source);
        EXPECT_EQ(db->Updater().Bytes(), c.afterSecond);
        ExpectMatchesFreshParse(*db);
    }
    // Found by fuzzing: the blank that starts such a text went with the
    // element before it, at the start of its line, and took the text's
    // position along; the next update threw.
    const auto db = Parse("<v>\n  <c/></v>");
    XmlElementRecord& source = Add(u"v", nullptr);
    source.text = u" x ";
    db->UpdateNodeText(file, db->Nodes().at(u"v"), source);
    db->RemoveNodeAndChildren(db->Nodes().at(u"c"));
    source.text = u"y";
    db->UpdateNodeText(file, db->Nodes().at(u"v"), source);
    ExpectMatchesFreshParse(*db);
    EXPECT_EQ(db->Nodes().at(u"v").text, u"y");
}

// Random runs of node edits over the sample files: after every edit each
// element still in the file is where a fresh parse of the bytes finds it,
// with the attributes it finds, so that the next edit of the run lands in
// the right place whatever came before it.
TEST_F(XmlNodeEditsTest, RandomEditRunsKeepEveryElementWhereAParseFindsIt) {
    std::mt19937 random(314159);
    const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const auto positions = [](const TargetNode& n) {
        return std::vector<std::int32_t>{n.start, n.attrStart, n.startTagEnd, n.endTagStart, n.end};
    };
    for (const char* sample : {"web.config", "app.config", "log4j.xml", "layout.xml", "prices-1252.xml"}) {
        SCOPED_TRACE(sample);
        const auto db = Parse(xmltest::ReadSample(sample));
        for (int step = 0; step < 60 && !HasFailure(); ++step) {
            std::vector<TargetNode*> live;
            for (auto& entry : db->Nodes()) {
                if (entry.second.start != -1) live.push_back(&entry.second);
            }
            TargetNode& node = *live[pick(live.size())];
            // Records along the node's path by name: the edit goes to the
            // first element on that path, like a record without keys.
            data.elements.clear();
            std::vector<const TargetNode*> chain;
            for (const TargetNode* n = &node; n != nullptr; n = n->Parent()) chain.insert(chain.begin(), n);
            XmlElementRecord* parent = nullptr;
            for (const TargetNode* n : chain) {
                XmlElementRecord& r = data.elements[u"p" + ToWideDecimal(static_cast<std::int64_t>(data.elements.size()))];
                r.name = n->name;
                r.parent = parent;
                parent = &r;
            }
            XmlElementRecord& added = data.elements[u"added"];
            added.name = u"new" + ToWideDecimal(step);
            added.parent = parent;
            added.text = pick(2) ? u"" : u"t & <" + ToWideDecimal(step);
            added.attributes = {{0, u"k", u"v" + ToWideDecimal(step), kAdd, 0}};
            XmlElementRecord& comment = data.elements[u"comment"];
            comment.flags = kXmlElementComment;
            comment.text = u"c" + ToWideDecimal(step);
            comment.parent = parent;
            const std::size_t op = pick(4);
            std::ostringstream what;
            what << "step " << step << ": op " << op << " on " << Narrow(node.key);
            SCOPED_TRACE(what.str());
            if (op == 3) comment.parent = parent->Parent();
            // The records were made anew: the children index must see them.
            data.IndexChildren();
            if (op == 0 && node.Parent() != nullptr) {
                db->RemoveNodeAndChildren(node);
            } else if (op == 1) {
                db->InsertNodeAndChildren(data, file, added, XML_UPDATE_INSTALL);
            } else if (op == 2) {
                parent->text = pick(2) ? u"" : u"x" + ToWideDecimal(step);
                parent->attributes = {{0, u"a" + ToWideDecimal(pick(3)), u"w\n" + ToWideDecimal(step), kSet, 0},
                                      {0, u"a" + ToWideDecimal(pick(3)), u"", kRemove, 1}};
                db->UpdateXmlNode(file, node, *parent, XML_UPDATE_INSTALL);
            } else if (op == 3 && node.Parent() != nullptr) {
                db->InsertComment(data, file, comment, pick(2) ? parent : nullptr, XML_UPDATE_INSTALL);
            }
            const auto fresh = Parse(db->Updater().Bytes());
            std::map<std::int32_t, const TargetNode*> byStart;
            for (const auto& entry : fresh->Nodes()) byStart[entry.second.start] = &entry.second;
            std::size_t alive = 0;
            for (const auto& entry : db->Nodes()) {
                const TargetNode& n = entry.second;
                if (n.start == -1) continue;
                ++alive;
                ASSERT_EQ(byStart.count(n.start), 1u) << Narrow(entry.first);
                EXPECT_EQ(positions(n), positions(*byStart[n.start])) << Narrow(entry.first);
                EXPECT_EQ(Attributes(n), Attributes(*byStart[n.start])) << Narrow(entry.first);
            }
            // What was inserted is in the file but not in the table.
            EXPECT_LE(alive, byStart.size());
        }
    }
}

}  // namespace
