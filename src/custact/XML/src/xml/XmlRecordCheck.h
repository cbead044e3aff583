// The checks a file's planned records pass before any byte of the file
// changes: the rows form a tree under the file's root element, every name
// is an XML name, every text holds only characters XML allows, comments
// can be comments, and names and comments fit the file's encoding. A file
// whose rows fail is left alone with error 4118, which names the table,
// the row, the column and the text.
#pragma once

#include <cstddef>
#include <vector>

#include "custact/XML/src/xml/XmlUpdateData.h"
#include "platform/os/XmlEncoding.h"

// How many levels of rows a file's root element may have below it. Deeper
// rows are refused (a file being changed may nest deeper).
constexpr int kMaxRecordDepth = 1000;

// One row that cannot be written as XML.
struct XmlRowProblem {
    WideString table;   // "QM_XmlFile", "QM_XmlElement" or "QM_XmlAttribute"
    WideString row;     // the row's key
    WideString column;
    WideString text;    // the offending text, shortened when long
    WideString reason;  // what is wrong, e.g. "is not an XML name"
};

// The file's root record and every record below it in level order: the
// root, its children by Order, their children grouped by the Order of
// their parents, and so on. Stops at kMaxRecordDepth levels below the root
// and never enters a loop; empty when the file has no root record.
std::vector<XmlElementRecord*> RecordsInLevelOrder(XmlUpdateData& data, const XmlFileRecord& file);

// What is wrong with the rows of one file, whatever its encoding: a
// missing root row, a root row with a parent (or in a loop of parents),
// rows nested too deep, names that are not XML names, texts with characters
// XML does not allow, comment texts with "--" or a trailing "-". At most
// limit problems, in the order the rows are visited.
std::vector<XmlRowProblem> FindRowProblems(XmlUpdateData& data, const XmlFileRecord& file, std::size_t limit = 1);
// Names and comment texts that the encoding cannot hold (texts and
// attribute values get character references instead).
std::vector<XmlRowProblem> FindUnencodableRows(XmlUpdateData& data, const XmlFileRecord& file, XmlEncoding encoding,
                                               std::size_t limit = 1);
// The Version column of a file built from scratch.
std::vector<XmlRowProblem> FindNewFileProblems(const XmlFileRecord& file);

// Throw 4118 (file path, table, row, column, text, reason) for the first
// problem; nothing when there is none.
void CheckXmlFileRows(XmlUpdateData& data, const XmlFileRecord& file);
void CheckXmlFileRowsFit(XmlUpdateData& data, const XmlFileRecord& file, XmlEncoding encoding);
void CheckNewXmlFile(const XmlFileRecord& file);
