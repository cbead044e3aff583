// Parsing existing files into target nodes with byte positions, in every
// encoding, and looking nodes and comments up.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "XmlTestSupport.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

using xmltest::ExpectPositionsMatchBytes;
using xmltest::RawText;

struct Sample {
    const char* file;
    XmlEncoding encoding;
    std::size_t bomSize;
    const char16_t* declared;  // the declaration's encoding name
};

const Sample kSamples[] = {
    {"web.config", XmlEncoding::Utf8, 3, u"utf-8"},
    {"app.config", XmlEncoding::Utf8, 0, u"UTF-8"},
    {"log4j.xml", XmlEncoding::Iso88591, 0, u"ISO-8859-1"},
    {"layout.xml", XmlEncoding::Utf16, 2, u"UTF-16"},
    {"prices-1252.xml", XmlEncoding::Windows1252, 0, u"Windows-1252"},
};

class XmlTargetDatabaseTest : public ::testing::Test {
protected:
    // Writes the bytes into the scratch folder and parses them.
    std::unique_ptr<XmlTargetDatabase> Parse(const std::string& bytes, const char16_t* name = u"target.xml") {
        const WideString path = scratch / name;
        EXPECT_TRUE(WriteWholeFile(path, bytes));
        auto db = std::make_unique<XmlTargetDatabase>(path);
        db->Parse();
        return db;
    }
    Exception ParseFailure(const std::string& bytes) {
        try {
            Parse(bytes);
        } catch (const Exception& e) {
            return e;
        }
        ADD_FAILURE() << "parsed: " << bytes.substr(0, 60);
        return Exception(TRELLIS_HERE, u"none");
    }
    static const TargetNode& Node(const XmlTargetDatabase& db, const char16_t* key) {
        const auto it = db.Nodes().find(key);
        if (it == db.Nodes().end()) throw std::runtime_error("no node " + Narrow(key));
        return it->second;
    }
    static std::vector<WideString> Raw(const XmlTargetDatabase& db, const TargetNode& n) {
        std::vector<WideString> raw;
        for (const TextRange& r : n.textRanges) raw.push_back(RawText(db, r.begin, r.end));
        return raw;
    }

    test::ScratchFolder scratch;
};

TEST_F(XmlTargetDatabaseTest, SamplePositionsInEveryEncoding) {
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.file);
        const std::string native = xmltest::ReadSample(sample.file);
        ASSERT_FALSE(native.empty());
        const auto db = Parse(native);
        EXPECT_EQ(db->Updater().Encoding(), sample.encoding);
        EXPECT_EQ(db->EncodingName(), sample.declared);
        EXPECT_EQ(db->Updater().Bytes(), native);
        EXPECT_FALSE(db->Updater().IsModified());
        ExpectPositionsMatchBytes(*db);

        // The same document in the other encodings: the same nodes, and in
        // the Unicode encodings the same texts and attributes.
        const WideString text = xmltest::Decode(native, sample.encoding).text.substr(sample.bomSize ? 1 : 0);
        const struct {
            const char* name;
            XmlEncoding encoding;
            const char* prefix;
        } variants[] = {
            {"UTF-8", XmlEncoding::Utf8, ""},
            {"UTF-8 with byte order mark", XmlEncoding::Utf8, "\xEF\xBB\xBF"},
            {"UTF-16LE", XmlEncoding::Utf16, ""},
            {"ISO-8859-1", XmlEncoding::Iso88591, ""},
            {"Windows-1252", XmlEncoding::Windows1252, ""},
        };
        for (const auto& v : variants) {
            SCOPED_TRACE(v.name);
            const auto other = Parse(v.prefix + xmltest::Transcode(text, v.encoding), u"variant.xml");
            EXPECT_EQ(other->Updater().Encoding(), v.encoding);
            ExpectPositionsMatchBytes(*other);
            ASSERT_EQ(other->Nodes().size(), db->Nodes().size());
            const bool unicode = v.encoding == XmlEncoding::Utf8 || v.encoding == XmlEncoding::Utf16;
            for (const auto& entry : db->Nodes()) {
                const TargetNode& theirs = Node(*other, entry.first.c_str());
                EXPECT_EQ(theirs.name, entry.second.name);
                EXPECT_EQ(theirs.index, entry.second.index);
                EXPECT_EQ(theirs.startLine, entry.second.startLine);
                EXPECT_EQ(theirs.textRanges.size(), entry.second.textRanges.size()) << Narrow(entry.first);
                if (!unicode) continue;
                EXPECT_EQ(theirs.text, entry.second.text);
                ASSERT_EQ(theirs.attributes.size(), entry.second.attributes.size());
                for (std::size_t i = 0; i < theirs.attributes.size(); ++i)
                    EXPECT_EQ(theirs.attributes[i].value, entry.second.attributes[i].value);
            }
        }
    }
}

// What the samples hold beyond what SamplePositionsInEveryEncoding checks of
// every node against the bytes (positions, attributes, text runs).
TEST_F(XmlTargetDatabaseTest, SampleDeclarationsKeysPathsAndCounts) {
    auto db = Parse(xmltest::ReadSample("web.config"));
    EXPECT_EQ(db->Version(), u"1.0");
    EXPECT_EQ(db->Standalone(), -1);
    EXPECT_EQ(db->Root()->key, u"configuration");
    // Siblings of one name get numbered keys in document order.
    EXPECT_EQ(Node(*db, u"add_3").Parent()->name, u"appSettings");
    EXPECT_EQ(Node(*db, u"add_3").attributes[1].value, u"Gr\u00FC\u00DFe & \u00ABWillkommen\u00BB \u2013 \u00A1Ol\u00E9!");
    EXPECT_EQ(Node(*db, u"add_5").Parent()->name, u"handlers");
    const TargetNode& deny = Node(*db, u"deny");
    EXPECT_EQ(GetNodePath(deny, false), u"configuration/location[5]/system.web[0]/authorization[0]/deny[0]");
    EXPECT_EQ(GetNodePath(deny, true), u"configuration/location/system.web/authorization/deny");

    db = Parse(xmltest::ReadSample("log4j.xml"));
    EXPECT_EQ(db->Root()->name, u"log4j:configuration");
    EXPECT_EQ(db->CountChildren(Node(*db, u"appender_1").parent, u"appender"), 2);
    EXPECT_EQ(db->CountChildren(&Node(*db, u"appender_1"), u"param"), 3);
    EXPECT_EQ(db->CountChildren(&Node(*db, u"appender_1"), u""), 4);
    EXPECT_EQ(db->CountChildren(nullptr, u""), 0);

    // Texts of several runs are joined with one blank.
    db = Parse(xmltest::ReadSample("app.config"));
    EXPECT_EQ(db->Standalone(), 1);
    EXPECT_EQ(Node(*db, u"value_3").text, u"before inside after");
    EXPECT_EQ(Raw(*db, Node(*db, u"value_3")), (std::vector<WideString>{u"before", u"inside", u"after"}));
}

TEST_F(XmlTargetDatabaseTest, CommentsAreFoundByTextAndParent) {
    struct Comment {
        const char16_t* text;
        XmlNodeRecord* parent;
        bool exists;
    };
    XmlElementRecord configuration, appSettings, diagnostics, add, prices;
    configuration.name = u"configuration";
    appSettings.name = u"appSettings";
    appSettings.parent = &configuration;
    diagnostics.name = u"system.diagnostics";
    diagnostics.parent = &configuration;
    add.name = u"add";
    add.parent = &appSettings;
    prices.name = u"prices";
    const Comment comments[] = {
        {u"Settings read at start-up", &configuration, true},
        {u"  Where the service listens\r\n", &appSettings, true},
        {u"Where the service listens", &configuration, false},
        {u"Where the service", &appSettings, false},
        {u"A comment over\r\n       several lines", &diagnostics, true},
        {u"A comment over\n       several lines", &diagnostics, true},
        {u"A comment over\r       several lines", &diagnostics, true},
        {u"A comment over several lines", &diagnostics, false},
        {u"trailing comment outside the root", nullptr, true},
        {u"trailing comment outside the root", &configuration, false},
        {u"Settings read at start-up", &add, false},
    };
    const auto db = Parse(xmltest::ReadSample("app.config"));
    for (const Comment& c : comments) {
        XmlElementRecord record;
        record.text = c.text;
        record.parent = c.parent;
        EXPECT_EQ(db->CommentExists(record), c.exists) << Narrow(c.text);
    }
    // In code page 1252.
    XmlElementRecord comment;
    comment.parent = &prices;
    comment.text = u"\u201Cquoted\u201D \u2013 legacy comment";
    EXPECT_TRUE(Parse(xmltest::ReadSample("prices-1252.xml"))->CommentExists(comment));
}

TEST_F(XmlTargetDatabaseTest, EdgesOfTagsAndTexts) {
    const auto db = Parse("<r><p><c/></p><a/><b>t</b><a x='1'/><a_1/><a/><d >x&amp;y</d></r>");
    // Keys: a numbered key that is taken already gets a number of its own.
    const std::map<WideString, std::int32_t> indices = {{u"p", 0}, {u"a", 1}, {u"b", 2}, {u"a_1", 3},
                                                        {u"a_1_1", 4}, {u"a_2", 5}, {u"d", 6}};
    for (const auto& entry : indices) EXPECT_EQ(Node(*db, entry.first.c_str()).index, entry.second) << Narrow(entry.first);
    EXPECT_EQ(Node(*db, u"a_1").attributes.size(), 1u);
    EXPECT_EQ(Node(*db, u"a_1_1").name, u"a_1");
    EXPECT_EQ(Node(*db, u"d").text, u"x&y");
    ExpectPositionsMatchBytes(*db);
}

TEST_F(XmlTargetDatabaseTest, Errors) {
    struct Case {
        const char* name;
        std::string bytes;
        std::int32_t error;
        const char* source;
        std::vector<WideString> arguments;  // checked from the second one on
    };
    const Case cases[] = {
        {"mismatched tag", "<a>\n  <b>\n</a>", 4113, "platform/os/XmlReader", {u"3", u"2", u"mismatched tag"}},
        {"empty file", "", 4113, "platform/os/XmlReader", {u"1", u"0", u"no element found"}},
        {"two roots", "<a/><b/>", 4113, "platform/os/XmlReader", {u"1", u"4", u"junk after document element"}},
        {"unknown encoding", "<?xml version='1.0' encoding='Shift_JIS'?><a/>", 4114,
         "custact/XML/src/xml/XmlTargetDatabase", {u"Shift_JIS"}},
        {"UTF-16 named in single-byte text", "<?xml version='1.0' encoding='UTF-16BE'?><a/>", 4114,
         "custact/XML/src/xml/XmlTargetDatabase", {u"UTF-16BE (the bytes say single-byte text)"}},
    };
    for (const Case& c : cases) {
        const Exception e = ParseFailure(c.bytes);
        EXPECT_EQ(e.ErrorNumber(), c.error) << c.name;
        EXPECT_EQ(e.Source(), Widen(c.source)) << c.name;
        ASSERT_EQ(e.Arguments().size(), c.arguments.size() + 1) << c.name;
        EXPECT_EQ(e.Arguments()[0], scratch / u"target.xml");
        EXPECT_EQ(std::vector<WideString>(e.Arguments().begin() + 1, e.Arguments().end()), c.arguments) << c.name;
    }

    XmlTargetDatabase missing(scratch / u"missing.xml");
    try {
        missing.Parse();
        ADD_FAILURE() << "parsed a missing file";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ErrorNumber(), 4111);
        EXPECT_EQ(e.Arguments(), std::vector<WideString>{scratch / u"missing.xml"});
    }
}

TEST_F(XmlTargetDatabaseTest, ParseLogsItsStepsAndTheEncoding) {
    test::TestSession session;
    ASSERT_TRUE(session.IsOpen());
    LogSession on(session.Handle(), u"");
    Parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a/>");
    EXPECT_EQ(session.LogLines(), (std::vector<std::u16string>{u"Target XML file -> Start parsing...",
                                                              u"Target XML Encoding: [windows-1252].",
                                                              u"XML File parsed successfully."}));
}

class XmlMatchingTest : public XmlTargetDatabaseTest {
protected:
    void SetUp() override { db = Parse(xmltest::ReadSample("app.config")); }
    XmlElementRecord& Add(const char16_t* key, const char16_t* name, XmlElementRecord* parent,
                          std::initializer_list<XmlAttributeRecord> attributes = {}, const char16_t* text = u"") {
        // Whole strings are moved in: GCC 12 warns falsely about assigning
        // character pointers here (-Wrestrict).
        XmlElementRecord& r = records[key];
        r.key = WideString(key);
        r.name = WideString(name);
        r.parent = parent;
        r.attributes = attributes;
        r.text = WideString(text);
        return r;
    }
    std::vector<WideString> Match(const XmlNodeRecord& source, int mode) {
        std::vector<TargetNode*> found;
        db->FindMatchingNodes(source, mode, found);
        std::vector<WideString> keys;
        for (const TargetNode* n : found) keys.push_back(n->key);
        return keys;
    }
    static XmlAttributeRecord Attribute(const char16_t* name, const char16_t* value, std::uint32_t flags) {
        return {kAttributeFromUpdate, name, value, flags, 0};
    }

    std::unique_ptr<XmlTargetDatabase> db;
    XmlElementMap records;
};

constexpr std::uint32_t kKey = kXmlAttributeKey | kXmlAttributeBelongs | kXmlAttributeInstall;
constexpr std::uint32_t kBelongs = kXmlAttributeBelongs | kXmlAttributeInstall;

TEST_F(XmlMatchingTest, AncestorKeysAndUninstallTexts) {
    XmlElementRecord& configuration = Add(u"c", u"configuration", nullptr);
    XmlElementRecord& settings = Add(u"as", u"applicationSettings", &configuration);
    XmlElementRecord& shop = Add(u"sp", u"Shop.Properties.Settings", &settings);
    XmlElementRecord& setting = Add(u"st", u"setting", &shop, {Attribute(u"name", u"Footer", kKey)});
    XmlElementRecord& value = Add(u"v", u"value", &setting);
    EXPECT_EQ(Match(value, XML_UPDATE_INSTALL), std::vector<WideString>{u"value_1"});
    EXPECT_EQ(Match(value, XML_UPDATE_UNINSTALL), std::vector<WideString>{});  // the texts differ
    value.text = u"  <b>Bold</b> & \"quoted\" text\r\n";
    EXPECT_EQ(Match(value, XML_UPDATE_UNINSTALL), std::vector<WideString>{u"value_1"});

    // An ancestor identified only by an attribute that belongs, without the
    // key flag, matches by path.
    setting.attributes = {Attribute(u"name", u"Footer", kBelongs)};
    value.text.clear();
    EXPECT_EQ(Match(value, XML_UPDATE_INSTALL), (std::vector<WideString>{u"value", u"value_1", u"value_2",
                                                                        u"value_3", u"value_4"}));
    setting.attributes = {Attribute(u"name", u"Nothing", kKey)};
    EXPECT_EQ(Match(value, XML_UPDATE_INSTALL), std::vector<WideString>{});
    EXPECT_EQ(GetNodePath(value, true), u"configuration/applicationSettings/Shop.Properties.Settings/setting/value");
}

// Matching goes through indexes of children by name and of key values,
// which must find what a walk over every node finds, also after attribute
// rewrites. Groups of 40 children make the key index do the work; values
// with references, line ends and characters outside ASCII are read as a
// parser reads them.
TEST_F(XmlTargetDatabaseTest, IndexedMatchingFindsWhatAWalkFinds) {
    const std::vector<WideString> values = {u"a", u"b", u"a&b", u"x y", u"\u00E9t\u00E9", u"<q>", u"", u"a b"};
    const std::vector<WideString> raw = {u"a", u"b", u"a&amp;b", u"x\r\ny", u"\u00E9t\u00E9", u"&lt;q&gt;", u"",
                                         u"a&#32;b"};
    std::mt19937 random(7);
    const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    WideString text = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r>";
    for (int s = 0; s < 3; ++s) {
        text += u"<s n=\"" + ToWideDecimal(s % 2) + u"\">";
        for (int g = 0; g < 3; ++g) {
            text += u"<g n=\"" + ToWideDecimal(g) + u"\">";
            for (int a = 0; a < 40; ++a)
                text += u"\r\n <a k=\"" + raw[pick(raw.size())] + u"\" v='" + raw[pick(3)] + u"'/>";
            text += u"</g>";
        }
        text += u"</s>";
    }
    text += u"</r>";
    constexpr std::uint32_t kSet = kKey | kXmlAttributeSetOrRemove;
    for (XmlEncoding encoding : {XmlEncoding::Utf8, XmlEncoding::Utf16, XmlEncoding::Windows1252}) {
        SCOPED_TRACE(Narrow(XmlEncodingName(encoding)));
        const auto db = Parse(xmltest::Transcode(text, encoding));
        XmlElementRecord r, s, g, a;
        r.name = u"r";
        s.name = u"s";
        g.name = u"g";
        a.name = u"a";
        s.parent = &r;
        g.parent = &s;
        a.parent = &g;
        const auto holds = [](const TargetNode& n, const XmlNodeRecord& record) {
            return std::all_of(record.attributes.begin(), record.attributes.end(), [&](const XmlAttributeRecord& k) {
                return std::any_of(n.attributes.begin(), n.attributes.end(),
                                   [&](const XmlAttributeRecord& t) { return t.name == k.name && t.value == k.value; });
            });
        };
        std::vector<TargetNode*> elements;
        for (auto& entry : db->Nodes()) {
            if (entry.second.name == u"a") elements.push_back(&entry.second);
        }
        for (int round = 0; round < 150 && !HasFailure(); ++round) {
            s.attributes = {{kAttributeFromUpdate, u"n", ToWideDecimal(static_cast<int>(pick(3))), kKey, 0}};
            g.attributes.clear();
            if (pick(2) == 0)
                g.attributes = {{kAttributeFromUpdate, u"n", ToWideDecimal(static_cast<int>(pick(3))), kKey, 0}};
            a.attributes = {{kAttributeFromUpdate, u"k", values[pick(values.size())], kKey, 0}};
            if (pick(3) == 0) a.attributes.push_back({kAttributeFromUpdate, u"v", values[pick(3)], kKey, 1});
            // The walk: the path, the keys up the ancestors, then the own keys.
            std::map<std::int32_t, WideString> expected;
            for (const auto& entry : db->Nodes()) {
                const TargetNode& n = entry.second;
                if (n.name == u"a" && holds(n, a) && holds(*n.Parent(), g) && holds(*n.Parent()->Parent(), s))
                    expected[n.start] = n.key;
            }
            std::vector<NodeId> found;
            db->FindMatchingNodes(a, XML_UPDATE_INSTALL, found);
            std::vector<WideString> keys;
            for (NodeId n : found) keys.push_back(db->KeyOf(n));
            std::vector<WideString> want;
            for (const auto& entry : expected) want.push_back(entry.second);
            ASSERT_EQ(keys, want) << "round " << round;
            // A rewrite of a key, which later rounds must see.
            XmlElementRecord change;
            change.attributes = {{kAttributeFromUpdate, u"k", values[pick(values.size())], kSet, 0}};
            db->UpdateNodeAttributes(*elements[pick(elements.size())], change, XML_UPDATE_INSTALL);
        }
    }
}

}  // namespace
