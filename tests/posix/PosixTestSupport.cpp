#include "posix/PosixTestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/posix/Sandbox.h"
#include "support/ScratchFolder.h"

extern char** environ;

namespace test {

TempDir::TempDir(const char* base) {
    std::error_code ignored;
    const std::filesystem::path folder =
        std::filesystem::is_directory(base, ignored) ? base : std::filesystem::temp_directory_path();
    std::string name = (folder / "trellis-test-dir-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    path_ = name;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

// The process's own sandbox is set up first, so that a ScratchFolder made
// afterwards does not move the root away again.
SandboxRootScope::SandboxRootScope(const char* base)
    : TempDir(base), previous_((UsePrivateSandbox(), platform::posix::SandboxRoot())) {
    platform::posix::SetSandboxRoot(Path().string());
}

SandboxRootScope::~SandboxRootScope() { platform::posix::SetSandboxRoot(previous_); }

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

HostResult RunHost(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    std::vector<std::string> line = args;
    line.insert(line.begin(), TRELLIS_HOST_PROGRAM);
    const std::filesystem::path out = dir / "host.out", err = dir / "host.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& arg : line) argv.push_back(arg.data());
    argv.push_back(nullptr);
    HostResult result;
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

}  // namespace test
