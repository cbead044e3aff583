#include "custact/XML/src/xml/BackupRegistry.h"

#include <algorithm>

#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/os/FileSystem.h"
#include "platform/os/RegistryKey.h"

const char16_t kBackupRegistryKey[] = u"Software\\Norrvik\\Quillmark\\Trellis";

namespace {

constexpr char16_t kSeparator = u'|';

WideString RegistryErrorText(long status) { return SystemErrorText(static_cast<std::uint32_t>(status)); }

// Whether a recorded backup is still on the disk; only a clear "not found"
// says it is not.
bool BackupExists(const WideString& backupPath, const WideString& targetPath) {
    platform::PathKind kind;
    if (!platform::GetPathKind(ToLongPath(backupPath), &kind)) {
        throw Exception(TRELLIS_HERE, u"Cannot tell whether the backup " + backupPath + u" of " + targetPath +
                                          u" exists: " + SystemErrorText(platform::GetLastError()));
    }
    return kind != platform::PathKind::Missing;
}

// The new value when an entry is added to a value that is not empty.
WideString ExtendedValue(const WideString& targetPath, const WideString& oldValue, const WideString& entry) {
    std::vector<WideString> kept;
    bool built = false;
    for (const WideString& piece : SplitBackupValue(oldValue)) {
        if (piece.empty()) continue;
        if (piece == kBuiltFromScratch) {
            built = true;
        } else if (entry == kBuiltFromScratch) {
            // The target was missing, so this backup belongs to an earlier
            // file of that name; it stays on disk, unrecorded.
            LogIfEnabled(u"Backup of an earlier file left in place: " + piece);
        } else if (!BackupExists(piece, targetPath)) {
            LogIfEnabled(u"Backup entry of " + targetPath + u" dropped, the backup no longer exists: " + piece);
        } else if (piece != entry && std::find(kept.begin(), kept.end(), piece) == kept.end()) {
            kept.push_back(piece);
        }
    }
    if (entry == kBuiltFromScratch) return entry;
    kept.push_back(entry);
    // The marker stays in front, where EntryToActOn looks for it.
    if (built) kept.insert(kept.begin(), kBuiltFromScratch);
    return JoinBackupValue(kept);
}

bool SameValue(const BackupValue& a, const BackupValue& b) {
    return a.present == b.present && (!a.present || a.text == b.text);
}

}  // namespace

WideString ProductBackupKey(const WideString& productKey) {
    return WideString(kBackupRegistryKey) + u"\\" + productKey;
}

std::vector<WideString> SplitBackupValue(const WideString& value) {
    if (value.empty()) return {};
    return strings::Split(value, kSeparator);
}

WideString JoinBackupValue(const std::vector<WideString>& pieces) {
    WideString value;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) value.push_back(kSeparator);
        value += pieces[i];
    }
    return value;
}

WideString EntryToActOn(const WideString& value) {
    const std::vector<WideString> pieces = SplitBackupValue(value);
    if (pieces.size() <= 1) return value;
    return value.compare(0, 2, u"*|") == 0 ? pieces[1] : pieces[0];
}

BackupValue ReadBackupValue(const WideString& productKey, const WideString& valueName,
                            const WideString& targetPath) {
    const RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, false);
    BackupValue value;
    const long status = key.QueryString(valueName, &value.text);
    if (status == platform::kRegFileNotFound) return BackupValue();
    if (status != platform::kRegSuccess) {
        throw Exception(TRELLIS_HERE, u"Cannot read the backup record of " + targetPath +
                                          u" from the registry: " + RegistryErrorText(status));
    }
    value.present = true;
    return value;
}

void WriteBackupValue(const WideString& productKey, const WideString& valueName, const WideString& targetPath,
                      const BackupValue& value) {
    RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, true);
    bool done;
    if (value.present) {
        done = key.WriteString(valueName, value.text);
    } else if (key.IsOpen()) {
        done = key.DeleteValue(valueName) || key.LastStatus() == platform::kRegFileNotFound;
    } else {
        done = key.LastStatus() == platform::kRegFileNotFound;  // no key, so no value
    }
    if (!done) {
        throw Exception(TRELLIS_HERE, u"Cannot write the backup record of " + targetPath +
                                          u" to the registry: " + RegistryErrorText(key.LastStatus()));
    }
    key.Close();
    // Read back: a record that the registry does not give back is no record.
    if (!SameValue(ReadBackupValue(productKey, valueName, targetPath), value)) {
        throw Exception(TRELLIS_HERE, u"The registry does not give back the backup record of " + targetPath + u".");
    }
}

WideString RunRecordName(const WideString& targetPath, const WideString& runId) {
    return targetPath + kSeparator + runId;
}

WideString FormatRunRecord(const RunRecord& record) {
    return record.undo + kSeparator + (record.before.present ? u"=" + record.before.text : WideString(u"-"));
}

bool ParseRunRecord(const WideString& text, RunRecord* record) {
    const std::size_t bar = text.find(kSeparator);
    if (bar == WideString::npos || bar == 0 || bar + 1 >= text.size()) return false;
    const char16_t state = text[bar + 1];
    if (state == u'-' && bar + 2 == text.size()) {
        record->before = BackupValue();
    } else if (state == u'=') {
        record->before = BackupValue{true, text.substr(bar + 2)};
    } else {
        return false;
    }
    record->undo = text.substr(0, bar);
    return true;
}

RecordedEntry::RecordedEntry(const WideString& productKey, const WideString& runId, bool withRunRecord,
                             const WideString& targetPath, const WideString& entry)
    : productKey_(productKey), targetPath_(targetPath), runRecordName_(RunRecordName(targetPath, runId)) {
    try {
        before_ = ReadBackupValue(productKey, targetPath, targetPath);
        // Only the run's first change of the file says how to undo the run.
        if (withRunRecord && !ReadBackupValue(productKey, runRecordName_, targetPath).present) {
            wroteRunRecord_ = true;
            WriteBackupValue(productKey, runRecordName_, targetPath,
                             BackupValue{true, FormatRunRecord(RunRecord{entry, before_})});
        }
        const WideString value =
            before_.text.empty() ? entry : ExtendedValue(targetPath, before_.text, entry);
        wroteValue_ = true;
        WriteBackupValue(productKey, targetPath, targetPath, BackupValue{true, value});
    } catch (...) {
        Undo();
        throw;
    }
}

RecordedEntry::~RecordedEntry() {
    if (!kept_) Undo();
}

void RecordedEntry::Undo() noexcept {
    try {
        if (wroteValue_) WriteBackupValue(productKey_, targetPath_, targetPath_, before_);
        if (wroteRunRecord_) WriteBackupValue(productKey_, runRecordName_, targetPath_, BackupValue());
        wroteValue_ = wroteRunRecord_ = false;
        DeleteProductBackupKeyIfEmpty(productKey_);
    } catch (...) {
        // Left as it is: the registry refuses even that. Records that stay
        // name the target, never a backup that is gone.
    }
}

namespace {

// The product's key goes (with its values when force), then every key above
// it that is left empty.
void RemoveProductBackupKey(const WideString& productKey, bool force) {
    RegistryKey parent(kBackupRegistryKey, platform::kHKeyCurrentUser, true);
    if (parent.Create()) parent.DeleteSubkey(productKey, force);
    CleanUpBackupRegistry();
}

}  // namespace

void DeleteProductBackupKey(const WideString& productKey) {
    if (!RegistryKey(ProductBackupKey(productKey), platform::kHKeyCurrentUser, false).IsOpen()) return;
    RemoveProductBackupKey(productKey, true);
}

void DeleteProductBackupKeyIfEmpty(const WideString& productKey) {
    const RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, false);
    if (!key.IsOpen()) return;
    std::uint32_t values = 0;
    if (platform::RegQueryInfoKeyW(key.Handle(), nullptr, &values) != platform::kRegSuccess || values > 0) return;
    RemoveProductBackupKey(productKey, false);
}

void DeleteSavedPermissionsValue(const WideString& upgradeCode) {
    RegistryKey key(kBackupRegistryKey, platform::kHKeyCurrentUser, true);
    if (key.Create()) key.DeleteValue(upgradeCode);
    key.Close();
    CleanUpBackupRegistry();
}

WideString ReadSavedPermissionsValue(const WideString& upgradeCode) {
    return RegistryKey(kBackupRegistryKey, platform::kHKeyCurrentUser, false).ReadString(upgradeCode);
}

void WriteSavedPermissionsValue(const WideString& upgradeCode, const WideString& text) {
    RegistryKey(kBackupRegistryKey, platform::kHKeyCurrentUser, true).WriteString(upgradeCode, text);
}

// Without force DeleteSubkey leaves a key that holds values, and Windows
// refuses one that still has subkeys: so each key goes exactly when
// nothing lives in it.
void CleanUpBackupRegistry() {
    const struct {
        const char16_t* parent;
        const char16_t* child;
    } steps[] = {{u"Software\\Norrvik\\Quillmark", u"Trellis"},
                 {u"Software\\Norrvik", u"Quillmark"},
                 {u"Software", u"Norrvik"}};
    for (const auto& step : steps) {
        RegistryKey parent(step.parent, platform::kHKeyCurrentUser, true);
        if (parent.Create()) parent.DeleteSubkey(step.child, false);
    }
}
