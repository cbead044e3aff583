#include "custact/XML/src/xml/XmlManager.h"

#include <memory>

#include "custact/XML/src/xml/BackupFiles.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/SourceFragments.h"
#include "custact/XML/src/xml/XmlRecordCheck.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "custact/XML/src/xml/XmlUpdateFlags.h"
#include "custact/XML/src/xml/XmlUpdateDriver.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "permissions/Icacls.h"
#include "platform/Files.h"
#include "platform/Msi.h"
#include "platform/os/FileSystem.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "X:\..." or "\\server\share\..." (also in their long-path forms). A path
// that is relative, relative to a drive ("C:x"), rooted without a drive
// ("\x") or a device ("\\.\pipe\x") would resolve against whatever the
// installer's process has as its current folder, or not name a file.
bool IsAbsolutePath(const WideString& path) {
    const WideString rest = StripLongPathPrefix(path);
    if (rest.size() >= 3 && IsDriveLetter(rest[0]) && rest[1] == u':' && IsSeparator(rest[2])) return true;
    if (rest.size() < 3 || !IsSeparator(rest[0]) || !IsSeparator(rest[1])) return false;
    const std::size_t server = 2, serverEnd = rest.find_first_of(u"\\/", server);
    if (serverEnd == WideString::npos || serverEnd == server) return false;
    const WideString name = rest.substr(server, serverEnd - server);
    if (name == u"." || name == u"?") return false;
    const std::size_t shareEnd = rest.find_first_of(u"\\/", serverEnd + 1);
    return shareEnd != WideString::npos && shareEnd > serverEnd + 1;
}

bool LeavesItsFolder(const WideString& fileName) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = fileName.find_first_of(u"\\/", start);
        if (fileName.compare(start, end == WideString::npos ? WideString::npos : end - start, u"..") == 0) return true;
        if (end == WideString::npos) return false;
        start = end + 1;
    }
}

void CheckTargetPath(const XmlFileRecord& file, const WideString& path) {
    if (!IsAbsolutePath(path)) {
        throw Exception(TRELLIS_HERE, u"The QM_XmlFile row " + file.key + u" names the file \"" + path +
                                          u"\", which is not a full path: its folder (DirProperty) is empty "
                                          u"or not a full path.");
    }
    if (LeavesItsFolder(file.fileName)) {
        throw Exception(TRELLIS_HERE, u"The QM_XmlFile row " + file.key + u" names the file \"" + file.fileName +
                                          u"\", which leaves its folder through \"..\".");
    }
}

// Whether the target exists. Only a clear "not found" means it does not;
// anything but a regular file in its place fails the file.
bool TargetExists(const WideString& path) {
    platform::PathKind kind;
    if (!platform::GetPathKind(ToLongPath(path), &kind)) {
        throw Exception(TRELLIS_HERE, u"Cannot tell whether the XML file " + path +
                                          u" exists: " + SystemErrorText(platform::GetLastError()));
    }
    switch (kind) {
    case platform::PathKind::Missing: return false;
    case platform::PathKind::File: return true;
    case platform::PathKind::Link:
        throw Exception(TRELLIS_HERE, u"The XML file " + path +
                                          u" is a symbolic link; no file is changed through a link.");
    case platform::PathKind::Folder:
        throw Exception(TRELLIS_HERE, u"The XML file " + path + u" is a folder.");
    case platform::PathKind::Device:
        throw Exception(TRELLIS_HERE, u"The XML file " + path + u" is not a regular file (a pipe or a device).");
    }
    return false;
}

// The file's line of the run comes back in summary; false when the file failed.
bool InstallFile(XmlManager& manager, const XmlFileRecord& file, const WideString& path, WideString& summary) {
    if (TargetExists(path)) {
        LogIfEnabled(u"The XML file was found on target (XML_UPDATE_INSTALL).");
        summary = DescribeXmlFileChanges(path, UpdateXmlFile(manager, file, XML_UPDATE_INSTALL));
    } else {
        LogIfEnabled(u"The XML file was NOT found on target (XML_UPDATE_INSTALL).");
        if (file.flags & kXmlFileCreateIfMissing) {
            // The marker is in the registry before the file appears.
            std::unique_ptr<RecordedEntry> record;
            BuildXmlFileFromScratch(manager.data, file, XML_UPDATE_INSTALL, [&] {
                record = std::make_unique<RecordedEntry>(manager.productKey, manager.runId, true, path,
                                                         kBuiltFromScratch);
            });
            if (record) record->Keep();
            RestoreFilePermissions(manager.savedPermissions, ToLongPath(path));
            XmlFileChanges built;
            built.built = true;
            CountWrittenRecords(manager.data, *file.root, built);
            summary = DescribeXmlFileChanges(path, built);
        } else {
            summary = path + u": not found, and not built (QM_XmlFile flag 8 is not set)";
        }
    }
    if (!ApplyFilePermissions(manager, file)) {
        LogIfEnabled(u"Failed to update xml file permissions: " + path);
        summary += u"; failed: its access rules could not be applied";
        return false;
    }
    return true;
}

// An empty root: the uninstall took back everything the file held.
bool HasNoChildElements(const WideString& path) {
    XmlTargetDatabase db(path);
    db.Parse();
    return db.CountChildren(db.RootId(), u"") == 0;
}

void UninstallFile(XmlManager& manager, const XmlFileRecord& file, const WideString& path, WideString& summary) {
    if (!TargetExists(path)) {
        LogIfEnabled(u"The XML file was NOT found on target (XML_UPDATE_UNINSTALL).");
        summary = path + u": not found, nothing to take back";
        return;
    }
    LogIfEnabled(u"The XML file was found on target (XML_UPDATE_UNINSTALL).");
    const WideString entry = EntryToActOn(ReadBackupValue(manager.productKey, path, path).text);
    if (HasFlags(file.flags, kXmlFileCreateIfMissing | kXmlFileDeleteIfBuilt) && entry == kBuiltFromScratch) {
        // The product built this file: it goes as a whole, unparsed.
        if (manager.isUpgrading) SaveFilePermissions(manager.savedPermissions, ToLongPath(path));
        LogIfEnabled(u"Deleting file from disk...");
        if (!DeleteBuiltFile(path)) throw Exception(TRELLIS_HERE, u"The XML file " + path + u" cannot be deleted.");
        summary = path + u": deleted, the product built it";
    } else {
        summary = DescribeXmlFileChanges(path, UpdateXmlFile(manager, file, XML_UPDATE_UNINSTALL));
        if ((file.flags & kXmlFileDeleteIfEmpty) && HasNoChildElements(path)) {
            LogIfEnabled(u"Deleting XML file from disk ...");
            summary += DeleteFileLogged(ToLongPath(path)) ? u"; deleted, its root element is empty"
                                                          : u"; its root element is empty, but it cannot be deleted";
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
            manager.rowsChecked.insert(&file);
        } catch (...) {
            ReportCurrentException(manager.install);
            return false;
        }
    }
    return true;
}

// An uninstallation cannot stop and cannot roll back: the file stays.
void WarnLeftAsItIs(const XmlManager& manager, const WideString& path) {
    const Exception warning(TRELLIS_HERE, u"The XML file " + path + u" is left as it is: " +
                                              DescribeCurrentException());
    warning.Log();
    warning.Show(manager.install);
}

}  // namespace

bool ApplyFilePermissions(const XmlManager& manager, const XmlFileRecord& file) {
    const auto set = manager.permissions.find(&file);
    return set == manager.permissions.end() || ApplyPermissionRules(set->second) == 0;
}

bool ProcessXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode) {
    const WideString path = GetFullPath(file);
    // One line per file and run says what happened to it.
    WideString summary;
    try {
        LogIfEnabled(u"Processing XML file: " + path);
        // Progress only: a cancel coming back does not stop the file.
        SendActionData(manager.install, {path});
        CheckTargetPath(file, path);
        if (mode == XML_UPDATE_INSTALL) {
            if (!InstallFile(manager, file, path, summary)) {
                LogIfEnabled(summary);
                return false;
            }
        } else {
            UninstallFile(manager, file, path, summary);
        }
    } catch (...) {
        summary = path + (mode == XML_UPDATE_UNINSTALL ? u": left as it is: " : u": failed: ") +
                  DescribeCurrentException();
        if (mode == XML_UPDATE_UNINSTALL) {
            WarnLeftAsItIs(manager, path);
        } else {
            ReportCurrentException(manager.install);
        }
        LogIfEnabled(summary);
        return false;
    }
    LogIfEnabled(summary);
    LogIfEnabled(u"XML file processed successfully.");
    return true;
}

std::uint32_t ExecuteXmlUpdates(XmlManager& manager, int mode) {
    LogIfEnabled(u"ExecuteXmlUpdates start.");
    try {
        if (mode == XML_UPDATE_INSTALL && !CheckRowsOfEveryFile(manager)) return platform::kErrorInstallFailure;
        // Files the new version rebuilds get the access rules the old
        // version's files had.
        if (mode == XML_UPDATE_INSTALL && manager.isUpgrading)
            LoadSavedPermissions(manager.savedPermissions, manager.upgradeCode);
        for (const auto& [key, file] : manager.data.files) {
            if (ProcessXmlFile(manager, file, mode) || mode == XML_UPDATE_UNINSTALL) continue;
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
        ReportCurrentException(manager.install);
        return platform::kErrorInstallFailure;
    }
    LogIfEnabled(u"ExecuteXmlUpdates end.");
    return platform::kErrorSuccess;
}
