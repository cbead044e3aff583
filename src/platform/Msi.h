// Windows Installer client functions, with UTF-16 text.
//
// The Win32 backend forwards to msi.dll; the POSIX backend answers from the
// stand-in session of platform/posix/msi/InstallerSession.h. Semantics follow
// msi.dll: lengths are in code units without the terminating NUL, results are
// Windows error codes, a null integer field reads kMsiNullInteger.
#pragma once

#include <cstdint>

namespace platform {

using MSIHANDLE = std::uint32_t;

constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorFunctionFailed = 1627;
constexpr std::uint32_t kErrorInvalidHandleState = 1609;
constexpr std::uint32_t kErrorBadQuerySyntax = 1615;
constexpr std::uint32_t kErrorInstallUserExit = 1602;
constexpr std::uint32_t kErrorInstallFailure = 1603;
constexpr std::uint32_t kErrorFunctionNotCalled = 1626;

constexpr int kMsiNullInteger = static_cast<int>(0x80000000u);

// MsiEvaluateCondition results.
constexpr int kMsiConditionFalse = 0;
constexpr int kMsiConditionTrue = 1;
constexpr int kMsiConditionNone = 2;
constexpr int kMsiConditionError = 3;

// MsiGetMode run modes.
constexpr int kMsiRunModeScheduled = 16;
constexpr int kMsiRunModeRollback = 17;
constexpr int kMsiRunModeCommit = 18;

// MsiGetDatabaseState.
constexpr int kMsiDbStateError = -1;
constexpr int kMsiDbStateRead = 0;

// MsiViewGetColumnInfo kinds.
constexpr int kMsiColInfoNames = 0;
constexpr int kMsiColInfoTypes = 1;

// MsiProcessMessage types (with icon bits where the callers use them).
constexpr std::uint32_t kInstallMessageError = 0x01000000;
constexpr std::uint32_t kInstallMessageWarning = 0x02000000;
constexpr std::uint32_t kInstallMessageInfo = 0x04000000;
constexpr std::uint32_t kInstallMessageActionData = 0x09000000;
constexpr std::uint32_t kMbIconError = 0x00000010;
constexpr std::uint32_t kMbIconWarning = 0x00000030;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;

std::uint32_t MsiGetPropertyW(MSIHANDLE install, const char16_t* name, char16_t* value,
                              std::uint32_t* length);
std::uint32_t MsiSetPropertyW(MSIHANDLE install, const char16_t* name, const char16_t* value);
std::uint32_t MsiDoActionW(MSIHANDLE install, const char16_t* action);
int MsiEvaluateConditionW(MSIHANDLE install, const char16_t* condition);
int MsiGetMode(MSIHANDLE install, int runMode);
std::uint32_t MsiFormatRecordW(MSIHANDLE install, MSIHANDLE record, char16_t* result,
                               std::uint32_t* length);

int MsiGetDatabaseState(MSIHANDLE database);
MSIHANDLE MsiGetActiveDatabase(MSIHANDLE install);
std::uint32_t MsiDatabaseOpenViewW(MSIHANDLE database, const char16_t* query, MSIHANDLE* view);
std::uint32_t MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters);
std::uint32_t MsiViewFetch(MSIHANDLE view, MSIHANDLE* record);
std::uint32_t MsiViewGetColumnInfo(MSIHANDLE view, int kind, MSIHANDLE* record);
std::uint32_t MsiViewClose(MSIHANDLE view);
std::uint32_t MsiCloseHandle(MSIHANDLE handle);

MSIHANDLE MsiCreateRecord(std::uint32_t fieldCount);
std::uint32_t MsiRecordGetFieldCount(MSIHANDLE record);
std::uint32_t MsiRecordGetStringW(MSIHANDLE record, std::uint32_t field, char16_t* value,
                                  std::uint32_t* length);
int MsiRecordGetInteger(MSIHANDLE record, std::uint32_t field);
std::uint32_t MsiRecordSetStringW(MSIHANDLE record, std::uint32_t field, const char16_t* value);
std::uint32_t MsiRecordSetInteger(MSIHANDLE record, std::uint32_t field, int value);
// With a null buffer, *length receives the remaining size of the stream.
std::uint32_t MsiRecordReadStream(MSIHANDLE record, std::uint32_t field, char* buffer,
                                  std::uint32_t* length);

int MsiProcessMessage(MSIHANDLE install, std::uint32_t messageType, MSIHANDLE record);

}  // namespace platform
