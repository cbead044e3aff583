// The security functions of the POSIX backend.
//
// Accounts: the sandbox is a workgroup machine "TRELLIS-PC" whose local
// accounts have SIDs below S-1-5-21-1000-1000-1000 (the same machine part
// that GetProcessUserSid gives the Unix user). LookupAccountNameW knows the
// English names of the common well-known and built-in accounts, the
// machine's Administrator, Guest and DefaultAccount, and the Unix user.
// LookupAccountSidW knows those SIDs and, like Windows, every other
// well-known SID (any SID outside the S-1-5-21 domain space); a domain SID
// it does not know is not mapped.
//
// Access lists exist for files and folders only (the access-rule store of
// AccessRules.h); the registry stand-in keeps none, so registry keys give
// ERROR_CALL_NOT_IMPLEMENTED.
#include "platform/Security.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/posix/AccessRules.h"
#include "platform/posix/CaseFolding.h"
#include "platform/posix/Icacls.h"

namespace platform {
namespace {

constexpr std::uint32_t kErrorBadParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr std::uint32_t kErrorCallNotImplemented = 120;
constexpr std::uint32_t kSidTypeLabel = 10;

const std::u16string kMachineName = u"TRELLIS-PC";
const std::u16string kMachineSid = u"S-1-5-21-1000-1000-1000";

struct KnownAccount {
    std::u16string domain;
    std::u16string name;
    std::u16string sid;
    std::uint32_t type;
};

std::u16string UnixUserName() {
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return strings::FromUtf8(found->pw_name);
    }
    return u"user" + strings::FromUtf8(std::to_string(::getuid()));
}

const std::vector<KnownAccount>& KnownAccounts() {
    static const std::vector<KnownAccount> accounts = [] {
        std::vector<KnownAccount> list = {
            {u"", u"Everyone", u"S-1-1-0", kSidTypeWellKnownGroup},
            {u"", u"LOCAL", u"S-1-2-0", kSidTypeWellKnownGroup},
            {u"", u"CONSOLE LOGON", u"S-1-2-1", kSidTypeWellKnownGroup},
            {u"", u"CREATOR OWNER", u"S-1-3-0", kSidTypeWellKnownGroup},
            {u"", u"CREATOR GROUP", u"S-1-3-1", kSidTypeWellKnownGroup},
            {u"", u"NT AUTHORITY", u"S-1-5", kSidTypeDomain},
            {u"NT AUTHORITY", u"DIALUP", u"S-1-5-1", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"NETWORK", u"S-1-5-2", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"BATCH", u"S-1-5-3", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"INTERACTIVE", u"S-1-5-4", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"SERVICE", u"S-1-5-6", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"ANONYMOUS LOGON", u"S-1-5-7", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"Authenticated Users", u"S-1-5-11", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"SYSTEM", u"S-1-5-18", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"LOCAL SERVICE", u"S-1-5-19", kSidTypeWellKnownGroup},
            {u"NT AUTHORITY", u"NETWORK SERVICE", u"S-1-5-20", kSidTypeWellKnownGroup},
            {u"", u"BUILTIN", u"S-1-5-32", kSidTypeDomain},
            {u"BUILTIN", u"Administrators", u"S-1-5-32-544", kSidTypeAlias},
            {u"BUILTIN", u"Users", u"S-1-5-32-545", kSidTypeAlias},
            {u"BUILTIN", u"Guests", u"S-1-5-32-546", kSidTypeAlias},
            {u"BUILTIN", u"Power Users", u"S-1-5-32-547", kSidTypeAlias},
            {u"BUILTIN", u"Backup Operators", u"S-1-5-32-551", kSidTypeAlias},
            {u"BUILTIN", u"Remote Desktop Users", u"S-1-5-32-555", kSidTypeAlias},
            {u"", kMachineName, kMachineSid, kSidTypeDomain},
            {kMachineName, u"Administrator", kMachineSid + u"-500", kSidTypeUser},
            {kMachineName, u"Guest", kMachineSid + u"-501", kSidTypeUser},
            {kMachineName, u"DefaultAccount", kMachineSid + u"-503", kSidTypeUser},
        };
        list.push_back({kMachineName, UnixUserName(), kMachineSid + u"-" + strings::FromUtf8(std::to_string(::getuid())),
                        kSidTypeUser});
        return list;
    }();
    return accounts;
}

// The account type Windows reports for a well-known SID that the table
// above does not name.
std::uint32_t WellKnownType(const std::u16string& sid) {
    if (strings::StartsWith(sid, u"S-1-5-32-")) return kSidTypeAlias;
    if (strings::StartsWith(sid, u"S-1-16-")) return kSidTypeLabel;
    return kSidTypeWellKnownGroup;
}

}  // namespace

bool LookupAccountNameW(const std::u16string& name, Account* account) {
    const std::size_t slash = name.find(u'\\');
    const std::u16string domain = slash == std::u16string::npos ? std::u16string() : name.substr(0, slash);
    const std::u16string user = slash == std::u16string::npos ? name : name.substr(slash + 1);
    for (const KnownAccount& known : KnownAccounts()) {
        const bool domainMatches = slash == std::u16string::npos || posix::EqualsIgnoreCase(known.domain, domain);
        if (domainMatches && !user.empty() && posix::EqualsIgnoreCase(known.name, user)) {
            account->sid = known.sid;
            account->type = known.type;
            return true;
        }
    }
    SetLastError(kErrorNoneMapped);
    return false;
}

bool LookupAccountSidW(const std::u16string& sidText, Account* account) {
    if (!posix::IsValidSid(sidText)) {
        SetLastError(kErrorInvalidSid);
        return false;
    }
    std::u16string sid = sidText;
    sid[0] = u'S';
    for (const KnownAccount& known : KnownAccounts()) {
        if (known.sid == sid) {
            account->sid = sid;
            account->type = known.type;
            return true;
        }
    }
    if (strings::StartsWith(sid, u"S-1-5-21-")) {
        SetLastError(kErrorNoneMapped);
        return false;
    }
    account->sid = sid;
    account->type = WellKnownType(sid);
    return true;
}

struct AccessList::Impl {
    bool exists = false;
    std::vector<AccessEntry> entries;
};

AccessList::AccessList() : impl_(std::make_unique<Impl>()) {}
AccessList::~AccessList() = default;
AccessList::AccessList(AccessList&& other) noexcept : impl_(std::move(other.impl_)) {}
AccessList& AccessList::operator=(AccessList&& other) noexcept {
    if (this != &other) impl_ = std::move(other.impl_);
    return *this;
}

bool AccessList::Exists() const { return impl_ && impl_->exists; }

std::vector<AccessEntry> AccessList::ExplicitEntries() const {
    return Exists() ? impl_->entries : std::vector<AccessEntry>();
}

std::uint32_t GetNamedSecurityDacl(const std::u16string& name, std::uint32_t objectType, AccessList* dacl) {
    AccessList::Impl& impl = dacl->Get();
    impl = AccessList::Impl();
    if (objectType != kSeFileObject) return kErrorCallNotImplemented;
    if (!posix::ReadAccessRules(name, &impl.entries)) return GetLastError();
    impl.exists = true;
    return 0;
}

// The merge rules of SetEntriesInAclW for the modes it is given: SET
// replaces every entry of the account by one allowing entry, GRANT adds
// rights to the account's allowing entry, DENY adds a denying entry, REVOKE
// drops the account's allowing entries. Denying entries stay in front.
std::uint32_t SetEntriesInAclW(const std::vector<AccessEntry>& entries, const AccessList* existing,
                               AccessList* merged) {
    std::vector<AccessEntry> list = existing != nullptr ? existing->ExplicitEntries() : std::vector<AccessEntry>();
    for (AccessEntry entry : entries) {
        if (!posix::IsValidSid(entry.sid)) return kErrorInvalidSid;
        entry.sid[0] = u'S';
        const auto sameAccount = [&](const AccessEntry& e) { return e.sid == entry.sid; };
        const auto allowsAccount = [&](const AccessEntry& e) { return e.sid == entry.sid && e.mode == kGrantAccess; };
        switch (entry.mode) {
        case kSetAccess:
            list.erase(std::remove_if(list.begin(), list.end(), sameAccount), list.end());
            entry.mode = kGrantAccess;
            list.push_back(entry);
            break;
        case kGrantAccess: {
            const auto found = std::find_if(list.begin(), list.end(), [&](const AccessEntry& e) {
                return allowsAccount(e) && e.inheritance == entry.inheritance;
            });
            if (found != list.end()) {
                found->permissions |= entry.permissions;
            } else {
                list.push_back(entry);
            }
            break;
        }
        case kDenyAccess:
            list.push_back(entry);
            break;
        case kRevokeAccess:
            list.erase(std::remove_if(list.begin(), list.end(), allowsAccount), list.end());
            break;
        default:
            return kErrorBadParameter;
        }
    }
    std::stable_partition(list.begin(), list.end(), [](const AccessEntry& e) { return e.mode == kDenyAccess; });
    for (AccessEntry& e : list) e.trusteeType = kTrusteeIsUnknown;
    AccessList::Impl& impl = merged->Get();
    impl.entries = std::move(list);
    impl.exists = true;
    return 0;
}

std::uint32_t SetNamedSecurityDacl(const std::u16string& name, std::uint32_t objectType, const AccessList& dacl) {
    if (objectType != kSeFileObject) return kErrorCallNotImplemented;
    if (!posix::WriteAccessRules(name, dacl.ExplicitEntries())) return GetLastError();
    return 0;
}

// Only icacls can be started, and it runs in this process.
bool RunProcessAndWait(const std::u16string& file, const std::u16string& parameters, std::uint32_t* exitCode) {
    const std::size_t slash = file.find_last_of(u"\\/");
    std::u16string name = slash == std::u16string::npos ? file : file.substr(slash + 1);
    if (name.size() > 4 && posix::EqualsIgnoreCase(name.substr(name.size() - 4), u".exe")) name.resize(name.size() - 4);
    if (!posix::EqualsIgnoreCase(name, u"icacls")) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    *exitCode = posix::RunIcaclsStandIn(parameters);
    return true;
}

}  // namespace platform
