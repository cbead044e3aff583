// The temporary folder of LocalSystem is one that only it and the
// Administrators reach; the stand-in makes such a folder private to its owner.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "platform/os/FileSystem.h"
#include "platform/posix/Sandbox.h"
#include "support/ScratchFolder.h"

namespace {

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

TEST(SecureTempFolder, OtherAccountsGetTheirTempPath) {
    test::UsePrivateSandbox();
    const ProcessSid user("S-1-5-21-1-2-3-1001");
    const std::u16string folder = ComputeSecureTempFolder();
    EXPECT_FALSE(folder.empty());
    EXPECT_NE(folder, u"C:\\Windows\\SystemTemp");
    EXPECT_NE(folder.back(), u'\\');
}

}  // namespace
