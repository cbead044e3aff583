// Install and uninstall runs over several files: which files are merged,
// built, deleted or left alone, how a failing file ends or continues the
// run, and that an uninstall gives back the bytes the install found.
#include <gtest/gtest.h>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlManager.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "installer/Logger.h"
#include "platform/os/RegistryKey.h"
#include "support/BackupTestSupport.h"
#include "support/ManagerTestSupport.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

const std::u16string kProduct = u"{2D7E4A10-96B3-4C58-8F21-0A9B3C6D5E74}";

const std::string kWebConfig =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<configuration>\n"
    "  <appSettings>\n"
    "    <add key='Theme'   value='dark'/>\n"
    "  </appSettings>\n"
    "  <!-- keep me -->\n"
    "</configuration>\n";

// The package's plan for web.config: a connection string added below a
// new element, a setting changed, each taken back at uninstall.
const std::vector<test::ElementRow> kWebElements = {
    {u"cfg", u"", u"configuration", 0, 0, u"", 0},
    {u"app", u"cfg", u"appSettings", 1, 8, u"", 0},
    {u"theme", u"app", u"add", 1, 8, u"", 0},
    {u"conns", u"cfg", u"connectionStrings", 2, 4 | 2 | 8, u"", 0},
    {u"conn", u"conns", u"add", 1, 4, u"", 0},
};
const std::vector<test::AttributeRow> kWebAttributes = {
    {u"theme", u"key", 1 | 2 | 8, 0, u"Theme"},
    {u"theme", u"value", 2 | 4 | 8, 1, u"light"},
    {u"theme", u"value", 2 | 4 | 16, 1, u"dark"},
    {u"conn", u"name", 2 | 8, 0, u"shop"},
    {u"conn", u"connectionString", 2 | 8, 1, u"Server=db;Database=shop"},
};

class XmlManagerRun : public ::testing::Test {
protected:
    void SetUp() override { test::DeleteNorrvikTree(); }
    void TearDown() override { test::DeleteNorrvikTree(); }

    std::unique_ptr<XmlManager> Manager(const std::vector<test::FileRow>& files,
                                        const std::vector<test::ElementRow>& elements,
                                        const std::vector<test::AttributeRow>& attributes,
                                        const std::u16string& remove = u"", const std::u16string& run = u"") const {
        return test::BuildManager({{u"ProductCode", kProduct},
                                   {u"UpgradeCode", u"{UPGRADE}"},
                                   {u"REMOVE", remove},
                                   {u"QM_XML_RUN_ID", run}},
                                  files, elements, attributes);
    }
    std::u16string Value(const std::u16string& path) const {
        return test::CurrentUserValue(ProductBackupKey(kProduct), path);
    }
    // The run's one line about the file, without the path; the log is
    // emptied for the next run.
    std::u16string Summary(const std::u16string& path) {
        std::vector<std::u16string> found;
        for (const std::u16string& line : session.LogLines())
            if (line.rfind(path + u": ", 0) == 0) found.push_back(line.substr(path.size() + 2));
        session.ClearMessages();
        EXPECT_EQ(found.size(), 1u) << Narrow(path);
        return found.empty() ? u"" : found.front();
    }

    test::ScratchFolder scratch;
    const std::u16string folder = scratch.Path() + u"\\";
    test::TestSession session;
    LogSession logging{session.Handle(), u""};
};

TEST_F(XmlManagerRun, UninstallGivesBackTheBytesTheInstallFound) {
    const std::u16string web = folder + u"web.config";
    test::WriteBytes(web, kWebConfig);
    const std::vector<test::FileRow> files = {{u"web", u"web.config", folder, u"cfg", 0, u"UTF-8", 2}};

    ASSERT_EQ(ExecuteXmlUpdates(*Manager(files, kWebElements, kWebAttributes), XML_UPDATE_INSTALL), 0u);
    EXPECT_EQ(test::ReadBytes(web),
              "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<configuration>\n"
              "  <appSettings>\n"
              "    <add key='Theme'   value='light'/>\n"
              "  </appSettings>\n"
              "  <!-- keep me -->\n"
              "  <connectionStrings>\n"
              "    <add name=\"shop\" connectionString=\"Server=db;Database=shop\"/>\n"
              "  </connectionStrings>\n"
              "</configuration>\n");
    EXPECT_EQ(Summary(web), u"2 elements added, 1 updated, 0 removed, 1 attribute set; backup web.config.back");
    ASSERT_EQ(ExecuteXmlUpdates(*Manager(files, kWebElements, kWebAttributes), XML_UPDATE_INSTALL), 0u);
    EXPECT_EQ(Summary(web), u"nothing to change");
    const std::u16string backup = Value(web);
    EXPECT_EQ(test::ReadBytes(backup), kWebConfig);
    CommitXmlUpdates(*Manager(files, kWebElements, kWebAttributes));
    EXPECT_FALSE(test::FileExists(backup));

    ASSERT_EQ(ExecuteXmlUpdates(*Manager(files, kWebElements, kWebAttributes, u"ALL"), XML_UPDATE_UNINSTALL), 0u);
    EXPECT_EQ(test::ReadBytes(web), kWebConfig);
    EXPECT_EQ(Summary(web), u"0 elements added, 1 updated, 2 removed, 1 attribute set; no backup");
    EXPECT_FALSE(test::FileExists(backup));  // the uninstall's own backup went too
    EXPECT_FALSE(test::CurrentUserKeyExists(ProductBackupKey(kProduct)));
}

// What an install records of the comments it added goes with its run: a
// rolled-back run leaves the record as it found it, so a later uninstall
// still gives back the bytes the first install found.
TEST_F(XmlManagerRun, RollbackPutsTheRecordOfAddedMarkupBack) {
    const std::u16string web = folder + u"web.config";
    test::WriteBytes(web, kWebConfig);
    const std::vector<test::FileRow> files = {{u"web", u"web.config", folder, u"cfg", 0, u"UTF-8", 2}};
    const auto rows = [](const char16_t* comment) {
        return std::vector<test::ElementRow>{{u"cfg", u"", u"configuration", 0, 0, u"", 0},
                                             {u"note", u"cfg", u"", 1, 1, comment, 0}};
    };
    const auto install = [&](const char16_t* run, const char16_t* comment) {
        return ExecuteXmlUpdates(*Manager(files, rows(comment), {}, u"", run), XML_UPDATE_INSTALL);
    };
    const auto valuesOfTheProduct = [] {
        return RegistryKey(ProductBackupKey(kProduct), platform::kHKeyCurrentUser, false).ValueCount();
    };
    const std::u16string record = u"AddedMarkup|" + web;

    ASSERT_EQ(install(u"R1", u"one"), 0u);
    RollbackXmlUpdates(*Manager(files, rows(u"one"), {}, u"", u"R1"));
    EXPECT_EQ(test::ReadBytes(web), kWebConfig);
    EXPECT_FALSE(test::CurrentUserKeyExists(u"Software\\Norrvik"));

    ASSERT_EQ(install(u"R2", u"one"), 0u);
    CommitXmlUpdates(*Manager(files, rows(u"one"), {}, u"", u"R2"));
    const std::string installed = test::ReadBytes(web);
    const std::u16string recorded = Value(record);
    EXPECT_EQ(valuesOfTheProduct(), 1u);  // the record alone

    ASSERT_EQ(install(u"R3", u"two"), 0u);  // a repair that adds a comment, and fails
    RollbackXmlUpdates(*Manager(files, rows(u"two"), {}, u"", u"R3"));
    EXPECT_EQ(test::ReadBytes(web), installed);
    EXPECT_EQ(Value(record), recorded);
    EXPECT_EQ(valuesOfTheProduct(), 1u);

    ASSERT_EQ(ExecuteXmlUpdates(*Manager(files, rows(u"one"), {}, u"ALL"), XML_UPDATE_UNINSTALL), 0u);
    EXPECT_EQ(test::ReadBytes(web), kWebConfig);
}

TEST_F(XmlManagerRun, InstallBuildsOnlyTheMissingFilesThatAskForIt) {
    const std::vector<test::FileRow> files = {
        {u"built", u"new.xml", folder + u"Sub\\", u"r", 8 | 4 | 1},
        {u"absent", u"absent.xml", folder, u"r", 0},
    };
    const std::vector<test::ElementRow> elements = {{u"r", u"", u"root", 0, 0, u"", 0},
                                                    {u"c", u"r", u"child", 1, 4, u"x", 0}};
    ASSERT_EQ(ExecuteXmlUpdates(*Manager(files, elements, {}), XML_UPDATE_INSTALL), 0u);
    EXPECT_EQ(test::ReadBytes(folder + u"Sub\\new.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<root>\r\n\t<child>x</child>\r\n"
              "</root>\r\n");
    EXPECT_EQ(Value(folder + u"Sub\\new.xml"), u"*");
    EXPECT_FALSE(test::FileExists(folder + u"absent.xml"));
    EXPECT_EQ(Value(folder + u"absent.xml"), u"<absent>");
    const std::vector<std::u16string> lines = session.LogLines();
    EXPECT_EQ(Summary(folder + u"Sub\\new.xml"), u"built from scratch with 2 elements");
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        folder + u"absent.xml: not found, and not built (QM_XmlFile flag 8 is not set)"),
              lines.end());
}

TEST_F(XmlManagerRun, UninstallDeletesWhatTheProductOwns) {
    struct Case {
        const char* name;
        int flags;
        std::u16string entry;  // the backup registry's value for the file
        std::string document;
        bool deleted;
        std::u16string summary;
    };
    const std::string withChild = "<root>\n\t<child>x</child>\n\t<other/>\n</root>";
    const std::u16string removed = u"0 elements added, 0 updated, 1 removed, 0 attributes set; no backup";
    const Case cases[] = {
        {"built with 8 + 16: deleted unparsed", 8 | 16, u"*", "not even XML", true, u"deleted, the product built it"},
        {"built with 8 alone: its changes are taken back", 8, u"*", withChild, false, removed},
        {"changed, not built: kept", 8 | 16, u"", withChild, false, removed},
        {"128 and an empty root afterwards: deleted", 128, u"", "<root>\n\t<child>x</child>\n</root>", true,
         removed + u"; deleted, its root element is empty"},
        {"128 and a root that still has a child: kept", 128, u"", withChild, false, removed},
    };
    const std::vector<test::ElementRow> elements = {{u"r", u"", u"root", 0, 0, u"", 0},
                                                    {u"c", u"r", u"child", 1, 2 | 8, u"x", 0}};
    const std::u16string path = folder + u"f.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteBytes(path, c.document);
        if (!c.entry.empty()) test::SetCurrentUserValue(ProductBackupKey(kProduct), path, c.entry);
        EXPECT_EQ(ExecuteXmlUpdates(*Manager({{u"f", u"f.xml", folder, u"r", c.flags}}, elements, {}, u"ALL"),
                                    XML_UPDATE_UNINSTALL),
                  0u);
        EXPECT_EQ(test::FileExists(path), !c.deleted);
        EXPECT_EQ(Summary(path), c.summary);
        if (!c.deleted && c.document == withChild) {
            EXPECT_EQ(test::ReadBytes(path), "<root>\n\t<other/>\n</root>");
        }
        test::DeleteNorrvikTree();
    }
}

TEST_F(XmlManagerRun, FailingFileEndsTheRunUnlessItRollsBackAlone) {
    const std::vector<test::ElementRow> elements = {{u"r", u"", u"root", 0, 0, u"", 0},
                                                    {u"c", u"r", u"child", 1, 4, u"", 0}};
    test::WriteBytes(folder + u"bad.xml", "<root>");
    test::WriteBytes(folder + u"good.xml", "<root></root>");

    // Alone, a broken file fails the install.
    EXPECT_EQ(ExecuteXmlUpdates(*Manager({{u"bad", u"bad.xml", folder, u"r", 0}}, elements, {}), XML_UPDATE_INSTALL),
              1603u);
    // With flag 32 it is rolled back, and the other file still gets its change.
    EXPECT_EQ(ExecuteXmlUpdates(*Manager({{u"bad", u"bad.xml", folder, u"r", 32}, {u"good", u"good.xml", folder, u"r", 4}},
                                         elements, {}),
                                XML_UPDATE_INSTALL),
              0u);
    EXPECT_EQ(test::ReadBytes(folder + u"bad.xml"), "<root>");
    EXPECT_EQ(test::ReadBytes(folder + u"good.xml"), "<root>\r\n\t<child/>\r\n</root>");
    EXPECT_EQ(Value(folder + u"bad.xml"), u"<absent>");
    const std::vector<std::u16string> lines = session.LogLines();
    EXPECT_EQ(Summary(folder + u"good.xml"),
              u"1 element added, 0 updated, 0 removed, 0 attributes set; backup good.xml.back");
    const std::u16string failed = folder + u"bad.xml: failed: error 4113: " + folder + u"bad.xml, ";
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::u16string& line) { return line.rfind(failed, 0) == 0; }),
              2);  // once for each run
}

TEST_F(XmlManagerRun, UninstallOfAFileTheUserDeletedSucceeds) {
    const std::vector<test::ElementRow> elements = {{u"r", u"", u"root", 0, 0, u"", 0}};
    EXPECT_EQ(ExecuteXmlUpdates(*Manager({{u"gone", u"gone.xml", folder, u"r", 8 | 16}}, elements, {}),
                                XML_UPDATE_UNINSTALL),
              0u);
    EXPECT_EQ(Summary(folder + u"gone.xml"), u"not found, nothing to take back");
}

}  // namespace
