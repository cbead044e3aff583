// The POSIX registry is one text file shared by every process of a sandbox:
// each call re-reads it under a lock, so a forked process sees the parent's
// changes and the other way round, and concurrent writers lose nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "posix/PosixTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

const std::u16string kKeyPath = u"Software\\TrellisTest\\Processes";

std::vector<std::uint8_t> Bytes(const std::u16string& text) {
    std::vector<std::uint8_t> bytes((text.size() + 1) * 2);
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

long SetText(HKey key, const std::u16string& name, const std::u16string& text) {
    const auto bytes = Bytes(text);
    return RegSetValueExW(key, name, kRegSz, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

bool HasText(HKey key, const std::u16string& name, const std::u16string& text) {
    std::vector<std::uint8_t> data(512);
    std::uint32_t size = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = 0;
    if (RegQueryValueExW(key, name, &type, data.data(), &size) != kRegSuccess) return false;
    data.resize(size);
    return type == kRegSz && data == Bytes(text);
}

std::u16string Numbered(const char16_t* prefix, int n) {
    std::u16string name = prefix;
    for (char c : std::to_string(n)) name += static_cast<char16_t>(c);
    return name;
}

class RegistryProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(kHKeyCurrentUser, kKeyPath, kKeyAllAccess, &key_), kRegSuccess);
    }
    void TearDown() override { RegCloseKey(key_); }

    // Runs `child` in a forked process; its result is the exit status.
    template <typename Child>
    pid_t Fork(Child child) {
        const pid_t pid = fork();
        if (pid == 0) _exit(child());
        return pid;
    }

    static int ExitStatus(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    std::string RegistryText() const { return test::ReadFile(root_ + "/registry/registry.txt"); }

    test::SandboxRootScope sandbox_;
    const std::string root_ = sandbox_.Path().string();
    HKey key_ = 0;
};

TEST_F(RegistryProcesses, ConcurrentWritersLoseNothing) {
    constexpr int kCount = 60;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    auto writeValues = [&](const char16_t* prefix) {
        for (int i = 0; i < kCount; ++i) {
            if (SetText(key_, Numbered(prefix, i), Numbered(u"value ", i)) != kRegSuccess) return 1;
        }
        return 0;
    };
    const pid_t pid = Fork([&] {
        char go = 0;
        if (read(start[0], &go, 1) != 1) return 2;
        return writeValues(u"child-");
    });
    ASSERT_GT(pid, 0);
    ASSERT_EQ(write(start[1], "g", 1), 1);
    EXPECT_EQ(writeValues(u"parent-"), 0);
    EXPECT_EQ(ExitStatus(pid), 0);
    close(start[0]);
    close(start[1]);

    // The parent's handle, opened before the child wrote, sees it all.
    std::uint32_t values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key_, nullptr, &values), kRegSuccess);
    EXPECT_EQ(values, 2u * kCount);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_TRUE(HasText(key_, Numbered(u"child-", i), Numbered(u"value ", i))) << i;
        EXPECT_TRUE(HasText(key_, Numbered(u"parent-", i), Numbered(u"value ", i))) << i;
    }
    // Every write replaced the file whole; no temporary file is left.
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(root_ + "/registry")) files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"registry.lock", "registry.txt"}));
}

TEST_F(RegistryProcesses, TheFileIsTextAPersonCanReadAndEdit) {
    ASSERT_EQ(SetText(key_, u"Name", u"a \"quoted\" value"), kRegSuccess);
    const std::uint32_t number = 42;
    ASSERT_EQ(RegSetValueExW(key_, u"", kRegDword, reinterpret_cast<const std::uint8_t*>(&number), 4), kRegSuccess);
    const std::string text = RegistryText();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\TrellisTest\\Processes]\n"
                        "\"Name\"=sz:\"a \\\"quoted\\\" value\"\n"
                        "@=dword:0000002a\n"),
              std::string::npos)
        << text;

    // An edit by hand shows up in the next call.
    std::ofstream(root_ + "/registry/registry.txt", std::ios::app)
        << "[HKEY_LOCAL_MACHINE\\Software\\Edited]\n\"By hand\"=sz:\"caf\xc3\xa9 \\u0009\"\n";
    HKey edited = 0;
    ASSERT_EQ(RegOpenKeyExW(kHKeyLocalMachine, u"software\\EDITED", kKeyRead, &edited), kRegSuccess);
    EXPECT_TRUE(HasText(edited, u"by hand", u"caf\u00e9 \t"));
    RegCloseKey(edited);
}

TEST_F(RegistryProcesses, ACorruptFileIsReportedAndLeftAlone) {
    std::ofstream(root_ + "/registry/registry.txt", std::ios::app) << "this line is not registry text\n";
    const std::string before = RegistryText();
    HKey key = 0;
    EXPECT_EQ(RegOpenKeyExW(kHKeyCurrentUser, kKeyPath, kKeyRead, &key), 1009);  // ERROR_BADDB
    EXPECT_EQ(SetText(key_, u"v", u"x"), 1009);
    EXPECT_EQ(RegistryText(), before);
}

}  // namespace
