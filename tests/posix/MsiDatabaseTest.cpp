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

// The buffer convention itself is InstallerSessionTest's.
std::u16string FieldString(MSIHANDLE record, std::uint32_t field) { return GetRecordString(record, field); }

std::vector<std::u16string> AllFields(MSIHANDLE record) {
    std::vector<std::u16string> out;
    for (std::uint32_t i = 1; i <= MsiRecordGetFieldCount(record); ++i) out.push_back(FieldString(record, i));
    return out;
}

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

TEST_F(MsiDatabaseTest, ColumnInfoGivesNamesAndMsiTypeStrings) {
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(database, u"SELECT * FROM `QM_TestTable`", &view), kErrorSuccess);
    MSIHANDLE names = 0;
    MSIHANDLE types = 0;
    ASSERT_EQ(MsiViewGetColumnInfo(view, kMsiColInfoNames, &names), kErrorSuccess);
    ASSERT_EQ(MsiViewGetColumnInfo(view, kMsiColInfoTypes, &types), kErrorSuccess);
    EXPECT_EQ(AllFields(names), (std::vector<std::u16string>{u"Key", u"Name", u"Count", u"Flags", u"Note", u"Data"}));
    // Lower case: not nullable; upper case: nullable; width 0: unbounded.
    EXPECT_EQ(AllFields(types), (std::vector<std::u16string>{u"s72", u"S64", u"I4", u"i2", u"l0", u"V0"}));
    MSIHANDLE ignored = 0;
    EXPECT_EQ(MsiViewGetColumnInfo(view, 2, &ignored), kErrorInvalidParameter);
    for (MSIHANDLE h : {names, types, view}) EXPECT_EQ(MsiCloseHandle(h), kErrorSuccess);

    MSIHANDLE errorView = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(database, u"SELECT `Message`, `Error` FROM `Error`", &errorView), kErrorSuccess);
    ASSERT_EQ(MsiViewGetColumnInfo(errorView, kMsiColInfoTypes, &types), kErrorSuccess);
    EXPECT_EQ(AllFields(types), (std::vector<std::u16string>{u"L0", u"i2"}));
    MsiCloseHandle(types);
    MsiCloseHandle(errorView);
}

TEST_F(MsiDatabaseTest, FetchedFieldsKeepTheirKinds) {
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(database, u"SELECT * FROM `QM_TestTable` ORDER BY `Flags`", &view), kErrorSuccess);
    ASSERT_EQ(MsiViewExecute(view, 0), kErrorSuccess);
    MSIHANDLE alpha = 0, bravo = 0, charlie = 0, none = 99;
    ASSERT_EQ(MsiViewFetch(view, &alpha), kErrorSuccess);
    ASSERT_EQ(MsiViewFetch(view, &bravo), kErrorSuccess);
    ASSERT_EQ(MsiViewFetch(view, &charlie), kErrorSuccess);
    EXPECT_EQ(MsiViewFetch(view, &none), kErrorNoMoreItems);
    EXPECT_EQ(none, 0u);

    EXPECT_EQ(MsiRecordGetFieldCount(alpha), 6u);
    EXPECT_EQ(FieldString(alpha, 0), u"");
    EXPECT_EQ(MsiRecordGetInteger(alpha, 3), 42);
    EXPECT_EQ(MsiRecordGetInteger(bravo, 3), -7);
    EXPECT_EQ(FieldString(bravo, 3), u"-7");
    EXPECT_EQ(MsiRecordGetInteger(charlie, 3), kMsiNullInteger);
    EXPECT_EQ(FieldString(charlie, 3), u"");
    EXPECT_EQ(FieldString(charlie, 2), u"");
    EXPECT_EQ(FieldString(charlie, 5), u"third row");

    // The stream, read in parts, then its size when nothing is left.
    std::uint32_t size = 0;
    ASSERT_EQ(MsiRecordReadStream(alpha, 6, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, 8u);
    char part[5] = {};
    size = 5;
    ASSERT_EQ(MsiRecordReadStream(alpha, 6, part, &size), kErrorSuccess);
    EXPECT_EQ(std::string(part, size), std::string("AB\0CD", 5));
    ASSERT_EQ(MsiRecordReadStream(alpha, 6, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, 3u);
    size = 5;
    ASSERT_EQ(MsiRecordReadStream(alpha, 6, part, &size), kErrorSuccess);
    EXPECT_EQ(std::string(part, size), "\xff" "EF");
    size = 5;
    ASSERT_EQ(MsiRecordReadStream(alpha, 6, part, &size), kErrorSuccess);
    EXPECT_EQ(size, 0u);
    // A stream has no text; a null stream cell is no stream.
    EXPECT_EQ(FieldString(alpha, 6), u"");
    size = 5;
    EXPECT_EQ(MsiRecordReadStream(bravo, 6, part, &size), 13u);
    EXPECT_EQ(size, 0u);

    for (MSIHANDLE h : {alpha, bravo, charlie}) MsiCloseHandle(h);
    EXPECT_EQ(MsiViewClose(view), kErrorSuccess);
    // A closed view fetches nothing until executed again.
    EXPECT_EQ(MsiViewFetch(view, &none), kErrorFunctionFailed);
    ASSERT_EQ(MsiViewExecute(view, 0), kErrorSuccess);
    ASSERT_EQ(MsiViewFetch(view, &alpha), kErrorSuccess);
    EXPECT_EQ(FieldString(alpha, 1), u"alpha");
    MsiCloseHandle(alpha);
    MsiCloseHandle(view);
}

TEST_F(MsiDatabaseTest, BadQueriesFailLikeMsiDll) {
    struct Case {
        const char16_t* query;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {u"SELECT * FROM `NoSuchTable`", kErrorBadQuerySyntax},
        {u"SELECT `NoSuchColumn` FROM `QM_TestTable`", kErrorBadQuerySyntax},
        {u"SELEKT * FROM `QM_TestTable`", kErrorBadQuerySyntax},
        {u"SELECT * FROM `QM_TestTable` WHERE", kErrorBadQuerySyntax},
    };
    for (const Case& c : cases) {
        MSIHANDLE view = 123;
        EXPECT_EQ(MsiDatabaseOpenViewW(database, c.query, &view), c.expected);
        EXPECT_EQ(view, 0u);
    }
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewW(database, nullptr, &view), kErrorInvalidParameter);
    EXPECT_EQ(MsiDatabaseOpenViewW(session.Handle(), u"SELECT * FROM `Error`", &view), kErrorInvalidHandle);

    // Fetching before executing fails as msi.dll documents.
    ASSERT_EQ(MsiDatabaseOpenViewW(database, u"SELECT * FROM `Error`", &view), kErrorSuccess);
    MSIHANDLE row = 0;
    EXPECT_EQ(MsiViewFetch(view, &row), kErrorFunctionFailed);
    EXPECT_EQ(MsiViewExecute(view, 12345678), kErrorInvalidHandle);
    MsiCloseHandle(view);
}

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
        keys.push_back(FieldString(row, 1));
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
