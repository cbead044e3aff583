#include "installer/MsiTableReader.h"

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/Msi.h"

namespace {

const WideString kEmpty;

// A string field: most fit a small buffer, read in one call instead of the
// two of GetRecordString.
WideString ReadStringField(InstallerHandle row, std::uint32_t field) {
    char16_t buffer[256];
    std::uint32_t length = 256;
    if (platform::MsiRecordGetStringW(row, field, buffer, &length) == platform::kErrorSuccess)
        return WideString(buffer, length);
    return GetRecordString(row, field);
}

}  // namespace

TableRecord::TableRecord(std::shared_ptr<const Columns> columns)
    : columns_(std::move(columns)), values_(columns_ ? columns_->size() : 0) {}

std::size_t TableRecord::Find(std::u16string_view column) const {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if ((*columns_)[i] == column) return i;
    }
    return values_.size();
}

std::size_t TableRecord::TextLength() const {
    std::size_t length = 0;
    for (const WideString& value : values_) length += value.size();
    return length;
}

const WideString& TableRecord::Get(std::u16string_view column) const {
    const std::size_t i = Find(column);
    return i < values_.size() ? values_[i] : kEmpty;
}

void TableRecord::Set(const WideString& column, WideString value) {
    const std::size_t i = Find(column);
    if (i < values_.size()) {
        values_[i] = std::move(value);
        return;
    }
    // A new column: this row gets a list of its own.
    auto columns = std::make_shared<Columns>();
    if (columns_) columns->assign(columns_->begin(), columns_->begin() + static_cast<std::ptrdiff_t>(values_.size()));
    columns->push_back(column);
    columns_ = std::move(columns);
    values_.push_back(std::move(value));
}

MsiTableReader::MsiTableReader(InstallerHandle handle) {
    Reset();
    if (platform::MsiGetDatabaseState(handle) != platform::kMsiDbStateError) {
        database_ = handle;
        return;
    }
    database_ = platform::MsiGetActiveDatabase(handle);
    ownsDatabase_ = database_ != 0;
    if (database_ == 0) {
        LogIfEnabled(u"MsiTableReader: Error opening the MSI database ! ERROR = " +
                ToWideUnsigned(platform::GetLastError()));
        ok_ = false;
    }
}

MsiTableReader::~MsiTableReader() {
    try {
        Reset();
    } catch (...) {
        // Its log line failed, perhaps while unwinding: the handles still close.
    }
    if (ownsDatabase_) platform::MsiCloseHandle(database_);
}

void MsiTableReader::Reset() {
    LogIfEnabled(u"RESET READER");
    ok_ = true;
    tableName_.clear();
    columnNames_.clear();
    columnTypes_.clear();
    records_.clear();
    streams_.clear();
    if (view_) platform::MsiViewClose(view_.Get());
    view_.Reset();
}

bool MsiTableReader::Query(const WideString& table, const std::vector<WideString>& orderBy,
                           const WideString& where) {
    Reset();
    tableName_ = table;
    WideString query = u"SELECT * FROM `" + table + u"`";
    if (!where.empty()) query += u" WHERE " + where;
    for (std::size_t i = 0; i < orderBy.size(); ++i)
        query += (i == 0 ? u" ORDER BY `" : u",`") + orderBy[i] + u"`";
    ok_ = OpenView(query);
    if (ok_) ReadColumnInfo();
    if (ok_) ReadRows();
    return !records_.empty();
}

bool MsiTableReader::OpenView(const WideString& query) {
    if (view_) platform::MsiViewClose(view_.Get());
    std::uint32_t result = platform::MsiDatabaseOpenViewW(database_, query.c_str(), view_.Receive());
    if (result != platform::kErrorSuccess) {
        LogIfEnabled(u"Error opening View: [" + query + u"] Error code:" + ToWideUnsigned(result));
        return false;
    }
    result = platform::MsiViewExecute(view_.Get(), 0);
    if (result != platform::kErrorSuccess) {
        LogIfEnabled(u"Error executing the query: [" + query + u"] Error code:" + ToWideUnsigned(result));
        return false;
    }
    return true;
}

void MsiTableReader::ReadColumnInfo() {
    MsiHandle names;
    if (platform::MsiViewGetColumnInfo(view_.Get(), platform::kMsiColInfoNames, names.Receive()) ==
        platform::kErrorSuccess) {
        const std::uint32_t count = platform::MsiRecordGetFieldCount(names.Get());
        for (std::uint32_t field = 1; field <= count; ++field) {
            // Column names are identifiers of at most 64 characters; a fixed
            // buffer of 255 is the documented size for them.
            char16_t buffer[256] = {0};
            std::uint32_t length = 255;
            if (platform::MsiRecordGetStringW(names.Get(), field, buffer, &length) != platform::kErrorSuccess)
                buffer[0] = 0;
            columnNames_.emplace_back(buffer);
        }
    }
    MsiHandle types;
    if (platform::MsiViewGetColumnInfo(view_.Get(), platform::kMsiColInfoTypes, types.Receive()) ==
        platform::kErrorSuccess) {
        for (std::size_t field = 1; field <= columnNames_.size(); ++field) {
            const WideString type = GetRecordString(types.Get(), static_cast<std::uint32_t>(field));
            columnTypes_.push_back(type.empty() ? u'\0' : ToLowerAscii(type[0]));
        }
    }
    columnTypes_.resize(columnNames_.size(), u'\0');
}

void MsiTableReader::ReadRows() {
    // The columns carried, in table order; other column kinds are not.
    std::vector<std::uint32_t> fields;
    std::vector<char16_t> kinds;
    auto names = std::make_shared<TableRecord::Columns>();
    for (std::size_t i = 0; i < columnNames_.size(); ++i) {
        const char16_t kind = columnTypes_[i];
        const bool carried = kind == u's' || kind == u'l' || kind == u'i' || kind == u'v' ||
                             (kind == u'g' && !columnNames_[i].empty());
        if (!carried) continue;
        fields.push_back(static_cast<std::uint32_t>(i + 1));
        kinds.push_back(kind);
        names->push_back(columnNames_[i]);
    }
    const std::shared_ptr<const TableRecord::Columns> columns = std::move(names);
    MsiHandle row;
    while (platform::MsiViewFetch(view_.Get(), row.Receive()) == platform::kErrorSuccess) {
        TableRecord record(columns);
        for (std::size_t c = 0; c < fields.size(); ++c) {
            const std::uint32_t field = fields[c];
            WideString& value = record.values_[c];
            switch (kinds[c]) {
            case u'i': {
                const int number = platform::MsiRecordGetInteger(row.Get(), field);
                if (number != platform::kMsiNullInteger) value = ToWideDecimal(number);
                break;
            }
            case u'v': {
                value = kBinaryDataText;
                std::uint32_t size = 0;
                if (platform::MsiRecordReadStream(row.Get(), field, nullptr, &size) == platform::kErrorSuccess &&
                    size != 0) {
                    std::string bytes(size, '\0');
                    if (platform::MsiRecordReadStream(row.Get(), field, bytes.data(), &size) ==
                        platform::kErrorSuccess) {
                        bytes.resize(size);
                        streams_.push_back(std::move(bytes));
                    }
                }
                break;
            }
            default:
                value = ReadStringField(row.Get(), field);
                break;
            }
        }
        records_.push_back(std::move(record));
    }
}
