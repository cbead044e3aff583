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
    *file.impl_->handle.Out() = ::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file;
}

File File::Create(const std::u16string& path) {
    File file;
    *file.impl_->handle.Out() = ::CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
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

void File::Close() {
    if (impl_) impl_->handle.Reset();
}

bool CopyFileNoOverwrite(const std::u16string& from, const std::u16string& to) {
    return ::CopyFileW(W(from), W(to), TRUE) != FALSE;
}

bool CopyFileOverwrite(const std::u16string& from, const std::u16string& to) {
    return ::CopyFileW(W(from), W(to), FALSE) != FALSE;
}

bool DeleteFileW(const std::u16string& path) { return ::DeleteFileW(W(path)) != FALSE; }
bool CreateDirectoryW(const std::u16string& path) { return ::CreateDirectoryW(W(path), nullptr) != FALSE; }
bool RemoveDirectoryW(const std::u16string& path) { return ::RemoveDirectoryW(W(path)) != FALSE; }
std::uint32_t GetFileAttributesW(const std::u16string& path) { return ::GetFileAttributesW(W(path)); }
bool SetFileAttributesW(const std::u16string& path, std::uint32_t attributes) {
    return ::SetFileAttributesW(W(path), attributes) != FALSE;
}
bool PathFileExistsW(const std::u16string& path) { return ::PathFileExistsW(W(path)) != FALSE; }

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
