#include "support/ScratchFolder.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "installer/WideString.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"

#ifndef _WIN32
#include <unistd.h>

#include "platform/posix/Sandbox.h"
#endif

namespace test {
namespace {

void Empty(const std::u16string& folder) {
    platform::FileFinder finder;
    platform::FindData entry;
    for (bool found = finder.First(ToLongPath(folder + u"\\*"), &entry); found; found = finder.Next(&entry)) {
        if (entry.name == u"." || entry.name == u"..") continue;
        const std::u16string child = folder + u"\\" + entry.name;
        if ((entry.attributes & platform::kFileAttributeDirectory) == 0) {
            DeleteOwnFile(child);
            continue;
        }
        if ((entry.attributes & platform::kFileAttributeReparsePoint) == 0) Empty(child);
        platform::RemoveDirectoryW(ToLongPath(child));
    }
}

}  // namespace

void UsePrivateSandbox() {
#ifndef _WIN32
    static const bool done = [] {
        std::string base = "/tmp/trellis-test-XXXXXX";
        if (mkdtemp(base.data()) == nullptr) std::abort();
        platform::posix::SetSandboxRoot(base);
        return true;
    }();
    (void)done;
#endif
}

ScratchFolder::ScratchFolder() {
    UsePrivateSandbox();
    static std::atomic<int> counter{0};
    const std::u16string base = NormalizeBackslashes(platform::GetTempPathW());
    platform::CreateDirectoryW(base);
    for (;;) {
        path_ = base + u"\\trellis-scratch-" + ToWideUnsigned(static_cast<unsigned>(std::rand())) + u"-" +
                ToWideUnsigned(static_cast<unsigned>(++counter));
        if (platform::CreateDirectoryW(path_)) break;
        if (platform::GetLastError() != platform::kErrorAlreadyExists) std::abort();
    }
}

void ScratchFolder::Clear() const { Empty(path_); }

std::vector<std::u16string> FolderNames(const std::u16string& folder) {
    std::vector<std::u16string> names;
    platform::FileFinder finder;
    platform::FindData entry;
    for (bool found = finder.First(ToLongPath(folder + u"\\*"), &entry); found; found = finder.Next(&entry)) {
        if (entry.name != u"." && entry.name != u"..") names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

ScratchFolder::~ScratchFolder() {
    Empty(path_);
    platform::RemoveDirectoryW(path_);
}

}  // namespace test
