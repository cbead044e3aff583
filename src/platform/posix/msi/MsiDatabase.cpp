// Database and view functions of the POSIX Windows Installer stand-in, read
// through libmsi.
//
// Error codes: libmsi reports a missing table, an unknown column and bad SQL
// alike as LIBMSI_RESULT_BAD_QUERY_SYNTAX when the query is made, which is
// what msi.dll's MsiDatabaseOpenView answers for all three (1615). Fetching
// from a view that is not executed gives ERROR_FUNCTION_FAILED (1627) as in
// msi.dll; libmsi would silently return no rows after MsiViewClose, so the
// view's state is kept here.
#include <cstring>
#include <mutex>

#include "platform/Strings.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace platform::posix::msi {

namespace {

// libmsi complains on stderr about every null stream cell it fetches (it
// looks for a stream that a null cell never had) and about every missing
// table a query names, which the error code already reports. Those
// messages are dropped; everything else goes to glib's default handler.
void FilterLibmsiNoise(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    static const char* const kNoise[] = {"fetching stream ", "failed to get stream", "Couldn't find id for ",
                                         "table not found"};
    if (message != nullptr) {
        for (const char* noise : kNoise) {
            if (std::strncmp(message, noise, std::strlen(noise)) == 0) return;
        }
    }
    g_log_default_handler(domain, level, message, nullptr);
}

void InstallLogFilter() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_handler(nullptr, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
                          FilterLibmsiNoise, nullptr);
    });
}

std::string ReadAll(GInputStream* stream) {
    std::string bytes;
    char chunk[4096];
    for (;;) {
        const gssize count = g_input_stream_read(stream, chunk, sizeof chunk, nullptr, nullptr);
        if (count <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
    return bytes;
}

// Our record from a fetched libmsi row; integer and stream columns keep
// their kind so that MsiRecordGetInteger and MsiRecordReadStream work.
Record ConvertRow(LibmsiRecord* row, const std::vector<char>& kinds) {
    const guint count = libmsi_record_get_field_count(row);
    Record record(count);
    for (guint i = 1; i <= count; ++i) {
        Field& field = record.fields[i];
        if (libmsi_record_is_null(row, i)) continue;
        const char kind = i < kinds.size() ? kinds[i] : 's';
        if (kind == 'v') {
            GInputStream* stream = libmsi_record_get_stream(row, i);
            if (stream == nullptr) continue;
            field.kind = Field::Kind::Stream;
            field.bytes = ReadAll(stream);
            g_object_unref(stream);
        } else if (kind == 'i') {
            field.kind = Field::Kind::Integer;
            field.integer = libmsi_record_get_int(row, i);
        } else {
            gchar* text = libmsi_record_get_string(row, i);
            field.kind = Field::Kind::String;
            field.text = text != nullptr ? strings::FromUtf8(text) : std::u16string();
            g_free(text);
        }
    }
    return record;
}

// Column info as text fields 1..n (field 0 stays null, as in msi.dll).
Record ConvertColumnInfo(LibmsiRecord* info) {
    const guint count = libmsi_record_get_field_count(info);
    Record record(count);
    for (guint i = 1; i <= count; ++i) {
        gchar* text = libmsi_record_get_string(info, i);
        if (text != nullptr && *text != '\0') {
            record.fields[i].kind = Field::Kind::String;
            record.fields[i].text = strings::FromUtf8(text);
        }
        g_free(text);
    }
    return record;
}

// The '?' parameter markers of a query, outside quoted strings and names.
int CountMarkers(const std::string& sql) {
    int count = 0;
    char quote = 0;
    for (char c : sql) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '`') {
            quote = c;
        } else if (c == '?') {
            ++count;
        }
    }
    return count;
}

// 'v' for stream columns, 'i' for integers, 's' for any text (index 0 unused).
std::vector<char> ColumnKinds(LibmsiQuery* query) {
    std::vector<char> kinds(1, 0);
    LibmsiRecord* types = libmsi_query_get_column_info(query, LIBMSI_COL_INFO_TYPES, nullptr);
    if (types == nullptr) return kinds;
    const guint count = libmsi_record_get_field_count(types);
    for (guint i = 1; i <= count; ++i) {
        gchar* type = libmsi_record_get_string(types, i);
        const char letter = type != nullptr ? static_cast<char>(g_ascii_tolower(type[0])) : 's';
        kinds.push_back(letter == 'v' || letter == 'i' ? letter : 's');
        g_free(type);
    }
    g_object_unref(types);
    return kinds;
}

// A libmsi parameter record from ours.
LibmsiRecord* ConvertParameters(const Record& record) {
    LibmsiRecord* params = libmsi_record_new(record.Count());
    for (std::uint32_t i = 1; i <= record.Count(); ++i) {
        const Field& field = record.fields[i];
        switch (field.kind) {
            case Field::Kind::Integer:
                libmsi_record_set_int(params, i, field.integer);
                break;
            case Field::Kind::String:
                libmsi_record_set_string(params, i, strings::ToUtf8(field.text).c_str());
                break;
            case Field::Kind::Stream: {
                GInputStream* stream = g_memory_input_stream_new_from_data(
                    g_memdup2(field.bytes.data(), field.bytes.size()), static_cast<gssize>(field.bytes.size()),
                    g_free);
                libmsi_record_set_stream(params, i, stream, field.bytes.size(), nullptr, nullptr);
                g_object_unref(stream);
                break;
            }
            case Field::Kind::Null:
                break;
        }
    }
    return params;
}

}  // namespace

void InstallLibmsiLogFilter() { InstallLogFilter(); }

Database::~Database() {
    if (database_ != nullptr) g_object_unref(database_);
}

std::shared_ptr<Database> Database::Open(const std::string& path) {
    InstallLogFilter();
    GError* error = nullptr;
    LibmsiDatabase* database = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error);
    g_clear_error(&error);
    if (database == nullptr) return nullptr;
    return std::make_shared<Database>(database);
}

View::~View() {
    if (query != nullptr) {
        if (state == State::Executed) libmsi_query_close(query, nullptr);
        g_object_unref(query);
    }
}

bool QueryRows(const Database& database, const std::u16string& query, std::vector<Record>* rows,
               std::uint32_t* errorCode) {
    GError* error = nullptr;
    LibmsiQuery* q = libmsi_query_new(database.Get(), strings::ToUtf8(query).c_str(), &error);
    std::uint32_t result = kErrorSuccess;
    if (q == nullptr) {
        result = ErrorFromGError(error, kErrorBadQuerySyntax);
    } else if (!libmsi_query_execute(q, nullptr, &error)) {
        result = ErrorFromGError(error, kErrorFunctionFailed);
    } else {
        const std::vector<char> kinds = ColumnKinds(q);
        while (LibmsiRecord* row = libmsi_query_fetch(q, &error)) {
            rows->push_back(ConvertRow(row, kinds));
            g_object_unref(row);
        }
        if (error != nullptr) result = ErrorFromGError(error, kErrorFunctionFailed);
        libmsi_query_close(q, nullptr);
    }
    g_clear_error(&error);
    if (q != nullptr) g_object_unref(q);
    if (errorCode != nullptr) *errorCode = result;
    return result == kErrorSuccess;
}

}  // namespace platform::posix::msi

namespace platform {

using posix::msi::Database;
using posix::msi::Find;
using posix::msi::Record;
using posix::msi::View;

int MsiGetDatabaseState(MSIHANDLE database) {
    return Find<Database>(database) ? kMsiDbStateRead : kMsiDbStateError;
}

MSIHANDLE MsiGetActiveDatabase(MSIHANDLE install) {
    posix::InstallerSession* session = posix::msi::FindSession(install);
    if (session == nullptr || !session->Database()) return 0;
    return posix::msi::AddHandle(session->Database());
}

std::uint32_t MsiDatabaseOpenViewW(MSIHANDLE database, const char16_t* query, MSIHANDLE* view) {
    if (view == nullptr || query == nullptr) return kErrorInvalidParameter;
    *view = 0;
    auto db = Find<Database>(database);
    if (!db) return kErrorInvalidHandle;
    const std::string sql = strings::ToUtf8(query);
    GError* error = nullptr;
    LibmsiQuery* q = libmsi_query_new(db->Get(), sql.c_str(), &error);
    if (q == nullptr) {
        const std::uint32_t result = posix::msi::ErrorFromGError(error, kErrorBadQuerySyntax);
        g_clear_error(&error);
        return result;
    }
    auto opened = std::make_shared<View>(db, q);
    opened->parameterCount = posix::msi::CountMarkers(sql);
    opened->columnKinds = posix::msi::ColumnKinds(q);
    *view = posix::msi::AddHandle(opened);
    return kErrorSuccess;
}

std::uint32_t MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
    auto v = Find<View>(view);
    if (!v) return kErrorInvalidHandle;
    std::shared_ptr<Record> params;
    if (parameters != 0) {
        params = Find<Record>(parameters);
        if (!params) return kErrorInvalidHandle;
    } else if (v->parameterCount > 0) {
        // libmsi crashes on markers without a record; nothing could match.
        return kErrorFunctionFailed;
    }
    if (v->state == View::State::Executed) libmsi_query_close(v->query, nullptr);
    LibmsiRecord* converted = params ? posix::msi::ConvertParameters(*params) : nullptr;
    GError* error = nullptr;
    const bool ok = libmsi_query_execute(v->query, converted, &error);
    if (converted != nullptr) g_object_unref(converted);
    if (!ok) {
        const std::uint32_t result = posix::msi::ErrorFromGError(error, kErrorFunctionFailed);
        g_clear_error(&error);
        v->state = View::State::Closed;
        return result;
    }
    v->state = View::State::Executed;
    return kErrorSuccess;
}

std::uint32_t MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
    if (record == nullptr) return kErrorInvalidParameter;
    *record = 0;
    auto v = Find<View>(view);
    if (!v) return kErrorInvalidHandle;
    if (v->state != View::State::Executed) return kErrorFunctionFailed;
    GError* error = nullptr;
    LibmsiRecord* row = libmsi_query_fetch(v->query, &error);
    if (row == nullptr) {
        const std::uint32_t result = error != nullptr ? posix::msi::ErrorFromGError(error, kErrorFunctionFailed)
                                                      : kErrorNoMoreItems;
        g_clear_error(&error);
        return result;
    }
    auto converted = std::make_shared<Record>(posix::msi::ConvertRow(row, v->columnKinds));
    g_object_unref(row);
    *record = posix::msi::AddHandle(converted);
    return kErrorSuccess;
}

std::uint32_t MsiViewGetColumnInfo(MSIHANDLE view, int kind, MSIHANDLE* record) {
    if (record == nullptr) return kErrorInvalidParameter;
    *record = 0;
    auto v = Find<View>(view);
    if (!v) return kErrorInvalidHandle;
    if (kind != kMsiColInfoNames && kind != kMsiColInfoTypes) return kErrorInvalidParameter;
    GError* error = nullptr;
    LibmsiRecord* info = libmsi_query_get_column_info(
        v->query, kind == kMsiColInfoNames ? LIBMSI_COL_INFO_NAMES : LIBMSI_COL_INFO_TYPES, &error);
    if (info == nullptr) {
        const std::uint32_t result = posix::msi::ErrorFromGError(error, kErrorFunctionFailed);
        g_clear_error(&error);
        return result;
    }
    auto converted = std::make_shared<Record>(posix::msi::ConvertColumnInfo(info));
    g_object_unref(info);
    *record = posix::msi::AddHandle(converted);
    return kErrorSuccess;
}

std::uint32_t MsiViewClose(MSIHANDLE view) {
    auto v = Find<View>(view);
    if (!v) return kErrorInvalidHandle;
    if (v->state == View::State::Executed) libmsi_query_close(v->query, nullptr);
    v->state = View::State::Closed;
    return kErrorSuccess;
}

std::uint32_t MsiCloseHandle(MSIHANDLE handle) {
    // Closing 0 is harmless, as with msi.dll, so that handle wrappers may
    // close unconditionally.
    if (handle == 0) return kErrorSuccess;
    return posix::msi::CloseHandle(handle) ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace platform
