// The handle table and field texts of the POSIX Windows Installer stand-in.
#include <glib.h>

#include <map>
#include <mutex>

#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace platform::posix::msi {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<MSIHANDLE, Object> objects;
    MSIHANDLE next = 1;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // never destroyed: sessions may outlive static teardown
    return *table;
}

}  // namespace

MSIHANDLE AddHandle(Object object) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.next == 0) table.next = 1;  // after 2^32 handles; 0 is never a handle
    const MSIHANDLE handle = table.next++;
    table.objects.emplace(handle, std::move(object));
    return handle;
}

namespace {

// Removes the handle, or with keepSessions leaves a session's handle in
// place; false for an unknown handle.
bool Remove(MSIHANDLE handle, bool keepSessions) {
    Object removed;  // released after the lock: a view may free its database
    HandleTable& table = Table();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.objects.find(handle);
        if (it == table.objects.end()) return false;
        if (keepSessions && std::holds_alternative<InstallerSession*>(it->second)) return true;
        removed = std::move(it->second);
        table.objects.erase(it);
    }
    return true;
}

}  // namespace

bool RemoveHandle(MSIHANDLE handle) { return Remove(handle, false); }

bool CloseHandle(MSIHANDLE handle) { return Remove(handle, true); }

bool ReadHandle(MSIHANDLE handle, void (*read)(const Object& object, void* context), void* context) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(handle);
    if (it == table.objects.end()) return false;
    read(it->second, context);
    return true;
}

InstallerSession* FindSession(MSIHANDLE handle) {
    InstallerSession* session = nullptr;
    ReadHandle(
        handle,
        [](const Object& object, void* context) {
            if (auto* p = std::get_if<InstallerSession*>(&object)) *static_cast<InstallerSession**>(context) = *p;
        },
        &session);
    return session;
}

std::uint32_t CopyOut(const std::u16string& text, char16_t* buffer, std::uint32_t* length) {
    if (length == nullptr) return kErrorInvalidParameter;
    const std::uint32_t needed = static_cast<std::uint32_t>(text.size());
    const std::uint32_t capacity = *length;
    *length = needed;
    if (buffer == nullptr) return kErrorMoreData;
    if (capacity > 0) {
        const std::uint32_t copied = needed < capacity ? needed : capacity - 1;
        text.copy(buffer, copied);
        buffer[copied] = u'\0';
    }
    return needed < capacity ? kErrorSuccess : kErrorMoreData;
}

std::u16string FromApi(const char16_t* text) { return text != nullptr ? std::u16string(text) : std::u16string(); }

std::u16string FieldText(const Field& field) {
    switch (field.kind) {
        case Field::Kind::Integer: {
            const std::string digits = std::to_string(field.integer);
            return std::u16string(digits.begin(), digits.end());
        }
        case Field::Kind::String:
            return field.text;
        case Field::Kind::Null:
        case Field::Kind::Stream:
            break;
    }
    return {};
}

std::vector<std::u16string> RecordTexts(const Record& record) {
    std::vector<std::u16string> texts;
    texts.reserve(record.fields.size());
    for (const Field& field : record.fields) texts.push_back(FieldText(field));
    return texts;
}

std::uint32_t ErrorFromGError(const GError* error, std::uint32_t fallback) {
    if (error == nullptr || error->domain != LIBMSI_RESULT_ERROR) return fallback;
    // libmsi's result codes are msi.dll's Windows errors, renumbered.
    switch (static_cast<LibmsiResultError>(error->code)) {
        case LIBMSI_RESULT_SUCCESS: return kErrorSuccess;
        case LIBMSI_RESULT_ACCESS_DENIED: return 5;
        case LIBMSI_RESULT_INVALID_HANDLE: return kErrorInvalidHandle;
        case LIBMSI_RESULT_NOT_ENOUGH_MEMORY: return 8;
        case LIBMSI_RESULT_INVALID_DATA: return 13;
        case LIBMSI_RESULT_OUTOFMEMORY: return 14;
        case LIBMSI_RESULT_INVALID_PARAMETER: return kErrorInvalidParameter;
        case LIBMSI_RESULT_OPEN_FAILED: return 110;
        case LIBMSI_RESULT_CALL_NOT_IMPLEMENTED: return 120;
        case LIBMSI_RESULT_MORE_DATA: return kErrorMoreData;
        case LIBMSI_RESULT_NOT_FOUND: return 1168;
        case LIBMSI_RESULT_CONTINUE: return 1246;
        case LIBMSI_RESULT_UNKNOWN_PROPERTY: return 1608;
        case LIBMSI_RESULT_BAD_QUERY_SYNTAX: return kErrorBadQuerySyntax;
        case LIBMSI_RESULT_INVALID_FIELD: return 1616;
        case LIBMSI_RESULT_FUNCTION_FAILED: return kErrorFunctionFailed;
        case LIBMSI_RESULT_INVALID_TABLE: return 1628;
        case LIBMSI_RESULT_DATATYPE_MISMATCH: return 1629;
        case LIBMSI_RESULT_INVALID_DATATYPE: return kErrorInvalidDatatype;
    }
    return fallback;
}

}  // namespace platform::posix::msi
