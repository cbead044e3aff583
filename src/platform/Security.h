// Windows security functions: access lists of files and registry keys,
// account look-up, and starting a process and waiting for its exit code
// (for the system tool icacls).
//
// SIDs travel as their string form ("S-1-5-32-544"); the backends convert.
// Results are Windows error codes, or false with the last error set
// (platform::GetLastError of Files.h).
//
// The POSIX backend stands in for all of it: it keeps the explicit entries
// that were set on each file in a store under the sandbox root (a file that
// is deleted and made again starts without entries, as on Windows), knows
// the accounts of a small Windows machine, and answers the process "icacls"
// with its own in-process tool that saves, restores and resets those
// entries with icacls' command line and exit codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// SE_OBJECT_TYPE
constexpr std::uint32_t kSeFileObject = 1;
constexpr std::uint32_t kSeRegistryKey = 4;

// ACCESS_MODE
constexpr std::uint32_t kGrantAccess = 1;
constexpr std::uint32_t kSetAccess = 2;
constexpr std::uint32_t kDenyAccess = 3;
constexpr std::uint32_t kRevokeAccess = 4;

// Inheritance flags of an entry.
constexpr std::uint32_t kObjectInherit = 1;
constexpr std::uint32_t kContainerInherit = 2;
constexpr std::uint32_t kSubContainersAndObjectsInherit = 3;

// SID_NAME_USE
constexpr std::uint32_t kSidTypeUser = 1;
constexpr std::uint32_t kSidTypeGroup = 2;
constexpr std::uint32_t kSidTypeDomain = 3;
constexpr std::uint32_t kSidTypeAlias = 4;
constexpr std::uint32_t kSidTypeWellKnownGroup = 5;
constexpr std::uint32_t kSidTypeDeletedAccount = 6;
constexpr std::uint32_t kSidTypeInvalid = 7;
constexpr std::uint32_t kSidTypeUnknown = 8;
constexpr std::uint32_t kSidTypeComputer = 9;

// TRUSTEE_TYPE
constexpr std::uint32_t kTrusteeIsUnknown = 0;
constexpr std::uint32_t kTrusteeIsComputer = 8;

// Access masks used by tests and the stand-in's texts.
constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kFileAllAccess = 0x001F01FFu;
constexpr std::uint32_t kFileGenericRead = 0x00120089u;
constexpr std::uint32_t kFileGenericReadExecute = 0x001200A9u;
constexpr std::uint32_t kFileGenericWrite = 0x00120116u;

constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorNoneMapped = 1332;
constexpr std::uint32_t kErrorInvalidSid = 1337;

struct Account {
    std::u16string sid;
    std::uint32_t type = 0;  // SID_NAME_USE
};

// LookupAccountNameW on the local system: a name, or "DOMAIN\name".
bool LookupAccountNameW(const std::u16string& name, Account* account);
// ConvertStringSidToSidW, then LookupAccountSidW for the account type.
// ERROR_INVALID_SID for a text that is no SID, ERROR_NONE_MAPPED for a SID
// that no account has.
bool LookupAccountSidW(const std::u16string& sid, Account* account);

// An entry of an access list, as EXPLICIT_ACCESS_W with a SID trustee.
struct AccessEntry {
    std::u16string sid;
    std::uint32_t permissions = 0;
    std::uint32_t mode = kSetAccess;  // entries read back are kGrantAccess or kDenyAccess
    std::uint32_t inheritance = 0;
    std::uint32_t trusteeType = kTrusteeIsUnknown;
};

// A discretionary access list (DACL); frees itself.
class AccessList {
public:
    AccessList();
    ~AccessList();
    AccessList(AccessList&& other) noexcept;
    AccessList& operator=(AccessList&& other) noexcept;
    AccessList(const AccessList&) = delete;
    AccessList& operator=(const AccessList&) = delete;

    // False for no list at all: an object without a DACL, or nothing read yet.
    bool Exists() const;
    // The explicit (not inherited) entries, in list order.
    std::vector<AccessEntry> ExplicitEntries() const;

    struct Impl;
    Impl& Get() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// GetNamedSecurityInfoW (DACL_SECURITY_INFORMATION).
std::uint32_t GetNamedSecurityDacl(const std::u16string& name, std::uint32_t objectType, AccessList* dacl);
// SetEntriesInAclW over the existing list (or none), and a new security
// descriptor that takes the merged list, which proves the list usable.
std::uint32_t SetEntriesInAclW(const std::vector<AccessEntry>& entries, const AccessList* existing,
                               AccessList* merged);
// SetNamedSecurityInfoW (DACL_SECURITY_INFORMATION, no owner, group or SACL).
std::uint32_t SetNamedSecurityDacl(const std::u16string& name, std::uint32_t objectType, const AccessList& dacl);

// ShellExecuteExW (no verb, no folder, hidden, SEE_MASK_NOCLOSEPROCESS |
// SEE_MASK_FLAG_NO_UI), then WaitForSingleObject without time-out and
// GetExitCodeProcess. False when no process was started.
bool RunProcessAndWait(const std::u16string& file, const std::u16string& parameters, std::uint32_t* exitCode);

}  // namespace platform
