// Saving and restoring access lists with icacls across an upgrade, and the
// saved permissions value that carries them from one product to the next.
#include <gtest/gtest.h>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "installer/Logger.h"
#include "permissions/Icacls.h"
#include "permissions/PermissionRules.h"
#include "permissions/SavedPermissions.h"
#include "platform/Files.h"
#include "platform/Security.h"
#include "platform/os/FileSystem.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

const std::u16string kUpgradeCode = u"{9E8D7C6B-5A4F-4E3D-2C1B-0A9F8E7D6C5B}";

TEST(SavedPermissionsValue, JoinsAndSplitsEntries) {
    const SavedPermissions saved = {{u"C:\\a.xml", u"a.xml\r\nD:AI(A;;FA;;;SY)\r\n"}, {u"C:\\b.xml", u""}};
    const std::u16string text = JoinSavedPermissions(saved);
    EXPECT_EQ(text, u"C:\\a.xml\u0002a.xml\r\nD:AI(A;;FA;;;SY)\r\n\u0001C:\\b.xml\u0002");
    SavedPermissions back;
    SplitSavedPermissions(text, back);
    EXPECT_EQ(back, saved);

    SavedPermissions odd = {{u"C:\\old.xml", u"kept"}};
    SplitSavedPermissions(u"no separator\u0001C:\\x\u0002y\u0002last\u0001C:\\old.xml\u0002new", odd);
    EXPECT_EQ(odd, (SavedPermissions{{u"C:\\x", u"last"}, {u"C:\\old.xml", u"new"}}));
    EXPECT_EQ(JoinSavedPermissions({}), u"");
}

TEST(SavedPermissionsValue, TravelsThroughTheRegistry) {
    test::DeleteNorrvikTree();
    // Two entries: the value keeps its control characters.
    const SavedPermissions saved = {{u"C:\\App\\web.config", u"web.config\r\nD:AI\r\n"}, {u"C:\\b", u"x"}};
    StoreSavedPermissions(saved, kUpgradeCode);
    SavedPermissions loaded;
    LoadSavedPermissions(loaded, kUpgradeCode);
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(ReadSavedPermissionsValue(u"{OTHER}"), u"");
    StoreSavedPermissions({}, kUpgradeCode);
    EXPECT_EQ(test::CurrentUserValue(kBackupRegistryKey, kUpgradeCode), u"");
    test::DeleteNorrvikTree();
}

class Icacls : public ::testing::Test {
protected:
    void SetUp() override { test::WriteBytes(file, "<x/>"); }
    // icacls as this system has it: Wine's is a stub that writes no list.
    bool IcaclsWorks() {
        const std::u16string list = scratch / u"probe.txt";
        return SaveAclWithIcacls(file, list) && test::FileExists(list) && !test::ReadBytes(list).empty();
    }
    std::vector<platform::AccessEntry> Entries() const {
        platform::AccessList list;
        EXPECT_EQ(platform::GetNamedSecurityDacl(file, platform::kSeFileObject, &list), 0u);
        return list.ExplicitEntries();
    }
    bool HasEntry(const std::u16string& sid, std::uint32_t mask) const {
        for (const auto& e : Entries())
            if (e.sid == sid && e.permissions == mask) return true;
        return false;
    }

    test::ScratchFolder scratch;
    const std::u16string file = scratch / u"web.config";
};

TEST_F(Icacls, RestoringWhatWasNeverSavedRunsNothing) {
    test::TestSession session;
    ASSERT_TRUE(session.IsOpen());
    LogSession logging(session.Handle(), u"");
    EXPECT_TRUE(RestoreFilePermissions({{ToLongPath(scratch / u"other.xml"), u"x"}}, file));
    EXPECT_TRUE(session.LogLines().empty());
}

TEST_F(Icacls, FailuresLeaveTheMapAlone) {
    if (!IcaclsWorks()) GTEST_SKIP() << "icacls here is a stub that writes no list (Wine)";
    SavedPermissions saved = {{ToLongPath(scratch / u"gone.xml"), u"earlier"}};
    SaveFilePermissions(saved, scratch / u"gone.xml");
    EXPECT_EQ(saved.at(ToLongPath(scratch / u"gone.xml")), u"earlier");
    EXPECT_FALSE(ResetFilePermissions(scratch / u"gone.xml"));
    EXPECT_FALSE(RestoreFilePermissions({{ToLongPath(scratch / u"gone.xml"), u"gone.xml\r\nD:AI\r\n"}},
                                        scratch / u"gone.xml"));
}

// The old product's uninstall saves the list of a file it built and
// deletes the file; the new product builds it again and gets the list back.
TEST_F(Icacls, ListsSurviveAnUpgradeThatRebuildsTheFile) {
    if (!IcaclsWorks()) GTEST_SKIP() << "icacls here is a stub that writes no list (Wine)";
    test::DeleteNorrvikTree();
    PermissionSet set;
    set.objectName = file;
    set.rules = {{u"", u"S-1-5-32-545", platform::kFileGenericWrite}};
    ASSERT_EQ(ApplyPermissionRules(set), 0);
    ASSERT_TRUE(HasEntry(u"S-1-5-32-545", platform::kFileGenericWrite));

    SavedPermissions uninstall;
    SaveFilePermissions(uninstall, ToLongPath(file));
    ASSERT_EQ(uninstall.size(), 1u);
    const std::u16string text = uninstall.begin()->second;
    StoreSavedPermissions(uninstall, kUpgradeCode);
    ASSERT_TRUE(platform::DeleteFileW(file));
    test::WriteBytes(file, "<rebuilt/>");
    EXPECT_FALSE(HasEntry(u"S-1-5-32-545", platform::kFileGenericWrite));

    SavedPermissions install;
    LoadSavedPermissions(install, kUpgradeCode);
    EXPECT_EQ(install.at(ToLongPath(file)), text);  // the text round-trips unchanged
    EXPECT_TRUE(RestoreFilePermissions(install, ToLongPath(file)));
    EXPECT_TRUE(HasEntry(u"S-1-5-32-545", platform::kFileGenericWrite));

    EXPECT_TRUE(ResetFilePermissions(file));
    EXPECT_FALSE(HasEntry(u"S-1-5-32-545", platform::kFileGenericWrite));
    test::DeleteNorrvikTree();
}

}  // namespace
