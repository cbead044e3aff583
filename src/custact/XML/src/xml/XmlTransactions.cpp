#include "custact/XML/src/xml/XmlTransactions.h"

#include <algorithm>

#include "custact/XML/src/xml/AddedMarkup.h"
#include "custact/XML/src/xml/BackupFiles.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "permissions/SavedPermissions.h"
#include "platform/os/FileSystem.h"

namespace {

// A warning for the log and the installer; the run goes on.
void Warn(const XmlManager& manager, const WideString& text) {
    const Exception warning(TRELLIS_HERE, text);
    warning.Log();
    warning.Show(manager.install);
}

bool Contains(const std::vector<WideString>& pieces, const WideString& piece) {
    return std::find(pieces.begin(), pieces.end(), piece) != pieces.end();
}

// What this run changed in one file: its run record, the target's value
// now, and the backups the run recorded (in the value now, not before).
struct RunChanges {
    WideString recordName;
    RunRecord record;
    std::vector<WideString> backups;
};

// False when the run did not change the file. Throws when the registry
// cannot tell, or the run record is damaged.
bool ReadRunChanges(const XmlManager& manager, const WideString& path, RunChanges* changes) {
    changes->recordName = RunRecordName(path, manager.runId);
    const BackupValue recordText = ReadBackupValue(manager.productKey, changes->recordName, path);
    if (!recordText.present) return false;
    if (!ParseRunRecord(recordText.text, &changes->record))
        throw Exception(TRELLIS_HERE, u"The run record of " + path + u" is damaged: " + recordText.text);
    const std::vector<WideString> before = SplitBackupValue(changes->record.before.text);
    for (const WideString& piece : SplitBackupValue(ReadBackupValue(manager.productKey, path, path).text)) {
        if (!piece.empty() && piece != kBuiltFromScratch && !Contains(before, piece) &&
            !Contains(changes->backups, piece))
            changes->backups.push_back(piece);
    }
    return true;
}

// Drops the run's backups, the one a rollback restores from last, so that
// it is still there when an earlier one stays; false when one stays.
bool DropRunBackups(const XmlManager& manager, const WideString& path, const RunChanges& changes) {
    std::vector<WideString> backups = changes.backups;
    std::stable_partition(backups.begin(), backups.end(),
                          [&](const WideString& backup) { return backup != changes.record.undo; });
    for (const WideString& backup : backups) {
        if (!DropBackup(manager.productKey, path, backup)) return false;
    }
    return true;
}

void RollBackChanges(XmlManager& manager, const WideString& path, const RunChanges& changes) {
    const WideString& undo = changes.record.undo;
    if (undo == kBuiltFromScratch) {
        LogIfEnabled(u"Deleting XML file built from scratch: " + path);
        if (!DeleteBuiltFile(path)) {
            Warn(manager, u"The XML file " + path + u" that this installation built could not be deleted.");
            return;
        }
    } else if (!Contains(changes.backups, undo)) {
        // An earlier rollback restored the file and dropped that backup.
        LogIfEnabled(u"Restored already: " + path);
    } else if (RestoreBackupFile(path, undo)) {
        RestoreFilePermissions(manager.savedPermissions, NormalizeBackslashes(StripLongPathPrefix(path)));
    } else {
        Warn(manager, u"The XML file " + path + u" could not be restored from its backup " + undo +
                          u"; the backup and its record stay.");
        return;
    }
    if (!DropRunBackups(manager, path, changes)) return;
    WriteBackupValue(manager.productKey, path, path, changes.record.before);
    RollBackAddedMarkup(manager.productKey, manager.runId, path);
    WriteBackupValue(manager.productKey, changes.recordName, path, BackupValue());
}

}  // namespace

bool DropBackup(const WideString& productKey, const WideString& targetPath, const WideString& backupPath) {
    const BackupValue value = ReadBackupValue(productKey, targetPath, targetPath);
    std::vector<WideString> pieces = SplitBackupValue(value.text);
    pieces.erase(std::remove(pieces.begin(), pieces.end(), backupPath), pieces.end());
    const BackupValue without = pieces.empty() ? BackupValue() : BackupValue{true, JoinBackupValue(pieces)};
    try {
        WriteBackupValue(productKey, targetPath, targetPath, without);
    } catch (...) {
        // The change may have been made with only its reading back failing:
        // the entry comes back, since the backup stays.
        try {
            WriteBackupValue(productKey, targetPath, targetPath, value);
        } catch (...) {
        }
        throw;
    }
    if (DeleteOwnFile(backupPath)) return true;
    WriteBackupValue(productKey, targetPath, targetPath, value);
    LogIfEnabled(u"The backup " + backupPath + u" could not be deleted; it stays recorded.");
    return false;
}

void RollbackXmlFile(XmlManager& manager, const XmlFileRecord& file) {
    const WideString path = GetFullPath(file);
    LogIfEnabled(u"RollbackXmlFile: " + path);
    try {
        RunChanges changes;
        if (ReadRunChanges(manager, path, &changes)) {
            RollBackChanges(manager, path, changes);
        } else {
            LogIfEnabled(u"Not changed by this installation.");
        }
    } catch (...) {
        ReportCurrentException(manager.install);
    }
    LogIfEnabled(u"RollbackXmlFile end.");
}

int RollbackXmlUpdates(XmlManager& manager) {
    LogIfEnabled(u"RollbackXmlUpdates start.");
    for (const auto& [key, file] : manager.data.files) RollbackXmlFile(manager, file);
    DeleteSavedPermissionsValue(manager.upgradeCode);
    DeleteProductBackupKeyIfEmpty(manager.productKey);
    LogIfEnabled(u"RollbackXmlUpdates end.");
    return 0;
}

int CommitXmlUpdates(XmlManager& manager) {
    LogIfEnabled(u"CommitXmlUpdates start.");
    for (const auto& [key, file] : manager.data.files) {
        const WideString path = GetFullPath(file);
        try {
            RunChanges changes;
            if (!ReadRunChanges(manager, path, &changes)) continue;
            if ((file.flags & kXmlFileKeepBackup) == 0 && !changes.backups.empty()) {
                LogIfEnabled(u"User does NOT want an XML file Backup, deleting...");
                DropRunBackups(manager, path, changes);
            }
            CommitAddedMarkup(manager.productKey, manager.runId, path);
            WriteBackupValue(manager.productKey, changes.recordName, path, BackupValue());
        } catch (...) {
            ReportCurrentException(manager.install);
        }
    }
    DeleteProductBackupKeyIfEmpty(manager.productKey);
    LogIfEnabled(u"CommitXmlUpdates end.");
    return 0;
}

void DeleteUnwantedBackups(XmlManager& manager) {
    for (const auto& [key, file] : manager.data.files) {
        if ((file.flags & kXmlFileKeepBackup) != 0) continue;
        const WideString path = GetFullPath(file);
        try {
            for (const WideString& piece :
                 SplitBackupValue(ReadBackupValue(manager.productKey, path, path).text)) {
                if (piece.empty() || piece == kBuiltFromScratch) continue;
                LogIfEnabled(u"User does NOT want an XML file Backup, deleting...");
                DropBackup(manager.productKey, path, piece);
            }
        } catch (...) {
            ReportCurrentException(manager.install);
        }
    }
}
