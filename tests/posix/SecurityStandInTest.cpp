// The POSIX stand-ins for Windows security: accounts, the access-rule
// store, and the icacls tool with its command line and exit codes.
#include <gtest/gtest.h>

#include "installer/WideString.h"
#include "platform/Files.h"
#include "platform/Security.h"
#include "platform/posix/AccessRules.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

using platform::AccessEntry;

TEST(AccountStandIn, NamesAndSids) {
    struct Case {
        const char16_t* name;
        const char16_t* sid;  // nullptr: not found
        std::uint32_t type;
    };
    const Case byName[] = {
        {u"everyone", u"S-1-1-0", platform::kSidTypeWellKnownGroup},
        {u"NT AUTHORITY\\system", u"S-1-5-18", platform::kSidTypeWellKnownGroup},
        {u"BUILTIN\\Users", u"S-1-5-32-545", platform::kSidTypeAlias},
        {u"TRELLIS-PC\\Administrator", u"S-1-5-21-1000-1000-1000-500", platform::kSidTypeUser},
        {u"NT Authority", u"S-1-5", platform::kSidTypeDomain},
        {u"BUILTIN\\SYSTEM", nullptr, 0},
        {u"nobody-here", nullptr, 0},
    };
    for (const Case& c : byName) {
        platform::Account account;
        ASSERT_EQ(platform::LookupAccountNameW(c.name, &account), c.sid != nullptr) << Narrow(c.name);
        if (c.sid == nullptr) continue;
        EXPECT_EQ(account.sid, c.sid);
        EXPECT_EQ(account.type, c.type) << Narrow(c.name);
    }
    const Case bySid[] = {
        {u"s-1-5-32-544", u"S-1-5-32-544", platform::kSidTypeAlias},
        {u"S-1-2-1", u"S-1-2-1", platform::kSidTypeWellKnownGroup},      // known to Windows, not named here
        {u"S-1-5-32-578", u"S-1-5-32-578", platform::kSidTypeAlias},
        {u"S-1-5-21-9-9-9-1001", nullptr, platform::kErrorNoneMapped},    // a domain account nobody has
        {u"S-1-x", nullptr, platform::kErrorInvalidSid},
    };
    for (const Case& c : bySid) {
        platform::Account account;
        ASSERT_EQ(platform::LookupAccountSidW(c.name, &account), c.sid != nullptr) << Narrow(c.name);
        if (c.sid == nullptr) {
            EXPECT_EQ(platform::GetLastError(), c.type);
            continue;
        }
        EXPECT_EQ(account.sid, c.sid);
        EXPECT_EQ(account.type, c.type) << Narrow(c.name);
    }
}

class IcaclsStandIn : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteBytes(a, "a");
        test::WriteBytes(b, "b");
        Set(a, {{u"S-1-1-0", platform::kFileGenericRead, platform::kSetAccess, 3, 0}});
    }
    static void Set(const std::u16string& path, const std::vector<AccessEntry>& entries) {
        platform::AccessList none, merged;
        ASSERT_EQ(platform::SetEntriesInAclW(entries, &none, &merged), 0u);
        ASSERT_EQ(platform::SetNamedSecurityDacl(path, platform::kSeFileObject, merged), 0u);
    }
    static std::vector<AccessEntry> Get(const std::u16string& path) {
        std::vector<AccessEntry> entries;
        EXPECT_TRUE(platform::posix::ReadAccessRules(path, &entries));
        return entries;
    }
    static std::uint32_t Run(const std::u16string& parameters) {
        std::uint32_t code = 12345;
        EXPECT_TRUE(platform::RunProcessAndWait(u"icacls", parameters, &code));
        return code;
    }
    static std::u16string Q(const std::u16string& path) { return u"\"" + path + u"\""; }

    test::ScratchFolder scratch;
    const std::u16string a = scratch / u"a.xml", b = scratch / u"b.xml", list = scratch / u"list.txt";
};

TEST_F(IcaclsStandIn, SaveWritesNameAndListInUtf16) {
    EXPECT_EQ(Run(Q(a) + u" /save " + Q(list) + u" /C"), 0u);
    const std::u16string text = u"a.xml\r\nD:AI(A;OICI;0x00120089;;;S-1-1-0)\r\n";
    std::string utf16;
    for (char16_t c : text) utf16 += {static_cast<char>(c), '\0'};
    EXPECT_EQ(test::ReadBytes(list), utf16);
}

TEST_F(IcaclsStandIn, ExitCodes) {
    const std::u16string missing = scratch / u"missing.xml";
    test::WriteBytes(scratch / u"bad.txt", "a.xml\r\nD:(A;;QQ;;;S-1-5-18)\r\n");
    test::WriteBytes(scratch / u"two.txt", "missing.xml\r\nD:AI\r\nb.xml\r\nD:AI(A;;0x1f01ff;;;S-1-5-32-544)\r\n");
    struct Case {
        std::u16string parameters;
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {Q(missing) + u" /save " + Q(list) + u" /C", 2},
        {Q(a) + u" /save " + Q(scratch / u"no\\such\\list.txt") + u" /C", 3},
        {Q(scratch.Path()) + u" /restore " + Q(scratch / u"nolist.txt") + u" /C", 2},
        {Q(scratch.Path()) + u" /restore " + Q(scratch / u"bad.txt") + u" /C", 1336},
        {Q(scratch.Path()) + u" /restore " + Q(scratch / u"two.txt"), 2},  // stops at the missing file
        {Q(missing) + u" /reset /C", 2},
        {Q(a) + u" /grant Everyone:F", 87},
        {u"", 87},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.parameters), c.exitCode) << Narrow(c.parameters);
    EXPECT_TRUE(Get(b).empty());
    // With /C it goes on past the missing file, and still reports it.
    EXPECT_EQ(Run(Q(scratch.Path()) + u" /restore " + Q(scratch / u"two.txt") + u" /C"), 2u);
    ASSERT_EQ(Get(b).size(), 1u);
    EXPECT_EQ(Get(b)[0].sid, u"S-1-5-32-544");

    std::uint32_t code = 0;
    EXPECT_FALSE(platform::RunProcessAndWait(u"cacls.exe", Q(a), &code));
}

TEST_F(IcaclsStandIn, RulesBelongToTheFileNotItsName) {
    EXPECT_EQ(Get(a).size(), 1u);
    EXPECT_EQ(Get(scratch / u"A.XML").size(), 1u);  // names compare without case
    ASSERT_TRUE(platform::DeleteFileW(a));
    test::WriteBytes(a, "again");
    EXPECT_TRUE(Get(a).empty());
    EXPECT_EQ(Run(Q(a) + u" /reset /C"), 0u);
    std::vector<AccessEntry> entries;
    EXPECT_FALSE(platform::posix::ReadAccessRules(scratch / u"gone.xml", &entries));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
}

}  // namespace
