// The driver of one action run: what CollectXmlData builds from the
// action's CustomActionData, and what the file operations of the run read.
// Built on entry to an action and released before it returns.
#pragma once

#include <cstdint>
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

// Every file record of the run, one after the other, in the file map's
// order: 0, or 1603 at the first file that fails without asking to be
// rolled back alone (QM_XmlFile flag 32).
std::uint32_t ExecuteXmlUpdates(XmlManager& manager, int mode);
// One file in this mode; false, with the failure reported, when it failed.
bool ProcessXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode);
