// The driver of one action run: what CollectXmlData builds from the
// action's CustomActionData, and what the file operations of the run read.
// Built on entry to an action and released before it returns.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

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
    // Names this installation run in the run records of the backup
    // registry ("QM_XML_RUN_ID" of the property section).
    WideString runId;
    bool removeAll = false;    // REMOVE is "ALL"
    bool isUpgrading = false;  // UPGRADINGPRODUCTCODE or OLDPRODUCTS is set
    SavedPermissions savedPermissions;
    // Files whose rows passed CheckXmlFileRows in this run; the rows do not
    // change, so they are not checked again.
    std::unordered_set<const XmlFileRecord*> rowsChecked;
};

// Every file record of the run, one after the other, in the file map's
// order. An installation gives 0, or 1603 at the first file that fails
// without asking to be rolled back alone (QM_XmlFile flag 32). An
// uninstallation goes on past a file it cannot revert, which stays as it
// is with a warning, and always removes the product's records at the end.
std::uint32_t ExecuteXmlUpdates(XmlManager& manager, int mode);
// The permission rules of one planned XML file, applied after the file was
// written: true when the file has no rules, or when they were applied or
// skipped.
bool ApplyFilePermissions(const XmlManager& manager, const XmlFileRecord& file);
// One file in this mode; false, with the failure reported, when it failed.
// The target path must be absolute, stay inside its folder and name a
// regular file or nothing: a link, a folder or a device fails the file.
bool ProcessXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode);
