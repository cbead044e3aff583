#include "custact/XML/src/xml/XmlManager.h"

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/SourceFragments.h"
#include "custact/XML/src/xml/XmlRecordCheck.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "custact/XML/src/xml/XmlUpdateDriver.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "permissions/FilePermissions.h"
#include "permissions/Icacls.h"
#include "platform/Msi.h"
#include "platform/os/FileSystem.h"

namespace {

void Log(const WideString& line) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

bool HasFlags(std::uint32_t flags, std::uint32_t set) { return (flags & set) == set; }

bool InstallFile(XmlManager& manager, const XmlFileRecord& file, const WideString& path) {
    if (PathExists(ToLongPath(path))) {
        Log(u"The XML file was found on target (XML_UPDATE_INSTALL).");
        UpdateXmlFile(manager, file, XML_UPDATE_INSTALL);
    } else {
        Log(u"The XML file was NOT found on target (XML_UPDATE_INSTALL).");
        if (file.flags & kXmlFileCreateIfMissing) {
            BuildXmlFileFromScratch(manager.data, file, XML_UPDATE_INSTALL);
            RestoreFilePermissions(manager.savedPermissions, ToLongPath(path));
            AddBackupEntry(manager.productKey, path, kBuiltFromScratch);
        }
    }
    if (!ApplyFilePermissions(manager, file)) {
        Log(u"Failed to update xml file permissions: " + path);
        return false;
    }
    return true;
}

// An empty root: the uninstall took back everything the file held.
bool HasNoChildElements(const WideString& path) {
    XmlTargetDatabase db(path);
    db.Parse();
    return db.CountChildren(db.Root(), WideString()) == 0;
}

void UninstallFile(XmlManager& manager, const XmlFileRecord& file, const WideString& path) {
    if (!PathExists(ToLongPath(path))) {
        Log(u"The XML file was NOT found on target (XML_UPDATE_UNINSTALL).");
        return;
    }
    Log(u"The XML file was found on target (XML_UPDATE_UNINSTALL).");
    const WideString entry = GetBackupEntry(manager.productKey, path);
    if (HasFlags(file.flags, kXmlFileCreateIfMissing | kXmlFileDeleteIfBuilt) && entry == kBuiltFromScratch) {
        // The product built this file: it goes as a whole, unparsed.
        if (manager.isUpgrading) SaveFilePermissions(manager.savedPermissions, ToLongPath(path));
        Log(u"Deleting file from disk...");
        DeleteFileLogged(ToLongPath(path));
    } else {
        UpdateXmlFile(manager, file, XML_UPDATE_UNINSTALL);
        if ((file.flags & kXmlFileDeleteIfEmpty) && HasNoChildElements(path)) {
            Log(u"Deleting XML file from disk ...");
            DeleteFileLogged(ToLongPath(path));
        }
    }
    if (PathExists(ToLongPath(path)) && (file.flags & kXmlFileCreateIfMissing))
        ResetFilePermissions(StripLongPathPrefix(ToLongPath(path)));
}

// Before an install touches any file: a file whose rows cannot be written
// ends the run here, unless it asks to be rolled back alone (flag 32); then
// it fails by itself when its turn comes.
bool CheckRowsOfEveryFile(XmlManager& manager) {
    for (const auto& [key, file] : manager.data.files) {
        if (file.flags & kXmlFileRollbackAlone) continue;
        try {
            CheckXmlFileRows(manager.data, file);
        } catch (...) {
            ReportCurrentException(manager.install, TRELLIS_HERE);
            return false;
        }
    }
    return true;
}

}  // namespace

bool ProcessXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode) {
    try {
        const WideString path = GetFullPath(file);
        Log(u"Processing XML file: " + path);
        // Progress only: a cancel coming back does not stop the file.
        SendActionData(manager.install, {path});
        if (mode == XML_UPDATE_INSTALL) {
            if (!InstallFile(manager, file, path)) return false;
        } else {
            UninstallFile(manager, file, path);
        }
    } catch (...) {
        ReportCurrentException(manager.install, TRELLIS_HERE);
        return false;
    }
    Log(u"XML file processed successfully.");
    return true;
}

std::uint32_t ExecuteXmlUpdates(XmlManager& manager, int mode) {
    Log(u"ExecuteXmlUpdates start.");
    try {
        // Files the new version rebuilds get the access rules the old
        // version's files had.
        if (mode == XML_UPDATE_INSTALL && !CheckRowsOfEveryFile(manager)) return platform::kErrorInstallFailure;
        if (mode == XML_UPDATE_INSTALL && manager.isUpgrading)
            LoadSavedPermissions(manager.savedPermissions, manager.upgradeCode);
        for (const auto& [key, file] : manager.data.files) {
            if (ProcessXmlFile(manager, file, mode)) continue;
            if (!(file.flags & kXmlFileRollbackAlone)) return platform::kErrorInstallFailure;
            RollbackXmlFile(manager, file);
        }
        if (mode == XML_UPDATE_UNINSTALL) {
            if (manager.isUpgrading) StoreSavedPermissions(manager.savedPermissions, manager.upgradeCode);
            DeleteUnwantedBackups(manager);
            if (!manager.isUpgrading) DeleteSavedPermissionsValue(manager.upgradeCode);
            if (manager.removeAll) DeleteProductBackupKey(manager.productKey);
        }
    } catch (...) {
        ReportCurrentException(manager.install, TRELLIS_HERE);
        return platform::kErrorInstallFailure;
    }
    Log(u"ExecuteXmlUpdates end.");
    return platform::kErrorSuccess;
}
