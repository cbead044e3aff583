#include "installer/MsiTableReader.h"

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/Msi.h"

namespace {

const WideString kEmpty;

}  // namespace

const WideString& TableRecord::Get(const WideString& column) const {
    const auto it = fields_.find(column);
    return it == fields_.end() ? kEmpty : it->second;
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
    MsiHandle row;
    while (platform::MsiViewFetch(view_.Get(), row.Receive()) == platform::kErrorSuccess) {
        TableRecord record;
        for (std::size_t i = 0; i < columnNames_.size(); ++i) {
            const auto field = static_cast<std::uint32_t>(i + 1);
            const WideString& name = columnNames_[i];
            switch (columnTypes_[i]) {
            case u'g':
                if (name.empty()) break;
                [[fallthrough]];
            case u's':
            case u'l':
                record.Set(name, GetRecordString(row.Get(), field));
                break;
            case u'i': {
                const int value = platform::MsiRecordGetInteger(row.Get(), field);
                record.Set(name, value == platform::kMsiNullInteger ? WideString() : ToWideDecimal(value));
                break;
            }
            case u'v': {
                record.Set(name, kBinaryDataText);
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
                break;  // other column kinds are not carried
            }
        }
        records_.push_back(std::move(record));
    }
}
