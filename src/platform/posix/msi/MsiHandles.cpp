// The handle table and text helpers of the POSIX Windows Installer stand-in.
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

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

MSIHANDLE AddHandle(Object object) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.next == 0) table.next = 1;  // after 2^32 handles; 0 is never a handle
    const MSIHANDLE handle = table.next++;
    table.objects.emplace(handle, std::move(object));
    return handle;
}

bool RemoveHandle(MSIHANDLE handle) {
    Object removed;  // released after the lock: a view may free its database
    HandleTable& table = Table();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.objects.find(handle);
        if (it == table.objects.end()) return false;
        removed = std::move(it->second);
        table.objects.erase(it);
    }
    return true;
}

bool FindHandle(MSIHANDLE handle, Object* object) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(handle);
    if (it == table.objects.end()) return false;
    *object = it->second;
    return true;
}

InstallerSession* FindSession(MSIHANDLE handle) {
    Object object;
    if (!FindHandle(handle, &object)) return nullptr;
    auto* session = std::get_if<InstallerSession*>(&object);
    return session != nullptr ? *session : nullptr;
}

std::u16string Utf8ToUtf16(const char* text) {
    if (text == nullptr || *text == '\0') return {};
    gchar* valid = g_utf8_make_valid(text, -1);
    glong count = 0;
    gunichar2* wide = g_utf8_to_utf16(valid, -1, nullptr, &count, nullptr);
    g_free(valid);
    if (wide == nullptr) return {};
    std::u16string result(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(count));
    g_free(wide);
    return result;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    // glib refuses unpaired surrogates; msi.dll would pass them through, so
    // they become U+FFFD rather than losing the whole text.
    std::u16string clean;
    clean.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            clean.push_back(c);
            clean.push_back(text[++i]);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            clean.push_back(u'\uFFFD');
        } else {
            clean.push_back(c);
        }
    }
    glong count = 0;
    gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(clean.data()),
                                  static_cast<glong>(clean.size()), nullptr, &count, nullptr);
    if (utf8 == nullptr) return {};
    std::string result(utf8, static_cast<std::size_t>(count));
    g_free(utf8);
    return result;
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
