// The backup registry: under HKEY_CURRENT_USER, the key of each product
// below kBackupRegistryKey holds one value per target file that the product
// changed or built. The value's name is the target path, its data a list of
// entries separated by "|": the marker "*" for a file the product built from
// scratch, or the full path of a backup file. Rollback and commit act on
// the entry GetBackupEntry gives. The key itself holds the saved permissions
// value of each upgrade code (SavedPermissions.h).
//
// Registry failures are never reported: reads give empty texts and writes
// do nothing.
#pragma once

#include <vector>

#include "installer/WideString.h"

extern const char16_t kBackupRegistryKey[];  // Software\Norrvik\Quillmark\Trellis
constexpr char16_t kBuiltFromScratch[] = u"*";

WideString ProductBackupKey(const WideString& productKey);

// Splits on "|" keeping empty pieces; an empty value has no pieces.
std::vector<WideString> SplitBackupValue(const WideString& value);

// Records a backup path or the marker "*" for the target. A backup path is
// appended to the entries that still mean something: the marker, and the
// earlier backups that still exist, oldest first (so the first backup of
// an installation stays the one rollback restores when two file rows name
// the same file). Entries that name a missing backup are dropped, so the
// value never points at a backup that is gone. The marker replaces the
// whole value: a file built from scratch had nothing before it.
void AddBackupEntry(const WideString& productKey, const WideString& targetPath, const WideString& entry);
// The entry rollback and commit act on: the whole value when it has at
// most one piece, else the piece after a leading "*|", else the first.
WideString GetBackupEntry(const WideString& productKey, const WideString& targetPath);
// Removes every piece equal to the entry from a value of several pieces; a
// value of one piece is deleted when deleteIfSingle is set, else kept.
void RemoveBackupEntry(const WideString& productKey, const WideString& targetPath, const WideString& entry,
                       bool deleteIfSingle);
// Deletes the product's key with its values, then the parent keys that are
// left empty.
void DeleteProductBackupKey(const WideString& productKey);
void DeleteSavedPermissionsValue(const WideString& upgradeCode);
WideString ReadSavedPermissionsValue(const WideString& upgradeCode);
void WriteSavedPermissionsValue(const WideString& upgradeCode, const WideString& text);
// Deletes "Trellis", "Quillmark" and "Norrvik" in that order, each only
// while nothing lives in it; "Software" itself is never touched.
void CleanUpBackupRegistry();
