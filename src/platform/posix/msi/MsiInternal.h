// Internals of the POSIX Windows Installer stand-in: the handle table, the
// objects behind the handles and their texts. For the stand-in and
// trellis-host only.
#pragma once

#include <libmsi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/Msi.h"

namespace platform::posix {
class InstallerSession;
}

namespace platform::posix::msi {

// msi.dll answers this for a string read of a stream field and the like.
constexpr std::uint32_t kErrorInvalidDatatype = 1804;

// The msi.dll output convention of the text getters: *length is the buffer
// size in, the text length out (code units without NUL). A null or too
// small buffer gives ERROR_MORE_DATA; a non-null one still receives as much
// as fits, NUL-terminated.
std::uint32_t CopyOut(const std::u16string& text, char16_t* buffer, std::uint32_t* length);

// A NUL-terminated API string; a null pointer reads as empty.
std::u16string FromApi(const char16_t* text);

// A text that is an int as a whole: decimal digits, after a minus sign
// when allowMinus, within the int range.
bool ParseInteger(const std::u16string& text, bool allowMinus, int* value);

struct Field {
    enum class Kind { Null, Integer, String, Stream };
    Kind kind = Kind::Null;
    int integer = 0;
    std::u16string text;
    std::string bytes;
    std::size_t readPosition = 0;  // MsiRecordReadStream reads on from here
};

// Fields 0..n; field 0 holds a template or nothing.
struct Record {
    explicit Record(std::uint32_t count) : fields(count + 1) {}
    std::vector<Field> fields;
    std::uint32_t Count() const { return static_cast<std::uint32_t>(fields.size() - 1); }
};

// A field as MsiRecordGetString gives it: integers in decimal, null and
// stream fields empty.
std::u16string FieldText(const Field& field);
// The fields 0..n as text, as the session records them.
std::vector<std::u16string> RecordTexts(const Record& record);

// An open libmsi database. Views keep it alive after its handles are closed.
class Database {
public:
    explicit Database(LibmsiDatabase* database) : database_(database) {}
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    LibmsiDatabase* Get() const { return database_; }

    // Opens a file read-only; null when libmsi cannot read it.
    static std::shared_ptr<Database> Open(const std::string& path);

private:
    LibmsiDatabase* database_;
};

struct View {
    enum class State { Prepared, Executed, Closed };
    View(std::shared_ptr<Database> db, LibmsiQuery* q) : database(std::move(db)), query(q) {}
    ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    std::shared_ptr<Database> database;
    LibmsiQuery* query;
    State state = State::Prepared;
    std::vector<char> columnKinds;  // 'i', 's' or 'v' per column 1..n (index 0 unused)
    int parameterCount = 0;           // '?' markers in the query
};

// Maps a libmsi error (LIBMSI_RESULT_ERROR domain) to the Windows error code
// that msi.dll gives for it; fallback for other domains or no error.
std::uint32_t ErrorFromGError(const GError* error, std::uint32_t fallback);

// Drops libmsi's complaints about null stream cells and missing tables,
// which its error codes report already; once per process.
void InstallLibmsiLogFilter();

// The global handle table. Handles are nonzero and never reused, so a stale
// handle keeps failing instead of reaching a newer object.
using Object = std::variant<InstallerSession*, std::shared_ptr<Database>, std::shared_ptr<View>,
                            std::shared_ptr<Record>>;
MSIHANDLE AddHandle(Object object);
// False for an unknown handle.
bool RemoveHandle(MSIHANDLE handle);
// MsiCloseHandle: removes the handle unless it is a session's own, which
// lives as long as the session object; false for an unknown handle.
bool CloseHandle(MSIHANDLE handle);
// Calls read with the object under the table's lock; false for an unknown handle.
bool ReadHandle(MSIHANDLE handle, void (*read)(const Object& object, void* context), void* context);

// Copies only the pointer that is asked for: log lines alone look up
// handles hundreds of thousands of times in a long installation.
template <typename T>
std::shared_ptr<T> Find(MSIHANDLE handle) {
    std::shared_ptr<T> found;
    ReadHandle(
        handle,
        [](const Object& object, void* context) {
            if (auto* p = std::get_if<std::shared_ptr<T>>(&object)) *static_cast<std::shared_ptr<T>*>(context) = *p;
        },
        &found);
    return found;
}

// Calls use(T&) under the table's lock, without copying the pointer, for
// the calls that each row field and log line makes; false when the handle
// is unknown or holds another kind. use must not reach the handle table.
template <typename T, typename Use>
bool WithObject(MSIHANDLE handle, Use use) {
    struct Call {
        Use* use;
        bool found;
    } call{&use, false};
    ReadHandle(
        handle,
        [](const Object& object, void* context) {
            auto* call = static_cast<Call*>(context);
            if (auto* p = std::get_if<std::shared_ptr<T>>(&object)) {
                call->found = true;
                (*call->use)(**p);
            }
        },
        &call);
    return call.found;
}

InstallerSession* FindSession(MSIHANDLE handle);

// MsiFormatRecord's text of fields 0..n; session may be null (no handle
// given), and then properties are not substituted.
std::u16string FormatFields(const InstallerSession* session, const std::vector<std::u16string>& fields);

// Runs a query that takes no parameters and returns its rows as records;
// false (with the Windows error code) when it cannot run.
bool QueryRows(const Database& database, const std::u16string& query, std::vector<Record>* rows,
               std::uint32_t* error = nullptr);

// The rows of a query on the session's package; none when the package lacks
// the table or has no database.
std::vector<Record> Rows(const InstallerSession& session, const char16_t* query);
// Field n of a row (1 is the first column) as MsiRecordGetString gives it,
// empty past the last field; and as an integer, fallback unless it is one.
std::u16string Text(const Record& row, std::size_t field);
int Integer(const Record& row, std::size_t field, int fallback);

}  // namespace platform::posix::msi
