#include "permissions/PermissionRules.h"

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/os/FileSystem.h"
#include "platform/os/SystemInfo.h"

namespace {

// "[ERR] " lines go to the set's handler; a set without one stays silent
// and its caller reports the failure in its own words.
void ReportError(const PermissionSet& set, const WideString& message) {
    if (set.errorHandler != nullptr) set.errorHandler->Report(set.objectName, u"[ERR] " + message);
}

int Ask(const PermissionSet& set, const WideString& text, int kind) {
    return set.errorHandler != nullptr ? set.errorHandler->Ask(text, kind) : kIdAbort;
}

bool IsNetworkPath(const WideString& name) {
    return platform::PathIsUNCW(NormalizeBackslashes(StripLongPathPrefix(name)));
}

bool RegistryKeyExists(const WideString& name) {
    struct Root {
        const char16_t* prefix;
        platform::HKey key;
    };
    static const Root kRoots[] = {{u"CLASSES_ROOT\\", platform::kHKeyClassesRoot},
                                  {u"CURRENT_USER\\", platform::kHKeyCurrentUser},
                                  {u"MACHINE\\", platform::kHKeyLocalMachine},
                                  {u"USERS\\", platform::kHKeyUsers}};
    for (const Root& root : kRoots) {
        const WideString prefix = root.prefix;
        if (name.size() < prefix.size() || !EqualsIgnoreCaseAscii(name.substr(0, prefix.size()), prefix)) continue;
        platform::HKey key = 0;
        if (platform::RegOpenKeyExW(root.key, name.substr(prefix.size()), platform::kKeyRead, &key) !=
            platform::kRegSuccess)
            return false;
        platform::RegCloseKey(key);
        return true;
    }
    return false;
}

std::uint32_t TrusteeTypeFor(std::uint32_t sidType) {
    if (sidType >= platform::kSidTypeUser && sidType <= platform::kSidTypeInvalid) return sidType;
    if (sidType == platform::kSidTypeComputer) return platform::kTrusteeIsComputer;
    return platform::kTrusteeIsUnknown;
}

// A rule naming a SID string is applied by that SID, so that it does not
// depend on the language of the account names; any other by its name.
bool ResolveRule(const PermissionRule& rule, platform::AccessEntry* entry) {
    const WideString account = rule.domain.empty() ? rule.user : rule.domain + u"\\" + rule.user;
    platform::Account found;
    const bool resolved = IsSidString(rule.user) ? platform::LookupAccountSidW(rule.user, &found)
                                                 : platform::LookupAccountNameW(account, &found);
    if (!resolved) return false;
    entry->sid = found.sid;
    entry->permissions = rule.permission;
    entry->mode = platform::kSetAccess;
    entry->inheritance = platform::kSubContainersAndObjectsInherit;
    entry->trusteeType = TrusteeTypeFor(found.type);
    return true;
}

// The object's name as the security functions get it.
WideString SecurityObjectName(const PermissionSet& set) {
    return set.objectKind == kPermissionObjectRegistryKey ? set.objectName : ToLongPath(set.objectName);
}

}  // namespace

bool IsSidString(const WideString& text) {
    if (text.size() < 2 || (text[0] != u'S' && text[0] != u's') || text[1] != u'-') return false;
    std::size_t dashes = 0;
    for (char16_t c : text) dashes += c == u'-' ? 1 : 0;
    return dashes >= 2;
}

bool PermissionObjectExists(const PermissionSet& set) {
    if (set.objectKind == kPermissionObjectRegistryKey) return RegistryKeyExists(set.objectName);
    const WideString path = ToLongPath(NormalizeBackslashes(StripLongPathPrefix(set.objectName)));
    Wow64RedirectionOff redirection;
    return platform::GetFileAttributesW(path) != platform::kInvalidFileAttributes;
}

int ApplyPermissionRules(const PermissionSet& set) {
    if (set.rules.empty()) return 0;
    LogIfEnabled(u"[INFO] Updating access control rules for object: " + set.objectName);

    if (!PermissionObjectExists(set)) {
        if (set.objectKind == kPermissionObjectRegistryKey || !IsNetworkPath(set.objectName)) {
            LogIfEnabled(u"[INFO] Object does not physically exist. Skipping ACL rule update operation.");
            return 0;
        }
        for (;;) {
            const int answer = Ask(set, set.objectName, kAskMissingNetworkObject);
            if (answer == kIdIgnore) {
                LogIfEnabled(u"[INFO] Object does not physically exist. Skipping ACL rule update operation.");
                return 0;
            }
            if (answer != kIdRetry) {
                ReportError(set, u"Object does not physically exist. Stopping instalation.");
                return 1;
            }
            if (PermissionObjectExists(set)) break;
        }
    }

    const WideString name = SecurityObjectName(set);
    const std::uint32_t type =
        set.objectKind == kPermissionObjectRegistryKey ? platform::kSeRegistryKey : platform::kSeFileObject;
    platform::AccessList existing;
    const std::uint32_t readResult = platform::GetNamedSecurityDacl(name, type, &existing);
    if (readResult != 0) {
        // The rules are still set; they then make up the whole list.
        ReportError(set, u"Failed to retrieve resource security information, ErrCode = " + ToWideUnsigned(readResult));
    }

    std::vector<platform::AccessEntry> entries;
    for (const PermissionRule& rule : set.rules) {
        platform::AccessEntry entry;
        while (!ResolveRule(rule, &entry)) {
            const WideString account = rule.domain.empty() ? rule.user : rule.domain + u"\\" + rule.user;
            if (Ask(set, account, kAskUnresolvedAccount) != kIdRetry) {
                ReportError(set, u"Could not add new permission to Security Descriptor.");
                return 1;
            }
        }
        entries.push_back(entry);
    }

    platform::AccessList merged;
    if (platform::SetEntriesInAclW(entries, readResult == 0 ? &existing : nullptr, &merged) != 0) {
        ReportError(set, u"New security descriptor could not be created.");
        return 1;
    }
    const std::uint32_t result = platform::SetNamedSecurityDacl(name, type, merged);
    LogIfEnabled(u"[INFO] Object access control rules updated. Operation result: " + ToWideUnsigned(result));
    if (result != 0) {
        ReportError(set, u"Failed to update permissions, ErrCode = " + ToWideUnsigned(result));
        return 1;
    }
    return 0;
}
