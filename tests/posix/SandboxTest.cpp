// The POSIX stand-in for a Windows machine: how Windows paths map into the
// sandbox folder, the Windows behaviour the POSIX file functions add on top
// of Linux (read-only files, MAX_PATH, attributes, message texts), and the
// secure temporary folder of each account.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "installer/WideString.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"
#include "platform/System.h"
#include "platform/posix/Sandbox.h"
#include "posix/PosixTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;
using platform::posix::MapWindowsPath;

class Sandbox : public ::testing::Test {
protected:
    std::string Map(const std::u16string& path) {
        std::string mapped;
        EXPECT_TRUE(MapWindowsPath(path, &mapped)) << Narrow(path);
        return mapped;
    }

    void MakeFile(const std::string& relative) {
        fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
        std::ofstream(root_ + "/" + relative) << "x";
    }

    test::SandboxRootScope sandbox_;
    const std::string root_ = sandbox_.Path().string();
};

TEST_F(Sandbox, MapsEachFormOfWindowsPath) {
    struct Case {
        std::u16string windows;
        std::string posix;  // relative to the root unless it is a relative path
        bool underRoot;
    };
    const Case cases[] = {
        {u"C:\\dir\\file.txt", "/C/dir/file.txt", true},
        {u"c:\\dir\\file.txt", "/C/dir/file.txt", true},
        {u"D:/dir/file.txt", "/D/dir/file.txt", true},
        {u"C:\\", "/C", true},
        {u"C:\\dir\\\\file\\", "/C/dir/file", true},
        {u"\\\\?\\C:\\dir\\file.txt", "/C/dir/file.txt", true},
        {u"\\\\?\\e:\\x", "/E/x", true},
        {u"\\\\server\\share\\dir\\x.txt", "/UNC/server/share/dir/x.txt", true},
        {u"\\\\?\\UNC\\server\\share\\x.txt", "/UNC/server/share/x.txt", true},
        {u"\\\\?\\unc\\server\\share", "/UNC/server/share", true},
        {u"C:\\a\\.\\b\\..\\c", "/C/a/c", true},
        {u"C:\\..\\..\\x", "/C/x", true},
        {u"\\\\server\\share\\..\\..\\x", "/UNC/server/share/x", true},
        {u"\\rooted\\x", "/C/rooted/x", true},
        {u"dir\\file.txt", "dir/file.txt", false},
        {u"..\\up\\x", "../up/x", false},
        {u"a\\..\\..\\b", "../b", false},
        {u"name", "name", false},
        {u"C:\\caf\u00e9\\\u4e2d.txt", "/C/caf\xc3\xa9/\xe4\xb8\xad.txt", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Map(c.windows), (c.underRoot ? root_ : std::string()) + c.posix) << Narrow(c.windows);
    }
}

TEST_F(Sandbox, RefusesPathsWithoutAPlace) {
    const std::u16string refused[] = {
        u"C:relative", u"C:", u"\\\\.\\pipe\\name", u"\\\\?\\Volume{0}\\x", u"\\\\?\\", u"\\\\",
        u"C:\\a<b", u"C:\\a>b", u"C:\\a|b", u"C:\\a\"b", u"C:\\a?b", u"C:\\a*b", u"C:\\file:stream",
        u"C:\\tab\there", std::u16string(u"C:\\lone\xD800surrogate"),
    };
    for (const std::u16string& path : refused) {
        std::string mapped = "unchanged";
        EXPECT_FALSE(MapWindowsPath(path, &mapped)) << Narrow(path);
        EXPECT_EQ(mapped, "unchanged");
    }
    EXPECT_FALSE(platform::File::Create(u"C:\\a*b").IsOpen());
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidName);
}

TEST_F(Sandbox, FindsExistingNamesWithoutRegardToCase) {
    MakeFile("C/Program Files/App/web.config");
    MakeFile("C/Program Files/App/\xc3\x84rger.txt");  // Ä
    EXPECT_EQ(Map(u"C:\\PROGRAM FILES\\app\\WEB.CONFIG"), root_ + "/C/Program Files/App/web.config");
    EXPECT_EQ(Map(u"\\\\?\\c:\\program files\\APP\\\u00e4RGER.TXT"), root_ + "/C/Program Files/App/\xc3\x84rger.txt");
    // Below the first missing name the given case stays.
    EXPECT_EQ(Map(u"C:\\program files\\APP\\New\\Sub\\File.TXT"), root_ + "/C/Program Files/App/New/Sub/File.TXT");

    // The file functions use the same lookup.
    EXPECT_TRUE(platform::PathFileExistsW(u"c:\\program files\\app\\Web.Config"));
    platform::FileFinder finder;
    platform::FindData data;
    ASSERT_TRUE(finder.First(u"C:\\PROGRAM FILES\\APP\\WEB.*", &data));
    EXPECT_EQ(data.name, u"web.config");
}

TEST_F(Sandbox, PrefersTheExactName) {
    fs::create_directories(root_ + "/C/Data");
    fs::create_directories(root_ + "/C/data");
    EXPECT_EQ(Map(u"C:\\data\\x"), root_ + "/C/data/x");
    EXPECT_EQ(Map(u"C:\\Data\\x"), root_ + "/C/Data/x");
    EXPECT_EQ(Map(u"C:\\DATA\\x"), root_ + "/C/Data/x");  // the first in byte order
}

TEST_F(Sandbox, PathsWithoutThePrefixStopAtMaxPath) {
    const std::u16string first = u"C:\\" + std::u16string(100, u'a');
    const std::u16string second = first + u"\\" + std::u16string(100, u'b');
    ASSERT_TRUE(platform::CreateDirectoryW(first));
    ASSERT_TRUE(platform::CreateDirectoryW(second));
    const std::u16string fits = second + u"\\" + std::u16string(54, u'c');
    const std::u16string tooLong = second + u"\\" + std::u16string(55, u'c');
    ASSERT_EQ(fits.size(), 259u);
    EXPECT_TRUE(platform::File::Create(fits).IsOpen());
    EXPECT_FALSE(platform::File::Create(tooLong).IsOpen());
    EXPECT_EQ(platform::GetLastError(), 206u);  // ERROR_FILENAME_EXCED_RANGE
    EXPECT_TRUE(platform::File::Create(u"\\\\?\\" + tooLong).IsOpen());

    // New folders stop 12 characters earlier, leaving room for an 8.3 name.
    const std::u16string folder247 = second + u"\\" + std::u16string(42, u'd');
    ASSERT_EQ(folder247.size(), 247u);
    EXPECT_TRUE(platform::CreateDirectoryW(folder247));
    EXPECT_FALSE(platform::CreateDirectoryW(folder247 + u"e"));
    EXPECT_EQ(platform::GetLastError(), 206u);
    EXPECT_TRUE(platform::CreateDirectoryW(u"\\\\?\\" + folder247 + u"e"));
}

TEST_F(Sandbox, ReadOnlyIsTheOwnerWriteBitAndHoldsForRoot) {
    const std::u16string path = u"C:\\locked.txt";
    ASSERT_TRUE(platform::File::Create(path).Write("keep", 4));
    ASSERT_TRUE(platform::SetFileAttributesW(path, platform::kFileAttributeReadOnly));
    struct stat st;
    ASSERT_EQ(stat((root_ + "/C/locked.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    // Windows refuses to overwrite a read-only file, whoever asks.
    EXPECT_FALSE(platform::File::Create(path).IsOpen());
    EXPECT_EQ(platform::GetLastError(), platform::kErrorAccessDenied);
    EXPECT_EQ(fs::file_size(root_ + "/C/locked.txt"), 4u);

    ASSERT_TRUE(platform::SetFileAttributesW(path, platform::kFileAttributeNormal));
    ASSERT_EQ(stat((root_ + "/C/locked.txt").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST_F(Sandbox, AttributesWithoutAPlaceAreIgnored) {
    ASSERT_TRUE(platform::File::Create(u"C:\\file.txt").IsOpen());
    EXPECT_TRUE(platform::SetFileAttributesW(u"C:\\file.txt", platform::kFileAttributeHidden));
    EXPECT_EQ(platform::GetFileAttributesW(u"C:\\file.txt"), platform::kFileAttributeNormal);

    ASSERT_TRUE(platform::CreateDirectoryW(u"C:\\folder"));
    EXPECT_TRUE(platform::SetFileAttributesW(u"C:\\folder", platform::kFileAttributeReadOnly));
    EXPECT_EQ(platform::GetFileAttributesW(u"C:\\folder"), platform::kFileAttributeDirectory);
    EXPECT_TRUE(platform::File::Create(u"C:\\folder\\inside.txt").IsOpen());

    ASSERT_EQ(symlink((root_ + "/C/folder").c_str(), (root_ + "/C/link").c_str()), 0);
    EXPECT_EQ(platform::GetFileAttributesW(u"C:\\link"),
              platform::kFileAttributeDirectory | platform::kFileAttributeReparsePoint);
    EXPECT_TRUE(platform::RemoveDirectoryW(u"C:\\link"));  // the link goes, the folder stays
    EXPECT_TRUE(fs::exists(root_ + "/C/folder/inside.txt"));
}

// The temporary folder of LocalSystem is one that only it and the
// Administrators reach; the stand-in makes such a folder private to its owner.
struct ProcessSid {
    explicit ProcessSid(const char* sid) { setenv("TRELLIS_PROCESS_SID", sid, 1); }
    ~ProcessSid() { unsetenv("TRELLIS_PROCESS_SID"); }
};

TEST(SecureTempFolder, LocalSystemGetsAPrivateSystemTemp) {
    test::UsePrivateSandbox();
    const ProcessSid system("S-1-5-18");
    const std::u16string folder = ComputeSecureTempFolder();
    EXPECT_EQ(folder, u"C:\\Windows\\SystemTemp");
    std::string mapped;
    ASSERT_TRUE(platform::posix::MapWindowsPath(folder, &mapped));
    struct stat info {};
    ASSERT_EQ(stat(mapped.c_str(), &info), 0) << mapped;
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(ComputeSecureTempFolder(), folder) << "an existing folder is used as it is";
}

}  // namespace
