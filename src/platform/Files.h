// Windows file functions, with UTF-16 paths.
//
// Every call that fails sets the calling thread's last error to a Windows
// error code (GetLastError). The POSIX backend maps Windows paths into the
// sandbox root (platform/posix/Sandbox.h): C:\dir\file is <root>/C/dir/file,
// \\server\share\x is <root>/UNC/server/share/x, and the long-path
// prefixes ("\\?\" and "\\?\UNC\") are understood.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorNoMoreFiles = 18;
constexpr std::uint32_t kErrorWriteFault = 29;
constexpr std::uint32_t kErrorReadFault = 30;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorDirNotEmpty = 145;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorBadFileType = 222;
constexpr std::uint32_t kErrorStoppedOnSymlink = 681;
constexpr std::uint32_t kErrorIoDevice = 1117;

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kFileAttributeReadOnly = 0x1;
constexpr std::uint32_t kFileAttributeHidden = 0x2;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeArchive = 0x20;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// The system's message text for a Windows error code or HRESULT, as
// FormatMessageW gives it (trailing CR/LF included when the system has them).
std::u16string FormatSystemMessage(std::uint32_t code);

// An open file; closes itself.
class File {
public:
    File();
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading (share read).
    static File OpenForRead(const std::u16string& path);
    // Opens an existing regular file for reading without following a link
    // at its last component and without waiting on a pipe or a device: a
    // link fails with kErrorStoppedOnSymlink, a folder with access denied,
    // anything else that is not a file on a disk with kErrorBadFileType.
    static File OpenRegularForRead(const std::u16string& path);
    // Creates or truncates a file for writing.
    static File Create(const std::u16string& path);
    // Creates a file that does not exist yet (CREATE_NEW): a name that is
    // taken, by a link too, fails with kErrorFileExists.
    static File CreateNew(const std::u16string& path);

    bool IsOpen() const;
    bool GetSize(std::uint64_t* size) const;
    // Reads up to `wanted` bytes; *read is 0 at the end of the file.
    bool Read(void* buffer, std::uint32_t wanted, std::uint32_t* read);
    bool Write(const void* data, std::uint32_t size);
    // FlushFileBuffers: the written bytes are on the disk.
    bool Flush();
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

bool CopyFileNoOverwrite(const std::u16string& from, const std::u16string& to);
bool DeleteFileW(const std::u16string& path);
bool CreateDirectoryW(const std::u16string& path);
bool RemoveDirectoryW(const std::u16string& path);
std::uint32_t GetFileAttributesW(const std::u16string& path);
bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes);
bool PathFileExistsW(const std::u16string& path);

// What the last component of a path names. Links on the way are followed,
// as Windows follows junctions; a link at the last component is not.
enum class PathKind { Missing, File, Folder, Link, Device };
// Missing only for a clear "not found" (of the file or of a folder on its
// way); false, with the last error set, when the system cannot tell.
bool GetPathKind(const std::u16string& path, PathKind* kind);

constexpr std::uint32_t kMoveFileReplaceExisting = 0x1;
constexpr std::uint32_t kMoveFileWriteThrough = 0x8;
// MoveFileExW: without kMoveFileReplaceExisting a taken name fails with
// kErrorAlreadyExists. Write-through returns once the move is on the disk.
bool MoveFileExW(const std::u16string& from, const std::u16string& to, std::uint32_t flags);
// Puts `replacement` in the place of the existing file `replaced` in one
// step, keeping the replaced file's attributes and access rules: ReplaceFileW,
// falling back to MoveFileExW (replace existing, write-through), which keeps
// the replacement's own. A read-only file is not replaced.
bool ReplaceFileW(const std::u16string& replaced, const std::u16string& replacement);
// PathIsUNCW: \\server\share and \\?\UNC\ forms.
bool PathIsUNCW(const std::u16string& path);

struct FindData {
    std::u16string name;  // the entry's name without its folder
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
};

// FindFirstFileW / FindNextFileW over a pattern whose last part may hold
// "*" and "?"; closes its search handle itself.
class FileFinder {
public:
    FileFinder();
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;

    bool First(const std::u16string& pattern, FindData* data);
    bool Next(FindData* data);
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// GetTempPathW: with a trailing backslash.
std::u16string GetTempPathW();
// GetTempPath2W when the system has it; false when it does not.
bool GetTempPath2W(std::u16string* path);
std::u16string GetWindowsDirectoryW();
// GetTempFileNameW with unique number 0: creates the empty file and returns
// its path, or an empty text on failure.
std::u16string GetTempFileNameW(const std::u16string& folder, const std::u16string& prefix);
// Creates a folder whose access list gives full control to the given
// accounts (string SIDs) only, inherited by its files and subfolders.
bool CreateDirectoryForAccounts(const std::u16string& path, const char16_t* const* sids,
                                std::size_t sidCount);

}  // namespace platform
