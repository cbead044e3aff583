// Windows file functions: thin wrappers over kernel32, shlwapi and advapi32.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlwapi.h>

#include <vector>

#include "platform/Files.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

using win32::U;
using win32::W;

// Symbolic links, junctions and mount points stand for another name; other
// reparse points (deduplicated or cloud files) are files with data of their own.
bool IsNameSurrogate(DWORD tag) { return (tag & 0x20000000u) != 0; }

// The reparse tag of a name, which FindFirstFileW reports without following it.
bool ReparseTag(const std::u16string& path, DWORD* tag) {
    WIN32_FIND_DATAW found;
    win32::FindHandle search(::FindFirstFileW(W(path), &found));
    if (!search.Valid()) return false;
    *tag = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? found.dwReserved0 : 0;
    return true;
}

// A file on a disk, not a console, a pipe or another device.
bool IsDiskFile(HANDLE handle) { return ::GetFileType(handle) == FILE_TYPE_DISK; }

// CreateFileW with normal attributes and no security or template.
HANDLE OpenHandle(const std::u16string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0) {
    return ::CreateFileW(W(path), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

}  // namespace

std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::u16string FormatSystemMessage(std::uint32_t code) {
    win32::LocalMemory<wchar_t*> buffer;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<wchar_t*>(buffer.Out()), 0, nullptr);
    if (length == 0 || !buffer.Valid()) return std::u16string();
    return U(buffer.Get(), length);
}

struct File::Impl {
    win32::FileHandle handle;
};

File::File() : impl_(std::make_unique<Impl>()) {}
File::~File() = default;
File::File(File&& other) noexcept : impl_(std::move(other.impl_)) {}
File& File::operator=(File&& other) noexcept {
    if (this != &other) impl_ = std::move(other.impl_);
    return *this;
}

File File::OpenForRead(const std::u16string& path) {
    File file;
    *file.impl_->handle.Out() = OpenHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    return file;
}

// Opened without following a link at the last component; a reparse point
// that is not a link is opened again the ordinary way, so that its filter
// gives the file's data.
File File::OpenRegularForRead(const std::u16string& path) {
    File file;
    win32::FileHandle handle(
        OpenHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
    if (!handle.Valid()) return file;
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!::GetFileInformationByHandleEx(handle.Get(), FileAttributeTagInfo, &info, sizeof info)) return file;
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (IsNameSurrogate(info.ReparseTag)) {
            ::SetLastError(kErrorStoppedOnSymlink);  // ERROR_STOPPED_ON_SYMLINK
            return file;
        }
        *handle.Out() = OpenHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        if (!handle.Valid()) return file;
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsDiskFile(handle.Get())) {
        ::SetLastError((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_ACCESS_DENIED
                                                                            : ERROR_BAD_FILE_TYPE);
        return file;
    }
    file.impl_->handle = std::move(handle);
    return file;
}

File File::CreateNew(const std::u16string& path) {
    File file;
    *file.impl_->handle.Out() = OpenHandle(path, GENERIC_WRITE, 0, CREATE_NEW);
    return file;
}

File File::Create(const std::u16string& path) {
    File file;
    *file.impl_->handle.Out() = OpenHandle(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    return file;
}

bool File::IsOpen() const { return impl_ && impl_->handle.Valid(); }

bool File::GetSize(std::uint64_t* size) const {
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(impl_->handle.Get(), &value)) return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool File::Read(void* buffer, std::uint32_t wanted, std::uint32_t* read) {
    *read = 0;
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    auto* out = static_cast<char*>(buffer);
    while (*read < wanted) {
        DWORD got = 0;
        if (!::ReadFile(impl_->handle.Get(), out + *read, wanted - *read, &got, nullptr)) return false;
        if (got == 0) break;
        *read += got;
    }
    return true;
}

bool File::Write(const void* data, std::uint32_t size) {
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(impl_->handle.Get(), in, size, &written, nullptr)) return false;
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        in += written;
        size -= written;
    }
    return true;
}

bool File::Flush() {
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::FlushFileBuffers(impl_->handle.Get()) != FALSE;
}

void File::Close() {
    if (impl_) impl_->handle.Reset();
}

bool CopyFileNoOverwrite(const std::u16string& from, const std::u16string& to) {
    return ::CopyFileW(W(from), W(to), TRUE) != FALSE;
}

bool DeleteFileW(const std::u16string& path) { return ::DeleteFileW(W(path)) != FALSE; }
bool CreateDirectoryW(const std::u16string& path) { return ::CreateDirectoryW(W(path), nullptr) != FALSE; }
bool RemoveDirectoryW(const std::u16string& path) { return ::RemoveDirectoryW(W(path)) != FALSE; }
std::uint32_t GetFileAttributesW(const std::u16string& path) { return ::GetFileAttributesW(W(path)); }
bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    return ::SetFileAttributesW(W(path), attributes) != FALSE;
}
bool PathFileExistsW(const std::u16string& path) { return ::PathFileExistsW(W(path)) != FALSE; }

bool GetPathKind(const std::u16string& path, PathKind* kind) {
    const DWORD attributes = ::GetFileAttributesW(W(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
        *kind = PathKind::Missing;
        return true;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        DWORD tag = 0;
        if (!ReparseTag(path, &tag)) return false;
        if (IsNameSurrogate(tag)) {
            *kind = PathKind::Link;
            return true;
        }
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *kind = PathKind::Folder;
        return true;
    }
    // Reserved names such as CON or NUL name devices in every folder.
    win32::FileHandle handle(::CreateFileW(W(path), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.Valid()) return false;
    *kind = IsDiskFile(handle.Get()) ? PathKind::File : PathKind::Device;
    return true;
}

bool MoveFileExW(const std::u16string& from, const std::u16string& to, std::uint32_t flags) {
    return ::MoveFileExW(W(from), W(to), flags) != FALSE;
}

// ReplaceFileW can fail half-way (the replaced file moved aside, or gone,
// with the replacement still under its own name): a plain move of the
// replacement then still puts the new bytes under the name. The first
// error is the one reported. Only if the move fails too can the name be
// left empty (ERROR_UNABLE_TO_MOVE_REPLACEMENT), with the replacement intact.
//
// The hidden, system and not-indexed attributes are carried over whichever
// way the file was replaced (Wine's ReplaceFileW and the move do not).
bool ReplaceFileW(const std::u16string& replaced, const std::u16string& replacement) {
    const DWORD attributes = ::GetFileAttributesW(W(replaced));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!::ReplaceFileW(W(replaced), W(replacement), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        const DWORD error = ::GetLastError();
        if (!::MoveFileExW(W(replacement), W(replaced), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ::SetLastError(error);
            return false;
        }
    }
    constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD now = ::GetFileAttributesW(W(replaced));
    if (attributes != INVALID_FILE_ATTRIBUTES && now != INVALID_FILE_ATTRIBUTES &&
        (now & kCarried) != (attributes & kCarried)) {
        const DWORD wanted = (now & ~(kCarried | FILE_ATTRIBUTE_NORMAL)) | (attributes & kCarried);
        ::SetFileAttributesW(W(replaced), wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL);
    }
    return true;
}

// Wine's shlwapi also calls "\\?\C:\..." a UNC path; Windows does not, and
// callers that add or strip long-path prefixes rely on that.
bool PathIsUNCW(const std::u16string& path) {
    if (path.size() >= 4 && path.compare(0, 4, u"\\\\?\\") == 0) {
        return path.size() >= 8 && ::CompareStringOrdinal(W(path) + 4, 4, L"UNC\\", 4, TRUE) == CSTR_EQUAL;
    }
    return ::PathIsUNCW(W(path)) != FALSE;
}

struct FileFinder::Impl {
    win32::FindHandle handle;
};

FileFinder::FileFinder() : impl_(std::make_unique<Impl>()) {}
FileFinder::~FileFinder() = default;

namespace {

void Fill(const WIN32_FIND_DATAW& found, FindData* data) {
    data->name = U(found.cFileName);
    data->attributes = found.dwFileAttributes;
    data->size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

}  // namespace

bool FileFinder::First(const std::u16string& pattern, FindData* data) {
    WIN32_FIND_DATAW found;
    *impl_->handle.Out() = ::FindFirstFileW(W(pattern), &found);
    if (!impl_->handle.Valid()) return false;
    Fill(found, data);
    return true;
}

bool FileFinder::Next(FindData* data) {
    if (!impl_->handle.Valid()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    WIN32_FIND_DATAW found;
    if (!::FindNextFileW(impl_->handle.Get(), &found)) return false;
    Fill(found, data);
    return true;
}

void FileFinder::Close() { impl_->handle.Reset(); }

std::u16string GetTempPathW() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return std::u16string();
        if (length < buffer.size()) return U(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

bool GetTempPath2W(std::u16string* path) {
    using Function = DWORD(WINAPI*)(DWORD, LPWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto function =
        kernel ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTempPath2W")))
               : nullptr;
    if (function == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = function(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return false;
        if (length < buffer.size()) {
            *path = U(buffer.data(), length);
            return true;
        }
        buffer.resize(length + 1);
    }
}

std::u16string GetWindowsDirectoryW() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const UINT length = ::GetWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0) return std::u16string();
        if (length < buffer.size()) return U(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

std::u16string GetTempFileNameW(const std::u16string& folder, const std::u16string& prefix) {
    wchar_t buffer[MAX_PATH];
    if (::GetTempFileNameW(W(folder), W(prefix), 0, buffer) == 0) return std::u16string();
    return U(buffer);
}

// GENERIC_ALL for each account, inherited by files and subfolders, merged
// into a new access list that becomes the folder's DACL.
bool CreateDirectoryForAccounts(const std::u16string& path, const char16_t* const* sids, std::size_t sidCount) {
    std::vector<win32::LocalMemory<PSID>> accounts(sidCount);
    std::vector<EXPLICIT_ACCESSW> entries(sidCount);
    for (std::size_t i = 0; i < sidCount; ++i) {
        if (!::ConvertStringSidToSidW(W(sids[i]), accounts[i].Out())) return false;
        EXPLICIT_ACCESSW& entry = entries[i];
        ZeroMemory(&entry, sizeof entry);
        entry.grfAccessPermissions = GENERIC_ALL;
        entry.grfAccessMode = SET_ACCESS;
        entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
        entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(accounts[i].Get());
    }
    win32::LocalMemory<PACL> acl;
    const DWORD merged =
        ::SetEntriesInAclW(static_cast<ULONG>(sidCount), entries.empty() ? nullptr : entries.data(), nullptr, acl.Out());
    if (merged != ERROR_SUCCESS) {
        ::SetLastError(merged);
        return false;
    }
    SECURITY_DESCRIPTOR descriptor;
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) return false;
    if (!::SetSecurityDescriptorDacl(&descriptor, TRUE, acl.Get(), FALSE)) return false;
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
    return ::CreateDirectoryW(W(path), &attributes) != FALSE;
}

}  // namespace platform
