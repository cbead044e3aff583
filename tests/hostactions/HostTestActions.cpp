// Entry points of the test package tests/fixtures/hostpackage. Each one logs
// one INFO line starting with its name, which the tests look for in the log.
#include <cstdint>
#include <string>
#include <vector>

#include "installer/EntryPoints.h"
#include "platform/Files.h"
#include "platform/Msi.h"

namespace {

using platform::MSIHANDLE;

std::u16string Property(MSIHANDLE install, const char16_t* name) {
    std::uint32_t length = 0;
    char16_t empty[1] = {u'\0'};
    if (platform::MsiGetPropertyW(install, name, empty, &length) != platform::kErrorMoreData) return u"";
    std::u16string value(length + 1, u'\0');
    ++length;
    if (platform::MsiGetPropertyW(install, name, value.data(), &length) != platform::kErrorSuccess) {
        return u"<MsiGetPropertyW failed>";
    }
    value.resize(length);
    return value;
}

// Field 0 "[1]" keeps the text from being formatted.
void Log(MSIHANDLE install, const std::u16string& text) {
    const MSIHANDLE record = platform::MsiCreateRecord(1);
    platform::MsiRecordSetStringW(record, 0, u"[1]");
    platform::MsiRecordSetStringW(record, 1, text.c_str());
    platform::MsiProcessMessage(install, platform::kInstallMessageInfo, record);
    platform::MsiCloseHandle(record);
}

std::u16string Format(MSIHANDLE install, const char16_t* text) {
    const MSIHANDLE record = platform::MsiCreateRecord(0);
    platform::MsiRecordSetStringW(record, 0, text);
    char16_t buffer[1024];
    std::uint32_t length = 1024;
    const bool ok = platform::MsiFormatRecordW(install, record, buffer, &length) == platform::kErrorSuccess;
    platform::MsiCloseHandle(record);
    return ok ? std::u16string(buffer, length) : u"<MsiFormatRecordW failed>";
}

std::u16string Number(long value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

std::u16string Modes(MSIHANDLE install) {
    return u"scheduled=" + Number(platform::MsiGetMode(install, platform::kMsiRunModeScheduled)) +
           u" rollback=" + Number(platform::MsiGetMode(install, platform::kMsiRunModeRollback)) +
           u" commit=" + Number(platform::MsiGetMode(install, platform::kMsiRunModeCommit));
}

// "PATH|TEXT" of CustomActionData.
bool SplitData(const std::u16string& data, std::u16string* path, std::u16string* text) {
    const std::size_t bar = data.find(u'|');
    if (bar == std::u16string::npos) return false;
    *path = data.substr(0, bar);
    *text = data.substr(bar + 1);
    return true;
}

std::string ReadAll(const std::u16string& path) {
    platform::File file = platform::File::OpenForRead(path);
    std::string bytes;
    if (!file.IsOpen()) return bytes;
    char buffer[4096];
    std::uint32_t read = 0;
    while (file.Read(buffer, sizeof buffer, &read) && read > 0) bytes.append(buffer, read);
    return bytes;
}

}  // namespace

// Immediate: what the installer worked out before the script.
TRELLIS_ENTRY ReportState(std::uint32_t install) {
    std::u16string line = u"ReportState:";
    for (const char16_t* name : {u"INSTALLDIR", u"CONFIGDIR", u"DOCSDIR", u"DataDir", u"ProgramFilesFolder",
                                 u"Installed", u"REMOVE", u"UPGRADINGPRODUCTCODE", u"OLDPRODUCTS"}) {
        line += u" " + std::u16string(name) + u"=" + Property(install, name);
    }
    line += u" paths=" + Format(install, u"[#MainFile] [$DataComp]");
    Log(install, line + u" " + Modes(install));
    return platform::kErrorSuccess;
}

// Immediate: schedules the rollback, deferred and commit actions the way the
// library's immediate actions do, each with its own CustomActionData.
TRELLIS_ENTRY ScheduleScripts(std::uint32_t install) {
    const std::u16string dir = Property(install, u"INSTALLDIR");
    const std::vector<std::pair<std::u16string, std::u16string>> actions = {
        {u"HostRollback1", u"rollback-1 " + dir},
        {u"HostDeferred1", u"deferred-1 " + dir},
        {u"HostRollback2", u"rollback-2; \u00e9t\u00e9 \u20ac"},
        {u"HostDeferred2", u"deferred-2"},
        {u"HostCommit1", u"commit-1"},
    };
    for (const auto& [action, data] : actions) {
        platform::MsiSetPropertyW(install, action.c_str(), data.c_str());
        const std::uint32_t rc = platform::MsiDoActionW(install, action.c_str());
        platform::MsiSetPropertyW(install, action.c_str(), u"");
        Log(install, u"ScheduleScripts: MsiDoActionW(" + action + u") = " + Number(rc));
        if (rc != platform::kErrorSuccess) return platform::kErrorInstallFailure;
    }
    // An action the package does not have.
    Log(install, u"ScheduleScripts: MsiDoActionW(NoSuchAction) = " +
                     Number(platform::MsiDoActionW(install, u"NoSuchAction")));
    return platform::kErrorSuccess;
}

// Deferred, rollback or commit: its data, its mode, and the few properties
// such an action can see.
TRELLIS_ENTRY LogData(std::uint32_t install) {
    Log(install, u"LogData: data=" + Property(install, u"CustomActionData") + u" " + Modes(install) +
                     u" ProductCode=" + Property(install, u"ProductCode") + u" UserSID=" +
                     (Property(install, u"UserSID").empty() ? u"unset" : u"set") + u" INSTALLDIR=" +
                     Property(install, u"INSTALLDIR") + u" MsiDoActionW=" +
                     Number(platform::MsiDoActionW(install, u"HostDeferred1")));
    return platform::kErrorSuccess;
}

// Deferred: appends TEXT and a line break to the file PATH, creating it.
TRELLIS_ENTRY AppendText(std::uint32_t install) {
    std::u16string path, text;
    if (!SplitData(Property(install, u"CustomActionData"), &path, &text)) return platform::kErrorInstallFailure;
    std::string bytes = ReadAll(path);
    for (char16_t c : text) bytes += static_cast<char>(c < 0x80 ? c : '?');
    bytes += "\r\n";
    platform::File file = platform::File::Create(path);
    const bool ok = file.IsOpen() && file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    Log(install, u"AppendText: " + path + (ok ? u" written" : u" not written"));
    return ok ? platform::kErrorSuccess : platform::kErrorInstallFailure;
}

// Deferred or rollback: deletes the file PATH| (the text part is unused).
TRELLIS_ENTRY RemoveFile(std::uint32_t install) {
    std::u16string path, text;
    if (!SplitData(Property(install, u"CustomActionData"), &path, &text)) return platform::kErrorInstallFailure;
    const bool ok = platform::DeleteFileW(path);
    Log(install, u"RemoveFile: " + path + (ok ? u" deleted" : u" not deleted"));
    return platform::kErrorSuccess;
}

// Immediate: returns the number in the property HOST_RESULT.
TRELLIS_ENTRY ReturnResult(std::uint32_t install) {
    const std::u16string text = Property(install, u"HOST_RESULT");
    std::uint32_t value = 0;
    for (char16_t c : text) value = value * 10 + static_cast<std::uint32_t>(c - u'0');
    Log(install, u"ReturnResult: " + Number(value));
    return value;
}
