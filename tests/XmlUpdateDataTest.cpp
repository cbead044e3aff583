// The planned-update records: integer columns, tree order, attribute order.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "custact/XML/src/xml/XmlUpdateData.h"

namespace {

TEST(XmlUpdateData, IntegerColumns) {
    const std::pair<const char16_t*, std::int32_t> cases[] = {
        {u"", 0},     {u"abc", 0},   {u"  24x", 24},          {u"-3", -3},
        {u"+7", 7},   {u"- 3", 0},   {u"2147483648", 2147483647}, {u"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) EXPECT_EQ(ToRecordInteger(c.first), c.second) << Narrow(c.first);
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

TEST(XmlUpdateData, MergedAttributesPutTheTargetsFirst) {
    std::vector<XmlAttributeRecord> attributes = {{kAttributeFromUpdate, u"z", u"", 2, 5},
                                                  {kAttributeFromUpdate, u"y", u"", 2, -1},
                                                  {kAttributeFromTarget, u"t1", u"", 0, 1},
                                                  {kAttributeFromTarget, u"t0", u"", 0, 0}};
    std::sort(attributes.begin(), attributes.end(), MergedAttributeLess);
    std::vector<WideString> names;
    for (const auto& a : attributes) names.push_back(a.name);
    EXPECT_EQ(names, (std::vector<WideString>{u"t0", u"t1", u"y", u"z"}));
}

}  // namespace
