// What the POSIX file functions share: mapping a Windows path for one call,
// turning errno into a Windows error code, and the failure a test chose
// (FaultInjection.h). For platform/posix only.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/Files.h"

namespace platform::posix {

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

bool HasLongPrefix(const std::u16string& path);
// Maps a path for one call, setting the last error when it cannot. Paths
// without the long-path prefix are held to `limit` characters.
bool MapForCall(const std::u16string& path, std::string* posixPath, std::size_t limit = kMaxPath);
std::string ParentOf(const std::string& path);
bool IsDirectory(const std::string& path);
// ENOENT is "file not found" when only the last component is missing and
// "path not found" when a folder on the way is.
std::uint32_t ErrorFromErrno(int error, const std::string& path);
void SetErrnoError(const std::string& path, int error = errno);
// The failure a test chose for this operation (FaultInjection.h), if any:
// sets the last error to `error` and says so.
bool Injected(std::uint32_t error = kErrorIoDevice);
bool IsReadOnly(const struct stat& st);
// The Windows attributes of what lstat found at the path.
std::uint32_t AttributesOf(const std::string& path, const struct stat& linkStat);
int OpenRetrying(const std::string& path, int flags, mode_t mode = 0);
// mkdir, with the Windows error of CreateDirectoryW when it fails.
bool MakeDirectory(const std::string& posixPath, mode_t mode);
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace platform::posix
