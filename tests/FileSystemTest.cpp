// Path helpers (pure text), the file helpers, and whole files put in place
// in one step (ReplaceFileW and MoveFileExW under Wine, rename in the
// sandbox), on either backend.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/os/AtomicFile.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"
#include "support/TestSession.h"

namespace {

using Case = std::pair<std::u16string, std::u16string>;

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

TEST(PathHelpers, ToLongPath) {
    const std::u16string drive247 = u"C:\\" + Repeat(u'a', 244);
    const std::u16string drive248 = u"C:\\" + Repeat(u'a', 245);
    const std::u16string unc248 = u"\\\\server\\share\\" + Repeat(u'b', 233);
    ASSERT_EQ(drive247.size(), 247u);
    ASSERT_EQ(unc248.size(), 248u);
    const Case cases[] = {
        {drive247, drive247},
        {drive248, u"\\\\?\\" + drive248},
        {u"\\\\?\\" + drive248, u"\\\\?\\" + drive248},
        {unc248, u"\\\\?\\UNC\\server\\share\\" + Repeat(u'b', 233)},
        {u"\\\\?\\UNC\\server\\share\\" + Repeat(u'b', 240), u"\\\\?\\UNC\\server\\share\\" + Repeat(u'b', 240)},
        {u"\\\\server\\share\\short", u"\\\\server\\share\\short"},
        {u"relative\\" + Repeat(u'c', 300), u"relative\\" + Repeat(u'c', 300)},
        {u"", u""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(ToLongPath(in), out) << in.size();
        EXPECT_EQ(ToLongPath(ToLongPath(in)), out) << "twice " << in.size();
        if (in.rfind(u"\\\\?\\", 0) != 0) {
            EXPECT_EQ(StripLongPathPrefix(ToLongPath(in)), in) << in.size();
        }
    }
    EXPECT_EQ(StripLongPathPrefix(u"\\\\?\\unc\\srv\\a"), u"unc\\srv\\a");  // the prefix test is case-sensitive
}

TEST(PathHelpers, NormalizeBackslashes) {
    const Case cases[] = {
        {u"C:\\dir\\\\sub\\\\\\file\\", u"C:\\dir\\sub\\file"},
        {u"\\\\\\\\server\\\\share\\\\dir\\", u"\\\\server\\share\\dir"},
        {u"\\\\server\\share", u"\\\\server\\share"},
        {u"\\\\\\dir", u"\\\\dir"},
        {u"\\dir\\", u"dir"},
        {u"\\\\", u""},
        {u"\\", u""},
        {u"plain", u"plain"},
        {u"", u""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeBackslashes(in), out) << Narrow(in);
}

class FileHelpersTest : public ::testing::Test {
protected:
    test::ScratchFolder scratch;
};

TEST_F(FileHelpersTest, DeletionLogsWhatFailed) {
    test::TestSession session;
    ASSERT_TRUE(session.IsOpen());
    LogSession on(session.Handle(), u"");
    const auto missing = scratch / u"missing.txt";
    EXPECT_FALSE(DeleteFileLogged(missing));
    EXPECT_FALSE(DeleteDirectoryLogged(scratch / u"missing-dir"));
    const auto lines = session.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    const std::u16string fileLine = u"Failed to delete file: " + missing + u" LastError= 2-";
    EXPECT_EQ(lines[0].substr(0, fileLine.size()), fileLine);
    EXPECT_GT(lines[0].size(), fileLine.size()) << "the system's text follows the code";
    EXPECT_EQ(lines[1].rfind(u"Failed to delete directory: ", 0), 0u);

    ASSERT_TRUE(WriteWholeFile(scratch / u"there.txt", "x"));
    EXPECT_TRUE(DeleteFileLogged(scratch / u"there.txt"));
    EXPECT_FALSE(PathExists(scratch / u"there.txt"));
}

TEST(SecureTempFolder, GivesUniqueEmptyFilesInOneCachedFolder) {
    test::UsePrivateSandbox();
    const std::u16string& folder = GetSecureTempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), u'\\');
    EXPECT_EQ(&folder, &GetSecureTempFolder());
    std::set<std::u16string> names;
    for (int i = 0; i < 5; ++i) {
        const std::u16string file = CreateTempFile();
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(GetParentPath(file), folder);
        EXPECT_EQ(GetFileNamePart(file).substr(0, 3), u"per");
        std::string bytes = "not empty";
        ASSERT_TRUE(ReadWholeFile(file, &bytes));
        EXPECT_TRUE(bytes.empty());
        names.insert(file);
    }
    EXPECT_EQ(names.size(), 5u);
    for (const auto& file : names) EXPECT_TRUE(DeleteFileLogged(file));
}

// Whole files put in place in one step, against the backend of the build:
// ReplaceFileW and MoveFileExW under Wine, rename in the sandbox.

TEST(AtomicReplaceFile, EachModeOverEachKindOfTarget) {
    enum Before { kNothing, kFile, kHidden, kReadOnly, kFolder, kTakenTemporaryName };
    struct Case {
        const char* name;
        ReplaceMode mode;
        Before before;
        std::uint32_t error;  // 0: the new bytes are in place
    };
    const Case cases[] = {
        {"an existing file is replaced", ReplaceMode::ExistingFile, kFile, 0},
        {"and keeps its attributes", ReplaceMode::ExistingFile, kHidden, 0},
        {"a taken temporary name moves on", ReplaceMode::ExistingFile, kTakenTemporaryName, 0},
        {"a new file is made", ReplaceMode::NewFile, kNothing, 0},
        {"either way, new", ReplaceMode::EitherWay, kNothing, 0},
        {"either way, existing", ReplaceMode::EitherWay, kFile, 0},
        {"an existing file is not there", ReplaceMode::ExistingFile, kNothing, platform::kErrorFileNotFound},
        {"a new file is there already", ReplaceMode::NewFile, kFile, platform::kErrorAlreadyExists},
        {"a read-only file", ReplaceMode::ExistingFile, kReadOnly, platform::kErrorAccessDenied},
        {"a folder", ReplaceMode::EitherWay, kFolder, platform::kErrorAccessDenied},
    };
    const std::string old = "<old/>\r\n", fresh = "<new>\r\n</new>\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchFolder folder;
        const std::u16string target = folder / u"web.config";
        const std::u16string taken = TemporaryFileName(target, 1);
        bool prepared = true;
        if (c.before == kFolder) prepared = platform::CreateDirectoryW(target);
        if (c.before != kNothing && c.before != kFolder) prepared = WriteWholeFile(target, old);
        if (c.before == kTakenTemporaryName) prepared = prepared && WriteWholeFile(taken, "someone's");
        if (c.before == kHidden) prepared = platform::SetFileAttributesW(target, platform::kFileAttributeHidden);
        if (c.before == kReadOnly) prepared = platform::SetFileAttributesW(target, platform::kFileAttributeReadOnly);
        ASSERT_TRUE(prepared);
        const std::uint32_t attributes = platform::GetFileAttributesW(target);

        FileWriteFailure failure;
        EXPECT_EQ(AtomicReplaceFile(target, fresh, c.mode, &failure), c.error == 0);
        EXPECT_EQ(failure.error, c.error);
        std::string bytes;
        const bool readable = ReadWholeFile(target, &bytes);
        if (c.error == 0) {
            EXPECT_EQ(bytes, fresh);
            if (c.before != kNothing) {
                EXPECT_EQ(platform::GetFileAttributesW(target), attributes);
            }
        } else {
            EXPECT_EQ(readable, c.before == kFile || c.before == kReadOnly);
            if (readable) {
                EXPECT_EQ(bytes, old);
            }
        }
        // Nothing else is left in the folder.
        std::vector<std::u16string> expected;
        if (c.before != kNothing || c.error == 0) expected.push_back(u"web.config");
        if (c.before == kTakenTemporaryName) {
            expected.push_back(u"web.config.trellis-1.tmp");
            EXPECT_TRUE(ReadWholeFile(taken, &bytes) && bytes == "someone's");
        }
        EXPECT_EQ(test::FolderNames(folder.Path()), expected);
        if (c.before == kReadOnly) platform::SetFileAttributesW(target, platform::kFileAttributeNormal);
    }
}

}  // namespace
