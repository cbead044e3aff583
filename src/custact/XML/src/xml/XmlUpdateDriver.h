// Merging the planned changes of one file record into the XML file that
// already exists on the machine: backed up first, edited in place, written
// once, and its backup recorded only when the bytes changed.
#pragma once

#include <vector>

#include "custact/XML/src/xml/XmlManager.h"

// Throws Exception on every failure; the backup it took is deleted again
// then, and the target keeps its bytes unless the final write failed.
void UpdateXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode);

// The record, then each record whose parent it is (in the element map's
// order) with everything below it; nothing for null.
void CollectSubtree(XmlElementMap& elements, XmlElementRecord* record, std::vector<XmlElementRecord*>& out);
