// The CustomActionData text (escaping, splitting, sections, round trips), the
// manager that CollectXmlData builds from it, and the planned-update
// records: integer columns and tree order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "custact/XML/src/xml/XmlCollect.h"
#include "custact/XML/src/xml/XmlUpdateData.h"
#include "installer/CustomActionData.h"
#include "support/BackupTestSupport.h"
#include "support/TestSession.h"

namespace {

using test::ActionSection;

std::unique_ptr<XmlManager> Collect(const std::vector<ActionSection>& sections) {
    XmlUpdateDataReader reader(test::ActionDataText(sections));
    reader.Parse();
    auto manager = std::make_unique<XmlManager>(0);
    CollectXmlData(*manager, reader);
    return manager;
}

TEST(CollectXmlData, RunProperties) {
    struct Case {
        ActionSection properties;
        const char16_t* productKey;
        bool removeAll;
        bool isUpgrading;
    };
    const Case cases[] = {
        {{{u"ProductCode", u"{P}"}, {u"REMOVE", u"ALL"}}, u"{P}", true, false},
        {{{u"ProductCode", u"{P}"}, {u"REMOVE", u"all"}}, u"{P}", false, false},
        {{{u"ProductCode", u"{P}"}, {u"REMOVE", u"ALL,Docs"}}, u"{P}", false, false},
        {{{u"ProductCode", u"{P}"}, {u"QM_CA_MODULE_ID", u"M_1"}}, u"{P}.M_1", false, false},
        {{{u"ProductCode", u"{P}"}, {u"OLDPRODUCTS", u"{O}"}}, u"{P}", false, true},
        {{{u"UPGRADINGPRODUCTCODE", u"{N}"}}, u"", false, true},
        {{}, u"", false, false},
    };
    for (const Case& c : cases) {
        const auto manager = Collect({c.properties});
        EXPECT_EQ(manager->productKey, c.productKey);
        EXPECT_EQ(manager->removeAll, c.removeAll) << Narrow(manager->productKey);
        EXPECT_EQ(manager->isUpgrading, c.isUpgrading) << Narrow(manager->productKey);
        EXPECT_TRUE(manager->data.files.empty());
    }
    EXPECT_EQ(Collect({{{u"UpgradeCode", u"{U}"}}})->upgradeCode, u"{U}");
}

const ActionSection kFiles = {
    {u"web", u"WEB~1.CON|web.config", u"C:\\App\\", u"Comp", u"cfg", u"72", u"1.0", u"UTF-8", u"4", u"#.old"},
    {u"other", u"other.xml", u"D:\\Data\\", u"Comp", u"none", u"x", u"", u"", u"", u""},
    {u"short", u"short.xml"},  // fields past the end read as empty
};
const ActionSection kElements = {
    {u"cfg", u"", u"configuration", u"", u"1", u"0", u"", u"0"},
    {u"set", u"cfg", u"add", u"", u"2", u"4", u"text", u"3"},
    {u"orphan", u"missing", u"x"},
};
const ActionSection kAttributes = {
    {u"a3", u"set", u"value", u"3", u"30", u"v"},
    {u"a1", u"set", u"key", u"3", u"10", u"k"},
    {u"lost", u"nosuch", u"name", u"3", u"1", u"v"},
    {u"a2", u"set", u"mid", u"3", u"20", u"m"},  // apart from the element's other rows
};

TEST(CollectXmlData, FilesElementsAndAttributesAreLinked) {
    const auto manager = Collect({{}, kFiles, kElements, kAttributes});
    const XmlUpdateData& data = manager->data;
    ASSERT_EQ(data.files.size(), 3u);
    const XmlFileRecord& web = data.files.at(u"web");
    EXPECT_EQ(GetFullPath(web), u"C:\\App\\web.config");
    EXPECT_EQ(web.flags, 72u);
    EXPECT_EQ(web.indentUnits, 4);
    EXPECT_EQ(web.backupPattern, u"#.old");
    EXPECT_EQ(web.root, &data.elements.at(u"cfg"));
    EXPECT_EQ(data.files.at(u"other").flags, 0u);
    EXPECT_EQ(data.files.at(u"other").root, nullptr);
    EXPECT_EQ(GetFullPath(data.files.at(u"short")), u"short.xml");

    const XmlElementRecord& set = data.elements.at(u"set");
    EXPECT_EQ(set.Parent(), &data.elements.at(u"cfg"));
    EXPECT_EQ(data.elements.at(u"orphan").parent, nullptr);
    EXPECT_EQ(set.index, 2);
    EXPECT_EQ(set.flags, 4u);
    EXPECT_EQ(set.text, u"text");
    EXPECT_EQ(set.updateIndex, 3);
    ASSERT_EQ(set.attributes.size(), 3u);  // sorted by order; the one for no element is dropped
    EXPECT_EQ(set.attributes[0].name, u"key");
    EXPECT_EQ(set.attributes[1].key, u"a2");
    EXPECT_EQ(set.attributes[2].value, u"v");
}

TEST(CollectXmlData, PermissionRulesOfXmlFilesOnly) {
    const ActionSection rules = {
        {u"web", u"QM_XmlFile", u"", u"everyone", u"1179817"},
        {u"web", u"QM_XmlFile", u"SANDBOX", u"svc_app", u"2147483648"},
        {u"web", u"qm_xmlfile", u"", u"Users", u"1"},   // the table name is compared exactly
        {u"cfg", u"QM_XmlElement", u"", u"Users", u"1"},
        {u"nosuch", u"QM_XmlFile", u"", u"Users", u"1"},
        {u"other", u"QM_XmlFile", u"", u"S-1-5-32-545", u"99999999999"},
    };
    const auto manager = Collect({{}, kFiles, {}, {}, rules});
    ASSERT_EQ(manager->permissions.size(), 2u);
    const PermissionSet& web = manager->permissions.at(&manager->data.files.at(u"web"));
    EXPECT_EQ(web.objectName, u"C:\\App\\web.config");
    EXPECT_EQ(web.objectKind, kPermissionObjectXmlFile);
    EXPECT_EQ(web.errorHandler, nullptr);
    ASSERT_EQ(web.rules.size(), 2u);
    EXPECT_EQ(web.rules[0].user, u"S-1-1-0");  // well-known names become SIDs
    EXPECT_EQ(web.rules[0].permission, 1179817u);
    EXPECT_EQ(web.rules[1].domain, u"SANDBOX");
    EXPECT_EQ(web.rules[1].user, u"svc_app");
    EXPECT_EQ(web.rules[1].permission, 0x80000000u);
    EXPECT_EQ(manager->permissions.at(&manager->data.files.at(u"other")).rules.at(0).permission, 0xFFFFFFFFu);
}

TEST(XmlUpdateData, TreeOrderIsLevelOrder) {
    // root; a (order -5) with a1 (7) with a11; b (2) with b1 (1) and b2 (-1); c (3)
    XmlUpdateData data;
    const auto add = [&](const char16_t* key, const char16_t* parent, std::int32_t order) {
        XmlElementRecord& r = data.elements[key];
        r.key = WideString(key);
        r.index = order;
        r.parent = parent != nullptr ? &data.elements.at(parent) : nullptr;
    };
    add(u"root", nullptr, 0);
    add(u"b", u"root", 2);
    add(u"a", u"root", -5);
    add(u"c", u"root", 3);
    add(u"b1", u"b", 1);
    add(u"b2", u"b", -1);
    add(u"a1", u"a", 7);
    add(u"a11", u"a1", 0);
    std::vector<XmlNodeRecord*> records;
    for (auto& entry : data.elements) records.push_back(&entry.second);
    std::sort(records.begin(), records.end(), CompareTreeOrder);
    std::vector<WideString> keys;
    for (const XmlNodeRecord* r : records) keys.push_back(r->key);
    // Grandchildren are grouped by their parents' order: a's before b's.
    EXPECT_EQ(keys, (std::vector<WideString>{u"root", u"a", u"b", u"c", u"a1", u"b2", u"b1", u"a11"}));
    EXPECT_FALSE(CompareTreeOrder(&data.elements.at(u"b"), &data.elements.at(u"b")));
}

TEST(XmlUpdateData, IntegerColumns) {
    const std::pair<const char16_t*, std::int32_t> cases[] = {
        {u"", 0},     {u"abc", 0},   {u"  24x", 24},          {u"-3", -3},
        {u"+7", 7},   {u"- 3", 0},   {u"2147483648", 2147483647}, {u"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) EXPECT_EQ(ToRecordInteger(c.first), c.second) << Narrow(c.first);
}

// The CustomActionData text: escaping, splitting, sections, round trips.
using Rows = std::vector<std::vector<std::u16string>>;

// Writes plain rows as table sections with the writer of the immediate
// actions: columns c0, c1 ... with no conditions, formatting or properties.
std::u16string Write(const std::vector<Rows>& sections) {
    static const TableSpec table = {u"T", {{u"c0"}, {u"c1"}, {u"c2"}, {u"c3"}, {u"c4"}, {u"c5"}}, {}, {}};
    std::u16string text;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        std::vector<TableRecord> records;
        for (const auto& row : sections[s]) {
            TableRecord record;
            for (std::size_t f = 0; f < row.size(); ++f) record.Set(table.columns[f].name, row[f]);
            records.push_back(record);
        }
        if (s > 0) text.push_back(kSectionSeparator);
        AppendTableSection(text, 0, table, records, RowMode::Install, nullptr);
    }
    return text;
}

TEST(CustomActionData, RandomTablesRoundTripFieldByField) {
    std::mt19937 random(20261205);
    // Control characters, backslashes and ordinary text are all likely.
    const char16_t alphabet[] = {u'\u0001', u'\u0002', u'\u0003', u'\u0004', u'\\', u'\\', u'a', u'Z', u' ',
                                 u'\u00e9', u'\u20ac', u'\xd83d', u'\xde00', u'\u0000', u'<', u'"'};
    auto value = [&] {
        std::u16string v(random() % 8, u' ');
        for (char16_t& c : v) c = alphabet[random() % (sizeof alphabet / sizeof alphabet[0])];
        return v;
    };
    for (int round = 0; round < 400; ++round) {
        std::vector<Rows> sections(1 + random() % 6);
        for (Rows& rows : sections) {
            rows.resize(random() % 4);
            for (auto& row : rows) {
                row.resize(1 + random() % 6);
                for (auto& field : row) field = value();
            }
        }
        XmlUpdateDataReader reader(Write(sections));
        if (sections.size() == 1 && sections[0].empty()) {  // an empty text
            EXPECT_FALSE(reader.Parse());
            EXPECT_EQ(reader.SectionCount(), 0u);
            continue;
        }
        ASSERT_TRUE(reader.Parse());
        ASSERT_EQ(reader.SectionCount(), sections.size()) << round;
        for (std::size_t s = 0; s < sections.size(); ++s) ASSERT_EQ(reader.GetSection(s), sections[s]) << round;
        // Sections past the last and fields past a row's end read as empty.
        EXPECT_TRUE(reader.GetSection(sections.size()).empty());
        if (!sections[0].empty()) {
            EXPECT_EQ(FieldAt(reader.GetSection(0)[0], 6), u"");
        }
    }
}

}  // namespace
