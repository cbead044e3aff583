// Path helpers (pure text) and the file helpers on either backend.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "installer/Logger.h"
#include "platform/Files.h"
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

}  // namespace
