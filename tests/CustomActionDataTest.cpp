// The CustomActionData text: escaping, splitting, sections, round trips.
#include <gtest/gtest.h>

#include <random>

#include "installer/CustomActionData.h"
#include "support/TestSession.h"

namespace {

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
