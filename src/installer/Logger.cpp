#include "installer/Logger.h"

#include <algorithm>

#include "platform/Msi.h"

Logger& Logger::Instance() {
    static Logger instance;  // thread-safe first use
    return instance;
}

void Logger::Send(std::u16string_view line) const {
    if (handle_ == 0 || silenced_) return;
    if (platform::MsiEvaluateConditionW(handle_, u"QmEmbeddedDirectCall") == platform::kMsiConditionTrue)
        return;
    SendLogLine(line);
}

void Logger::SendLogLine(std::u16string_view line) const {
    // Built in one string where nothing is hidden: a long installation
    // sends hundreds of thousands of lines.
    WideString& text = lineText_;
    text.clear();
    if (hidden_.empty()) {
        AppendEscapedForFormatting(text, prefix_);
        if (!prefix_.empty()) text.append(u": ");
        AppendEscapedForFormatting(text, line);
    } else {
        WideString whole = prefix_;
        if (!prefix_.empty()) whole.append(u": ");
        whole.append(line);
        text = EscapeForFormatting(Conceal(whole));
    }
    // A record that cannot be created still goes to the installer as handle 0;
    // a log line never changes the outcome of an operation.
    if (lineRecord_ == 0) {
        lineRecord_ = platform::MsiCreateRecord(2);
        platform::MsiRecordSetStringW(lineRecord_, 0, u"[1]");
    }
    platform::MsiRecordSetStringW(lineRecord_, 1, text.c_str());
    platform::MsiProcessMessage(handle_, platform::kInstallMessageInfo, lineRecord_);
}

WideString Logger::Conceal(const WideString& text) const { return hidden_.empty() ? text : MaskValues(text, hidden_); }

void Logger::Hide(const WideString& value) {
    if (!value.empty() && std::find(hidden_.begin(), hidden_.end(), value) == hidden_.end()) hidden_.push_back(value);
}

WideString MaskValues(const WideString& text, const std::vector<WideString>& values) {
    std::vector<bool> hidden;  // made on the first occurrence
    for (const WideString& value : values) {
        if (value.empty()) continue;
        std::size_t covered = 0;  // occurrences overlap: each unit is marked once
        for (std::size_t at = text.find(value); at != WideString::npos; at = text.find(value, at + 1)) {
            if (hidden.empty()) hidden.assign(text.size(), false);
            const std::size_t end = at + value.size();
            for (std::size_t i = std::max(at, covered); i < end; ++i) hidden[i] = true;
            covered = end;
        }
    }
    if (hidden.empty()) return text;
    WideString masked;
    for (std::size_t i = 0; i < text.size();) {
        if (!hidden[i]) {
            masked.push_back(text[i++]);
            continue;
        }
        masked += kHiddenValueMask;
        while (i < text.size() && hidden[i]) ++i;
    }
    return masked;
}

std::vector<WideString> ReadHiddenPropertyNames(InstallerHandle install) {
    std::vector<WideString> names;
    if (install == 0) return names;
    const WideString list = GetInstallerProperty(install, u"MsiHiddenProperties");
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(u';', start);
        if (end == WideString::npos) end = list.size();
        // "A; B" names B too: hiding more than meant is the safe mistake.
        std::size_t first = start, last = end;
        while (first < last && list[first] == u' ') ++first;
        while (last > first && list[last - 1] == u' ') --last;
        if (last > first) names.push_back(list.substr(first, last - first));
        start = end + 1;
    }
    return names;
}

std::vector<WideString> ReadHiddenValues(InstallerHandle install) {
    std::vector<WideString> values;
    for (const WideString& name : ReadHiddenPropertyNames(install)) {
        WideString value = GetInstallerProperty(install, name);
        if (!value.empty()) values.push_back(std::move(value));
    }
    return values;
}

LogSession::LogSession(InstallerHandle install, WideString prefix) {
    Logger& log = Logger::Instance();
    savedEnabled_ = log.enabled_;
    savedSilenced_ = log.silenced_;
    savedHandle_ = log.handle_;
    savedLineRecord_ = log.lineRecord_;
    savedPrefix_ = log.prefix_;
    savedHidden_ = log.hidden_;
    log.enabled_ = true;
    log.silenced_ = false;
    log.handle_ = install;
    log.lineRecord_ = 0;
    log.prefix_ = std::move(prefix);
    log.hidden_ = ReadHiddenValues(install);
}

LogSession::~LogSession() {
    Logger& log = Logger::Instance();
    log.enabled_ = savedEnabled_;
    log.silenced_ = savedSilenced_;
    log.handle_ = savedHandle_;
    if (log.lineRecord_ != 0) platform::MsiCloseHandle(log.lineRecord_);
    log.lineRecord_ = savedLineRecord_;
    log.lineText_ = WideString();  // the buffer of a long line goes with the session
    log.prefix_ = std::move(savedPrefix_);
    log.hidden_ = std::move(savedHidden_);
}

void LogSession::Hide(const std::vector<WideString>& values) {
    for (const WideString& value : values) Logger::Instance().Hide(value);
}

void LogSession::Silence() { Logger::Instance().silenced_ = true; }

std::uint32_t SendActionData(InstallerHandle install, std::initializer_list<WideString> texts) {
    if (install == 0 || texts.size() == 0) return platform::kErrorSuccess;
    MsiHandle record(platform::MsiCreateRecord(static_cast<std::uint32_t>(texts.size())));
    if (!record) return platform::kErrorInstallFailure;
    const Logger& log = Logger::Instance();
    std::uint32_t field = 1;
    for (const WideString& text : texts) {
        const WideString shown = EscapeForFormatting(log.Conceal(text));
        if (platform::MsiRecordSetStringW(record.Get(), field++, shown.c_str()) != platform::kErrorSuccess)
            return platform::kErrorInstallFailure;
    }
    const int answer = platform::MsiProcessMessage(install, platform::kInstallMessageActionData, record.Get());
    if (answer == platform::kIdCancel || answer == platform::kIdAbort) return platform::kErrorInstallUserExit;
    return platform::kErrorSuccess;
}
