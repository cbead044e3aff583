// Merging the planned changes of one file record into the XML file that
// already exists on the machine: read once, edited in memory, and, when its
// bytes change, backed up with the backup recorded, then replaced in one step.
#pragma once

#include "custact/XML/src/xml/XmlManager.h"

// Throws Exception on every failure; the target keeps its bytes then, and
// the backup it took and its record are gone again. Rows that cannot be
// written (4118) fail the file before anything is backed up.
void UpdateXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode);
