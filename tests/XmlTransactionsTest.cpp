// Rollback and commit over a manager built from a CustomActionData text.
// The test plays the update driver: it backs a file up, records the backup
// and changes the file, or marks a missing file and builds it, the way an
// installation run does.
#include <gtest/gtest.h>

#include <algorithm>

#include "custact/XML/src/xml/BackupFiles.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/FolderPath.h"
#include "custact/XML/src/xml/XmlCollect.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

const std::u16string kProduct = u"{6F1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}";

const std::string kWebConfig =
    "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<configuration>\r\n\t<appSettings>\r\n"
    "\t\t<add key=\"a\" value=\"1\" />\r\n\t</appSettings>\r\n</configuration>\r\n";
const std::string kAppConfig = std::string("\xFF\xFE<\0a\0/\0>\0\r\0\n\0", 14);

class XmlTransactions : public ::testing::Test {
protected:
    void SetUp() override {
        test::DeleteNorrvikTree();
        CreateFolderPath(app + u"\\x");
    }
    void TearDown() override { test::DeleteNorrvikTree(); }

    // One QM_XmlFile row: key, file name, folder, flags.
    test::ActionRow FileRow(const std::u16string& key, const std::u16string& name, const std::u16string& folder,
                            int flags) const {
        return {key, name, folder + u"\\", u"Comp", u"root", ToWideDecimal(flags), u"1.0", u"UTF-8", u"2", u""};
    }
    // The manager of one action of the run named `run`.
    std::unique_ptr<XmlManager> Manager(const std::vector<test::ActionRow>& files, const std::u16string& remove = u"",
                                        const test::ActionSection& extraProperties = {},
                                        const std::u16string& run = u"R1") const {
        test::ActionSection properties = {{u"ProductCode", kProduct}, {u"UpgradeCode", u"{UPGRADE}"},
                                          {u"REMOVE", remove}, {u"QM_XML_RUN_ID", run}};
        properties.insert(properties.end(), extraProperties.begin(), extraProperties.end());
        XmlUpdateDataReader reader(test::ActionDataText({properties, files}));
        reader.Parse();
        auto manager = std::make_unique<XmlManager>(0);
        CollectXmlData(*manager, reader);
        return manager;
    }
    const XmlFileRecord& File(const XmlManager& manager, const std::u16string& key) const {
        return manager.data.files.at(key);
    }
    std::u16string Change(const XmlManager& manager, const std::u16string& key, const std::string& bytes) {
        const XmlFileRecord& file = File(manager, key);
        const std::u16string path = GetFullPath(file);
        const std::u16string backup = BackupTargetFile(path, file.backupPattern, test::ReadBytes(path));
        RecordedEntry(manager.productKey, manager.runId, true, path, backup).Keep();
        test::WriteBytes(path, bytes);
        return backup;
    }
    void Build(const XmlManager& manager, const std::u16string& key) {
        const std::u16string path = GetFullPath(File(manager, key));
        RecordedEntry(manager.productKey, manager.runId, true, path, kBuiltFromScratch).Keep();
        CreateFolderPath(path);
        test::WriteBytes(path, "<built/>");
    }
    std::u16string Value(const XmlManager& manager, const std::u16string& key) const {
        return test::CurrentUserValue(ProductBackupKey(kProduct), GetFullPath(File(manager, key)));
    }

    test::ScratchFolder scratch;
    const std::u16string app = scratch / u"App";
    const std::vector<test::ActionRow> files = {
        FileRow(u"web", u"WEB~1.CON|web.config", app, 0),
        FileRow(u"kept", u"app.config", app, 64),
        FileRow(u"built", u"new.config", app + u"\\Sub\\Deeper", 8),
        FileRow(u"same", u"same.xml", app, 0),  // the driver finds nothing to change
    };
};

TEST_F(XmlTransactions, CommitDeletesTheBackupsThePackageDoesNotKeep) {
    test::WriteBytes(app + u"\\web.config", kWebConfig);
    test::WriteBytes(app + u"\\app.config", kAppConfig);
    auto manager = Manager(files);
    const std::u16string webBackup = Change(*manager, u"web", "<changed/>");
    const std::u16string appBackup = Change(*manager, u"kept", "<changed/>");
    Build(*manager, u"built");
    // Someone made the backup read-only: it goes all the same.
    ASSERT_TRUE(platform::SetFileAttributesW(webBackup, platform::kFileAttributeReadOnly));

    const auto commit = Manager(files);
    EXPECT_EQ(CommitXmlUpdates(*commit), 0);
    EXPECT_FALSE(test::FileExists(webBackup));
    EXPECT_EQ(test::ReadBytes(appBackup), kAppConfig);
    EXPECT_EQ(test::ReadBytes(app + u"\\Sub\\Deeper\\new.config"), "<built/>");
    // No record names a backup that is gone; the run records go.
    EXPECT_EQ(Value(*commit, u"web"), u"<absent>");
    EXPECT_EQ(Value(*commit, u"kept"), appBackup);
    EXPECT_EQ(Value(*commit, u"built"), u"*");
    EXPECT_EQ(test::CurrentUserValue(ProductBackupKey(kProduct), RunRecordName(app + u"\\app.config", u"R1")),
              u"<absent>");
}

// A later run (a repair, an upgrade) that fails rolls back its own changes
// only: the file the first run built stays, the kept backup of the first
// run stays, and every value is as the first run's commit left it.
TEST_F(XmlTransactions, RollbackOfALaterRunLeavesTheEarlierRunAsItWas) {
    test::WriteBytes(app + u"\\app.config", kAppConfig);
    auto first = Manager(files);
    const std::u16string keptBackup = Change(*first, u"kept", "<first run/>");
    Build(*first, u"built");
    CommitXmlUpdates(*Manager(files));
    const std::u16string built = GetFullPath(File(*first, u"built"));
    const std::u16string keptValue = Value(*first, u"kept"), builtValue = Value(*first, u"built");

    auto second = Manager(files, u"", {}, u"R2");
    const std::u16string secondBackup = Change(*second, u"kept", "<second run/>");
    Change(*second, u"built", "<built again/>");
    EXPECT_EQ(Value(*second, u"kept"), keptBackup + u"|" + secondBackup);
    RollbackXmlUpdates(*Manager(files, u"", {}, u"R2"));

    EXPECT_EQ(test::ReadBytes(app + u"\\app.config"), "<first run/>");
    EXPECT_EQ(test::ReadBytes(built), "<built/>");
    EXPECT_EQ(test::ReadBytes(keptBackup), kAppConfig);
    EXPECT_FALSE(test::FileExists(secondBackup));
    EXPECT_EQ(Value(*first, u"kept"), keptValue);
    EXPECT_EQ(Value(*first, u"built"), builtValue);
    // The first run's own rollback would still find nothing of its own.
    RollbackXmlUpdates(*Manager(files));
    EXPECT_EQ(test::ReadBytes(built), "<built/>");
}

TEST_F(XmlTransactions, LogLinesOfCollectionAndOfARollbackWithoutEntry) {
    test::TestSession session;
    ASSERT_TRUE(session.IsOpen());
    LogSession logging(session.Handle(), u"");
    auto manager = Manager({files[0], files[3]});
    const std::u16string web = app + u"\\web.config", same = app + u"\\same.xml";
    EXPECT_EQ(session.LogLines(),
              (std::vector<std::u16string>{u"CollectXmlData start.", u"Adding XML file: " + web,
                                           u"Adding XML file: " + same, u"ValidateXmlData start.",
                                           u"ValidateXmlData end.", u"CollectXmlData end."}));
    session.ClearMessages();
    RollbackXmlFile(*manager, File(*manager, u"same"));  // no run record: the file is not touched
    EXPECT_EQ(session.LogLines(), (std::vector<std::u16string>{u"RollbackXmlFile: " + same,
                                                               u"Not changed by this installation.",
                                                               u"RollbackXmlFile end."}));
}

}  // namespace
