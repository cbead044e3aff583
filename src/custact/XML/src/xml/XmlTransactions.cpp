#include "custact/XML/src/xml/XmlTransactions.h"

#include "custact/XML/src/xml/BackupFiles.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "installer/Logger.h"
#include "platform/os/FileSystem.h"

namespace {

void Log(const WideString& line) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

}  // namespace

void RollbackXmlFile(XmlManager& manager, const XmlFileRecord& file) {
    const WideString path = GetFullPath(file);
    Log(u"RollbackXmlFile: " + path);
    const WideString entry = GetBackupEntry(manager.productKey, path);
    if (entry == kBuiltFromScratch) {
        Log(u"Deleting XML file built from scratch: " + path);
        DeleteFileLogged(path);
    } else if (!entry.empty() && RestoreBackupFile(path, entry)) {
        RestoreFilePermissions(manager.savedPermissions, NormalizeBackslashes(StripLongPathPrefix(path)));
        DeleteFileLogged(entry);
    }
    Log(u"RollbackXmlFile end.");
}

int RollbackXmlUpdates(XmlManager& manager) {
    Log(u"RollbackXmlUpdates start.");
    for (const auto& [key, file] : manager.data.files) RollbackXmlFile(manager, file);
    DeleteSavedPermissionsValue(manager.upgradeCode);
    DeleteProductBackupKey(manager.productKey);
    Log(u"RollbackXmlUpdates end.");
    return 0;
}

void DeleteUnwantedBackups(XmlManager& manager) {
    for (const auto& [key, file] : manager.data.files) {
        if ((file.flags & kXmlFileKeepBackup) != 0) continue;
        const WideString path = GetFullPath(file);
        const WideString entry = GetBackupEntry(manager.productKey, path);
        RemoveBackupEntry(manager.productKey, path, entry, manager.removeAll);
        if (entry.empty() || entry == kBuiltFromScratch) continue;
        Log(u"User does NOT want an XML file Backup, deleting...");
        DeleteFileLogged(entry);
    }
}

int CommitXmlUpdates(XmlManager& manager) {
    Log(u"CommitXmlUpdates start.");
    DeleteUnwantedBackups(manager);
    Log(u"CommitXmlUpdates end.");
    return 0;
}
