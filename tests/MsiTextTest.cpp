// Installer texts read with the two-call pattern, on either backend.
#include <gtest/gtest.h>

#include "installer/MsiText.h"
#include "platform/Msi.h"
#include "support/TestSession.h"

namespace {

class MsiTextTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.IsOpen()) << test::FixturePath("frame"); }
    test::TestSession session;
};

TEST_F(MsiTextTest, PropertiesOfEveryLengthReadWhole) {
    for (std::size_t length : {0u, 1u, 255u, 256u, 1023u, 1024u, 70000u}) {
        std::u16string value;
        for (std::size_t i = 0; i < length; ++i) value.push_back(static_cast<char16_t>(u'a' + i % 26));
        session.SetProperty(u"LONG_VALUE", value);
        EXPECT_EQ(GetInstallerProperty(session.Handle(), u"LONG_VALUE"), value) << length;
    }
}

TEST_F(MsiTextTest, PackagePropertiesAndMissingOnes) {
    EXPECT_EQ(GetInstallerProperty(session.Handle(), u"SAMPLE_PROPERTY"), u"sample value");
    EXPECT_EQ(GetInstallerProperty(session.Handle(), u"NO_SUCH_PROPERTY"), u"");
    EXPECT_EQ(GetInstallerProperty(0, u"SAMPLE_PROPERTY"), u"");
}

TEST_F(MsiTextTest, RecordStringsAndFormattingLongerThanAnyFirstBuffer) {
    const std::u16string longText(5000, u'x');
    MsiHandle record(platform::MsiCreateRecord(2));
    ASSERT_TRUE(record);
    ASSERT_EQ(platform::MsiRecordSetStringW(record.Get(), 1, longText.c_str()), platform::kErrorSuccess);
    ASSERT_EQ(platform::MsiRecordSetStringW(record.Get(), 0, u"<[1]>"), platform::kErrorSuccess);
    EXPECT_EQ(GetRecordString(record.Get(), 1), longText);
    EXPECT_EQ(GetRecordString(record.Get(), 2), u"");
    EXPECT_EQ(FormatInstallerRecord(session.Handle(), record.Get()), u"<" + longText + u">");
}

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

}  // namespace
