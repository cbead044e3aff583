#include "installer/Exception.h"

#include <exception>
#include <string_view>

#include "installer/Logger.h"
#include "installer/MsiTableReader.h"
#include "platform/Msi.h"
#include "platform/System.h"

namespace {

// "installer/Logger.cpp" -> "installer/Logger": the build gives the file
// name, the log names the unit.
WideString SourceName(const char* file) {
    std::string_view name(file ? file : "");
    const auto slash = name.find_last_of("/\\");
    const auto dot = name.find_last_of('.');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash))
        name = name.substr(0, dot);
    return Widen(name);
}


}  // namespace

Exception::Exception(const char* source, std::uint32_t line, WideString description)
    : source_(SourceName(source)), line_(line), errorNumber_(0), description_(std::move(description)) {}

Exception::Exception(const char* source, std::uint32_t line, std::int32_t errorNumber,
                     std::initializer_list<WideString> arguments)
    : source_(SourceName(source)), line_(line), errorNumber_(errorNumber), arguments_(arguments) {}

WideString Exception::LogText() const {
    WideString text = source_ + u":" + ToWideUnsigned(line_) + u" -> ";
    if (errorNumber_ == 0) return text + description_;
    return text + u"ERROR: " + ToWideDecimal(errorNumber_);
}

void Exception::Log() const { LogIfEnabled(LogText()); }

void Exception::Show(InstallerHandle install) const {
    if (install == 0) return;
    if (platform::MsiGetMode(install, platform::kMsiRunModeScheduled) != 0) {
        SendToInstaller(install);
        return;
    }
    const Logger& log = Logger::Instance();
    if (errorNumber_ == 0) {
        platform::MessageBoxW(log.Conceal(description_), WideString(), platform::kMbIconErrorBox);
        return;
    }
    MsiTableReader reader(install);
    WideString templateText;
    if (reader.Query(u"Error", {}, u"Error = " + ToWideDecimal(errorNumber_)))
        templateText = reader.Records().front().Get(u"Message");
    LogIfEnabled(u"Error template [" + ToWideDecimal(errorNumber_) + u"]: " + templateText);
    if (templateText.empty()) return;

    MsiHandle record(platform::MsiCreateRecord(static_cast<std::uint32_t>(arguments_.size() + 1)));
    platform::MsiRecordSetStringW(record.Get(), 0, templateText.c_str());
    std::uint32_t field = 2;
    for (const WideString& argument : arguments_)
        platform::MsiRecordSetStringW(record.Get(), field++, EscapeForFormatting(log.Conceal(argument)).c_str());
    const WideString text = FormatInstallerRecord(install, record.Get());
    platform::MessageBoxW(text, WideString(), platform::kMbIconErrorBox);
}

// The installer formats the fields once more: texts go in escaped, so that
// a row text such as "[PORT]" reaches the log as it is.
void Exception::SendToInstaller(InstallerHandle install) const {
    const Logger& log = Logger::Instance();
    if (errorNumber_ == 0) {
        MsiHandle record(platform::MsiCreateRecord(2));
        platform::MsiRecordSetStringW(record.Get(), 0, u"[1]");
        platform::MsiRecordSetStringW(record.Get(), 1, EscapeForFormatting(log.Conceal(description_)).c_str());
        platform::MsiProcessMessage(install, platform::kInstallMessageWarning | platform::kMbIconWarning,
                                    record.Get());
        return;
    }
    MsiHandle record(platform::MsiCreateRecord(static_cast<std::uint32_t>(arguments_.size() + 1)));
    platform::MsiRecordSetInteger(record.Get(), 1, errorNumber_);
    std::uint32_t field = 2;
    for (const WideString& argument : arguments_)
        platform::MsiRecordSetStringW(record.Get(), field++, EscapeForFormatting(log.Conceal(argument)).c_str());
    platform::MsiProcessMessage(install, platform::kInstallMessageError | platform::kMbIconError, record.Get());
}

void ReportCurrentException(InstallerHandle install) {
    try {
        throw;
    } catch (const std::exception& e) {
        LogIfEnabled(Widen(e.what()));
    } catch (const Exception& e) {
        e.Log();
        e.Show(install);
    } catch (...) {
        LogIfEnabled(u"Unknown exception !");
    }
}

WideString DescribeCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        return Widen(e.what());
    } catch (const Exception& e) {
        if (e.ErrorNumber() == 0) return e.Description();
        WideString text = u"error " + ToWideDecimal(e.ErrorNumber());
        for (std::size_t i = 0; i < e.Arguments().size(); ++i) text += (i == 0 ? u": " : u", ") + e.Arguments()[i];
        return text;
    } catch (...) {
        return u"Unknown exception !";
    }
}
