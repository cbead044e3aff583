// Merging the planned changes of one file record into the XML file that
// already exists on the machine: read once, edited in memory, and, when its
// bytes change, backed up with the backup recorded, then replaced in one step.
#pragma once

#include <vector>

#include "custact/XML/src/xml/XmlManager.h"

// Throws Exception on every failure; the target keeps its bytes then, and
// the backup it took and its record are gone again.
void UpdateXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode);

// The record, then each record whose parent it is (in the element map's
// order) with everything below it; nothing for null.
void CollectSubtree(XmlElementMap& elements, XmlElementRecord* record, std::vector<XmlElementRecord*>& out);
