// Permission rules: the well-known account names, the rules applied to
// files through the security functions of the backend, and access lists
// saved and restored with icacls across an upgrade, with the saved
// permissions value that carries them from one product to the next.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlCollect.h"
#include "custact/XML/src/xml/XmlManager.h"
#include "installer/Logger.h"
#include "permissions/Icacls.h"
#include "permissions/PermissionRules.h"
#include "permissions/SavedPermissions.h"
#include "permissions/WellKnownAccounts.h"
#include "platform/Files.h"
#include "platform/Security.h"
#include "platform/os/FileSystem.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

TEST(WellKnownAccounts, NamesResolveInAnyLetterCase) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"Everyone", u"S-1-1-0"},           {u"EVERYONE", u"S-1-1-0"},
        {u"authenticated users", u"S-1-5-11"}, {u"Local System", u"S-1-5-18"},
        {u"ADMINISTRATORS", u"S-1-5-32-544"}, {u"users", u"S-1-5-32-545"},
        {u"NT Authority", u"S-1-5"},         {u"nt authority", u"S-1-5"},  // the first of its five rows
        {u"BUILTIN\\Hyper-V Administrators", u"S-1-5-32-578"},
        {u"Secure Process Mandatory Level", u"S-1-16-28672"},
        {u"Nobody", u"S-1-0-0"},             {u"NT VIRTUAL MACHINE\\virtual machines", u"S-1-5-83-0"},
        {u"Administrator", u""},             {u"Everyone ", u""}, {u"", u""},
    };
    for (const auto& [name, sid] : cases) EXPECT_EQ(LookupWellKnownSid(name), sid) << Narrow(name);
}

TEST(PermissionRules, SidStrings) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"S-1-1-0", true}, {u"s-1-5-32-545", true}, {u"S-1", false}, {u"S-", false},
        {u"Sx-1-2", false}, {u"Users", false},       {u"S-1-", true}, {u"", false},
    };
    for (const auto& [text, sid] : cases) EXPECT_EQ(IsSidString(text), sid) << Narrow(text);
}

// Answers from a list (then IDABORT) and keeps what it is told.
class ScriptedHandler : public PermissionErrorHandler {
public:
    explicit ScriptedHandler(std::deque<int> answers) : answers_(std::move(answers)) {}
    void Report(const std::u16string&, const std::u16string& message) override { reports.push_back(message); }
    int Ask(const std::u16string& text, int kind) override {
        asked.push_back({text, kind});
        if (onAsk) onAsk();
        if (answers_.empty()) return kIdAbort;
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    std::vector<std::u16string> reports;
    std::vector<std::pair<std::u16string, int>> asked;
    std::function<void()> onAsk;

private:
    std::deque<int> answers_;
};

class ApplyRules : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteBytes(file, "<x/>");
        platform::AccessList probe;
        const std::uint32_t read = platform::GetNamedSecurityDacl(file, platform::kSeFileObject, &probe);
        if (read != 0) GTEST_SKIP() << "this system cannot read a file's access list (error " << read << ")";
    }
    std::vector<platform::AccessEntry> Entries(const std::u16string& path) const {
        platform::AccessList list;
        EXPECT_EQ(platform::GetNamedSecurityDacl(path, platform::kSeFileObject, &list), 0u);
        return list.ExplicitEntries();
    }
    // Wine builds a file's access list from its Unix mode bits and drops
    // entries for any other account than the owner and Everyone.
    bool KeepsAccessLists() const {
        const std::u16string probe = scratch / u"probe.xml";
        test::WriteBytes(probe, "");
        platform::AccessList existing, merged;
        platform::GetNamedSecurityDacl(probe, platform::kSeFileObject, &existing);
        const platform::AccessEntry entry{u"S-1-5-32-545", platform::kFileGenericRead, platform::kSetAccess, 0, 0};
        return platform::SetEntriesInAclW({entry}, &existing, &merged) == 0 &&
               platform::SetNamedSecurityDacl(probe, platform::kSeFileObject, merged) == 0 &&
               MaskOf(Entries(probe), u"S-1-5-32-545") == platform::kFileGenericRead;
    }
    static std::string Describe(const std::vector<platform::AccessEntry>& entries) {
        std::string text;
        for (const auto& e : entries)
            text += " (" + std::to_string(e.mode) + " " + Narrow(e.sid) + " " + std::to_string(e.permissions) + " " +
                    std::to_string(e.inheritance) + ")";
        return text;
    }
    static std::uint32_t MaskOf(const std::vector<platform::AccessEntry>& entries, const std::u16string& sid) {
        for (const auto& e : entries)
            if (e.sid == sid && e.mode == platform::kGrantAccess) return e.permissions;
        return 0;
    }
    PermissionSet Set(const std::u16string& name, std::vector<PermissionRule> rules) const {
        PermissionSet set;
        set.objectName = name;
        set.rules = std::move(rules);
        return set;
    }

    test::ScratchFolder scratch;
    const std::u16string file = scratch / u"web.config";
};

constexpr const char* kNoAccessLists = "this system keeps no access list entries for other accounts on files (Wine)";

TEST_F(ApplyRules, RulesAreMergedByAccountAndSetAgain) {
    if (!KeepsAccessLists()) GTEST_SKIP() << kNoAccessLists;
    const std::vector<platform::AccessEntry> before = Entries(file);
    SCOPED_TRACE("before:" + Describe(before));
    EXPECT_EQ(ApplyPermissionRules(Set(file, {})), 0);  // no rules: not touched
    EXPECT_EQ(Entries(file).size(), before.size());

    const PermissionSet set = Set(file, {{u"", u"S-1-1-0", platform::kFileGenericRead},
                                         {u"", u"s-1-5-32-545", platform::kFileGenericReadExecute},
                                         {u"", u"Administrators", platform::kFileAllAccess}});
    ASSERT_EQ(ApplyPermissionRules(set), 0);
    auto entries = Entries(file);
    EXPECT_EQ(MaskOf(entries, u"S-1-1-0"), platform::kFileGenericRead) << Describe(entries);
    EXPECT_EQ(MaskOf(entries, u"S-1-5-32-545"), platform::kFileGenericReadExecute);
    EXPECT_EQ(MaskOf(entries, u"S-1-5-32-544"), platform::kFileAllAccess);

    // SET_ACCESS replaces the account's entry instead of adding to it.
    ASSERT_EQ(ApplyPermissionRules(Set(file, {{u"", u"Everyone", platform::kFileGenericWrite}})), 0);
    entries = Entries(file);
    EXPECT_EQ(MaskOf(entries, u"S-1-1-0"), platform::kFileGenericWrite) << Describe(entries);
    EXPECT_EQ(MaskOf(entries, u"S-1-5-32-545"), platform::kFileGenericReadExecute);
}

TEST_F(ApplyRules, UnresolvableAccountChangesNothing) {
    const std::size_t before = Entries(file).size();
    ScriptedHandler handler({kIdRetry});
    PermissionSet set = Set(file, {{u"", u"S-1-1-0", 1}, {u"", u"no-such-account-x7", 1}});
    set.errorHandler = &handler;
    EXPECT_EQ(ApplyPermissionRules(set), 1);
    EXPECT_EQ(handler.asked.size(), 2u);  // asked, retried, asked again
    EXPECT_EQ(handler.asked.at(0), (std::pair<std::u16string, int>{u"no-such-account-x7", kAskUnresolvedAccount}));
    EXPECT_EQ(handler.reports, std::vector<std::u16string>{u"[ERR] Could not add new permission to Security Descriptor."});
    EXPECT_EQ(Entries(file).size(), before);
}

TEST_F(ApplyRules, MissingObjects) {
    const std::vector<PermissionRule> rules = {{u"", u"S-1-1-0", 1}};
    EXPECT_EQ(ApplyPermissionRules(Set(scratch / u"missing.xml", rules)), 0);  // local: skipped
    EXPECT_EQ(ApplyPermissionRules(Set(u"\\\\nosuchserver\\share\\web.config", rules)), 1);  // network: fails

    ScriptedHandler ignore({kIdRetry, kIdIgnore});
    PermissionSet set = Set(u"\\\\nosuchserver\\share\\web.config", rules);
    set.errorHandler = &ignore;
    EXPECT_EQ(ApplyPermissionRules(set), 0);
    EXPECT_EQ(ignore.asked.size(), 2u);
    EXPECT_EQ(ignore.asked.at(0).second, kAskMissingNetworkObject);

    ScriptedHandler abort({kIdRetry});
    set.errorHandler = &abort;
    EXPECT_EQ(ApplyPermissionRules(set), 1);
    EXPECT_EQ(abort.reports, std::vector<std::u16string>{u"[ERR] Object does not physically exist. Stopping instalation."});
}

TEST_F(ApplyRules, InfoLinesGoToTheLog) {
    test::TestSession session;
    ASSERT_TRUE(session.IsOpen());
    LogSession logging(session.Handle(), u"");
    ApplyPermissionRules(Set(file, {{u"", u"S-1-1-0", 1}}));
    ApplyPermissionRules(Set(scratch / u"missing.xml", {{u"", u"S-1-1-0", 1}}));
    EXPECT_EQ(session.LogLines(),
              (std::vector<std::u16string>{
                  u"[INFO] Updating access control rules for object: " + file,
                  u"[INFO] Object access control rules updated. Operation result: 0",
                  u"[INFO] Updating access control rules for object: " + scratch / u"missing.xml",
                  u"[INFO] Object does not physically exist. Skipping ACL rule update operation.",
              }));
}

// Saving and restoring access lists with icacls across an upgrade, and the
// saved permissions value that carries them from one product to the next.
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
