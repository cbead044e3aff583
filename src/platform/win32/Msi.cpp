// Windows Installer client functions: forwarded to msi.dll. Our handles are
// the same 32-bit values as MSIHANDLE; lengths go through a DWORD because
// Windows' unsigned long and our std::uint32_t are different types.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "platform/Msi.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

using win32::W;

static_assert(sizeof(::MSIHANDLE) == sizeof(MSIHANDLE), "installer handles are 32-bit");

::MSIHANDLE H(MSIHANDLE handle) { return static_cast<::MSIHANDLE>(handle); }

// Calls `call` with a DWORD copy of *length and copies the result back.
template <typename Call>
std::uint32_t WithLength(std::uint32_t* length, Call call) {
    if (length == nullptr) return call(nullptr);
    DWORD value = *length;
    const std::uint32_t result = call(&value);
    *length = value;
    return result;
}

}  // namespace

std::uint32_t MsiGetPropertyW(MSIHANDLE install, const char16_t* name, char16_t* value, std::uint32_t* length) {
    return WithLength(length, [&](DWORD* size) { return ::MsiGetPropertyW(H(install), W(name), W(value), size); });
}

std::uint32_t MsiSetPropertyW(MSIHANDLE install, const char16_t* name, const char16_t* value) {
    return ::MsiSetPropertyW(H(install), W(name), W(value));
}

std::uint32_t MsiDoActionW(MSIHANDLE install, const char16_t* action) {
    return ::MsiDoActionW(H(install), W(action));
}

int MsiEvaluateConditionW(MSIHANDLE install, const char16_t* condition) {
    return static_cast<int>(::MsiEvaluateConditionW(H(install), W(condition)));
}

int MsiGetMode(MSIHANDLE install, int runMode) {
    return ::MsiGetMode(H(install), static_cast<MSIRUNMODE>(runMode));
}

std::uint32_t MsiFormatRecordW(MSIHANDLE install, MSIHANDLE record, char16_t* result, std::uint32_t* length) {
    return WithLength(length, [&](DWORD* size) { return ::MsiFormatRecordW(H(install), H(record), W(result), size); });
}

int MsiGetDatabaseState(MSIHANDLE database) { return static_cast<int>(::MsiGetDatabaseState(H(database))); }

MSIHANDLE MsiGetActiveDatabase(MSIHANDLE install) { return ::MsiGetActiveDatabase(H(install)); }

std::uint32_t MsiDatabaseOpenViewW(MSIHANDLE database, const char16_t* query, MSIHANDLE* view) {
    ::MSIHANDLE opened = 0;
    const UINT result = ::MsiDatabaseOpenViewW(H(database), W(query), &opened);
    if (view != nullptr) *view = opened;
    return result;
}

std::uint32_t MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
    return ::MsiViewExecute(H(view), H(parameters));
}

std::uint32_t MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
    ::MSIHANDLE fetched = 0;
    const UINT result = ::MsiViewFetch(H(view), &fetched);
    if (record != nullptr) *record = fetched;
    return result;
}

std::uint32_t MsiViewGetColumnInfo(MSIHANDLE view, int kind, MSIHANDLE* record) {
    ::MSIHANDLE info = 0;
    const UINT result = ::MsiViewGetColumnInfo(H(view), static_cast<MSICOLINFO>(kind), &info);
    if (record != nullptr) *record = info;
    return result;
}

std::uint32_t MsiViewClose(MSIHANDLE view) { return ::MsiViewClose(H(view)); }
std::uint32_t MsiCloseHandle(MSIHANDLE handle) { return ::MsiCloseHandle(H(handle)); }

MSIHANDLE MsiCreateRecord(std::uint32_t fieldCount) { return ::MsiCreateRecord(fieldCount); }
std::uint32_t MsiRecordGetFieldCount(MSIHANDLE record) { return ::MsiRecordGetFieldCount(H(record)); }

std::uint32_t MsiRecordGetStringW(MSIHANDLE record, std::uint32_t field, char16_t* value, std::uint32_t* length) {
    return WithLength(length, [&](DWORD* size) { return ::MsiRecordGetStringW(H(record), field, W(value), size); });
}

int MsiRecordGetInteger(MSIHANDLE record, std::uint32_t field) { return ::MsiRecordGetInteger(H(record), field); }

std::uint32_t MsiRecordSetStringW(MSIHANDLE record, std::uint32_t field, const char16_t* value) {
    return ::MsiRecordSetStringW(H(record), field, W(value));
}

std::uint32_t MsiRecordSetInteger(MSIHANDLE record, std::uint32_t field, int value) {
    return ::MsiRecordSetInteger(H(record), field, value);
}

std::uint32_t MsiRecordReadStream(MSIHANDLE record, std::uint32_t field, char* buffer, std::uint32_t* length) {
    return WithLength(length, [&](DWORD* size) { return ::MsiRecordReadStream(H(record), field, buffer, size); });
}

int MsiProcessMessage(MSIHANDLE install, std::uint32_t messageType, MSIHANDLE record) {
    return ::MsiProcessMessage(H(install), static_cast<INSTALLMESSAGE>(messageType), H(record));
}

}  // namespace platform
