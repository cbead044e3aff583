// Planned elements written as XML text: a whole new file when the target
// is missing, or the markup of one record with everything below it for
// insertion into an existing file. Every record written becomes processed.
#pragma once

#include <functional>

#include "custact/XML/src/xml/XmlUpdateData.h"

class XmlWriter;

// The record with everything below it, as this mode writes it, at the
// writer's depth; every record visited becomes processed. Empty attribute
// values are left out when skipEmptyValues is set.
void WriteRecord(XmlWriter& writer, XmlUpdateData& data, XmlElementRecord& record, int mode, bool skipEmptyValues);

// Writes the file at GetFullPath(file), creating its folders. The file comes
// into existence complete or not at all, and never in the place of one that
// appeared meanwhile. beforeWrite, when given, runs once the text is ready
// and before anything is made on the disk. Throws Exception before creating
// anything when the rows cannot be written (4118, a missing root row
// included) or the encoding is outside the table (4114); 4115/4116 when the
// file cannot be written, and what beforeWrite throws. A failure leaves none
// of the folders it made.
void BuildXmlFileFromScratch(XmlUpdateData& data, const XmlFileRecord& file, int mode,
                             const std::function<void()>& beforeWrite = nullptr);
// How a fragment's lines look: the first line's indentation, the unit added
// per level below it, and the line end every line gets.
struct FragmentLayout {
    WideString indent;
    WideString unit;
    WideString lineEnd = u"\r\n";
};

// The markup of source and its descendants, indented by the file record's
// unit for the depth at which source belongs, without a declaration, ending
// with "\r\n".
WideString BuildXmlFragment(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& source, int mode);
// The same markup laid out as given: for insertion into an existing file,
// whose own line ends and indentation it takes.
WideString BuildXmlFragment(XmlUpdateData& data, XmlElementRecord& source, int mode, const FragmentLayout& layout);
