// Reads whole installer tables into memory.
//
//   MsiTableReader reader(install);
//   if (reader.Query(u"QM_XmlFile", {u"File"}, u""))
//       for (const TableRecord& row : reader.Records()) Use(row.Get(u"Path"));
//
// Each Query starts afresh, so only the rows of the last queried table are held.
// Failures never throw: they are logged and leave no rows.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "installer/MsiText.h"
#include "installer/WideString.h"

// One fetched row: column name -> text. A missing name reads as the empty
// text. The rows of one query share their list of column names.
class TableRecord {
public:
    using Columns = std::vector<WideString>;

    TableRecord() = default;
    // A row with these columns, each value empty.
    explicit TableRecord(std::shared_ptr<const Columns> columns);

    const WideString& Get(std::u16string_view column) const;
    void Set(const WideString& column, WideString value);
    bool Has(std::u16string_view column) const { return Find(column) < values_.size(); }
    // The number of columns the row holds (not every column type is read).
    std::size_t FieldCount() const { return values_.size(); }
    // The length of its values together.
    std::size_t TextLength() const;

private:
    friend class MsiTableReader;
    // The index of the column; FieldCount() when the row lacks it.
    std::size_t Find(std::u16string_view column) const;

    std::shared_ptr<const Columns> columns_;
    std::vector<WideString> values_;
};

class MsiTableReader {
public:
    // A database handle is used as it is; an installer session gives its
    // active database, which the reader then owns.
    explicit MsiTableReader(InstallerHandle handle);
    ~MsiTableReader();
    MsiTableReader(const MsiTableReader&) = delete;
    MsiTableReader& operator=(const MsiTableReader&) = delete;

    // SELECT * FROM `table` [WHERE where] [ORDER BY `a`,`b`]; true when at
    // least one row was read.
    bool Query(const WideString& table, const std::vector<WideString>& orderBy, const WideString& where);

    const WideString& TableName() const { return tableName_; }
    const std::vector<WideString>& ColumnNames() const { return columnNames_; }
    // The first letter of each column's type string, lower-cased (s, l, i, v, g...).
    const std::vector<char16_t>& ColumnTypes() const { return columnTypes_; }
    const std::vector<TableRecord>& Records() const { return records_; }
    // The bytes of the stream fields, in the order read.
    const std::vector<std::string>& Streams() const { return streams_; }

    // The text that "{Binary Data}" stands for in a stream field.
    static constexpr const char16_t* kBinaryDataText = u"{Binary Data}";

private:
    void Reset();
    bool OpenView(const WideString& query);
    void ReadColumnInfo();
    void ReadRows();

    InstallerHandle database_ = 0;
    bool ownsDatabase_ = false;
    bool ok_ = true;
    WideString tableName_;
    std::vector<WideString> columnNames_;
    std::vector<char16_t> columnTypes_;
    std::vector<TableRecord> records_;
    std::vector<std::string> streams_;
    MsiHandle view_;
};
