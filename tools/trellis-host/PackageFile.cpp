#include "PackageFile.h"

#include <libmsi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Strings.h"
#include "platform/posix/msi/MsiInternal.h"

namespace host {

namespace {

using strings::FromUtf8;
using strings::ToUtf8;

// Takes the message out of a GError and frees it.
std::string Message(GError** error, const std::string& fallback) {
    std::string text = *error != nullptr && (*error)->message != nullptr ? (*error)->message : fallback;
    g_clear_error(error);
    return text;
}

void SetError(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
}

template <typename T>
struct Unref {
    void operator()(T* object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
using QueryPtr = std::unique_ptr<LibmsiQuery, Unref<LibmsiQuery>>;
using RecordPtr = std::unique_ptr<LibmsiRecord, Unref<LibmsiRecord>>;

std::string ReadStream(GInputStream* stream) {
    std::string bytes;
    std::vector<char> chunk(1 << 20);
    for (;;) {
        const gssize count = g_input_stream_read(stream, chunk.data(), chunk.size(), nullptr, nullptr);
        if (count <= 0) break;
        bytes.append(chunk.data(), static_cast<std::size_t>(count));
    }
    return bytes;
}

std::vector<std::string> ColumnInfo(LibmsiQuery* query, LibmsiColInfo kind) {
    std::vector<std::string> out;
    RecordPtr info(libmsi_query_get_column_info(query, kind, nullptr));
    if (!info) return out;
    const guint count = libmsi_record_get_field_count(info.get());
    for (guint i = 1; i <= count; ++i) {
        gchar* text = libmsi_record_get_string(info.get(), i);
        out.emplace_back(text != nullptr ? text : "");
        g_free(text);
    }
    return out;
}

Cell ReadCell(LibmsiRecord* record, guint field, char kind) {
    if (libmsi_record_is_null(record, field)) return Cell();
    if (kind == 'v') {
        GInputStream* stream = libmsi_record_get_stream(record, field);
        if (stream == nullptr) return Cell();
        Cell cell = Cell::Stream(ReadStream(stream));
        g_object_unref(stream);
        return cell;
    }
    if (kind == 'i') return Cell::Of(libmsi_record_get_int(record, field));
    gchar* text = libmsi_record_get_string(record, field);
    Cell cell = Cell::Of(FromUtf8(text != nullptr ? text : ""));
    g_free(text);
    return cell;
}

RecordPtr ToRecord(const Row& parameters) {
    if (parameters.empty()) return nullptr;
    RecordPtr record(libmsi_record_new(static_cast<guint>(parameters.size())));
    for (guint i = 1; i <= parameters.size(); ++i) {
        const Cell& cell = parameters[i - 1];
        switch (cell.kind) {
            case Cell::Kind::Integer:
                libmsi_record_set_int(record.get(), i, cell.integer);
                break;
            case Cell::Kind::Text:
                libmsi_record_set_string(record.get(), i, ToUtf8(cell.text).c_str());
                break;
            case Cell::Kind::Stream: {
                GInputStream* stream = g_memory_input_stream_new_from_data(
                    g_memdup2(cell.bytes.data(), cell.bytes.size()), static_cast<gssize>(cell.bytes.size()), g_free);
                libmsi_record_set_stream(record.get(), i, stream, cell.bytes.size(), nullptr, nullptr);
                g_object_unref(stream);
                break;
            }
            case Cell::Kind::Null:
                break;
        }
    }
    return record;
}

LibmsiDatabase* OpenDatabase(const char* path, guint flags, const char* output, std::string* error) {
    platform::posix::msi::InstallLibmsiLogFilter();
    GError* gerror = nullptr;
    LibmsiDatabase* database = libmsi_database_new(path, flags, output, &gerror);
    if (database == nullptr) SetError(error, Message(&gerror, "libmsi cannot open it"));
    g_clear_error(&gerror);
    return database;
}

// The query prepared and executed with the parameters; null, with the
// error set, when either step fails.
QueryPtr RunQuery(LibmsiDatabase* database, const std::string& sql, const Row& parameters, std::string* error) {
    GError* gerror = nullptr;
    QueryPtr query(libmsi_query_new(database, sql.c_str(), &gerror));
    RecordPtr params = ToRecord(parameters);
    if (!query || !libmsi_query_execute(query.get(), params.get(), &gerror)) {
        SetError(error, Message(&gerror, "cannot run " + sql));
        if (query) libmsi_query_close(query.get(), nullptr);
        return nullptr;
    }
    return query;
}

}  // namespace

Cell Cell::Of(std::u16string value) {
    Cell cell;
    cell.kind = Kind::Text;
    cell.text = std::move(value);
    return cell;
}

Cell Cell::Of(int value) {
    Cell cell;
    cell.kind = Kind::Integer;
    cell.integer = value;
    cell.text = FromUtf8(std::to_string(value));
    return cell;
}

Cell Cell::Stream(std::string bytes) {
    Cell cell;
    cell.kind = Kind::Stream;
    cell.bytes = std::move(bytes);
    return cell;
}

// An empty text and a null cell are the same value in a package.
bool Cell::operator==(const Cell& other) const {
    const bool empty = kind == Kind::Null || (kind == Kind::Text && text.empty());
    const bool otherEmpty = other.kind == Kind::Null || (other.kind == Kind::Text && other.text.empty());
    if (empty || otherEmpty) return empty == otherEmpty;
    if ((kind == Kind::Stream) != (other.kind == Kind::Stream)) return false;
    return kind == Kind::Stream ? bytes == other.bytes : text == other.text;
}

int Table::Column(std::string_view column) const {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] == column) return static_cast<int>(i);
    }
    return -1;
}

const std::u16string& Table::Text(const Row& row, std::string_view column) const {
    static const std::u16string kEmpty;
    const int index = Column(column);
    if (index < 0 || static_cast<std::size_t>(index) >= row.size()) return kEmpty;
    return row[static_cast<std::size_t>(index)].text;
}

std::string WhyNotAPackage(const std::string& path) {
    static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    unsigned char head[8] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::strerror(errno);
    const std::size_t read = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (read == sizeof head && std::equal(head, head + sizeof head, kSignature)) return std::string();
    return "it is not an installer database";
}

std::string Quoted(std::string_view name) { return "`" + std::string(name) + "`"; }

PackageFile::~PackageFile() {
    if (database_ != nullptr) g_object_unref(database_);
}

std::unique_ptr<PackageFile> PackageFile::Open(const std::string& path, std::string* error) {
    LibmsiDatabase* database = OpenDatabase(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, error);
    return database == nullptr ? nullptr : std::unique_ptr<PackageFile>(new PackageFile(database));
}

std::unique_ptr<PackageFile> PackageFile::OpenForChange(const std::string& path, const std::string& output,
                                                        std::string* error) {
    LibmsiDatabase* database = OpenDatabase(path.c_str(), LIBMSI_DB_FLAGS_TRANSACT, output.c_str(), error);
    return database == nullptr ? nullptr : std::unique_ptr<PackageFile>(new PackageFile(database));
}

bool PackageFile::HasTable(const std::string& table) const {
    Table found;
    return Query("SELECT `Name` FROM `_Tables` WHERE `Name` = ?", {Cell::Of(FromUtf8(table))}, &found, nullptr) &&
           !found.rows.empty();
}

std::vector<std::string> PackageFile::TableNames() const {
    std::vector<std::string> names;
    Table tables;
    if (!Query("SELECT `Name` FROM `_Tables`", {}, &tables, nullptr)) return names;
    for (const Row& row : tables.rows) names.push_back(ToUtf8(row[0].text));
    return names;
}

bool PackageFile::Read(const std::string& table, Table* out, std::string* error) const {
    *out = Table();
    out->name = table;
    if (!HasTable(table)) {
        SetError(error, "the package has no table " + table);
        return false;
    }
    if (!Query("SELECT * FROM " + Quoted(table), {}, out, error)) return false;
    out->name = table;
    RecordPtr keys(libmsi_database_get_primary_keys(database_, table.c_str(), nullptr));
    if (keys) {
        const guint count = libmsi_record_get_field_count(keys.get());
        for (guint i = 1; i <= count; ++i) {
            gchar* text = libmsi_record_get_string(keys.get(), i);
            out->keys.emplace_back(text != nullptr ? text : "");
            g_free(text);
        }
    }
    return true;
}

bool PackageFile::Query(const std::string& sql, const Row& parameters, Table* out, std::string* error) const {
    *out = Table();
    const QueryPtr query = RunQuery(database_, sql, parameters, error);
    if (!query) return false;
    GError* gerror = nullptr;
    out->columns = ColumnInfo(query.get(), LIBMSI_COL_INFO_NAMES);
    out->types = ColumnInfo(query.get(), LIBMSI_COL_INFO_TYPES);
    std::vector<char> kinds;
    for (const std::string& type : out->types) {
        const char letter = type.empty() ? 's' : static_cast<char>(g_ascii_tolower(type[0]));
        kinds.push_back(letter == 'v' || letter == 'i' ? letter : 's');
    }
    while (LibmsiRecord* fetched = libmsi_query_fetch(query.get(), &gerror)) {
        RecordPtr record(fetched);
        Row row;
        for (guint i = 1; i <= kinds.size(); ++i) row.push_back(ReadCell(record.get(), i, kinds[i - 1]));
        out->rows.push_back(std::move(row));
    }
    libmsi_query_close(query.get(), nullptr);
    if (gerror == nullptr) return true;
    SetError(error, Message(&gerror, "cannot read the rows of " + sql));
    return false;
}

bool PackageFile::Execute(const std::string& sql, const Row& parameters, std::string* error) {
    const QueryPtr query = RunQuery(database_, sql, parameters, error);
    if (!query) return false;
    libmsi_query_close(query.get(), nullptr);
    return true;
}

bool PackageFile::Commit(std::string* error) {
    GError* gerror = nullptr;
    if (libmsi_database_commit(database_, &gerror)) return true;
    SetError(error, Message(&gerror, "cannot write the package"));
    return false;
}

}  // namespace host
