// Access rules that a package grants on the objects it installs, merged into
// each object's access list: the rows of QM_LockPermissions.
#pragma once

#include <cstdint>
#include <vector>

#include "installer/WideString.h"

struct PermissionRule {
    WideString domain;
    WideString user;  // an account name, or a SID string
    std::uint32_t permission = 0;  // the access mask to set
};

// The kinds of object a set applies to.
constexpr int kPermissionObjectFile = 0;
constexpr int kPermissionObjectXmlFile = 1;
constexpr int kPermissionObjectRegistryKey = 2;  // named as SE_REGISTRY_KEY wants: "MACHINE\Software\..."

// Dialog results of PermissionErrorHandler::Ask.
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
// What Ask asks about.
constexpr int kAskUnresolvedAccount = 0;
constexpr int kAskMissingNetworkObject = 1;

// Lets a caller report failures and decide about retries. Without one,
// nothing is reported and every question counts as IDABORT.
class PermissionErrorHandler {
public:
    virtual ~PermissionErrorHandler() = default;
    virtual void Report(const WideString& objectName, const WideString& message) = 0;
    virtual int Ask(const WideString& text, int kind) = 0;
};

struct PermissionSet {
    WideString objectName;
    int objectKind = kPermissionObjectXmlFile;
    std::vector<PermissionRule> rules;  // in row order
    PermissionErrorHandler* errorHandler = nullptr;  // not owned
};

// At least two characters, "S-" in either case, and at least two "-".
bool IsSidString(const WideString& text);
// Files: the attributes of the name in its long-path form, with WOW64
// file-system redirection off. Registry keys: the key opens for reading.
bool PermissionObjectExists(const PermissionSet& set);
// 0 when the rules were applied, when there are none, or when the object
// is missing and may be skipped; 1 on every failure that ends it.
int ApplyPermissionRules(const PermissionSet& set);
