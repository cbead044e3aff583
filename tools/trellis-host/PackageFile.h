// An installer database opened through libmsi, for the tools that read and
// change packages (trellis-host check and add): whole tables as plain data,
// SQL with parameters, and a commit that writes the result to a new file.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct _LibmsiDatabase LibmsiDatabase;

namespace host {

// One cell of a row. Integers keep their decimal text in text as well.
struct Cell {
    enum class Kind { Null, Text, Integer, Stream };
    Kind kind = Kind::Null;
    std::u16string text;
    int integer = 0;
    std::string bytes;  // a stream's contents

    static Cell Of(std::u16string value);
    static Cell Of(int value);
    static Cell Stream(std::string bytes);
    bool operator==(const Cell& other) const;
    bool operator!=(const Cell& other) const { return !(*this == other); }
};

using Row = std::vector<Cell>;

struct Table {
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::string> types;  // as .idt files spell them: "s72", "I2", "L0", "v0"
    std::vector<std::string> keys;   // the primary key columns
    std::vector<Row> rows;

    // The index of a column; -1 when the table has none of that name.
    int Column(std::string_view column) const;
    // A cell's text by column name; empty for null cells and missing columns.
    const std::u16string& Text(const Row& row, std::string_view column) const;
};

class PackageFile {
public:
    ~PackageFile();
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    // Read-only. Null, with a reason, when the file is not a package libmsi reads.
    static std::unique_ptr<PackageFile> Open(const std::string& path, std::string* error);
    // Changes stay in memory until Commit writes the whole database to output.
    static std::unique_ptr<PackageFile> OpenForChange(const std::string& path, const std::string& output,
                                                      std::string* error);

    bool HasTable(const std::string& table) const;
    std::vector<std::string> TableNames() const;
    // The whole table; false (and an empty table) when the package has none.
    bool Read(const std::string& table, Table* out, std::string* error = nullptr) const;
    // Any SELECT, with the columns it names; keys stay empty.
    bool Query(const std::string& sql, const Row& parameters, Table* out, std::string* error) const;
    // INSERT, UPDATE, DELETE or CREATE TABLE; '?' markers take the parameters in order.
    bool Execute(const std::string& sql, const Row& parameters, std::string* error);
    bool Commit(std::string* error);

private:
    explicit PackageFile(LibmsiDatabase* database) : database_(database) {}
    LibmsiDatabase* database_;
};

// Empty when the file can be read and starts like an installer database
// (an OLE compound file), else why not. Spares libmsi's complaints about
// other files.
std::string WhyNotAPackage(const std::string& path);

// `name` quoted as an SQL identifier.
std::string Quoted(std::string_view name);

}  // namespace host
