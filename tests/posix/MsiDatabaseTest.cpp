// Records, handles and the tables test package through the raw Msi* calls
// of the POSIX stand-in (libmsi underneath).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer/MsiText.h"
#include "platform/Msi.h"
#include "platform/posix/msi/InstallerSession.h"
#include "support/TestSession.h"

using namespace platform;

namespace {

class MsiDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.OpenDatabase(test::FixturePath("tables")));
        database = MsiGetActiveDatabase(session.Handle());
        ASSERT_NE(database, 0u);
    }
    void TearDown() override { MsiCloseHandle(database); }

    platform::posix::InstallerSession session;
    MSIHANDLE database = 0;
};

TEST_F(MsiDatabaseTest, ParametersFillQueryMarkers) {
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(database, u"SELECT `Key` FROM `QM_TestTable` WHERE `Name` = ? OR `Count` = ?",
                                   &view),
              kErrorSuccess);
    // Markers without values cannot be run.
    EXPECT_EQ(MsiViewExecute(view, 0), kErrorFunctionFailed);
    const MSIHANDLE params = MsiCreateRecord(2);
    MsiRecordSetStringW(params, 1, u"Ay");
    MsiRecordSetInteger(params, 2, -7);
    ASSERT_EQ(MsiViewExecute(view, params), kErrorSuccess);
    std::vector<std::u16string> keys;
    MSIHANDLE row = 0;
    while (MsiViewFetch(view, &row) == kErrorSuccess) {
        keys.push_back(GetRecordString(row, 1));
        MsiCloseHandle(row);
    }
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"alpha", u"bravo"}));
    MsiCloseHandle(params);
    MsiCloseHandle(view);
}

TEST(MsiDatabaseWithoutPackageTest, SessionWithoutDatabase) {
    platform::posix::InstallerSession session;
    EXPECT_EQ(MsiGetActiveDatabase(session.Handle()), 0u);
    EXPECT_EQ(MsiGetActiveDatabase(0), 0u);
    EXPECT_FALSE(session.OpenDatabase("/nonexistent/package.msi"));
    EXPECT_EQ(MsiGetActiveDatabase(session.Handle()), 0u);
    EXPECT_TRUE(session.Properties().empty());
}

// Records and handles of the POSIX Windows Installer stand-in.
// A field's text through the documented two-call pattern.
std::u16string RecordString(MSIHANDLE record, std::uint32_t field) {
    std::uint32_t length = 0;
    char16_t empty[1] = {u'x'};
    if (MsiRecordGetStringW(record, field, empty, &length) != kErrorMoreData) return u"<no size>";
    std::u16string value(length + 1, u'?');
    length += 1;
    if (MsiRecordGetStringW(record, field, value.data(), &length) != kErrorSuccess) return u"<failed>";
    value.resize(length);
    return value;
}

TEST(MsiRecordTest, FieldsHoldNullIntegerAndString) {
    const MSIHANDLE record = MsiCreateRecord(3);
    ASSERT_NE(record, 0u);
    EXPECT_EQ(MsiRecordGetFieldCount(record), 3u);

    // Fresh fields are null: empty text, the null integer.
    EXPECT_EQ(RecordString(record, 1), u"");
    EXPECT_EQ(MsiRecordGetInteger(record, 1), kMsiNullInteger);
    EXPECT_EQ(static_cast<std::uint32_t>(MsiRecordGetInteger(record, 1)), 0x80000000u);

    EXPECT_EQ(MsiRecordSetInteger(record, 1, -17), kErrorSuccess);
    EXPECT_EQ(MsiRecordGetInteger(record, 1), -17);
    EXPECT_EQ(RecordString(record, 1), u"-17");

    EXPECT_EQ(MsiRecordSetStringW(record, 2, u"text"), kErrorSuccess);
    EXPECT_EQ(RecordString(record, 2), u"text");
    EXPECT_EQ(MsiRecordGetInteger(record, 2), kMsiNullInteger);

    // An empty string and the null integer both make a field null again.
    EXPECT_EQ(MsiRecordSetStringW(record, 2, u""), kErrorSuccess);
    EXPECT_EQ(RecordString(record, 2), u"");
    EXPECT_EQ(MsiRecordSetInteger(record, 1, kMsiNullInteger), kErrorSuccess);
    EXPECT_EQ(RecordString(record, 1), u"");

    // Field 0 is the template and can be written; past the count cannot.
    EXPECT_EQ(MsiRecordSetStringW(record, 0, u"[1]"), kErrorSuccess);
    EXPECT_EQ(MsiRecordSetStringW(record, 4, u"x"), kErrorInvalidParameter);
    EXPECT_EQ(MsiRecordSetInteger(record, 4, 1), kErrorInvalidParameter);
    // Reading past the count is a null field.
    EXPECT_EQ(RecordString(record, 9), u"");
    EXPECT_EQ(MsiRecordGetInteger(record, 9), kMsiNullInteger);
    EXPECT_EQ(MsiCloseHandle(record), kErrorSuccess);
}

TEST(MsiRecordTest, StringFieldsReadAsIntegersOnlyWhenDecimal) {
    struct Case {
        const char16_t* text;
        int expected;
    };
    const Case cases[] = {
        {u"0", 0},
        {u"42", 42},
        {u"-7", -7},
        {u"2147483647", 2147483647},
        {u"-2147483647", -2147483647},
        {u"2147483648", kMsiNullInteger},  // out of range
        {u"-2147483648", kMsiNullInteger},  // is the null integer itself
        {u" 1", kMsiNullInteger},
        {u"1 ", kMsiNullInteger},
        {u"+1", kMsiNullInteger},
        {u"-", kMsiNullInteger},
        {u"0x10", kMsiNullInteger},
        {u"12a", kMsiNullInteger},
    };
    const MSIHANDLE record = MsiCreateRecord(1);
    for (const Case& c : cases) {
        ASSERT_EQ(MsiRecordSetStringW(record, 1, c.text), kErrorSuccess);
        EXPECT_EQ(MsiRecordGetInteger(record, 1), c.expected)
            << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    }
    MsiCloseHandle(record);
}

TEST(MsiRecordTest, HandlesAreCheckedAndClosedOnce) {
    const MSIHANDLE record = MsiCreateRecord(0);
    ASSERT_NE(record, 0u);
    EXPECT_EQ(MsiRecordGetFieldCount(record), 0u);
    EXPECT_EQ(MsiCloseHandle(record), kErrorSuccess);
    EXPECT_EQ(MsiCloseHandle(record), kErrorInvalidHandle);
    EXPECT_EQ(MsiCloseHandle(0), kErrorSuccess);

    // A closed handle is not handed out again, so it keeps failing.
    const MSIHANDLE next = MsiCreateRecord(1);
    EXPECT_NE(next, record);
    std::uint32_t length = 0;
    EXPECT_EQ(MsiRecordGetStringW(record, 1, nullptr, &length), kErrorInvalidHandle);
    EXPECT_EQ(MsiRecordSetStringW(record, 1, u"x"), kErrorInvalidHandle);
    EXPECT_EQ(MsiRecordGetFieldCount(record), static_cast<std::uint32_t>(-1));
    EXPECT_EQ(MsiCloseHandle(next), kErrorSuccess);

    EXPECT_EQ(MsiCreateRecord(65536), 0u);
}

TEST(MsiRecordTest, StreamReadsRejectOtherFieldKinds) {
    const MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, u"text");
    char buffer[4];
    std::uint32_t length = sizeof buffer;
    EXPECT_EQ(MsiRecordReadStream(record, 1, buffer, &length), 1804u);
    // A null field is no stream either.
    length = sizeof buffer;
    EXPECT_EQ(MsiRecordReadStream(record, 2, buffer, &length), 13u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(MsiRecordReadStream(record, 3, buffer, &length), kErrorInvalidParameter);
    EXPECT_EQ(MsiRecordReadStream(record, 2, buffer, nullptr), kErrorInvalidParameter);
    MsiCloseHandle(record);
}

}  // namespace
