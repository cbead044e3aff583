// The planned-update records: paths, integer columns, tree order and the
// order of attributes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "custact/XML/src/xml/XmlUpdateData.h"

namespace {

TEST(XmlUpdateData, FullPathJoinsDirectoryAndNameAsTheyAre) {
    XmlFileRecord file;
    file.directory = u"C:\\App\\";
    file.fileName = u"web.config";
    EXPECT_EQ(GetFullPath(file), u"C:\\App\\web.config");
    file.directory = u"C:\\App";
    EXPECT_EQ(GetFullPath(file), u"C:\\Appweb.config");
}

TEST(XmlUpdateData, IntegerColumns) {
    struct Case {
        const char16_t* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {u"", 0},          {u"abc", 0},          {u"16", 16},
        {u"  24x", 24},    {u"-3", -3},          {u"+7", 7},
        {u"- 3", 0},       {u"8 16", 8},         {u"2147483647", 2147483647},
        {u"2147483648", 2147483647},             {u"-2147483648", -2147483647 - 1},
        {u"-99999999999", -2147483647 - 1},      {u"000512", 512},
    };
    for (const Case& c : cases) EXPECT_EQ(ToRecordInteger(c.text), c.value) << Narrow(c.text);
}

TEST(XmlUpdateData, MarksAreIndependentAndStartClear) {
    XmlElementRecord record;
    EXPECT_FALSE(record.IsMarked());
    EXPECT_FALSE(record.IsProcessed());
    record.SetProcessed(true);
    EXPECT_TRUE(record.IsProcessed());
    EXPECT_FALSE(record.IsMarked());
    record.SetMarked(true);
    record.SetProcessed(false);
    EXPECT_TRUE(record.IsMarked());
    EXPECT_FALSE(record.IsProcessed());
}

class XmlTreeOrder : public ::testing::Test {
protected:
    // root
    //   b (order 2): b1 (1), b2 (-1)
    //   a (order -5): a1 (7): a11 (0)
    //   c (order 2)
    XmlElementRecord& Add(const char16_t* key, const char16_t* parent, std::int32_t order) {
        XmlElementRecord& r = data.elements[key];
        r.key = r.name = key;
        r.index = order;
        if (parent != nullptr) r.parent = &data.elements.at(parent);
        return r;
    }
    void SetUp() override {
        Add(u"root", nullptr, 0);
        Add(u"b", u"root", 2);
        Add(u"a", u"root", -5);
        Add(u"c", u"root", 3);
        Add(u"b1", u"b", 1);
        Add(u"b2", u"b", -1);
        Add(u"a1", u"a", 7);
        Add(u"a11", u"a1", 0);
    }
    XmlUpdateData data;
};

TEST_F(XmlTreeOrder, SortsElementsInLevelOrder) {
    std::vector<XmlNodeRecord*> records;
    for (auto& entry : data.elements) records.push_back(&entry.second);
    std::sort(records.begin(), records.end(), CompareTreeOrder);
    std::vector<WideString> keys;
    for (const XmlNodeRecord* r : records) keys.push_back(r->key);
    // Grandchildren are grouped by their parents' order, a's before b's.
    const std::vector<WideString> expected = {u"root", u"a", u"b", u"c", u"a1", u"b2", u"b1", u"a11"};
    EXPECT_EQ(keys, expected);
}

TEST_F(XmlTreeOrder, PairsDecideByTheAncestorsBelowTheCommonOne) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        bool before;
    };
    const Case cases[] = {
        {u"a", u"b", true},   {u"b", u"a", false},  {u"b2", u"b1", true}, {u"a1", u"b1", true},
        {u"b1", u"a1", false}, {u"c", u"a1", true},  {u"a11", u"c", false}, {u"root", u"a", true},
        {u"b", u"b", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareTreeOrder(&data.elements.at(c.a), &data.elements.at(c.b)), c.before)
            << Narrow(c.a) << " < " << Narrow(c.b);
    }
}

TEST(XmlUpdateData, AttributeOrders) {
    std::vector<XmlAttributeRecord> attributes = {
        {kAttributeFromUpdate, u"z", u"", 2, 5},
        {kAttributeFromUpdate, u"y", u"", 2, -1},
        {kAttributeFromUpdate, u"x", u"", 2, 0},
    };
    SortAttributesByOrder(attributes);
    EXPECT_EQ(attributes[0].name, u"y");
    EXPECT_EQ(attributes[1].name, u"x");
    EXPECT_EQ(attributes[2].name, u"z");

    // Merged lists keep the target's attributes first, whatever their order.
    attributes.push_back({kAttributeFromTarget, u"t1", u"", 0, 1});
    attributes.push_back({kAttributeFromTarget, u"t0", u"", 0, 0});
    std::sort(attributes.begin(), attributes.end(), MergedAttributeLess);
    std::vector<WideString> names;
    for (const auto& a : attributes) names.push_back(a.name);
    EXPECT_EQ(names, (std::vector<WideString>{u"t0", u"t1", u"y", u"x", u"z"}));
}

}  // namespace
