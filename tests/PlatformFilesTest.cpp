// The file and system functions of platform/Files.h and platform/System.h
// (GUID texts, the environment, WOW64), run against the backend of the
// build: the sandbox on POSIX, the real system under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "installer/WideString.h"
#include "platform/Files.h"
#include "platform/System.h"
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

// GUID parsing, environment, process identity and WOW64 of platform/System.h
// on both backends.
void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void UnsetEnvironment(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

TEST(PlatformSystem, GuidTextsAndTheirBytes) {
    platform::Guid guid{};
    ASSERT_TRUE(platform::CLSIDFromString(u"{00112233-4455-6677-8899-AABBCCDDEEFF}", &guid));
    // Data1, Data2 and Data3 are little-endian in memory, Data4 in text order.
    const platform::Guid expected = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                     0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(guid, expected);
    platform::Guid lower{};
    ASSERT_TRUE(platform::CLSIDFromString(u"{00112233-4455-6677-8899-aabbccddeeff}", &lower));
    EXPECT_EQ(lower, expected);

    const char16_t* const rejected[] = {
        u"00112233-4455-6677-8899-AABBCCDDEEFF",     // no braces
        u"{00112233-4455-6677-8899-AABBCCDDEEF}",    // one digit short
        u"{00112233-4455-6677-8899-AABBCCDDEEFFF}",  // one digit more
        u"{0011223-34455-6677-8899-AABBCCDDEEFF}",   // dash out of place
        u"{00112233-4455-6677-8899-AABBCCDDEEFG}",   // not hex
        u"{00112233 4455-6677-8899-AABBCCDDEEFF}",
        u"(00112233-4455-6677-8899-AABBCCDDEEFF)",
        u"Scripting.FileSystemObject",               // a ProgID is no GUID text
        u"",
    };
    for (const char16_t* text : rejected) {
        EXPECT_FALSE(platform::CLSIDFromString(text, &guid)) << std::u16string(text).size();
    }
}

TEST(PlatformSystem, EnvironmentVariables) {
    SetEnvironment("TRELLIS_TEST_VARIABLE", "some value");
    bool exists = false;
    EXPECT_EQ(platform::GetEnvironmentVariableW(u"TRELLIS_TEST_VARIABLE", &exists), u"some value");
    EXPECT_TRUE(exists);
    EXPECT_EQ(platform::GetEnvironmentVariableW(u"trellis_test_variable"), u"some value");  // names ignore case
    UnsetEnvironment("TRELLIS_TEST_VARIABLE");
    EXPECT_EQ(platform::GetEnvironmentVariableW(u"TRELLIS_TEST_VARIABLE", &exists), u"");
    EXPECT_FALSE(exists);
    EXPECT_EQ(platform::GetLastError(), 203u);  // ERROR_ENVVAR_NOT_FOUND
}

// The tests run as 64-bit programs, which have no file-system redirection.
TEST(PlatformSystem, NoRedirectionOutsideWow64) {
    if (platform::IsWow64Process()) GTEST_SKIP() << "a 32-bit build under WOW64";
    void* old = reinterpret_cast<void*>(1);
    EXPECT_FALSE(platform::Wow64DisableWow64FsRedirection(&old));
    EXPECT_EQ(platform::GetLastError(), 1u);  // ERROR_INVALID_FUNCTION
}

}  // namespace
