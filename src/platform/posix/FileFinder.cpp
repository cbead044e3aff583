// Folder listings, the temporary and Windows folders and unique temporary
// file names of the sandbox (platform/Files.h, POSIX backend).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/posix/AccessRules.h"
#include "platform/posix/CaseFolding.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/Sandbox.h"

namespace platform {

using posix::AttributesOf;
using posix::ErrorFromErrno;
using posix::HasLongPrefix;
using posix::Injected;
using posix::IsDirectory;
using posix::MapForCall;
using posix::OpenRetrying;
using posix::SetErrnoError;
using posix::kErrorDirectoryName;
using posix::kErrorFilenameTooLong;
using posix::kErrorInvalidHandle;
using posix::kErrorProcNotFound;
using posix::kMaxDirectoryPath;
using posix::kMaxPath;

namespace {

// Windows wildcards in one name, compared without regard to case: "*" any
// run, "?" one character. A pattern ending in ".*" also matches the name
// without an extension, so "*.*" matches every name, with a dot or without.
bool WildcardMatch(const std::u16string& pattern, const std::u16string& name) {
    std::size_t p = 0, n = 0, starP = std::u16string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

bool MatchesPattern(const std::u16string& upperPattern, const std::u16string& name) {
    const std::u16string upperName = posix::Upcase(name);
    if (WildcardMatch(upperPattern, upperName)) return true;
    const std::size_t size = upperPattern.size();
    return size >= 2 && upperPattern.compare(size - 2, 2, u".*") == 0 &&
           upperName.find(u'.') == std::u16string::npos &&
           WildcardMatch(upperPattern.substr(0, size - 2), upperName);
}

}  // namespace

struct FileFinder::Impl {
    std::vector<FindData> entries;
    std::size_t next = 0;
    bool open = false;
};

FileFinder::FileFinder() : impl_(std::make_unique<Impl>()) {}
FileFinder::~FileFinder() = default;

// The folder is read once, when the search starts. As on Windows, a folder
// that is not a drive root lists "." and ".." too, and the entries come in
// the order of their upper-case names.
bool FileFinder::First(const std::u16string& pattern, FindData* data) {
    Close();
    const std::size_t slash = pattern.find_last_of(u"\\/");
    const std::u16string folder = slash == std::u16string::npos ? std::u16string() : pattern.substr(0, slash + 1);
    const std::u16string mask = slash == std::u16string::npos ? pattern : pattern.substr(slash + 1);
    if (mask.empty()) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    if (!HasLongPrefix(pattern) && pattern.size() >= kMaxPath) {
        SetLastError(kErrorFilenameTooLong);
        return false;
    }
    if (Injected()) return false;
    std::string posixFolder = ".";
    if (!folder.empty() && !MapForCall(folder, &posixFolder)) return false;
    DIR* dir = ::opendir(posixFolder.c_str());
    if (dir == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : ErrorFromErrno(errno, posixFolder));
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);

    const std::string root = posix::SandboxRoot();
    const bool driveRoot = posixFolder.size() == root.size() + 2 && posixFolder.compare(0, root.size(), root) == 0 &&
                           posixFolder[root.size()] == '/';
    const std::u16string upperMask = posix::Upcase(mask);
    std::vector<FindData> dots;
    if (!driveRoot) {
        for (const char* dot : {".", ".."}) {
            struct stat st;
            const std::string path = posixFolder + "/" + dot;
            if (MatchesPattern(upperMask, strings::FromUtf8(dot)) && ::stat(path.c_str(), &st) == 0) {
                dots.push_back(FindData{strings::FromUtf8(dot), AttributesOf(path, st), 0});
            }
        }
    }
    for (const std::string& name : names) {
        const std::u16string wide = strings::FromUtf8(name);
        if (!MatchesPattern(upperMask, wide)) continue;
        const std::string path = posixFolder + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;  // gone since the folder was read
        FindData found{wide, AttributesOf(path, st), 0};
        if ((found.attributes & kFileAttributeDirectory) == 0) {
            struct stat target;
            found.size = static_cast<std::uint64_t>(::stat(path.c_str(), &target) == 0 ? target.st_size : st.st_size);
        }
        impl_->entries.push_back(std::move(found));
    }
    std::sort(impl_->entries.begin(), impl_->entries.end(), [](const FindData& a, const FindData& b) {
        const std::u16string ua = posix::Upcase(a.name), ub = posix::Upcase(b.name);
        return ua != ub ? ua < ub : a.name < b.name;
    });
    impl_->entries.insert(impl_->entries.begin(), dots.begin(), dots.end());
    if (impl_->entries.empty()) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    impl_->open = true;
    impl_->next = 1;
    *data = impl_->entries[0];
    return true;
}

bool FileFinder::Next(FindData* data) {
    if (!impl_->open) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (impl_->next >= impl_->entries.size()) {
        SetLastError(kErrorNoMoreFiles);
        return false;
    }
    *data = impl_->entries[impl_->next++];
    return true;
}

void FileFinder::Close() {
    impl_->entries.clear();
    impl_->next = 0;
    impl_->open = false;
}

namespace {

// A Windows folder of the sandbox that always exists, like C:\Windows does.
std::u16string EnsureFolder(const std::u16string& path) {
    std::string posixPath;
    if (posix::MapWindowsPath(path, &posixPath)) ::mkdir(posixPath.c_str(), 0777);
    return path;
}

}  // namespace

std::u16string GetTempPathW() {
    EnsureFolder(u"C:\\Temp");
    return u"C:\\Temp\\";
}

// The sandbox stands for a Windows without GetTempPath2W, so that callers
// take their fallback (the Windows folder) there.
bool GetTempPath2W(std::u16string*) {
    SetLastError(kErrorProcNotFound);
    return false;
}

std::u16string GetWindowsDirectoryW() { return EnsureFolder(u"C:\\Windows"); }

// "<prefix up to 3 characters><1 to 4 hex digits>.tmp", trying numbers from
// a moving start point until a name is free, as Windows does for unique 0.
std::u16string GetTempFileNameW(const std::u16string& folder, const std::u16string& prefix) {
    static std::atomic<unsigned> counter{static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ (static_cast<unsigned>(::getpid()) << 8))};
    std::string posixFolder;
    if (!MapForCall(folder, &posixFolder) || Injected()) return std::u16string();
    if (!IsDirectory(posixFolder)) {
        SetLastError(kErrorDirectoryName);
        return std::u16string();
    }
    std::u16string base = folder;
    if (base.back() != u'\\' && base.back() != u'/') base += u'\\';
    base += prefix.substr(0, 3);
    const unsigned start = counter.fetch_add(1);
    for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
        const unsigned unique = (start + attempt) & 0xFFFF;
        if (unique == 0) continue;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", unique);
        const std::u16string candidate = base + strings::FromUtf8(hex) + u".tmp";
        std::string posixPath;
        if (!MapForCall(candidate, &posixPath)) return std::u16string();
        const int fd = OpenRetrying(posixPath, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            ::close(fd);
            counter.fetch_add(attempt);
            return candidate;
        }
        if (errno != EEXIST) {
            SetErrnoError(posixPath);
            return std::u16string();
        }
    }
    SetLastError(kErrorFileExists);
    return std::u16string();
}

// Stands for an access list that only the given accounts reach: the folder
// is private to the user running the sandbox (mode 0700). The account texts
// are still checked, as ConvertStringSidToSidW would.
bool CreateDirectoryForAccounts(const std::u16string& path, const char16_t* const* sids, std::size_t sidCount) {
    for (std::size_t i = 0; i < sidCount; ++i) {
        if (sids[i] == nullptr || !posix::IsValidSid(sids[i])) {
            SetLastError(kErrorInvalidSid);
            return false;
        }
    }
    std::string posixPath;
    if (!MapForCall(path, &posixPath, kMaxDirectoryPath) || !posix::MakeDirectory(posixPath, 0700)) return false;
    ::chmod(posixPath.c_str(), 0700);
    return true;
}

}  // namespace platform
