// Readable table files (.idt), the text form of an installer table: a line
// of column names, a line of column types, a line with the table's name and
// its primary key columns (after a code page, when there is one), then one
// line per row, cells separated by tabs.
#pragma once

#include <string>
#include <vector>

#include "PackageFile.h"

namespace host {

struct IdtHeader {
    std::vector<std::string> columns;
    std::vector<std::string> types;  // "s72", "I2", "L0", ...
    std::string table;
    std::vector<std::string> keys;
};

struct IdtTable {
    IdtHeader header;
    std::vector<Row> rows;  // integers as integers, empty cells null
};

// The header alone; false when the three lines are not there.
bool ParseIdtHeader(const std::string& text, IdtHeader* header);
// The whole file. Text is UTF-8, or Windows-1252 under code page 1252;
// control characters come back from the bytes the format writes for them.
// Stream columns are not read. False, with a reason, for a malformed file.
bool ParseIdt(const std::string& text, IdtTable* table, std::string* error);

// CREATE TABLE for the header's columns, types and keys.
std::string CreateTableSql(const IdtHeader& header);

}  // namespace host
