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

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix/AccessRules.h"
#include "platform/posix/CaseFolding.h"
#include "platform/posix/FaultInjection.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/Sandbox.h"

namespace platform {

using posix::AttributesOf;
using posix::ErrorFromErrno;
using posix::Injected;
using posix::IsDirectory;
using posix::IsReadOnly;
using posix::MakeDirectory;
using posix::MapForCall;
using posix::OpenRetrying;
using posix::ParentOf;
using posix::SetErrnoError;
using posix::WriteAll;
using posix::kErrorDirectoryName;
using posix::kErrorInvalidHandle;
using posix::kMaxDirectoryPath;

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

namespace {

// A call on an open file: sets ERROR_INVALID_HANDLE when it is not open.
bool CheckOpen(const File& file) {
    if (file.IsOpen()) return true;
    SetLastError(kErrorInvalidHandle);
    return false;
}

// What lstat says of a path; sets the last error when it cannot say.
bool Lstat(const std::string& posixPath, struct stat* st) {
    if (::lstat(posixPath.c_str(), st) == 0) return true;
    SetErrnoError(posixPath);
    return false;
}

bool Unlink(const std::string& posixPath) {
    if (::unlink(posixPath.c_str()) == 0) return true;
    SetErrnoError(posixPath);
    return false;
}

// Maps the path for one call and looks at what is there, unless a test
// chose a failure for the call.
bool LstatForCall(const std::u16string& path, std::string* posixPath, struct stat* st) {
    return MapForCall(path, posixPath) && !Injected() && Lstat(*posixPath, st);
}

// -1 with the last error of errno set, or the descriptor.
int OpenOrSetError(const std::string& posixPath, int flags, mode_t mode = 0) {
    const int fd = OpenRetrying(posixPath, flags, mode);
    if (fd < 0) SetErrnoError(posixPath);
    return fd;
}

// Opens a file (not a folder, which Windows refuses with access denied) for
// reading; -1 with the last error set on failure.
int OpenFileForReading(const std::string& posixPath, struct stat* info) {
    const int fd = OpenOrSetError(posixPath, O_RDONLY);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(kErrorAccessDenied);
        return -1;
    }
    if (info != nullptr) *info = st;
    return fd;
}

// The descriptor that `open` gives for the mapped path, or -1 with the last
// error set when the path cannot be mapped or a test chose a failure.
template <typename Open>
int OpenForCall(const std::u16string& path, Open open) {
    std::string posixPath;
    if (!MapForCall(path, &posixPath) || Injected()) return -1;
    return open(posixPath);
}

}  // namespace

File File::OpenForRead(const std::u16string& path) {
    File file;
    file.impl_->fd =
        OpenForCall(path, [](const std::string& posixPath) { return OpenFileForReading(posixPath, nullptr); });
    return file;
}

// O_NONBLOCK keeps a pipe without a writer from holding the open; the
// type is then checked on the open file, so nothing can swap it in between.
File File::OpenRegularForRead(const std::u16string& path) {
    File file;
    file.impl_->fd = OpenForCall(path, [](const std::string& posixPath) {
        const int fd = OpenRetrying(posixPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            if (errno == ELOOP) {
                SetLastError(kErrorStoppedOnSymlink);
            } else {
                SetErrnoError(posixPath);
            }
            return -1;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            SetLastError(S_ISDIR(st.st_mode) ? kErrorAccessDenied : kErrorBadFileType);
            return -1;
        }
        return fd;
    });
    return file;
}

File File::Create(const std::u16string& path) {
    File file;
    file.impl_->fd = OpenForCall(path, [](const std::string& posixPath) {
        struct stat st;
        if (::stat(posixPath.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || IsReadOnly(st))) {
            SetLastError(kErrorAccessDenied);
            return -1;
        }
        return OpenOrSetError(posixPath, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    });
    return file;
}

// O_EXCL refuses every name that exists, a link included (dangling or not).
File File::CreateNew(const std::u16string& path) {
    File file;
    file.impl_->fd = OpenForCall(path, [](const std::string& posixPath) {
        return OpenOrSetError(posixPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    });
    return file;
}

bool File::IsOpen() const { return impl_ && impl_->fd >= 0; }

bool File::GetSize(std::uint64_t* size) const {
    struct stat st;
    if (!CheckOpen(*this) || Injected()) return false;
    if (::fstat(impl_->fd, &st) != 0) {
        SetLastError(ErrorFromErrno(errno, std::string()));
        return false;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::Read(void* buffer, std::uint32_t wanted, std::uint32_t* read) {
    *read = 0;
    if (!CheckOpen(*this) || Injected()) return false;
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
    if (!CheckOpen(*this)) return false;
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
    if (!CheckOpen(*this) || Injected()) return false;
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
    const int out = OpenOrSetError(target, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (out < 0) {
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
    struct stat st;
    if (!LstatForCall(path, &posixPath, &st)) return false;
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnly(st))) {
        SetLastError(kErrorAccessDenied);
        return false;
    }
    return Unlink(posixPath);
}

bool CreateDirectoryW(const std::u16string& path) {
    std::string posixPath;
    return MapForCall(path, &posixPath, kMaxDirectoryPath) && !Injected() && MakeDirectory(posixPath, 0777);
}

bool RemoveDirectoryW(const std::u16string& path) {
    std::string posixPath;
    struct stat st;
    if (!LstatForCall(path, &posixPath, &st)) return false;
    if (S_ISLNK(st.st_mode)) {
        // A link to a folder is removed like a Windows junction; the folder stays.
        if (IsDirectory(posixPath)) return Unlink(posixPath);
        SetLastError(kErrorDirectoryName);
        return false;
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
    struct stat st;
    return LstatForCall(path, &posixPath, &st) ? AttributesOf(posixPath, st) : kInvalidFileAttributes;
}

// A link's own attributes are set, not those of the file it points to;
// here a link has none to keep, so that is a success that changes nothing.
bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    std::string posixPath;
    struct stat st;
    if (!LstatForCall(path, &posixPath, &st)) return false;
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
    struct stat st;
    if (!MapForCall(from, &source) || !MapForCall(to, &target) || Injected() || !Lstat(source, &st)) return false;
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
    if (!Lstat(target, &existing) || !Lstat(source, &st)) return false;
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

}  // namespace platform
