// Install and uninstall runs over several files: which files are merged,
// built, deleted or left alone, how a failing file ends or continues the
// run, and that an uninstall gives back the bytes the install found. Then
// new files built from planned records (declaration, encoding, indentation,
// skipped records) and the errors the writer and its output report.
#include <gtest/gtest.h>

#include "platform/os/XmlEncoding.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/FolderPath.h"
#include "custact/XML/src/xml/SourceFragments.h"
#include "custact/XML/src/xml/XmlManager.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/FileSystem.h"
#include "platform/os/RegistryKey.h"
#include "platform/os/XmlOutput.h"
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

// New files and fragments built from planned records: declaration, encoding,
// indentation, skipped records, and the errors the writer and its output
// report.
constexpr std::uint32_t kWritten = kXmlAttributeBelongs | kXmlAttributeInstall;

class SourceFragmentsTest : public ::testing::Test {
protected:
    // config(name, empty="") > item > comment, and gone (flag 32) > below.
    void SetUp() override {
        Add(u"config", nullptr, 0).attributes = {{kAttributeFromUpdate, u"name", u"m\u00E9", kWritten, 1},
                                                 {kAttributeFromUpdate, u"empty", u"", kWritten, 2}};
        Add(u"item", u"config", 1);
        Add(u"gone", u"item", 1, kXmlElementRemoveOnInstall);
        Add(u"below", u"gone", 0);
        Add(u"note", u"item", 0, kXmlElementComment, u"n");
        file.directory = scratch / u"sub\\dir\\";
        file.fileName = u"new.xml";
        file.version = u"1.0";
        file.root = &data.elements.at(u"config");
    }
    XmlElementRecord& Add(const char16_t* key, const char16_t* parent, std::int32_t order, std::uint32_t flags = 0,
                          WideString text = {}) {
        XmlElementRecord& r = data.elements[key];
        r.key = r.name = key;
        r.text = std::move(text);
        r.index = order;
        r.flags = flags;
        r.parent = parent ? &data.elements.at(parent) : nullptr;
        return r;
    }
    // The exception's number and arguments, or -1 when there is none.
    std::pair<std::int32_t, std::vector<WideString>> Build() {
        try {
            BuildXmlFileFromScratch(data, file, XML_UPDATE_INSTALL);
            return {-1, {}};
        } catch (const Exception& e) {
            return {e.ErrorNumber(), e.Arguments()};
        }
    }

    test::ScratchFolder scratch;
    XmlUpdateData data;
    XmlFileRecord file;
};

TEST_F(SourceFragmentsTest, NewFilesByDeclarationEncodingAndIndentation) {
    const struct {
        const char16_t* encoding;
        std::uint32_t flags;
        std::int32_t indentUnits;
        const char16_t* version;
        const char16_t* expected;  // written in the encoding's bytes
    } cases[] = {
        {u"UTF-8", 1 | 256, 2, u"1.0",
         u"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config name=\"m\u00E9\">\r\n"
         u"  <item>\r\n    <!-- n -->\r\n  </item>\r\n</config>\r\n"},
        {u"utf-8", 4, 1, u"1.1",
         u"<?xml version=\"1.1\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n<config name=\"m\u00E9\" empty=\"\">\r\n"
         u"\t<item>\r\n\t\t<!-- n -->\r\n\t</item>\r\n</config>\r\n"},
        {u"utf-16", 256, -3, u"1.0",
         u"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?>\r\n<config name=\"m\u00E9\">\r\n"
         u"<item>\r\n<!-- n -->\r\n</item>\r\n</config>\r\n"},
        {u"windows-1252", 256, 0, u"1.0",
         u"<?xml version=\"1.0\" encoding=\"Windows-1252\" standalone=\"no\"?>\r\n<config name=\"m\u00E9\">\r\n"
         u"<item>\r\n<!-- n -->\r\n</item>\r\n</config>\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.encoding));
        file.encoding = c.encoding;
        file.flags = c.flags;
        file.indentUnits = c.indentUnits;
        file.version = c.version;
        EXPECT_EQ(Build().first, -1);
        const XmlEncoding encoding = FindXmlEncoding(c.encoding);
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(GetFullPath(file), &bytes));
        EXPECT_EQ(bytes, (encoding == XmlEncoding::Utf16 ? "\xFF\xFE" : "") + EncodeXmlText(encoding, c.expected));
        EXPECT_TRUE(data.elements.at(u"gone").IsProcessed() && data.elements.at(u"note").IsProcessed());
        DeleteFileLogged(GetFullPath(file));
    }
}

TEST_F(SourceFragmentsTest, FailuresAndAMissingRoot) {
    file.encoding = u"UTF-7";
    EXPECT_EQ(Build().first, 4114);
    EXPECT_FALSE(PathExists(GetFullPath(file)));
    // A folder where the file should go cannot be opened for writing, and a
    // file that appeared meanwhile is not replaced.
    file.encoding = u"UTF-8";
    CreateFolderPath(GetFullPath(file) + u"\\x");
    EXPECT_EQ(Build(), std::make_pair(4115, std::vector<WideString>{GetFullPath(file)}));
    const WideString appeared = scratch / u"sub\\dir\\appeared.xml";
    file.fileName = u"appeared.xml";
    ASSERT_TRUE(WriteWholeFile(appeared, "mine"));
    EXPECT_EQ(Build().first, 4115);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(appeared, &bytes) && bytes == "mine");
    // Without a root row nothing is written, and the error says why.
    file.root = nullptr;
    file.key = u"web";
    file.rootElementKey = u"cfg";
    file.fileName = u"none.xml";
    EXPECT_EQ(Build(), std::make_pair(4118, std::vector<WideString>{GetFullPath(file), u"QM_XmlFile", u"web",
                                                                    u"RootElement", u"cfg",
                                                                    u"names no QM_XmlElement row"}));
    EXPECT_FALSE(PathExists(GetFullPath(file)));
}

// The writer's output reports what failed, with its level and path.
TEST(XmlOutputTest, FailuresAreReportedWithTheirLevels) {
    test::ScratchFolder scratch;
    std::vector<int> levels;
    std::vector<WideString> paths;
    const XmlOutputErrorHandler collect = [&](const char* source, std::uint32_t, int level, const WideString& path,
                                              const WideString&) {
        EXPECT_NE(std::string(source).find("platform/os/XmlOutput"), std::string::npos) << source;
        levels.push_back(level);
        paths.push_back(path);
    };
    XmlOutput none(scratch / u"x.xml", collect);
    none.SetEncoding(XmlEncoding::None);
    EXPECT_EQ(none.Encoding(), XmlEncoding::Utf8);

    const WideString missing = scratch / u"missing\\x.xml";
    XmlOutput unopened(missing, collect);
    unopened.Write(u"<a/>");
    unopened.Flush();

    XmlOutput outside(scratch / u"y.xml", collect);
    outside.SetEncoding(static_cast<XmlEncoding>(7));  // nothing to write in
    outside.Write(u"<a/>");
    outside.Flush();

    EXPECT_EQ(levels, (std::vector<int>{kXmlOutputNoEncoding, kXmlOutputOpenFailed, kXmlOutputWriteFailed,
                                        kXmlOutputWriteFailed}));
    EXPECT_FALSE(PathExists(scratch / u"y.xml"));
    EXPECT_EQ(paths[1], missing);
}

}  // namespace
