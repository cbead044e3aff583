// The driver of one action run: what CollectXmlData builds from the
// action's CustomActionData, and what the file operations of the run read.
// Built on entry to an action and released before it returns.
#pragma once

#include <unordered_map>

#include "custact/XML/src/xml/XmlUpdateData.h"
#include "installer/MsiText.h"
#include "permissions/PermissionRules.h"
#include "permissions/SavedPermissions.h"

// The permission rules of the files that have any, by file record.
using XmlPermissionMap = std::unordered_map<const XmlFileRecord*, PermissionSet>;

struct XmlManager {
    explicit XmlManager(InstallerHandle installHandle) : install(installHandle) {}
    XmlManager(const XmlManager&) = delete;
    XmlManager& operator=(const XmlManager&) = delete;

    InstallerHandle install = 0;
    XmlUpdateData data;
    XmlPermissionMap permissions;  // keys point into data.files
    // "ProductCode", or "ProductCode.QM_CA_MODULE_ID" inside a merge module:
    // the key of the product's backup records.
    WideString productKey;
    WideString upgradeCode;
    bool removeAll = false;    // REMOVE is "ALL"
    bool isUpgrading = false;  // UPGRADINGPRODUCTCODE or OLDPRODUCTS is set
    SavedPermissions savedPermissions;
};
