// Rollback and commit over the files of an action run, as the backup
// registry records them. Neither ever fails the installation.
#pragma once

#include "custact/XML/src/xml/XmlManager.h"

// Restores the file's backup (and its saved access list) and deletes the
// backup, or deletes a file that the product built from scratch. A backup
// that cannot be restored stays. The registry value is left as it is.
void RollbackXmlFile(XmlManager& manager, const XmlFileRecord& file);
// Every file, then the saved permissions value and the product's key.
int RollbackXmlUpdates(XmlManager& manager);
// Deletes the backups that the files do not ask to keep (flag 64) and
// removes their entries; with removeAll a value of one entry goes too.
void DeleteUnwantedBackups(XmlManager& manager);
int CommitXmlUpdates(XmlManager& manager);
