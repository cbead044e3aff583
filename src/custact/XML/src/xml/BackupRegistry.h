// The backup registry: under HKEY_CURRENT_USER, the key of each product
// below kBackupRegistryKey holds one value per target file that the product
// changed or built. The value's name is the target path, its data a list of
// entries separated by "|": the marker "*" for a file the product built from
// scratch, or the full path of a backup file. The key itself holds the saved
// permissions value of each upgrade code (SavedPermissions.h).
//
// Beside them, an installation run keeps a run record for each target it
// changes, named "<target path>|<run id>" (a path never holds "|"): how to
// undo the run's first change of the file (the marker "*": delete it; a
// backup path: restore it) and the target's value before the run. The run's
// rollback acts on these alone and puts the values back; its commit drops
// them. So a run never undoes what an earlier, committed run did.
//
// Records are written before the change they describe and read back; the
// operations that a change depends on throw Exception, naming the file and
// the reason, whenever the registry cannot tell or does not take a value.
// Clean-up operations report nothing.
#pragma once

#include <vector>

#include "installer/WideString.h"

extern const char16_t kBackupRegistryKey[];  // Software\Norrvik\Quillmark\Trellis
constexpr char16_t kBuiltFromScratch[] = u"*";

WideString ProductBackupKey(const WideString& productKey);

// Splits on "|" keeping empty pieces; an empty value has no pieces.
std::vector<WideString> SplitBackupValue(const WideString& value);
WideString JoinBackupValue(const std::vector<WideString>& pieces);
// The entry a value's file is acted on by: the whole value when it has at
// most one piece, else the piece after a leading "*|", else the first.
WideString EntryToActOn(const WideString& value);

// One value as read: absent, or present with its text.
struct BackupValue {
    bool present = false;
    WideString text;
};
// Reads a value of the product's key; "absent" only when the registry says
// the key or the value does not exist.
BackupValue ReadBackupValue(const WideString& productKey, const WideString& valueName,
                            const WideString& targetPath);
// Writes the value (or deletes it when absent) and reads it back.
void WriteBackupValue(const WideString& productKey, const WideString& valueName, const WideString& targetPath,
                      const BackupValue& value);

WideString RunRecordName(const WideString& targetPath, const WideString& runId);
struct RunRecord {
    WideString undo;    // "*" or the backup path to restore
    BackupValue before;  // the target's value before the run
};
// "<undo>|-" for a target without a value, "<undo>|=<value>" otherwise.
WideString FormatRunRecord(const RunRecord& record);
bool ParseRunRecord(const WideString& text, RunRecord* record);

// The record of one change, written before the change: the entry added to
// the target's value (see below) and, for an installation run, the run
// record of the run's first change of the target. The constructor throws
// when the registry does not take them, leaving nothing behind; dropped
// without Keep(), the object puts the value and the run record back as
// they were (the change did not happen).
//
// A backup path is appended to the entries that still mean something: the
// marker, and the earlier backups that still exist, oldest first. Entries
// that name a missing backup are dropped. The marker replaces the whole
// value: a file built from scratch had nothing before it.
class RecordedEntry {
public:
    RecordedEntry(const WideString& productKey, const WideString& runId, bool withRunRecord,
                  const WideString& targetPath, const WideString& entry);
    ~RecordedEntry();
    RecordedEntry(const RecordedEntry&) = delete;
    RecordedEntry& operator=(const RecordedEntry&) = delete;

    void Keep() { kept_ = true; }

private:
    void Undo() noexcept;

    WideString productKey_;
    WideString targetPath_;
    WideString runRecordName_;
    BackupValue before_;
    bool wroteRunRecord_ = false;
    bool wroteValue_ = false;
    bool kept_ = false;
};

// Deletes the product's key with its values, then the parent keys that are
// left empty.
void DeleteProductBackupKey(const WideString& productKey);
// Deletes the product's key only when no value is left in it, then the
// parent keys that are left empty.
void DeleteProductBackupKeyIfEmpty(const WideString& productKey);
void DeleteSavedPermissionsValue(const WideString& upgradeCode);
WideString ReadSavedPermissionsValue(const WideString& upgradeCode);
void WriteSavedPermissionsValue(const WideString& upgradeCode, const WideString& text);
// Deletes "Trellis", "Quillmark" and "Norrvik" in that order, each only
// while nothing lives in it; "Software" itself is never touched.
void CleanUpBackupRegistry();
