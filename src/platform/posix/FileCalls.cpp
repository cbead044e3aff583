#include "platform/posix/FileCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Strings.h"
#include "platform/posix/FaultInjection.h"
#include "platform/posix/Sandbox.h"

namespace platform {
namespace {

thread_local std::uint32_t t_lastError = 0;

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
};

}  // namespace

std::uint32_t GetLastError() { return t_lastError; }
void SetLastError(std::uint32_t code) { t_lastError = code; }

std::u16string FormatSystemMessage(std::uint32_t code) {
    for (const Message& message : kMessages) {
        if (message.code == code) return std::u16string(message.text) + u"\r\n";
    }
    // Windows has no text for other codes (FormatMessageW fails); a generic
    // text keeps log lines that quote it readable.
    char generic[48];
    std::snprintf(generic, sizeof generic, "Unknown error 0x%08X.\r\n", code);
    return strings::FromUtf8(generic);
}

namespace posix {

bool HasLongPrefix(const std::u16string& path) {
    return path.size() >= 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\';
}

bool MapForCall(const std::u16string& path, std::string* posixPath, std::size_t limit) {
    if (path.empty()) {
        SetLastError(kErrorPathNotFound);
        return false;
    }
    if (!HasLongPrefix(path) && path.size() >= limit) {
        SetLastError(kErrorFilenameTooLong);
        return false;
    }
    if (!MapWindowsPath(path, posixPath)) {
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

void SetErrnoError(const std::string& path, int error) { SetLastError(ErrorFromErrno(error, path)); }

bool Injected(std::uint32_t error) {
    if (!OperationFails()) return false;
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

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool MakeDirectory(const std::string& posixPath, mode_t mode) {
    if (::mkdir(posixPath.c_str(), mode) == 0) return true;
    SetLastError(errno == EEXIST ? kErrorAlreadyExists : ErrorFromErrno(errno, posixPath));
    return false;
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

}  // namespace posix
}  // namespace platform
