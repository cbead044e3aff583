// The backup registry as a state machine over the registry of the backend
// (the stand-in's file on POSIX, Wine's registry under Wine), and the backup
// files it records: their names, taking and restoring them.
#include <gtest/gtest.h>

#include "custact/XML/src/xml/BackupFiles.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/FolderPath.h"
#include "installer/Exception.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/os/FileSystem.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

const std::u16string kProduct = u"{6F1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}";
const std::u16string kOtherProduct = u"{0A0B0C0D-1111-2222-3333-444455556666}";
const std::u16string kTarget = u"C:\\App\\web.config";
const std::u16string kTrellis = u"Software\\Norrvik\\Quillmark\\Trellis";

class BackupRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        test::DeleteNorrvikTree();
        test::WriteBytes(b1, "first");
        test::WriteBytes(b2, "second");
    }
    void TearDown() override { test::DeleteNorrvikTree(); }

    std::u16string Value(const std::u16string& product = kProduct) const {
        return test::CurrentUserValue(ProductBackupKey(product), kTarget);
    }
    // "B1", "B2" and "GONE" stand for two existing backups and a missing one.
    std::u16string Expand(std::u16string text) const {
        for (const auto& [name, path] : {std::pair{u"B1", b1}, {u"B2", b2}, {u"GONE", gone}}) {
            for (std::size_t at = text.find(name); at != std::u16string::npos; at = text.find(name))
                text.replace(at, std::u16string(name).size(), path);
        }
        return text;
    }

    test::ScratchFolder scratch;
    const std::u16string b1 = scratch / u"web.config.back";
    const std::u16string b2 = scratch / u"web.config.1.back";
    const std::u16string gone = scratch / u"web.config.2.back";
};

// Which values a recorded entry extends: the marker and the backups that
// still exist, oldest first; missing backups are dropped; "*" starts afresh.
TEST_F(BackupRegistry, RecordedEntryExtendsOnlyWhatStillExists) {
    struct Case {
        const char16_t* before;  // nullptr: no value
        const char16_t* entry;
        const char16_t* after;
        const char16_t* acted;  // what EntryToActOn gives then
    };
    const Case cases[] = {
        {nullptr, u"B1", u"B1", u"B1"},
        {nullptr, u"*", u"*", u"*"},
        {u"", u"B1", u"B1", u"B1"},
        {u"*", u"B1", u"*|B1", u"B1"},
        {u"B1", u"B2", u"B1|B2", u"B1"},
        {u"GONE", u"B2", u"B2", u"B2"},
        {u"*|GONE", u"B2", u"*|B2", u"B2"},
        {u"*|B1", u"B2", u"*|B1|B2", u"B1"},
        {u"B1||GONE|", u"B2", u"B1|B2", u"B1"},
        {u"B1", u"B1", u"B1", u"B1"},
        {u"B1|*", u"B2", u"*|B1|B2", u"B1"},
        {u"*|B1", u"*", u"*", u"*"},
    };
    for (const Case& c : cases) {
        test::DeleteNorrvikTree();
        if (c.before != nullptr) test::SetCurrentUserValue(ProductBackupKey(kProduct), kTarget, Expand(c.before));
        RecordedEntry(kProduct, u"run", false, kTarget, Expand(c.entry)).Keep();
        const std::string label = Narrow(c.before ? c.before : u"(none)") + " + " + Narrow(c.entry);
        EXPECT_EQ(Value(), Expand(c.after)) << label;
        EXPECT_EQ(EntryToActOn(Value()), Expand(c.acted)) << label;
    }
}

// A run's first change writes its run record; a later change of the same
// run keeps it. An entry dropped without Keep() leaves the registry exactly
// as it found it, whatever was there.
TEST_F(BackupRegistry, RunRecordsAndUndoneEntries) {
    const std::u16string record = RunRecordName(kTarget, u"R");
    for (const char16_t* before : {static_cast<const char16_t*>(nullptr), u"", u"*", u"B1"}) {
        const std::string label = Narrow(before ? before : u"(none)");
        test::DeleteNorrvikTree();
        if (before != nullptr) test::SetCurrentUserValue(ProductBackupKey(kProduct), kTarget, Expand(before));
        { RecordedEntry dropped(kProduct, u"R", true, kTarget, b2); }
        EXPECT_EQ(Value(), before ? Expand(before) : u"<absent>") << label;
        EXPECT_EQ(test::CurrentUserValue(ProductBackupKey(kProduct), record), u"<absent>") << label;
        EXPECT_EQ(test::CurrentUserKeyExists(ProductBackupKey(kProduct)), before != nullptr) << label;

        RecordedEntry(kProduct, u"R", true, kTarget, b2).Keep();
        RecordedEntry(kProduct, u"R", true, kTarget, b1).Keep();
        const std::u16string text = test::CurrentUserValue(ProductBackupKey(kProduct), record);
        RunRecord parsed;
        ASSERT_TRUE(ParseRunRecord(text, &parsed)) << label;
        EXPECT_EQ(parsed.undo, b2) << label;
        EXPECT_EQ(parsed.before.present, before != nullptr) << label;
        EXPECT_EQ(parsed.before.text, before ? Expand(before) : u"") << label;
        EXPECT_EQ(FormatRunRecord(parsed), text) << label;
    }
    for (const char16_t* damaged : {u"", u"x", u"|-", u"x|", u"x|-y", u"x|?"}) {
        RunRecord parsed;
        EXPECT_FALSE(ParseRunRecord(damaged, &parsed)) << Narrow(damaged);
    }
}

TEST_F(BackupRegistry, KeysGoExactlyWhenNothingLivesInThem) {
    const auto AddBackupEntry = [](const std::u16string& product, const std::u16string& target,
                                   const std::u16string& entry) {
        RecordedEntry(product, u"", false, target, entry).Keep();
    };
    AddBackupEntry(kProduct, kTarget, u"*");
    AddBackupEntry(kOtherProduct, kTarget, u"*");
    DeleteProductBackupKey(kProduct);
    EXPECT_FALSE(test::CurrentUserKeyExists(ProductBackupKey(kProduct)));
    EXPECT_TRUE(test::CurrentUserKeyExists(kTrellis));  // the other product still lives there

    WriteSavedPermissionsValue(u"{UPGRADE}", u"saved");
    DeleteProductBackupKey(kOtherProduct);
    EXPECT_TRUE(test::CurrentUserKeyExists(kTrellis));  // held by the saved permissions value
    DeleteSavedPermissionsValue(u"{UPGRADE}");
    EXPECT_FALSE(test::CurrentUserKeyExists(u"Software\\Norrvik"));
    EXPECT_TRUE(test::CurrentUserKeyExists(u"Software"));

    // A value of Quillmark keeps it and Norrvik; a subkey of Norrvik keeps Norrvik.
    test::SetCurrentUserValue(u"Software\\Norrvik\\Quillmark", u"Other", u"x");
    AddBackupEntry(kProduct, kTarget, u"*");
    DeleteProductBackupKey(kProduct);
    EXPECT_FALSE(test::CurrentUserKeyExists(kTrellis));
    EXPECT_TRUE(test::CurrentUserKeyExists(u"Software\\Norrvik\\Quillmark"));
    test::DeleteNorrvikTree();
    test::SetCurrentUserValue(u"Software\\Norrvik\\Sibling", u"Other", u"x");
    AddBackupEntry(kProduct, kTarget, u"*");
    DeleteProductBackupKey(kProduct);
    EXPECT_FALSE(test::CurrentUserKeyExists(u"Software\\Norrvik\\Quillmark"));
    EXPECT_TRUE(test::CurrentUserKeyExists(u"Software\\Norrvik\\Sibling"));
}

// Backup names, taking and restoring backups, and the folders of a file
// built from scratch, on either backend.
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
