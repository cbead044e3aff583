// Merging the planned changes of one file record into the XML file that
// already exists on the machine: read once, edited in memory, and, when its
// bytes change, backed up with the backup recorded, then replaced in one step.
#pragma once

#include "custact/XML/src/xml/XmlManager.h"

// What one run did to one file, counted from the driver's decisions: an
// added element counts with every element written below it, a removed one
// with every element it held, an updated one when its attributes or its
// text changed.
struct XmlFileChanges {
    int elementsAdded = 0;
    int elementsUpdated = 0;
    int elementsRemoved = 0;
    int attributesSet = 0;
    int attributesRemoved = 0;
    int commentsAdded = 0;
    bool written = false;  // the file's bytes changed
    bool built = false;    // the file was missing and is built from the rows
    WideString backup;     // the backup of the old bytes, when one is kept
};

// Throws Exception on every failure; the target keeps its bytes then, and
// the backup it took and its record are gone again. Rows that cannot be
// written (4118) fail the file before anything is backed up.
XmlFileChanges UpdateXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode);

// The file's line of the run, for example "C:\App\web.config: 2 elements
// added, 1 updated, 0 removed, 3 attributes set; backup web.config.back",
// or "C:\App\web.config: built from scratch with 5 elements".
WideString DescribeXmlFileChanges(const WideString& path, const XmlFileChanges& changes);
// Elements and comments that writing the record adds, itself included.
void CountWrittenRecords(XmlUpdateData& data, XmlElementRecord& record, XmlFileChanges& changes);
