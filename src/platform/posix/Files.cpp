// Windows file functions on Linux, inside the sandbox of Sandbox.h.
//
// Choices where Linux and Windows differ:
// - Read-only is the absence of the owner's write bit, checked by us rather
//   than left to the kernel, so that it holds for root as well: a read-only
//   file can be read and copied but not opened for writing or deleted.
//   Folders have no read-only attribute here (on Windows it does not stop
//   files being added either); setting it on a folder is ignored.
// - Hidden and the other attributes have nowhere to live: setting them is
//   ignored, and a file reports FILE_ATTRIBUTE_NORMAL when it is neither
//   read-only nor a folder. Symbolic links report FILE_ATTRIBUTE_REPARSE_POINT.
// - Paths without the \\?\ prefix are held to MAX_PATH (248 characters for
//   a new folder) like a program without long-path support on Windows, so
//   that code that forgets the prefix fails here as it would there.
// - No sharing modes: open files never block other opens or deletion.
// - A test can make any one operation fail (FaultInjection.h).
#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/posix/AccessRules.h"
#include "platform/posix/FaultInjection.h"
#include "platform/posix/Sandbox.h"
#include "platform/posix/Utf.h"

namespace platform {
namespace {

thread_local std::uint32_t t_lastError = 0;

constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kMaxDirectoryPath = 248;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotSameDevice = 17;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorProcNotFound = 127;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorDirectoryName = 267;

bool HasLongPrefix(const std::u16string& path) {
    return path.size() >= 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\';
}

// Maps a path for one call, setting the last error when it cannot.
bool MapForCall(const std::u16string& path, std::string* posixPath, std::size_t limit = kMaxPath) {
    if (path.empty()) {
        SetLastError(kErrorPathNotFound);
        return false;
    }
    if (!HasLongPrefix(path) && path.size() >= limit) {
        SetLastError(kErrorFilenameTooLong);
        return false;
    }
    if (!posix::MapWindowsPath(path, posixPath)) {
        SetLastError(kErrorInvalidName);
        return false;
    }
    return true;
}

std::string ParentOf(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::size_t slash = trimmed.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : trimmed.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ENOENT is "file not found" when only the last component is missing and
// "path not found" when a folder on the way is.
std::uint32_t ErrorFromErrno(int error, const std::string& path) {
    switch (error) {
    case 0: return kErrorGenFailure;
    case ENOENT: return IsDirectory(ParentOf(path)) ? kErrorFileNotFound : kErrorPathNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES: case EPERM: case EROFS: case EISDIR: case ETXTBSY: return kErrorAccessDenied;
    case EEXIST: return kErrorFileExists;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENOSPC: case EDQUOT: case EFBIG: return kErrorDiskFull;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EMFILE: case ENFILE: return kErrorTooManyOpenFiles;
    case EBADF: return kErrorInvalidHandle;
    case EBUSY: return kErrorSharingViolation;
    case EXDEV: return kErrorNotSameDevice;
    case EINVAL: return kErrorInvalidParameter;
    case ELOOP: return kErrorInvalidName;
    default: return kErrorGenFailure;
    }
}

void SetErrnoError(const std::string& path, int error = errno) { SetLastError(ErrorFromErrno(error, path)); }

// The failure a test chose for this operation (FaultInjection.h), if any.
bool Injected(std::uint32_t error = kErrorIoDevice) {
    if (!posix::OperationFails()) return false;
    SetLastError(error);
    return true;
}

bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

std::uint32_t AttributesOf(const std::string& path, const struct stat& linkStat) {
    std::uint32_t attributes = 0;
    struct stat st = linkStat;
    if (S_ISLNK(linkStat.st_mode)) {
        attributes |= kFileAttributeReparsePoint;
        if (::stat(path.c_str(), &st) != 0) st = linkStat;
    }
    if (S_ISDIR(st.st_mode)) {
        attributes |= kFileAttributeDirectory;
    } else if (IsReadOnly(st)) {
        attributes |= kFileAttributeReadOnly;
    }
    return attributes == 0 ? kFileAttributeNormal : attributes;
}

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

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

// "S-1-" followed by the authority and up to 15 sub-authorities, in decimal.
bool IsValidSidText(const std::u16string& sid) {
    if (sid.size() < 5 || (sid[0] != u'S' && sid[0] != u's') || sid.compare(1, 3, u"-1-") != 0) return false;
    int parts = 0;
    std::size_t digits = 0;
    for (std::size_t i = 4; i <= sid.size(); ++i) {
        if (i == sid.size() || sid[i] == u'-') {
            if (digits == 0 || digits > 10) return false;
            ++parts;
            digits = 0;
        } else if (sid[i] >= u'0' && sid[i] <= u'9') {
            ++digits;
        } else {
            return false;
        }
    }
    return parts >= 1 && parts <= 16;
}

// Texts of Windows' English message table for the codes this project meets.
struct Message {
    std::uint32_t code;
    const char16_t* text;
};
constexpr Message kMessages[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough memory resources are available to process this command."},
    {14, u"Not enough memory resources are available to complete this operation."},
    {17, u"The system cannot move the file to a different disk drive."},
    {18, u"There are no more files."},
    {29, u"The system cannot write to the specified device."},
    {30, u"The system cannot read from the specified device."},
    {31, u"A device attached to the system is not functioning."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {112, u"There is not enough space on the disk."},
    {120, u"This function is not supported on this system."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {127, u"The specified procedure could not be found."},
    {145, u"The directory is not empty."},
    {161, u"The specified path is invalid."},
    {183, u"Cannot create a file when that file already exists."},
    {203, u"The system could not find the environment option that was entered."},
    {206, u"The filename or extension is too long."},
    {222, u"The file type being saved or retrieved has been blocked."},
    {234, u"More data is available."},
    {259, u"No more data is available."},
    {267, u"The directory name is invalid."},
    {681, u"The create operation stopped after reaching a symbolic link."},
    {1009, u"The configuration registry database is corrupt."},
    {1016, u"An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or "
            u"write out, or flush, one of the files that contain the system's image of the registry."},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1117, u"The request could not be performed because of an I/O device error."},
    {1337, u"The security ID structure is invalid."},
    {1602, u"User cancelled installation."},
    {1603, u"Fatal error during installation."},
    {1627, u"Function failed during execution."},
    {0x80004005u, u"Unspecified error"},
    {0x800401F3u, u"Invalid class string"},
};

}  // namespace

std::uint32_t GetLastError() { return t_lastError; }
void SetLastError(std::uint32_t code) { t_lastError = code; }

std::u16string FormatSystemMessage(std::uint32_t code) {
    // HRESULTs of the Win32 facility carry the plain error code.
    std::uint32_t plain = code;
    if ((code & 0xFFFF0000u) == 0x80070000u) plain = code & 0xFFFFu;
    for (const Message& message : kMessages) {
        if (message.code == code || message.code == plain) return std::u16string(message.text) + u"\r\n";
    }
    // Windows has no text for other codes (FormatMessageW fails); a generic
    // text keeps log lines that quote it readable.
    char generic[48];
    std::snprintf(generic, sizeof generic, "Unknown error 0x%08X.\r\n", code);
    return posix::FromUtf8(generic);
}

struct File::Impl {
    int fd = -1;
};

File::File() : impl_(std::make_unique<Impl>()) {}
File::~File() { Close(); }
File::File(File&& other) noexcept : impl_(std::move(other.impl_)) {}
File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

// Opens a file (not a folder, which Windows refuses with access denied) for
// reading; -1 with the last error set on failure.
static int OpenFileForReading(const std::string& posixPath, struct stat* info) {
    const int fd = OpenRetrying(posixPath, O_RDONLY);
    if (fd < 0) {
        SetErrnoError(posixPath);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(kErrorAccessDenied);
        return -1;
    }
    if (info != nullptr) *info = st;
    return fd;
}

File File::OpenForRead(const std::u16string& path) {
    File file;
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return file;
    const int fd = OpenFileForReading(posixPath, nullptr);
    if (fd < 0) return file;
    file.impl_->fd = fd;
    return file;
}

// O_NONBLOCK keeps a pipe without a writer from holding the open; the
// type is then checked on the open file, so nothing can swap it in between.
File File::OpenRegularForRead(const std::u16string& path) {
    File file;
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return file;
    const int fd = OpenRetrying(posixPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP) {
            SetLastError(kErrorStoppedOnSymlink);
        } else {
            SetErrnoError(posixPath);
        }
        return file;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(S_ISDIR(st.st_mode) ? kErrorAccessDenied : kErrorBadFileType);
        return file;
    }
    file.impl_->fd = fd;
    return file;
}

File File::Create(const std::u16string& path) {
    File file;
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return file;
    struct stat st;
    if (::stat(posixPath.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || IsReadOnly(st))) {
        SetLastError(kErrorAccessDenied);
        return file;
    }
    const int fd = OpenRetrying(posixPath, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        SetErrnoError(posixPath);
        return file;
    }
    file.impl_->fd = fd;
    return file;
}

// O_EXCL refuses every name that exists, a link included (dangling or not).
File File::CreateNew(const std::u16string& path) {
    File file;
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return file;
    const int fd = OpenRetrying(posixPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd < 0) {
        SetErrnoError(posixPath);
        return file;
    }
    file.impl_->fd = fd;
    return file;
}

bool File::IsOpen() const { return impl_ && impl_->fd >= 0; }

bool File::GetSize(std::uint64_t* size) const {
    struct stat st;
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (Injected()) return false;
    if (::fstat(impl_->fd, &st) != 0) {
        SetLastError(ErrorFromErrno(errno, std::string()));
        return false;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::Read(void* buffer, std::uint32_t wanted, std::uint32_t* read) {
    *read = 0;
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (Injected()) return false;
    auto* out = static_cast<char*>(buffer);
    while (*read < wanted) {
        const ssize_t n = ::read(impl_->fd, out + *read, wanted - *read);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno == EIO ? kErrorReadFault : ErrorFromErrno(errno, std::string()));
            return false;
        }
        if (n == 0) break;
        *read += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool File::Write(const void* data, std::uint32_t size) {
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (posix::OperationFails()) {
        // A disk that fills up part-way: the first half goes in.
        WriteAll(impl_->fd, data, size / 2);
        SetLastError(kErrorDiskFull);
        return false;
    }
    if (!WriteAll(impl_->fd, data, size)) {
        SetLastError(errno == EIO ? kErrorWriteFault : ErrorFromErrno(errno, std::string()));
        return false;
    }
    return true;
}

bool File::Flush() {
    if (!IsOpen()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (Injected()) return false;
    if (::fsync(impl_->fd) != 0) {
        SetLastError(errno == EIO ? kErrorWriteFault : ErrorFromErrno(errno, std::string()));
        return false;
    }
    return true;
}

void File::Close() {
    if (IsOpen()) {
        ::close(impl_->fd);
        impl_->fd = -1;
    }
}

// The target is created with O_EXCL, so of two racing copies one fails
// with "file exists" instead of both writing, and a name that is taken by a
// link is never written through; a failed copy removes its target. Like
// CopyFileW, the copy keeps the source's read-only state and write time.
bool CopyFileNoOverwrite(const std::u16string& from, const std::u16string& to) {
    std::string source, target;
    if (!MapForCall(from, &source) || !MapForCall(to, &target) || Injected(kErrorDiskFull)) return false;
    struct stat st;
    const int in = OpenFileForReading(source, &st);
    if (in < 0) return false;
    const int out = OpenRetrying(target, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (out < 0) {
        SetErrnoError(target);
        ::close(in);
        return false;
    }
    std::vector<char> buffer(64 * 1024);
    int failure = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failure = errno;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            failure = errno;
            break;
        }
    }
    if (failure == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
        if (::fchmod(out, st.st_mode & 07777) != 0) failure = errno;
    }
    if (::close(out) != 0 && failure == 0) failure = errno;
    ::close(in);
    if (failure != 0) {
        ::unlink(target.c_str());
        SetErrnoError(target, failure);
        return false;
    }
    return true;
}

bool DeleteFileW(const std::u16string& path) {
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return false;
    struct stat st;
    if (::lstat(posixPath.c_str(), &st) != 0) {
        SetErrnoError(posixPath);
        return false;
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnly(st))) {
        SetLastError(kErrorAccessDenied);
        return false;
    }
    if (::unlink(posixPath.c_str()) != 0) {
        SetErrnoError(posixPath);
        return false;
    }
    return true;
}

bool CreateDirectoryW(const std::u16string& path) {
    std::string posixPath;
    if (!MapForCall(path, &posixPath, kMaxDirectoryPath) || Injected()) return false;
    if (::mkdir(posixPath.c_str(), 0777) != 0) {
        SetLastError(errno == EEXIST ? kErrorAlreadyExists : ErrorFromErrno(errno, posixPath));
        return false;
    }
    return true;
}

bool RemoveDirectoryW(const std::u16string& path) {
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return false;
    struct stat st;
    if (::lstat(posixPath.c_str(), &st) != 0) {
        SetErrnoError(posixPath);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        // A link to a folder is removed like a Windows junction; the folder stays.
        if (!IsDirectory(posixPath)) {
            SetLastError(kErrorDirectoryName);
            return false;
        }
        if (::unlink(posixPath.c_str()) != 0) {
            SetErrnoError(posixPath);
            return false;
        }
        return true;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(kErrorDirectoryName);
        return false;
    }
    if (::rmdir(posixPath.c_str()) != 0) {
        SetLastError(errno == EEXIST ? kErrorDirNotEmpty : ErrorFromErrno(errno, posixPath));
        return false;
    }
    return true;
}

std::uint32_t GetFileAttributesW(const std::u16string& path) {
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return kInvalidFileAttributes;
    struct stat st;
    if (::lstat(posixPath.c_str(), &st) != 0) {
        SetErrnoError(posixPath);
        return kInvalidFileAttributes;
    }
    return AttributesOf(posixPath, st);
}

// A link's own attributes are set, not those of the file it points to;
// here a link has none to keep, so that is a success that changes nothing.
bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return false;
    struct stat st;
    if (::lstat(posixPath.c_str(), &st) != 0) {
        SetErrnoError(posixPath);
        return false;
    }
    if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) return true;
    mode_t mode = st.st_mode & 07777;
    if ((attributes & kFileAttributeReadOnly) != 0) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if ((mode & S_IWUSR) == 0) {
        mode |= S_IWUSR;
    }
    if (mode != (st.st_mode & 07777) && ::chmod(posixPath.c_str(), mode) != 0) {
        SetErrnoError(posixPath);
        return false;
    }
    return true;
}

bool PathFileExistsW(const std::u16string& path) { return GetFileAttributesW(path) != kInvalidFileAttributes; }

bool GetPathKind(const std::u16string& path, PathKind* kind) {
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return false;
    struct stat st;
    if (::lstat(posixPath.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            *kind = PathKind::Missing;
            return true;
        }
        SetErrnoError(posixPath);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        *kind = PathKind::Link;
    } else if (S_ISDIR(st.st_mode)) {
        *kind = PathKind::Folder;
    } else if (S_ISREG(st.st_mode)) {
        *kind = PathKind::File;
    } else {
        *kind = PathKind::Device;  // a pipe, a socket or a device node
    }
    return true;
}

namespace {

// A rename is on the disk once its folder is.
void SyncFolderOf(const std::string& path) {
    const int fd = OpenRetrying(ParentOf(path), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// rename(2) that never replaces: renameat2 where the file system has it,
// else a second name for the file and then the old one removed.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

// Where a move or a replacement would overwrite what Windows refuses to.
bool RefusesReplacement(const struct stat& existing) {
    return S_ISDIR(existing.st_mode) || (S_ISREG(existing.st_mode) && IsReadOnly(existing));
}

}  // namespace

bool MoveFileExW(const std::u16string& from, const std::u16string& to, std::uint32_t flags) {
    std::string source, target;
    if (!MapForCall(from, &source) || !MapForCall(to, &target) || Injected()) return false;
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) {
        SetErrnoError(source);
        return false;
    }
    if ((flags & kMoveFileReplaceExisting) == 0) {
        if (!RenameNoReplace(source, target)) {
            SetLastError(errno == EEXIST ? kErrorAlreadyExists : ErrorFromErrno(errno, target));
            return false;
        }
    } else {
        struct stat existing;
        if (::lstat(target.c_str(), &existing) == 0 && RefusesReplacement(existing)) {
            SetLastError(kErrorAccessDenied);
            return false;
        }
        if (::rename(source.c_str(), target.c_str()) != 0) {
            SetErrnoError(target);
            return false;
        }
    }
    if ((flags & kMoveFileWriteThrough) != 0) SyncFolderOf(target);
    return true;
}

// The replacement takes over the replaced file's mode bits (its read-only
// attribute) and its explicit access rules, then its name.
bool ReplaceFileW(const std::u16string& replaced, const std::u16string& replacement) {
    std::string target, source;
    if (!MapForCall(replaced, &target) || !MapForCall(replacement, &source) || Injected()) return false;
    struct stat existing, st;
    if (::lstat(target.c_str(), &existing) != 0 || ::lstat(source.c_str(), &st) != 0) {
        SetErrnoError(::lstat(target.c_str(), &existing) != 0 ? target : source);
        return false;
    }
    if (S_ISLNK(existing.st_mode) || RefusesReplacement(existing) || !S_ISREG(st.st_mode)) {
        SetLastError(S_ISLNK(existing.st_mode) ? kErrorStoppedOnSymlink : kErrorAccessDenied);
        return false;
    }
    ::chmod(source.c_str(), existing.st_mode & 07777);
    std::vector<AccessEntry> entries;
    const bool hasRules = posix::ReadAccessRules(replaced, &entries) && !entries.empty();
    if (::rename(source.c_str(), target.c_str()) != 0) {
        SetErrnoError(target);
        return false;
    }
    // The store keys rules by name and file identity: they follow the new file.
    if (hasRules) posix::WriteAccessRules(replaced, entries);
    SyncFolderOf(target);
    return true;
}

// Two leading backslashes make a UNC path, except for the \\?\ prefix of a
// drive path; \\?\UNC\ is a UNC path again.
bool PathIsUNCW(const std::u16string& path) {
    if (path.size() < 2 || path[0] != u'\\' || path[1] != u'\\') return false;
    if (path.size() >= 4 && path[2] == u'?' && path[3] == u'\\') {
        return path.size() >= 8 && posix::EqualsIgnoreCase(path.substr(4, 3), u"UNC") && path[7] == u'\\';
    }
    return true;
}

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
            if (MatchesPattern(upperMask, posix::FromUtf8(dot)) && ::stat(path.c_str(), &st) == 0) {
                dots.push_back(FindData{posix::FromUtf8(dot), AttributesOf(path, st), 0});
            }
        }
    }
    for (const std::string& name : names) {
        const std::u16string wide = posix::FromUtf8(name);
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
        const std::u16string candidate = base + posix::FromUtf8(hex) + u".tmp";
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
        if (sids[i] == nullptr || !IsValidSidText(sids[i])) {
            SetLastError(kErrorInvalidSid);
            return false;
        }
    }
    std::string posixPath;
    if (!MapForCall(path, &posixPath, kMaxDirectoryPath)) return false;
    if (::mkdir(posixPath.c_str(), 0700) != 0) {
        SetLastError(errno == EEXIST ? kErrorAlreadyExists : ErrorFromErrno(errno, posixPath));
        return false;
    }
    ::chmod(posixPath.c_str(), 0700);
    return true;
}

}  // namespace platform
