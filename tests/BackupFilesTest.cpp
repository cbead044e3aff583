// Backup names, taking and restoring backups, and the folders of a file
// built from scratch, on either backend.
#include <gtest/gtest.h>

#include "custact/XML/src/xml/BackupFiles.h"
#include "custact/XML/src/xml/FolderPath.h"
#include "installer/Exception.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

TEST(BackupFileName, PatternsAndCounters) {
    struct Case {
        const char16_t* pattern;
        const char16_t* names[3];  // counters 0, 1, 2
    };
    const Case cases[] = {
        {u"", {u"web.config.back", u"web.config.1.back", u"web.config.2.back"}},
        {u"#-old.xml", {u"old.xml", u"1-old.xml", u"2-old.xml"}},        // "#" at the start
        {u"backup-#", {u"backup", u"backup-1", u"backup-2"}},            // "#" at the end
        {u"#.bak#", {u".bak", u"1.bak", u"2.bak"}},                      // both: the end rule wins
        {u"cfg.#.old#ignored", {u"cfg.old", u"cfg.1.old", u"cfg.2.old"}},  // two "#": the text after the second goes
        {u"web.save", {u"web.save", u"web.save1", u"web.save2"}},        // no "#": appended
        {u"web.save.", {u"web.save", u"web.save.1", u"web.save.2"}},
        {u"cfg+#", {u"cfg+", u"cfg+1", u"cfg+2"}},                       // "+" is no separator
    };
    for (const Case& c : cases) {
        for (int counter = 0; counter < 3; ++counter) {
            EXPECT_EQ(BuildBackupFileName(u"C:\\App\\web.config", c.pattern, counter),
                      u"C:\\App\\" + std::u16string(c.names[counter]))
                << Narrow(c.pattern) << " counter " << counter;
        }
    }
    EXPECT_EQ(BuildBackupFileName(u"web.config", u"", 0), u"web.config.back");  // no folder
}

class BackupFiles : public ::testing::Test {
protected:
    test::ScratchFolder scratch;
    const std::u16string target = scratch / u"web.config";
    const std::string original = "\xEF\xBB\xBF<configuration>\r\n\t<appSettings/>\r\n</configuration>\r\n";
};

TEST_F(BackupFiles, TakenNamesMoveTheCounterOn) {
    EXPECT_EQ(BackupTargetFile(target, u"", original), target + u".back");
    EXPECT_EQ(BackupTargetFile(target, u"", original), target + u".1.back");
    // A folder takes a name as well as a file does.
    ASSERT_TRUE(platform::CreateDirectoryW(target + u".2.back"));
    EXPECT_EQ(BackupTargetFile(target, u"", original), target + u".3.back");
    for (const char16_t* suffix : {u".back", u".1.back", u".3.back"}) {
        EXPECT_EQ(test::ReadBytes(target + suffix), original) << Narrow(suffix);
    }
}

TEST_F(BackupFiles, RestoreCopiesOverReadOnlyTargetsAndKeepsTheBackup) {
    const std::u16string backup = scratch / u"web.config.back";
    test::WriteBytes(backup, original);
    test::WriteBytes(target, "changed");
    ASSERT_TRUE(platform::SetFileAttributesW(target, platform::kFileAttributeReadOnly));
    EXPECT_TRUE(RestoreBackupFile(target, backup));
    EXPECT_EQ(test::ReadBytes(target), original);
    EXPECT_EQ(test::ReadBytes(backup), original);

    EXPECT_FALSE(RestoreBackupFile(target, u""));
    EXPECT_FALSE(RestoreBackupFile(target, scratch / u"missing.back"));
    EXPECT_EQ(test::ReadBytes(target), original);
}

}  // namespace
