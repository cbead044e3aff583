// A fresh, empty folder for one test, given as a Windows path, removed with
// everything in it afterwards. On POSIX the whole test run gets its own
// sandbox root first, so nothing outside it is touched.
#pragma once

#include <string>
#include <vector>

namespace test {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Without a trailing backslash.
    const std::u16string& Path() const { return path_; }
    std::u16string operator/(const std::u16string& name) const { return path_ + u"\\" + name; }
    // Deletes everything in the folder, read-only files too; links are
    // removed, not followed.
    void Clear() const;

private:
    std::u16string path_;
};

// Ensures that this process has its own sandbox root (POSIX only).
void UsePrivateSandbox();

// The names in a folder, without "." and "..", sorted.
std::vector<std::u16string> FolderNames(const std::u16string& folder);

}  // namespace test
