// Access lists of files kept across their removal and re-creation: an
// upgrading uninstall saves the list of each file it deletes, the new
// version's install (and a rollback) applies it to the rebuilt file. The
// lists travel between the two products in the saved permissions value of
// the backup registry.
#pragma once

#include <map>

#include "installer/WideString.h"

// From the long-path form of a target path to the text icacls saved for it.
using SavedPermissions = std::map<WideString, WideString>;

// Replaces the entry of the path when icacls could save the file's list;
// leaves the map as it was otherwise.
void SaveFilePermissions(SavedPermissions& saved, const WideString& targetPath);
// True when nothing was saved for the path, or when icacls applied it.
bool RestoreFilePermissions(const SavedPermissions& saved, const WideString& targetPath);
void LoadSavedPermissions(SavedPermissions& saved, const WideString& upgradeCode);
void StoreSavedPermissions(const SavedPermissions& saved, const WideString& upgradeCode);

// The value's text: path, U+0002, list; entries joined by U+0001.
WideString JoinSavedPermissions(const SavedPermissions& saved);
void SplitSavedPermissions(const WideString& text, SavedPermissions& saved);
