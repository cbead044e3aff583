// Whole tables read from a real package, and installer texts read with the
// two-call pattern, on either backend.
#include <gtest/gtest.h>

#include "installer/Logger.h"
#include "installer/MsiTableReader.h"
#include "installer/MsiText.h"
#include "platform/Msi.h"
#include "support/TestSession.h"

namespace {

class MsiTableReaderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.IsOpen()); }

    std::vector<std::u16string> Keys(const MsiTableReader& reader) {
        std::vector<std::u16string> keys;
        for (const TableRecord& row : reader.Records()) keys.push_back(row.Get(u"Key"));
        return keys;
    }

    test::TestSession session;
};

TEST_F(MsiTableReaderTest, ReadsEveryColumnKindWithItsText) {
    MsiTableReader reader(session.Handle());
    ASSERT_TRUE(reader.Query(u"QM_Sample", {u"Weight"}, u""));
    EXPECT_EQ(reader.TableName(), u"QM_Sample");
    EXPECT_EQ(reader.ColumnNames(),
              (std::vector<std::u16string>{u"Key", u"Name", u"Count", u"Weight", u"Note", u"Data"}));
    EXPECT_EQ(reader.ColumnTypes(), (std::vector<char16_t>{u's', u's', u'i', u'i', u'l', u'v'}));
    ASSERT_EQ(Keys(reader), (std::vector<std::u16string>{u"alpha", u"beta", u"gamma"}));

    const TableRecord& alpha = reader.Records()[0];
    EXPECT_EQ(alpha.Get(u"Name"), u"First");
    EXPECT_EQ(alpha.Get(u"Count"), u"7");
    EXPECT_EQ(alpha.Get(u"Note"), u"plain note");
    EXPECT_EQ(alpha.Get(u"Data"), u"{Binary Data}");
    EXPECT_EQ(alpha.FieldCount(), 6u);

    const TableRecord& beta = reader.Records()[1];
    EXPECT_EQ(beta.Get(u"Count"), u"-42");
    EXPECT_EQ(beta.Get(u"Note"), u"comma, separated");

    // Null fields read as empty texts, a null integer not as "0".
    const TableRecord& gamma = reader.Records()[2];
    EXPECT_EQ(gamma.Get(u"Name"), u"");
    EXPECT_EQ(gamma.Get(u"Count"), u"");
    EXPECT_EQ(gamma.Get(u"Weight"), u"3");
    EXPECT_EQ(gamma.Get(u"NoSuchColumn"), u"");
    EXPECT_FALSE(gamma.Has(u"NoSuchColumn"));

    // Only the one stored stream has bytes.
    ASSERT_EQ(reader.Streams().size(), 1u);
    EXPECT_EQ(reader.Streams()[0], std::string("STREAM-BYTES\0\x01\xff end", 19));
}

TEST_F(MsiTableReaderTest, MissingTableLogsTheQueryAndGivesNoRows) {
    LogSession on(session.Handle(), u"");
    MsiTableReader reader(session.Handle());
    session.ClearMessages();
    EXPECT_FALSE(reader.Query(u"QM_Missing", {u"A", u"B"}, u"A = 1"));
    EXPECT_TRUE(reader.Records().empty());
    EXPECT_TRUE(reader.ColumnNames().empty());
    const auto lines = session.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], u"RESET READER");
    EXPECT_EQ(lines[1],
              u"Error opening View: [SELECT * FROM `QM_Missing` WHERE A = 1 ORDER BY `A`,`B`] Error code:1615");
    // The reader recovers for the next query.
    EXPECT_TRUE(reader.Query(u"QM_Sample", {}, u""));
}

// Installer texts read with the two-call pattern, on either backend.
TEST(ReadInstallerText, FollowsTheAnswersOfTheGetter) {
    // A value that grows between the calls is asked for again.
    std::u16string value = u"abc";
    int calls = 0;
    auto growing = [&](char16_t* buffer, std::uint32_t* length) -> std::uint32_t {
        if (++calls == 2) value = u"abcdefgh";
        if (*length <= value.size()) {
            *length = static_cast<std::uint32_t>(value.size());
            return platform::kErrorMoreData;
        }
        value.copy(buffer, value.size());
        buffer[value.size()] = 0;
        *length = static_cast<std::uint32_t>(value.size());
        return platform::kErrorSuccess;
    };
    EXPECT_EQ(ReadInstallerText(growing), u"abcdefgh");
    EXPECT_EQ(calls, 3);

    auto failing = [](char16_t*, std::uint32_t*) -> std::uint32_t { return platform::kErrorInvalidHandle; };
    EXPECT_EQ(ReadInstallerText(failing), u"");
    auto failingSecond = [n = 0](char16_t*, std::uint32_t* length) mutable -> std::uint32_t {
        *length = 4;
        return ++n == 1 ? platform::kErrorMoreData : platform::kErrorFunctionFailed;
    };
    EXPECT_EQ(ReadInstallerText(failingSecond), u"");
}

TEST_F(MsiTableReaderTest, ADatabaseHandleIsUsedAsItIs) {
    MsiHandle database(platform::MsiGetActiveDatabase(session.Handle()));
    ASSERT_TRUE(database);
    {
        MsiTableReader reader(database.Get());
        EXPECT_TRUE(reader.Query(u"Property", {}, u"`Property` = 'SAMPLE_PROPERTY'"));
        ASSERT_EQ(reader.Records().size(), 1u);
        EXPECT_EQ(reader.Records()[0].Get(u"Value"), u"sample value");
    }
    // The reader did not close the handle it was given.
    MsiTableReader again(database.Get());
    EXPECT_TRUE(again.Query(u"Error", {}, u""));
}

TEST(MsiTableReader, NoDatabaseLogsAndEveryQueryFailsAtTheView) {
    // A record handle is neither a session nor a database.
    MsiHandle record(platform::MsiCreateRecord(1));
    MsiTableReader reader(record.Get());
    EXPECT_FALSE(reader.Query(u"Property", {}, u""));
    EXPECT_TRUE(reader.Records().empty());
}

}  // namespace
