// Access lists, account look-up and process start over advapi32 and shell32.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <vector>

#include "platform/Security.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

using win32::U;
using win32::W;

constexpr DWORD kFirstBufferSize = 260;

struct LibraryTraits {
    using Type = HMODULE;
    static HMODULE Empty() { return nullptr; }
    static void Release(HMODULE module) { ::FreeLibrary(module); }
};
using Library = win32::Owned<LibraryTraits>;

// ConvertStringSidToSidW is taken from advapi32 at run time, so that the
// library loads on systems whose advapi32 lacks the export.
bool StringToSid(const std::u16string& text, win32::LocalMemory<PSID>* sid) {
    using Function = BOOL(WINAPI*)(LPCWSTR, PSID*);
    Library advapi(::LoadLibraryW(L"Advapi32.dll"));
    if (!advapi.Valid()) return false;
    const auto convert = reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(advapi.Get(), "ConvertStringSidToSidW")));
    if (convert == nullptr) return false;
    return convert(W(text), sid->Out()) != FALSE;
}

std::u16string SidToString(PSID sid) {
    win32::LocalMemory<LPWSTR> text;
    if (!::ConvertSidToStringSidW(sid, text.Out())) return std::u16string();
    return U(text.Get());
}

}  // namespace

// The buffers start at 260 characters and grow once to the sizes that
// Windows asks for.
bool LookupAccountNameW(const std::u16string& name, Account* account) {
    DWORD sidSize = kFirstBufferSize, domainSize = kFirstBufferSize;
    std::vector<BYTE> sid(sidSize);
    std::vector<wchar_t> domain(domainSize);
    SID_NAME_USE use = SidTypeUnknown;
    BOOL found = ::LookupAccountNameW(nullptr, W(name), sid.data(), &sidSize, domain.data(), &domainSize, &use);
    if (!found && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        sid.resize(sidSize);
        domain.resize(domainSize);
        found = ::LookupAccountNameW(nullptr, W(name), sid.data(), &sidSize, domain.data(), &domainSize, &use);
    }
    if (!found) return false;
    account->sid = SidToString(sid.data());
    account->type = static_cast<std::uint32_t>(use);
    return !account->sid.empty();
}

bool LookupAccountSidW(const std::u16string& sidText, Account* account) {
    win32::LocalMemory<PSID> sid;
    if (!StringToSid(sidText, &sid)) return false;
    DWORD nameSize = kFirstBufferSize, domainSize = kFirstBufferSize;
    std::vector<wchar_t> name(nameSize), domain(domainSize);
    SID_NAME_USE use = SidTypeUnknown;
    BOOL found = ::LookupAccountSidW(nullptr, sid.Get(), name.data(), &nameSize, domain.data(), &domainSize, &use);
    if (!found && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        name.resize(nameSize);
        domain.resize(domainSize);
        found = ::LookupAccountSidW(nullptr, sid.Get(), name.data(), &nameSize, domain.data(), &domainSize, &use);
    }
    if (!found) return false;
    account->sid = SidToString(sid.Get());
    account->type = static_cast<std::uint32_t>(use);
    return true;
}

// The list lives in memory that the backend freed for us: a security
// descriptor read from an object (the list points into it), or a list that
// SetEntriesInAclW made.
struct AccessList::Impl {
    win32::LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    win32::LocalMemory<PACL> merged;
    PACL dacl = nullptr;
};

AccessList::AccessList() : impl_(std::make_unique<Impl>()) {}
AccessList::~AccessList() = default;
AccessList::AccessList(AccessList&& other) noexcept : impl_(std::move(other.impl_)) {}
AccessList& AccessList::operator=(AccessList&& other) noexcept {
    if (this != &other) impl_ = std::move(other.impl_);
    return *this;
}

bool AccessList::Exists() const { return impl_ && impl_->dacl != nullptr; }

std::vector<AccessEntry> AccessList::ExplicitEntries() const {
    std::vector<AccessEntry> entries;
    if (!Exists()) return entries;
    ACL_SIZE_INFORMATION size{};
    if (!::GetAclInformation(impl_->dacl, &size, sizeof size, AclSizeInformation)) return entries;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(impl_->dacl, i, &ace)) continue;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if ((header->AceFlags & INHERITED_ACE) != 0) continue;
        // Allowed and denied entries share one layout: header, mask, SID.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        AccessEntry entry;
        entry.sid = SidToString(&allowed->SidStart);
        entry.permissions = allowed->Mask;
        entry.mode = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? kGrantAccess : kDenyAccess;
        entry.inheritance = header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        entries.push_back(entry);
    }
    return entries;
}

std::uint32_t GetNamedSecurityDacl(const std::u16string& name, std::uint32_t objectType, AccessList* dacl) {
    AccessList::Impl& impl = dacl->Get();
    impl.merged.Reset();
    impl.dacl = nullptr;
    PACL list = nullptr;
    const DWORD result =
        ::GetNamedSecurityInfoW(W(name), static_cast<SE_OBJECT_TYPE>(objectType), DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &list, nullptr, impl.descriptor.Out());
    if (result == ERROR_SUCCESS) impl.dacl = list;
    return result;
}

std::uint32_t SetEntriesInAclW(const std::vector<AccessEntry>& entries, const AccessList* existing,
                               AccessList* merged) {
    std::vector<win32::LocalMemory<PSID>> sids(entries.size());
    std::vector<EXPLICIT_ACCESS_W> access(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!StringToSid(entries[i].sid, &sids[i])) {
            const DWORD error = ::GetLastError();
            return error != ERROR_SUCCESS ? error : ERROR_INVALID_SID;
        }
        EXPLICIT_ACCESS_W& e = access[i];
        e.grfAccessPermissions = entries[i].permissions;
        e.grfAccessMode = static_cast<ACCESS_MODE>(entries[i].mode);
        e.grfInheritance = entries[i].inheritance;
        e.Trustee.pMultipleTrustee = nullptr;
        e.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
        e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        e.Trustee.TrusteeType = static_cast<TRUSTEE_TYPE>(entries[i].trusteeType);
        e.Trustee.ptstrName = static_cast<LPWSTR>(sids[i].Get());
    }
    PACL old = existing != nullptr && existing->Exists() ? existing->Get().dacl : nullptr;
    win32::LocalMemory<PACL> list;
    const DWORD result = ::SetEntriesInAclW(static_cast<ULONG>(access.size()), access.data(), old, list.Out());
    if (result != ERROR_SUCCESS) return result;
    // A descriptor that takes the list, as the caller will hand it on.
    win32::LocalMemory<PSECURITY_DESCRIPTOR> descriptor(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor.Valid()) return ::GetLastError();
    if (!::InitializeSecurityDescriptor(descriptor.Get(), SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(descriptor.Get(), TRUE, list.Get(), FALSE)) {
        return ::GetLastError();
    }
    // Only now may the old list go: it can be the one being merged into.
    AccessList::Impl& impl = merged->Get();
    impl.merged = std::move(list);
    impl.descriptor.Reset();
    impl.dacl = impl.merged.Get();
    return ERROR_SUCCESS;
}

std::uint32_t SetNamedSecurityDacl(const std::u16string& name, std::uint32_t objectType, const AccessList& dacl) {
    std::u16string writable = name;  // older SDKs declare the name as LPWSTR
    return ::SetNamedSecurityInfoW(const_cast<LPWSTR>(W(writable)), static_cast<SE_OBJECT_TYPE>(objectType),
                                   DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl.Get().dacl, nullptr);
}

bool RunProcessAndWait(const std::u16string& file, const std::u16string& parameters, std::uint32_t* exitCode) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = W(file);
    info.lpParameters = W(parameters);
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&info) || info.hProcess == nullptr) return false;
    win32::KernelHandle process(info.hProcess);
    ::WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.Get(), &code)) return false;
    *exitCode = code;
    return true;
}

}  // namespace platform
