// Helpers for the POSIX-only tests: folders of their own, whole files by
// their Linux paths, and trellis-host run as a program.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace test {

// A fresh folder below `base` (the system's temporary folder when that is
// no folder), removed with everything in it afterwards.
class TempDir {
public:
    explicit TempDir(const char* base = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A TempDir that is the sandbox root while it lives.
class SandboxRootScope : public TempDir {
public:
    explicit SandboxRootScope(const char* base = "");
    ~SandboxRootScope();

private:
    std::string previous_;
};

// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Writes the bytes, making the folders on the way.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

struct HostResult {
    int status = -1;  // the exit status, 128 + the signal when it was killed
    std::string out;
    std::string err;
};

// Runs trellis-host with these arguments; its output goes through files in `dir`.
HostResult RunHost(const std::vector<std::string>& args, const std::filesystem::path& dir);

}  // namespace test
