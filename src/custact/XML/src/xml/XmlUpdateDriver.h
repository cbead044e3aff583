// Merging the planned changes of one file record into the XML file that
// already exists on the machine: backed up first, edited in place, written
// once, and its backup recorded only when the bytes changed.
#pragma once

#include "custact/XML/src/xml/XmlManager.h"

// Throws Exception on every failure; the backup it took is deleted again
// then, and the target keeps its bytes unless the final write failed. Rows
// that cannot be written (4118) fail the file before its backup is taken.
void UpdateXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode);
