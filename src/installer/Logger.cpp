#include "installer/Logger.h"

#include "platform/Msi.h"

namespace {
const char16_t kBanner[] = u"\r\n<< Quillmark (x86) Log >>\r\n";
}

Logger& Logger::Instance() {
    static Logger instance;  // thread-safe first use
    return instance;
}

const char16_t* Logger::Banner() { return kBanner; }

void Logger::Send(const WideString& line) const {
    if (handle_ == 0) return;
    if (platform::MsiEvaluateConditionW(handle_, u"QmEmbeddedDirectCall") == platform::kMsiConditionTrue)
        return;
    SendLogLine(line);
}

void Logger::SendLogLine(const WideString& line) const {
    const WideString text = prefix_.empty() ? line : prefix_ + u": " + line;
    // A record that cannot be created still goes to the installer as handle 0;
    // a log line never changes the outcome of an operation.
    const InstallerHandle record = platform::MsiCreateRecord(2);
    platform::MsiRecordSetStringW(record, 0, u"[1]");
    platform::MsiRecordSetStringW(record, 1, text.c_str());
    platform::MsiProcessMessage(handle_, platform::kInstallMessageInfo, record);
    if (record != 0) platform::MsiCloseHandle(record);
}

LogSession::LogSession(InstallerHandle install, WideString prefix) {
    Logger& log = Logger::Instance();
    savedEnabled_ = log.enabled_;
    savedHandle_ = log.handle_;
    savedPrefix_ = log.prefix_;
    log.enabled_ = true;
    log.handle_ = install;
    log.prefix_ = std::move(prefix);
}

LogSession::~LogSession() {
    Logger& log = Logger::Instance();
    log.enabled_ = savedEnabled_;
    log.handle_ = savedHandle_;
    log.prefix_ = std::move(savedPrefix_);
}

std::uint32_t SendActionData(InstallerHandle install, std::initializer_list<WideString> texts) {
    if (install == 0 || texts.size() == 0) return platform::kErrorSuccess;
    MsiHandle record(platform::MsiCreateRecord(static_cast<std::uint32_t>(texts.size())));
    if (!record) return platform::kErrorInstallFailure;
    std::uint32_t field = 1;
    for (const WideString& text : texts) {
        if (platform::MsiRecordSetStringW(record.Get(), field++, text.c_str()) != platform::kErrorSuccess)
            return platform::kErrorInstallFailure;
    }
    const int answer = platform::MsiProcessMessage(install, platform::kInstallMessageActionData, record.Get());
    if (answer == platform::kIdCancel || answer == platform::kIdAbort) return platform::kErrorInstallUserExit;
    return platform::kErrorSuccess;
}
