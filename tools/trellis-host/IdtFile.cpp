#include "IdtFile.h"

#include "platform/CodePage1252.h"
#include "platform/Strings.h"

namespace host {

namespace {

constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePage1252 = 1252;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines = strings::Split(text, '\n');
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    return lines;
}

bool IsDecimal(const std::string& text, bool sign) {
    const std::size_t start = sign && !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
}

// The format writes these bytes for the control characters that would
// break its lines and cells.
char Control(char byte) {
    switch (byte) {
        case 0x10: return '\t';
        case 0x19: return '\n';
        case 0x11: return '\r';
        case 0x18: return '\f';
        case 0x1B: return '\b';
        case 0x15: return '\0';
        default: return byte;
    }
}

std::u16string Decode(const std::string& cell, int codePage) {
    std::string bytes;
    for (char c : cell) bytes.push_back(Control(c));
    if (codePage != kCodePage1252) return strings::FromUtf8(bytes);
    std::u16string text;
    for (unsigned char c : bytes) text.push_back(codepage1252::ToUnicode(c));
    return text;
}

}  // namespace

bool ParseIdtHeader(const std::string& text, IdtHeader* header) {
    *header = IdtHeader();
    const std::vector<std::string> lines = Lines(text);
    if (lines.size() < 3) return false;
    header->columns = strings::Split(lines[0], '\t');
    header->types = strings::Split(lines[1], '\t');
    std::vector<std::string> third = strings::Split(lines[2], '\t');
    if (third.size() > 1 && IsDecimal(third[0], false)) third.erase(third.begin());
    header->table = third.front();
    header->keys.assign(third.begin() + 1, third.end());
    return !header->table.empty() && header->columns.size() == header->types.size() && !header->keys.empty();
}

bool ParseIdt(const std::string& text, IdtTable* table, std::string* error) {
    *table = IdtTable();
    if (!ParseIdtHeader(text, &table->header)) {
        *error = "it does not start with the three lines of a table: columns, types, table and keys";
        return false;
    }
    const std::vector<std::string> lines = Lines(text);
    const std::vector<std::string> third = strings::Split(lines[2], '\t');
    int codePage = kCodePageUtf8;
    if (third.size() > 1 && IsDecimal(third[0], false)) codePage = std::stoi(third[0].substr(0, 9));
    if (codePage != kCodePageUtf8 && codePage != kCodePage1252 && codePage != 0) {
        *error = "it is in code page " + third[0] + "; save it as UTF-8 (65001) or Windows-1252 (1252)";
        return false;
    }
    const IdtHeader& header = table->header;
    for (std::size_t n = 3; n < lines.size(); ++n) {
        if (lines[n].empty()) continue;
        const std::vector<std::string> cells = strings::Split(lines[n], '\t');
        if (cells.size() != header.columns.size()) {
            *error = "line " + std::to_string(n + 1) + " has " + std::to_string(cells.size()) + " cells for " +
                     std::to_string(header.columns.size()) + " columns";
            return false;
        }
        Row row;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const char kind = header.types[i].empty() ? 's' : static_cast<char>(header.types[i][0] | 0x20);
            if (cells[i].empty()) {
                row.push_back(Cell());
            } else if (kind == 'i') {
                if (!IsDecimal(cells[i], true) || cells[i].size() > 11) {
                    *error = "line " + std::to_string(n + 1) + " has '" + cells[i] + "' in the integer column " +
                             header.columns[i];
                    return false;
                }
                row.push_back(Cell::Of(static_cast<int>(std::stoll(cells[i]))));
            } else if (kind == 'v') {
                *error = "the column " + header.columns[i] + " holds streams, which this tool does not read";
                return false;
            } else {
                row.push_back(Cell::Of(Decode(cells[i], codePage)));
            }
        }
        table->rows.push_back(std::move(row));
    }
    return true;
}

std::string CreateTableSql(const IdtHeader& header) {
    std::string sql = "CREATE TABLE " + Quoted(header.table) + " (";
    for (std::size_t i = 0; i < header.columns.size(); ++i) {
        const std::string& type = header.types[i];
        const char kind = type.empty() ? 's' : type[0];
        const std::string size = type.size() > 1 ? type.substr(1) : "0";
        std::string column;
        switch (kind | 0x20) {
            case 'i': column = size == "2" ? "SHORT" : "LONG"; break;
            case 'v': column = "OBJECT"; break;
            default: column = size == "0" ? "LONGCHAR" : "CHAR(" + size + ")"; break;
        }
        if (kind >= 'a' && kind <= 'z') column += " NOT NULL";
        if ((kind | 0x20) == 'l') column += " LOCALIZABLE";
        sql += (i == 0 ? "" : ", ") + Quoted(header.columns[i]) + " " + column;
    }
    sql += " PRIMARY KEY ";
    for (std::size_t i = 0; i < header.keys.size(); ++i) sql += (i == 0 ? "" : ", ") + Quoted(header.keys[i]);
    return sql + ")";
}

}  // namespace host
