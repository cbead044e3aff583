// Rollback and commit of an installation run, over the run records that
// the run left in the backup registry (BackupRegistry.h): a run undoes or
// confirms what it changed itself, and nothing that an earlier run did.
// Neither ever fails the installation: what cannot be done is reported as
// a warning that names the file and the reason, and its records stay.
#pragma once

#include "custact/XML/src/xml/XmlManager.h"

// Undoes the run's change of one file: deletes the file the run built, or
// restores the backup of the run's first change (with the file's saved
// access list); then deletes the run's backups and puts the file's value
// back as it was before the run. A file the run did not change is left alone.
void RollbackXmlFile(XmlManager& manager, const XmlFileRecord& file);
// Every file, then the saved permissions value; the product's key goes
// when no record is left in it.
int RollbackXmlUpdates(XmlManager& manager);
// Deletes the backups the run made of files that do not ask to keep them
// (flag 64), with their entries, and the run records.
int CommitXmlUpdates(XmlManager& manager);
// At the end of an uninstallation: deletes every recorded backup of the
// files that do not ask to keep them, with its entry.
void DeleteUnwantedBackups(XmlManager& manager);

// Deletes a backup and its entry in the target's value such that the
// registry never names a backup that is gone and no backup is left
// unrecorded: the entry goes first and comes back when the file cannot be
// deleted. False, with a log line, when the backup stays; throws when the
// registry does not take the change.
bool DropBackup(const WideString& productKey, const WideString& targetPath, const WideString& backupPath);
