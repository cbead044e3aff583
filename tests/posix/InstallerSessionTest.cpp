// The stand-in installer session and the session functions of platform/Msi.h.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Msi.h"
#include "platform/posix/msi/InstallerSession.h"
#include "support/TestSession.h"

using namespace platform;
using platform::posix::InstallerSession;

namespace {

// A property through the two-call pattern: an empty buffer for the size,
// then one of exactly the right size.
std::u16string Property(MSIHANDLE install, const char16_t* name) {
    char16_t empty[1] = {u'x'};
    std::uint32_t length = 0;
    const std::uint32_t first = MsiGetPropertyW(install, name, empty, &length);
    if (first != kErrorMoreData) return u"<first call gave " + std::u16string(1, u'0' + first % 10) + u">";
    std::u16string value(length + 1, u'?');
    length += 1;
    if (MsiGetPropertyW(install, name, value.data(), &length) != kErrorSuccess) return u"<second call failed>";
    value.resize(length);
    return value;
}

std::u16string Formatted(MSIHANDLE install, MSIHANDLE record) {
    std::uint32_t length = 0;
    if (MsiFormatRecordW(install, record, nullptr, &length) != kErrorMoreData) return u"<error>";
    std::u16string text(length + 1, u'\0');
    length += 1;
    if (MsiFormatRecordW(install, record, text.data(), &length) != kErrorSuccess) return u"<error>";
    text.resize(length);
    return text;
}

MSIHANDLE MakeRecord(const std::vector<std::u16string>& fields) {
    const MSIHANDLE record = MsiCreateRecord(static_cast<std::uint32_t>(fields.size() - 1));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        MsiRecordSetStringW(record, static_cast<std::uint32_t>(i), fields[i].c_str());
    }
    return record;
}

// MsiGetPropertyW, MsiRecordGetStringW and MsiFormatRecordW share msi.dll's
// buffer convention; each getter here reads the same value.
TEST(InstallerSessionTest, TextGettersShareTheBufferConvention) {
    InstallerSession session;
    const MSIHANDLE h = session.Handle();
    const MSIHANDLE record = MsiCreateRecord(1);
    using Getter = std::function<std::uint32_t(char16_t*, std::uint32_t*)>;
    const std::pair<const char*, Getter> getters[] = {
        {"property", [&](char16_t* b, std::uint32_t* n) { return MsiGetPropertyW(h, u"P", b, n); }},
        {"record string", [&](char16_t* b, std::uint32_t* n) { return MsiRecordGetStringW(record, 1, b, n); }},
        {"format", [&](char16_t* b, std::uint32_t* n) { return MsiFormatRecordW(h, record, b, n); }},
    };
    const std::u16string longValue(700, u'v');
    for (const auto& [name, get] : getters) {
        SCOPED_TRACE(name);
        session.SetProperty(u"P", u"abcdef");
        MsiRecordSetStringW(record, 0, u"[P]");
        MsiRecordSetStringW(record, 1, u"abcdef");
        char16_t buffer[8];
        std::fill(std::begin(buffer), std::end(buffer), u'#');

        std::uint32_t length = 8;
        EXPECT_EQ(get(nullptr, &length), kErrorMoreData);  // no buffer: just the length
        EXPECT_EQ(length, 6u);
        length = 0;
        EXPECT_EQ(get(buffer, &length), kErrorMoreData);  // zero size: nothing written
        EXPECT_EQ(length, 6u);
        EXPECT_EQ(buffer[0], u'#');
        length = 6;  // no room for the NUL: truncated, terminated
        EXPECT_EQ(get(buffer, &length), kErrorMoreData);
        EXPECT_EQ(length, 6u);
        EXPECT_EQ(std::u16string(buffer), u"abcde");
        length = 7;
        EXPECT_EQ(get(buffer, &length), kErrorSuccess);
        EXPECT_EQ(length, 6u);
        EXPECT_EQ(std::u16string(buffer), u"abcdef");
        EXPECT_EQ(get(buffer, nullptr), kErrorInvalidParameter);

        // Empty values: success with room for the NUL only.
        session.SetProperty(u"P", u"");
        MsiRecordSetStringW(record, 1, u"");
        length = 1;
        EXPECT_EQ(get(buffer, &length), kErrorSuccess);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(buffer[0], u'\0');

        // The two-call pattern with a value longer than any first buffer.
        session.SetProperty(u"P", longValue);
        MsiRecordSetStringW(record, 1, longValue.c_str());
        char16_t first[1] = {u'x'};
        length = 0;
        ASSERT_EQ(get(first, &length), kErrorMoreData);
        std::u16string value(length + 1, u'?');
        length += 1;
        ASSERT_EQ(get(value.data(), &length), kErrorSuccess);
        value.resize(length);
        EXPECT_EQ(value, longValue);
    }
    MsiCloseHandle(record);
}

TEST(InstallerSessionTest, PropertiesAreCaseSensitiveAndClearedByEmptyValues) {
    InstallerSession session;
    const MSIHANDLE h = session.Handle();
    ASSERT_NE(h, 0u);
    EXPECT_EQ(InstallerSession::FromHandle(h), &session);

    ASSERT_EQ(MsiSetPropertyW(h, u"P", u"value"), kErrorSuccess);
    EXPECT_EQ(session.GetProperty(u"P"), u"value");
    EXPECT_EQ(Property(h, u"P"), u"value");
    EXPECT_EQ(Property(h, u"p"), u"");
    EXPECT_EQ(Property(h, u"UNSET"), u"");
    ASSERT_EQ(MsiSetPropertyW(h, u"P", u""), kErrorSuccess);
    EXPECT_EQ(session.Properties().count(u"P"), 0u);
    session.SetProperty(u"P", u"again");
    ASSERT_EQ(MsiSetPropertyW(h, u"P", nullptr), kErrorSuccess);
    EXPECT_EQ(session.Properties().count(u"P"), 0u);

    // Non-BMP text passes through unchanged.
    const std::u16string astral = u"clef \U0001D11E";
    session.SetProperty(u"ASTRAL", astral);
    EXPECT_EQ(Property(h, u"ASTRAL"), astral);

    std::uint32_t length = 0;
    EXPECT_EQ(MsiGetPropertyW(h, nullptr, nullptr, &length), kErrorInvalidParameter);
    EXPECT_EQ(MsiSetPropertyW(h, u"", u"x"), kErrorFunctionFailed);
    EXPECT_EQ(MsiSetPropertyW(h, u"", u""), kErrorFunctionFailed);
    EXPECT_EQ(MsiGetPropertyW(0, u"P", nullptr, &length), kErrorInvalidHandle);
    EXPECT_EQ(MsiSetPropertyW(h + 100000, u"P", u"x"), kErrorInvalidHandle);
}

// The immediate-action tests read what this records; here the edges.
TEST(InstallerSessionTest, DoActionRecordsCustomActionDataOrFails) {
    InstallerSession session;
    const MSIHANDLE h = session.Handle();
    session.SetProperty(u"QmInstall", u"file=a.xml;op=set");
    session.FailAction(u"QmBroken");
    EXPECT_EQ(MsiDoActionW(h, u"QmInstall"), kErrorSuccess);
    EXPECT_EQ(MsiDoActionW(h, u"QmBroken"), kErrorInstallFailure);
    EXPECT_EQ(MsiDoActionW(h, nullptr), kErrorInvalidParameter);
    EXPECT_EQ(MsiDoActionW(0, u"QmInstall"), kErrorInvalidHandle);
    ASSERT_EQ(session.Actions().size(), 1u);
    EXPECT_EQ(session.Actions()[0].customActionData, u"file=a.xml;op=set");

    // A host hook takes over; failing actions still fail first.
    std::vector<std::u16string> hooked;
    session.doAction = [&](InstallerSession&, const std::u16string& action) {
        hooked.push_back(action);
        return kErrorInstallUserExit;
    };
    EXPECT_EQ(MsiDoActionW(h, u"QmHooked"), kErrorInstallUserExit);
    EXPECT_EQ(MsiDoActionW(h, u"QmBroken"), kErrorInstallFailure);
    EXPECT_EQ(hooked, std::vector<std::u16string>{u"QmHooked"});
    EXPECT_EQ(session.Actions().size(), 1u);
}

// The cases of formatting and conditions are InstallerCasesTest's, checked
// against Windows Installer; these are what its string records cannot ask.
TEST(InstallerSessionTest, FormatAndConditionsTakeIntegersAndRefuseBadHandles) {
    InstallerSession session;
    const MSIHANDLE h = session.Handle();
    session.SetProperty(u"INSTALLDIR", u"C:\\App\\");
    const std::vector<std::u16string> fields = {u"[1] in [INSTALLDIR]", u"config.xml"};
    EXPECT_EQ(platform::posix::FormatRecordText(session, fields), u"config.xml in C:\\App\\");
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, u"[1] [INSTALLDIR]");
    MsiRecordSetInteger(record, 1, -5);
    EXPECT_EQ(Formatted(h, record), u"-5 C:\\App\\");
    EXPECT_EQ(Formatted(0, record), u"-5 [INSTALLDIR]");
    std::uint32_t length = 0;
    EXPECT_EQ(MsiFormatRecordW(h + 100000, record, nullptr, &length), kErrorInvalidHandle);
    EXPECT_EQ(MsiFormatRecordW(h, 0, nullptr, &length), kErrorInvalidHandle);
    MsiCloseHandle(record);
    EXPECT_EQ(MsiEvaluateConditionW(h, nullptr), kMsiConditionNone);
    EXPECT_EQ(MsiEvaluateConditionW(0, u"Installed"), kMsiConditionError);
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        // ctest runs the cases of this suite in parallel: one log each.
        logPath = ::testing::TempDir() + "trellis-message-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(logPath.c_str());
        session.SetLogFile(logPath);
    }
    void TearDown() override { std::remove(logPath.c_str()); }

    std::string Log() const {
        std::ifstream in(logPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    int Send(std::uint32_t type, const std::vector<std::u16string>& fields) {
        const MSIHANDLE record = MakeRecord(fields);
        const int reply = MsiProcessMessage(session.Handle(), type, record);
        MsiCloseHandle(record);
        return reply;
    }

    InstallerSession session;
    std::string logPath;
};

TEST_F(MessageTest, MessagesAreRecordedLoggedAndAnswered) {
    session.SetProperty(u"ProductName", u"Trellis");
    const MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 0, u"QmXml: [1] of [ProductName], step [2]");
    MsiRecordSetStringW(record, 1, u"config.xml");
    MsiRecordSetInteger(record, 2, 3);
    EXPECT_EQ(MsiProcessMessage(session.Handle(), kInstallMessageInfo, record), 0);

    session.SetMessageReply(kInstallMessageError, kIdCancel);
    EXPECT_EQ(Send(kInstallMessageError | kMbIconError, {u"Broken: [1]", u"x"}), kIdCancel);
    EXPECT_EQ(Send(kInstallMessageWarning, {u"", u"a", u""}), 0);

    // Bad handles answer -1 and record nothing.
    EXPECT_EQ(MsiProcessMessage(0, kInstallMessageInfo, record), -1);
    EXPECT_EQ(MsiProcessMessage(record, kInstallMessageInfo, record), -1);
    EXPECT_EQ(MsiProcessMessage(session.Handle(), kInstallMessageInfo, 0), -1);
    MsiCloseHandle(record);

    ASSERT_EQ(session.Messages().size(), 3u);
    EXPECT_EQ(session.Messages()[0].type, kInstallMessageInfo);
    EXPECT_EQ(session.Messages()[0].fields,
              (std::vector<std::u16string>{u"QmXml: [1] of [ProductName], step [2]", u"config.xml", u"3"}));
    EXPECT_EQ(session.Messages()[1].type, kInstallMessageError | kMbIconError);
    EXPECT_EQ(session.Messages()[2].fields, (std::vector<std::u16string>{u"", u"a", u""}));

    EXPECT_EQ(Log(),
              "QmXml: config.xml of Trellis, step 3\n"
              "Broken: x\n"
              "1: a 2:  \n");

    session.ClearMessages();
    EXPECT_TRUE(session.Messages().empty());
}

TEST_F(MessageTest, ErrorNumbersUseTheErrorTable) {
    ASSERT_TRUE(session.OpenDatabase(test::FixturePath("tables")));
    EXPECT_EQ(Send(kInstallMessageError | kMbIconError, {u"", u"4113", u"web.config", u"12"}), 0);
    EXPECT_EQ(Send(kInstallMessageWarning, {u"", u"4113", u"a.xml", u"1"}), 0);
    // Unknown numbers and informational messages take no template.
    EXPECT_EQ(Send(kInstallMessageError, {u"", u"4999", u"x"}), 0);
    EXPECT_EQ(Send(kInstallMessageInfo, {u"", u"4113", u"x"}), 0);
    EXPECT_EQ(Log(),
              "Error 4113. Cannot parse web.config at line 12\n"
              "Warning 4113. Cannot parse a.xml at line 1\n"
              "1: 4999 2: x \n"
              "1: 4113 2: x \n");
    // The recorded fields stay as sent.
    EXPECT_EQ(session.Messages()[0].fields, (std::vector<std::u16string>{u"", u"4113", u"web.config", u"12"}));
}

}  // namespace
