// Turning the CustomActionData of a deferred, rollback or commit action into
// the state of the XmlManager: the run properties and the linked records.
#pragma once

#include "custact/XML/src/xml/XmlManager.h"
#include "installer/CustomActionData.h"

// Reports nothing: unknown references stay null, rows naming unknown
// elements or files are dropped, and an empty text gives no files. Without
// elements it leaves the element and attribute rows out (file records then
// have no root): commit and rollback read only the files.
void CollectXmlData(XmlManager& manager, const XmlUpdateDataReader& reader, bool withElements = true);
void AddXmlFile(XmlUpdateData& data, const XmlFileRecord& file);
// Links each file to its root element and each element to its parent,
// sorts each element's attributes by order, and indexes each element's
// children. Loops of parent rows are left for the per-file checks
// (XmlRecordCheck.h) to refuse.
void ValidateXmlData(XmlUpdateData& data);
