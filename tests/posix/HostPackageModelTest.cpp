// The package model of the installer stand-in: directory resolution, the
// properties a session starts with, feature and component selection, and
// the products remembered in a sandbox root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/posix/msi/PackageModel.h"
#include "platform/posix/msi/ProductStore.h"

#include "posix/PosixTestSupport.h"
#include "support/ScratchFolder.h"

using namespace platform::posix;

namespace {

std::string Utf8(const std::u16string& text) { return strings::ToUtf8(text); }

TEST(HostPackageModel, TargetNamesOfDefaultDirAndFileName) {
    struct Case {
        const char16_t* value;
        const char16_t* longName;
        const char16_t* shortName;
    };
    const Case cases[] = {
        {u"App", u"App", u"App"},
        {u"TRELLI~1|Trellis Test", u"Trellis Test", u"TRELLI~1"},
        {u"App:Source", u"App", u"App"},
        {u"LONGNA~1|Long Name:SRC|Source Name", u"Long Name", u"LONGNA~1"},
        {u".", u".", u"."},
        {u".:Config", u".", u"."},
        {u"SETTIN~1.INI|settings.ini", u"settings.ini", u"SETTIN~1.INI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.value));
        EXPECT_EQ(Utf8(LongTargetName(c.value)), Utf8(c.longName));
        EXPECT_EQ(Utf8(ShortTargetName(c.value)), Utf8(c.shortName));
    }
}

TEST(HostPackageModel, DirectoriesResolveAsCostFinalizeResolvesThem) {
    const std::vector<DirectoryRow> rows = {
        {u"TARGETDIR", u"", u"SourceDir"},
        {u"ProgramFilesFolder", u"TARGETDIR", u"."},
        {u"Vendor", u"ProgramFilesFolder", u"VENDOR~1|Vendor Name:Vendor"},
        {u"INSTALLDIR", u"Vendor", u"App"},
        {u"CONFIGDIR", u"INSTALLDIR", u".:Config"},
        {u"LOGDIR", u"CONFIGDIR", u"Logs"},
        {u"Plain", u"TARGETDIR", u"Plain"},
        {u"SelfRoot", u"SelfRoot", u"SourceDir"},
    };
    struct Case {
        const char* name;
        std::map<std::u16string, std::u16string> properties;
        std::map<std::u16string, std::u16string> expected;  // only the directories checked
    };
    const Case cases[] = {
        {"defaults",
         {{u"ProgramFilesFolder", u"C:\\Program Files (x86)\\"}},
         {{u"TARGETDIR", u"C:\\"},
          {u"Vendor", u"C:\\Program Files (x86)\\Vendor Name\\"},
          {u"INSTALLDIR", u"C:\\Program Files (x86)\\Vendor Name\\App\\"},
          {u"CONFIGDIR", u"C:\\Program Files (x86)\\Vendor Name\\App\\"},
          {u"LOGDIR", u"C:\\Program Files (x86)\\Vendor Name\\App\\Logs\\"},
          {u"Plain", u"C:\\Plain\\"},
          {u"SelfRoot", u"C:\\"}}},
        {"a directory property moves it and its children, and gains a backslash",
         {{u"ProgramFilesFolder", u"C:\\PF\\"}, {u"INSTALLDIR", u"D:\\Apps\\Mine"}},
         {{u"Vendor", u"C:\\PF\\Vendor Name\\"},
          {u"INSTALLDIR", u"D:\\Apps\\Mine\\"},
          {u"LOGDIR", u"D:\\Apps\\Mine\\Logs\\"}}},
        {"TARGETDIR given",
         {{u"TARGETDIR", u"E:\\Target"}},
         {{u"TARGETDIR", u"E:\\Target\\"}, {u"ProgramFilesFolder", u"E:\\Target\\"}, {u"Plain", u"E:\\Target\\Plain\\"}}},
        {"ROOTDRIVE places the roots",
         {{u"ROOTDRIVE", u"F:\\"}},
         {{u"TARGETDIR", u"F:\\"}, {u"SelfRoot", u"F:\\"}, {u"Plain", u"F:\\Plain\\"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::u16string> problems;
        const auto resolved = ResolveDirectories(
            rows,
            [&](const std::u16string& name) {
                const auto it = c.properties.find(name);
                return it == c.properties.end() ? std::u16string() : it->second;
            },
            &problems);
        EXPECT_TRUE(problems.empty());
        EXPECT_EQ(resolved.size(), rows.size());
        for (const auto& [directory, path] : c.expected) {
            const auto it = resolved.find(directory);
            ASSERT_NE(it, resolved.end()) << Utf8(directory);
            EXPECT_EQ(Utf8(it->second), Utf8(path)) << Utf8(directory);
        }
    }
}

TEST(HostPackageModel, DirectoriesThatCannotResolveAreLeftOutAndReported) {
    const std::vector<DirectoryRow> rows = {
        {u"TARGETDIR", u"", u"SourceDir"},
        {u"Orphan", u"Missing", u"Orphan"},
        {u"OrphanChild", u"Orphan", u"Child"},
        {u"LoopA", u"LoopB", u"A"},
        {u"LoopB", u"LoopA", u"B"},
        {u"Fine", u"TARGETDIR", u"Fine"},
    };
    std::vector<std::u16string> problems;
    const auto resolved = ResolveDirectories(rows, [](const std::u16string&) { return std::u16string(); }, &problems);
    EXPECT_EQ(resolved.size(), 2u);
    EXPECT_EQ(Utf8(resolved.at(u"Fine")), "C:\\Fine\\");
    std::string all;
    for (const std::u16string& problem : problems) all += Utf8(problem) + "\n";
    EXPECT_NE(all.find("Orphan names an unknown parent Missing"), std::string::npos) << all;
    EXPECT_NE(all.find("is its own ancestor"), std::string::npos) << all;
}

TEST(HostPackageModel, StandardFoldersAreWindowsPathsOnDriveC) {
    const auto perUser = StandardProperties(u"alice", false);
    const auto perMachine = StandardProperties(u"alice", true);
    for (const auto& [name, value] : perUser) {
        const std::string n = Utf8(name);
        if (n.size() < 6 || n.compare(n.size() - 6, 6, "Folder") != 0) continue;
        SCOPED_TRACE(n);
        EXPECT_EQ(Utf8(value).rfind("C:\\", 0), 0u) << Utf8(value);
        EXPECT_EQ(value.back(), u'\\');
    }
    struct Case {
        const char16_t* name;
        const char* user;
        const char* machine;
    };
    const Case cases[] = {
        {u"ProgramFilesFolder", "C:\\Program Files (x86)\\", "C:\\Program Files (x86)\\"},
        {u"ProgramFiles64Folder", "C:\\Program Files\\", "C:\\Program Files\\"},
        {u"CommonAppDataFolder", "C:\\ProgramData\\", "C:\\ProgramData\\"},
        {u"AppDataFolder", "C:\\Users\\alice\\AppData\\Roaming\\", "C:\\Users\\alice\\AppData\\Roaming\\"},
        {u"LocalAppDataFolder", "C:\\Users\\alice\\AppData\\Local\\", "C:\\Users\\alice\\AppData\\Local\\"},
        {u"DesktopFolder", "C:\\Users\\alice\\Desktop\\", "C:\\Users\\Public\\Desktop\\"},
        {u"ProgramMenuFolder", "C:\\Users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\",
         "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"},
        {u"ROOTDRIVE", "C:\\", "C:\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.name));
        EXPECT_EQ(Utf8(perUser.at(c.name)), c.user);
        EXPECT_EQ(Utf8(perMachine.at(c.name)), c.machine);
    }
    // The installer and the file functions agree on the system folders.
    test::UsePrivateSandbox();
    EXPECT_EQ(Utf8(perUser.at(u"TempFolder")), Utf8(platform::GetTempPathW()));
    EXPECT_EQ(Utf8(perUser.at(u"WindowsFolder")), Utf8(platform::GetWindowsDirectoryW()) + "\\");
}

// Features: Main (1) > Docs (1); Extra (3) > ExtraChild (1); Disabled (0) >
// DisabledChild (1). Docs drops to level 0 under the condition NO_DOCS.
PackageTables SelectionTables() {
    PackageTables tables;
    tables.features = {{u"Main", u"", 1},  {u"Docs", u"Main", 1},     {u"Extra", u"", 3},
                       {u"ExtraChild", u"Extra", 1}, {u"Disabled", u"", 0}, {u"DisabledChild", u"Disabled", 1}};
    tables.featureConditions = {{u"Docs", 0, u"NO_DOCS"}};
    tables.components = {{u"MainComp", u"D", u""},
                         {u"Optional", u"D", u"WANT_OPTIONAL"},
                         {u"DocsComp", u"D", u""},
                         {u"Shared", u"D", u""}};
    tables.featureComponents = {{u"Main", u"MainComp"}, {u"Main", u"Optional"}, {u"Docs", u"DocsComp"},
                                {u"Extra", u"Shared"},  {u"ExtraChild", u"Shared"}};
    return tables;
}

TEST(HostPackageModel, SelectFeaturesByLevelAddLocalAndRemove) {
    const std::set<std::u16string> everything = {u"Main", u"Docs", u"Extra", u"ExtraChild"};
    const std::set<std::u16string> allComponents = {u"MainComp", u"DocsComp", u"Shared"};
    struct Case {
        const char* name;
        SelectionRequest request;
        std::set<std::u16string> trueConditions;
        // Features and components by their action: L local, A absent, - none.
        std::map<std::u16string, char> features;
        std::map<std::u16string, char> components;
    };
    const auto request = [](int level, const char16_t* addLocal, const char16_t* remove,
                            std::set<std::u16string> features = {}, std::set<std::u16string> components = {},
                            const char16_t* reinstall = u"") {
        SelectionRequest r;
        r.installLevel = level;
        r.addLocal = addLocal;
        r.remove = remove;
        r.reinstall = reinstall;
        r.installedFeatures = std::move(features);
        r.installedComponents = std::move(components);
        return r;
    };
    const std::set<std::u16string> mainOnly = {u"Main", u"Docs"};
    const std::set<std::u16string> mainComponents = {u"MainComp", u"DocsComp"};
    const Case cases[] = {
        {"first install at level 1: a level 1 child of a level 3 parent stays out",
         request(1, u"", u""), {},
         {{u"Main", 'L'}, {u"Docs", 'L'}, {u"Extra", '-'}, {u"ExtraChild", '-'}, {u"Disabled", '-'}},
         {{u"MainComp", 'L'}, {u"Optional", '-'}, {u"DocsComp", 'L'}, {u"Shared", '-'}}},
        {"level 3", request(3, u"", u""), {u"WANT_OPTIONAL"},
         {{u"Main", 'L'}, {u"Extra", 'L'}, {u"ExtraChild", 'L'}, {u"Disabled", '-'}, {u"DisabledChild", '-'}},
         {{u"Optional", 'L'}, {u"Shared", 'L'}}},
        {"the Condition table disables a feature", request(1, u"", u""), {u"NO_DOCS"},
         {{u"Main", 'L'}, {u"Docs", '-'}}, {{u"DocsComp", '-'}}},
        {"ADDLOCAL brings the parents along and nothing else", request(1, u"ExtraChild", u""), {},
         {{u"ExtraChild", 'L'}, {u"Extra", 'L'}, {u"Main", '-'}, {u"Docs", '-'}}, {{u"Shared", 'L'}, {u"MainComp", '-'}}},
        {"ADDLOCAL=ALL leaves level 0 alone", request(1, u"ALL", u""), {},
         {{u"Main", 'L'}, {u"Docs", 'L'}, {u"Extra", 'L'}, {u"ExtraChild", 'L'}, {u"Disabled", '-'},
          {u"DisabledChild", '-'}},
         {}},
        {"ADDLOCAL of a disabled feature", request(1, u"DisabledChild, Docs", u""), {},
         {{u"DisabledChild", '-'}, {u"Disabled", '-'}, {u"Docs", 'L'}, {u"Main", 'L'}}, {}},
        {"REMOVE after ADDLOCAL wins", request(1, u"Extra", u"Extra"), {},
         {{u"Extra", '-'}, {u"ExtraChild", '-'}}, {}},
        {"maintenance without requests changes nothing", request(1, u"", u"", everything, allComponents), {},
         {{u"Main", '-'}, {u"Docs", '-'}, {u"Extra", '-'}}, {{u"MainComp", '-'}, {u"Shared", '-'}}},
        {"REMOVE=ALL", request(1, u"", u"ALL", everything, allComponents), {},
         {{u"Main", 'A'}, {u"Docs", 'A'}, {u"Extra", 'A'}, {u"Disabled", '-'}},
         {{u"MainComp", 'A'}, {u"DocsComp", 'A'}, {u"Shared", 'A'}}},
        {"REMOVE of a parent takes its children", request(1, u"", u"Main", everything, allComponents), {},
         {{u"Main", 'A'}, {u"Docs", 'A'}, {u"Extra", '-'}}, {{u"MainComp", 'A'}, {u"DocsComp", 'A'}, {u"Shared", '-'}}},
        {"a component stays while one of its features does", request(1, u"", u"ExtraChild", everything, allComponents),
         {}, {{u"ExtraChild", 'A'}, {u"Extra", '-'}}, {{u"Shared", '-'}}},
        {"maintenance leaves out a component whose condition holds only now",
         request(1, u"", u"", mainOnly, mainComponents), {u"WANT_OPTIONAL"}, {{u"Main", '-'}},
         {{u"MainComp", '-'}, {u"Optional", '-'}}},
        {"REINSTALL=ALL installs again what is installed, and only that",
         request(1, u"", u"", mainOnly, mainComponents, u"ALL"), {},
         {{u"Main", 'L'}, {u"Docs", 'L'}, {u"Extra", '-'}, {u"Disabled", '-'}},
         {{u"MainComp", 'L'}, {u"DocsComp", 'L'}, {u"Optional", '-'}, {u"Shared", '-'}}},
        {"ADDLOCAL of an installed feature brings in a component left out before",
         request(1, u"Main", u"", mainOnly, mainComponents), {u"WANT_OPTIONAL"}, {{u"Main", '-'}},
         {{u"MainComp", '-'}, {u"Optional", 'L'}}},
        {"REINSTALL of one feature", request(1, u"", u"", mainOnly, mainComponents, u"Docs"), {},
         {{u"Main", '-'}, {u"Docs", 'L'}}, {{u"MainComp", '-'}, {u"DocsComp", 'L'}}},
        {"REINSTALL on a first installation installs nothing", request(1, u"", u"", {}, {}, u"ALL"), {},
         {{u"Main", '-'}, {u"Docs", '-'}}, {{u"MainComp", '-'}, {u"DocsComp", '-'}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Selection selection = SelectFeatures(SelectionTables(), c.request, [&](const std::u16string& condition) {
            return c.trueConditions.count(condition) != 0 ? platform::kMsiConditionTrue : platform::kMsiConditionFalse;
        });
        const auto check = [](const std::map<std::u16string, ItemState>& states,
                              const std::map<std::u16string, char>& expected, const std::set<std::u16string>& installed) {
            for (const auto& [name, action] : expected) {
                SCOPED_TRACE(Utf8(name));
                const ItemState& state = states.at(name);
                const int want = action == 'L' ? kInstallStateLocal : action == 'A' ? kInstallStateAbsent
                                                                                    : kInstallStateUnknown;
                EXPECT_EQ(state.action, want);
                EXPECT_EQ(state.installed, installed.count(name) != 0 ? kInstallStateLocal : kInstallStateAbsent);
            }
        };
        check(selection.features, c.features, c.request.installedFeatures);
        check(selection.components, c.components, c.request.installedComponents);
    }
}

class HostProductStore : public ::testing::Test {
protected:
    test::TempDir dir_;
    const std::string root_ = dir_.Path().string();
};

TEST_F(HostProductStore, RemembersProductsByCodeWithoutRegardToCase) {
    const ProductStore store(root_);
    InstalledProduct product;
    product.productCode = u"{3e5a7c91-2b4d-4f68-9a0c-1d3f5b7e9a24}";
    product.upgradeCode = u"{8C1E3A5B-7D9F-4B26-A48C-6E0A2C4E6F81}";
    product.productName = u"Caf\u00e9 = Bar";
    product.productVersion = u"1.2.0";
    product.features = {u"Main", u"Docs"};
    product.components = {u"MainComp"};
    ASSERT_TRUE(store.Save(product));

    InstalledProduct found;
    ASSERT_TRUE(store.Find(u"{3E5A7C91-2B4D-4F68-9A0C-1D3F5B7E9A24}", &found));
    EXPECT_EQ(Utf8(found.productName), Utf8(product.productName));
    EXPECT_EQ(Utf8(found.upgradeCode), Utf8(product.upgradeCode));
    EXPECT_EQ(found.features, product.features);
    EXPECT_EQ(found.components, product.components);
    ASSERT_EQ(store.All().size(), 1u);

    EXPECT_TRUE(store.Remove(u"{3E5A7C91-2B4D-4F68-9A0C-1D3F5B7E9A24}"));
    EXPECT_FALSE(store.Find(product.productCode, &found));
    EXPECT_FALSE(store.Remove(product.productCode));
    EXPECT_TRUE(store.All().empty());
}

TEST_F(HostProductStore, RefusesCodesThatAreNotGuidText) {
    const ProductStore store(root_ + "/inner");
    InstalledProduct product;
    InstalledProduct found;
    for (const char16_t* code : {u"", u"../escape", u"{A}/B", u"a b"}) {
        SCOPED_TRACE(Utf8(code));
        product.productCode = code;
        EXPECT_FALSE(store.Save(product));
        EXPECT_FALSE(store.Find(code, &found));
    }
    EXPECT_FALSE(std::filesystem::exists(root_ + "/escape.txt"));
}

TEST(HostPackageModel, ProductVersionsCompareByTheirFirstThreeFields) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int expected;
    };
    const Case cases[] = {
        {u"1.0.0", u"1.0.0", 0},      {u"1.0.0", u"1.0.0.9", 0}, {u"1.2", u"1.10", -1},
        {u"2", u"1.99.99", 1},        {u"1.0", u"1.0.0", 0},     {u"1.2.3", u"1.2.4", -1},
        {u"", u"0.0.0", 0},           {u"1.x.2", u"1.0.2", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.a) + " vs " + Utf8(c.b));
        EXPECT_EQ(CompareProductVersions(c.a, c.b), c.expected);
        EXPECT_EQ(CompareProductVersions(c.b, c.a), -c.expected);
    }
}

}  // namespace
