// The file functions of platform/Files.h, run against the backend of the
// build: the sandbox on POSIX, the real file system under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "installer/WideString.h"
#include "platform/Files.h"
#include "support/ScratchFolder.h"

namespace {

using platform::GetLastError;

bool WriteBytes(const std::u16string& path, const std::string& bytes) {
    platform::File file = platform::File::Create(path);
    return file.IsOpen() && file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

bool ReadBytes(const std::u16string& path, std::string* bytes) {
    platform::File file = platform::File::OpenForRead(path);
    if (!file.IsOpen()) return false;
    bytes->clear();
    char buffer[7];  // small on purpose: the reads must continue where the last one stopped
    for (;;) {
        std::uint32_t read = 0;
        if (!file.Read(buffer, sizeof buffer, &read)) return false;
        if (read == 0) return true;
        bytes->append(buffer, read);
    }
}

std::set<std::u16string> FindAll(const std::u16string& pattern, std::uint32_t* endError = nullptr) {
    std::set<std::u16string> names;
    platform::FileFinder finder;
    platform::FindData data;
    if (!finder.First(pattern, &data)) return names;
    do {
        names.insert(data.name);
    } while (finder.Next(&data));
    if (endError != nullptr) *endError = GetLastError();
    return names;
}

TEST(PlatformFiles, WriteThenReadBackInPieces) {
    test::ScratchFolder folder;
    const std::u16string path = folder / u"data.bin";
    std::string content;
    for (int i = 0; i < 1000; ++i) content.push_back(static_cast<char>(i * 7));
    ASSERT_TRUE(WriteBytes(path, content));

    platform::File file = platform::File::OpenForRead(path);
    ASSERT_TRUE(file.IsOpen());
    std::uint64_t size = 0;
    ASSERT_TRUE(file.GetSize(&size));
    EXPECT_EQ(size, content.size());
    file.Close();
    EXPECT_FALSE(file.IsOpen());

    std::string back;
    ASSERT_TRUE(ReadBytes(path, &back));
    EXPECT_EQ(back, content);

    // Create truncates an existing file.
    ASSERT_TRUE(WriteBytes(path, "short"));
    ASSERT_TRUE(ReadBytes(path, &back));
    EXPECT_EQ(back, "short");
}

TEST(PlatformFiles, OpenFailuresTellWhatIsMissing) {
    test::ScratchFolder folder;
    struct Case {
        std::u16string path;
        std::uint32_t error;
    };
    const Case cases[] = {
        {folder / u"missing.txt", platform::kErrorFileNotFound},
        {folder / u"no-folder\\missing.txt", platform::kErrorPathNotFound},
        {folder.Path(), platform::kErrorAccessDenied},  // a folder is not a file
    };
    for (const Case& c : cases) {
        platform::SetLastError(0);
        platform::File file = platform::File::OpenForRead(c.path);
        EXPECT_FALSE(file.IsOpen()) << Narrow(c.path);
        EXPECT_EQ(GetLastError(), c.error) << Narrow(c.path);
    }
    EXPECT_FALSE(platform::File::Create(folder / u"no-folder\\new.txt").IsOpen());
    EXPECT_EQ(GetLastError(), platform::kErrorPathNotFound);
}

TEST(PlatformFiles, FoldersAreCreatedOnceAndRemovedWhenEmpty) {
    test::ScratchFolder folder;
    const std::u16string sub = folder / u"sub";
    ASSERT_TRUE(platform::CreateDirectoryW(sub));
    EXPECT_FALSE(platform::CreateDirectoryW(sub));
    EXPECT_EQ(GetLastError(), platform::kErrorAlreadyExists);
    EXPECT_NE(platform::GetFileAttributesW(sub) & platform::kFileAttributeDirectory, 0u);
    EXPECT_FALSE(platform::CreateDirectoryW(folder / u"missing\\sub"));
    EXPECT_EQ(GetLastError(), platform::kErrorPathNotFound);

    const std::u16string file = sub + u"\\file.txt";
    ASSERT_TRUE(WriteBytes(file, "x"));
    EXPECT_EQ(platform::GetFileAttributesW(file) & platform::kFileAttributeDirectory, 0u);
    EXPECT_FALSE(platform::RemoveDirectoryW(sub));
    EXPECT_EQ(GetLastError(), platform::kErrorDirNotEmpty);
    EXPECT_FALSE(platform::DeleteFileW(sub));  // DeleteFileW does not remove folders
    EXPECT_EQ(GetLastError(), platform::kErrorAccessDenied);

    ASSERT_TRUE(platform::DeleteFileW(file));
    EXPECT_TRUE(platform::RemoveDirectoryW(sub));
    EXPECT_FALSE(platform::PathFileExistsW(sub));
    EXPECT_EQ(platform::GetFileAttributesW(sub), platform::kInvalidFileAttributes);
    EXPECT_EQ(GetLastError(), platform::kErrorFileNotFound);
    EXPECT_FALSE(platform::RemoveDirectoryW(sub));
    EXPECT_EQ(GetLastError(), platform::kErrorFileNotFound);
}

TEST(PlatformFiles, FinderPatterns) {
    test::ScratchFolder folder;
    for (const char16_t* name : {u"a.txt", u"b.TXT", u"readme", u"c.xml", u"ab.txt"}) {
        ASSERT_TRUE(WriteBytes(folder / name, "12345"));
    }
    ASSERT_TRUE(platform::CreateDirectoryW(folder / u"sub"));
    using Names = std::set<std::u16string>;
    const Names everything{u".", u"..", u"a.txt", u"b.TXT", u"readme", u"c.xml", u"ab.txt", u"sub"};
    struct Case {
        const char16_t* pattern;
        Names names;
    };
    const Case cases[] = {
        {u"*", everything},
        {u"*.*", everything},  // names without a dot too
        {u"*.txt", {u"a.txt", u"b.TXT", u"ab.txt"}},
        {u"?.txt", {u"a.txt", u"b.TXT"}},
        {u"a*", {u"a.txt", u"ab.txt"}},
        {u"README", {u"readme"}},
        {u"*.XM?", {u"c.xml"}},
        {u"s*", {u"sub"}},
        {u"none*", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindAll(folder / c.pattern), c.names) << Narrow(c.pattern);
    }

    std::uint32_t endError = 0;
    FindAll(folder / u"*.txt", &endError);
    EXPECT_EQ(endError, platform::kErrorNoMoreFiles);

    platform::FileFinder finder;
    platform::FindData data;
    EXPECT_FALSE(finder.First(folder / u"none*", &data));
    EXPECT_EQ(GetLastError(), platform::kErrorFileNotFound);
    EXPECT_FALSE(finder.First(folder / u"missing\\*", &data));
    EXPECT_EQ(GetLastError(), platform::kErrorPathNotFound);

    ASSERT_TRUE(finder.First(folder / u"readme", &data));
    EXPECT_EQ(data.size, 5u);
    EXPECT_EQ(data.attributes & platform::kFileAttributeDirectory, 0u);
    ASSERT_TRUE(finder.First(folder / u"sub", &data));
    EXPECT_NE(data.attributes & platform::kFileAttributeDirectory, 0u);
    finder.Close();
}

// Uniqueness and emptiness are SecureTempFolder.GivesUniqueEmptyFilesInOneCachedFolder's.
TEST(PlatformFiles, TempFileNamesNeedAFolder) {
    test::ScratchFolder folder;
    EXPECT_TRUE(platform::GetTempFileNameW(folder / u"missing", u"tmp").empty());
    EXPECT_EQ(GetLastError(), 267u);  // ERROR_DIRECTORY
}

TEST(PlatformFiles, PathIsUNC) {
    struct Case {
        const char16_t* path;
        bool unc;
    };
    const Case cases[] = {
        {u"\\\\server\\share\\file", true},
        {u"\\\\server", true},
        {u"\\\\?\\UNC\\server\\share\\file", true},
        {u"\\\\?\\C:\\dir\\file", false},
        {u"C:\\dir", false},
        {u"\\dir", false},
        {u"dir\\file", false},
        {u"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::PathIsUNCW(c.path), c.unc) << Narrow(c.path);
    }
}

}  // namespace
