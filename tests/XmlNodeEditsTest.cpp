// Node edits on target files: the bytes each edit writes, and positions that
// agree with a fresh parse of the edited bytes, so that the next edit of the
// same run lands in the right place.
#include <gtest/gtest.h>

#include <map>

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

    test::ScratchFolder scratch;
    XmlUpdateData data;
    XmlFileRecord file;
};

TEST_F(XmlNodeEditsTest, RemovalTakesTheLineOrTheBlanksAround) {
    const std::pair<const char*, const char*> cases[] = {
        {"<r>\r\n  <a/>\r\n  <b x=\"1\">\r\n    <c><e/></c>\r\n  </b>\r\n  <d/>\r\n</r>", "<r>\r\n  <a/>\r\n  <d/>\r\n</r>"},
        {"<r><a/> \t<b/>  <d/></r>", "<r><a/><d/></r>"},
        {"<r>\r\n  <a/> <b/>\r\n\r\n</r>", "<r>\r\n  <a/>\r\n</r>"},
        {"<r>text<b>t</b>more</r>", "<r>textmore</r>"},
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

// Two elements, then a comment before the sibling "a", a missing sibling
// "m", or no sibling: each lands before the end tag of p in call order.
TEST_F(XmlNodeEditsTest, InsertionsAndCommentsIntoEachShapeOfParent) {
    Add(u"r", nullptr);
    Add(u"p", u"r");
    Add(u"a", u"p");
    Add(u"m", u"p");
    XmlElementRecord& comment = Add(u"n", u"p");
    comment.flags = kXmlElementComment;
    comment.text = u"n";
    const char16_t* notFound = u"Sibling node after this comment was NOT found on target XML => insert comment as "
                               u"last element in parent...";
    const char16_t* noSibling = u"NO sibling node after this comment => insert comment as last element in parent...";
    const struct {
        const char* document;
        const char16_t* next;
        const char16_t* logged;
        const char* expected;
    } cases[] = {
        {"<r>\r\n  <p/>\r\n</r>", u"m", notFound, "<r>\r\n  <p>\r\n    <c/>\r\n    <d/>\r\n    <!-- n -->\r\n  </p>\r\n</r>"},
        {"<r>\r\n  <p>\r\n    <a/>\r\n  </p>\r\n</r>", u"a", nullptr,
         "<r>\r\n  <p>\r\n    <!-- n -->\r\n    <a/>\r\n    <c/>\r\n    <d/>\r\n  </p>\r\n</r>"},
        {"<r>\r\n  <p><a/></p>\r\n</r>", u"a", nullptr,
         "<r>\r\n  <p>    <!-- n -->\r\n<a/>\r\n    <c/>\r\n    <d/>\r\n  </p>\r\n</r>"},
        {"<r><p k=\"1\">text  </p><p/></r>", nullptr, noSibling,
         "<r><p k=\"1\">text\r\n    <c/>\r\n    <d/>\r\n    <!-- n -->\r\n  </p><p/></r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        test::TestSession session;
        LogSession on(session.Handle(), u"");
        const auto db = Parse(c.document);
        db->InsertNodeAndChildren(data, file, Add(u"c", u"p"), XML_UPDATE_INSTALL);
        db->InsertNodeAndChildren(data, file, Add(u"d", u"p"), XML_UPDATE_INSTALL);
        db->InsertComment(data, file, comment, c.next ? &data.elements.at(c.next) : nullptr, XML_UPDATE_INSTALL);
        EXPECT_EQ(db->Updater().Bytes(), c.expected);
        ExpectMatchesFreshParse(*db);
        EXPECT_TRUE(data.elements.at(u"c").IsProcessed());
        const auto log = session.LogLines();
        EXPECT_EQ(c.logged != nullptr, std::find(log.begin(), log.end(), c.logged ? c.logged : u"") != log.end());
    }
    const auto db = Parse(cases[0].document);
    try {
        db->InsertNodeAndChildren(data, file, Add(u"x", u"c"), XML_UPDATE_INSTALL);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Description(), u"Unexpected exception.");
    }
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
        {"<a x='1'  y=\"2\" />", {{0, u"x", u"3", kSet, 0}}, 1, "<a x=\"3\" y=\"2\"/>"},
        {"<a x=\"1\">t</a>", {{0, u"x", u"", kRemove, 0}}, 1, "<a>t</a>"},
        {"<a/>", {{0, u"y", u"2", kAdd, 0}}, 1, "<a y=\"2\"/>"},
        {"<a>t</a>", {{0, u"q", u"say \"hi\" & bye\nnow", kAdd, 0}}, 1,
         "<a q=\"say &quot;hi&quot; &amp; bye&#10;now\">t</a>"},
        {"<a x=\"1\"\r\n   y=\"2\"/>", {{0, u"y", u"", kRemove, 0}, {0, u"w", u"5", kAdd, 2}, {0, u"v", u"4", kAdd, 1}},
         1, "<a x=\"1\" v=\"4\" w=\"5\"/>"},
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
        {"<r><v>a<c/>b<d/></v></r>", u"new", "<r><v>a<c/>b<d/>\r\n    new</v></r>", u"2",
         "<r><v>a<c/>b<d/>\r\n    new\r\n    2</v></r>"},
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
    // element before it, and took the text's position along.
    const auto db = Parse("<r><v><c/></v></r>");
    XmlElementRecord& source = Add(u"v", nullptr);
    source.text = u" x ";
    db->UpdateNodeText(file, db->Nodes().at(u"v"), source);
    db->RemoveNodeAndChildren(db->Nodes().at(u"c"));
    source.text = u"y";
    db->UpdateNodeText(file, db->Nodes().at(u"v"), source);
    EXPECT_EQ(db->Updater().Bytes(), "<r><v>y </v></r>");
}

TEST_F(XmlNodeEditsTest, EditsWriteTheFileEncoding) {
    const WideString document = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                u"<r>\r\n  <a x=\"\u00E9\">t</a>\r\n  <b/>\r\n  <p/>\r\n</r>\r\n";
    const WideString expected = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r>\r\n"
                                u"  <a x=\"\u00FC\u00E9\">\u00FC &lt;2</a>\r\n  <!-- \u00E9 -->\r\n"
                                u"  <p>\r\n    <c/>\r\n  </p>\r\n</r>\r\n";
    Add(u"r", nullptr);
    Add(u"p", u"r");
    Add(u"c", u"p");
    XmlElementRecord& a = Add(u"a", u"r");
    a.text = u"\u00FC <2";
    a.attributes = {{0, u"x", u"\u00FC\u00E9", kSet, 0}};
    XmlElementRecord& comment = Add(u"n", u"r");
    comment.flags = kXmlElementComment;
    comment.text = u"\u00E9";
    for (XmlEncoding encoding : {XmlEncoding::Utf8, XmlEncoding::Utf16, XmlEncoding::Windows1252}) {
        SCOPED_TRACE(Narrow(XmlEncodingName(encoding)));
        const auto db = Parse(xmltest::Transcode(document, encoding));
        db->RemoveNodeAndChildren(db->Nodes().at(u"b"));
        db->UpdateXmlNode(file, db->Nodes().at(u"a"), a, XML_UPDATE_INSTALL);
        db->InsertNodeAndChildren(data, file, data.elements.at(u"c"), XML_UPDATE_INSTALL);
        db->InsertComment(data, file, comment, &data.elements.at(u"p"), XML_UPDATE_INSTALL);
        EXPECT_EQ(db->Updater().Bytes(), xmltest::Transcode(expected, encoding));
        ExpectMatchesFreshParse(*db);
    }
}

}  // namespace
