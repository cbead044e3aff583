#include "InstallLog.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>

#include "platform/Msi.h"
#include "platform/Strings.h"

namespace host {

namespace {

std::u16string Ascii(const char* text) { return strings::FromUtf8(text); }

std::tm LocalNow(int* milliseconds) {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    if (milliseconds != nullptr) *milliseconds = static_cast<int>(now.tv_usec / 1000);
    return local;
}

}  // namespace

bool InstallLog::Start() {
    if (path_.empty()) return true;
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out);
}

void InstallLog::Line(const std::u16string& text) const {
    if (path_.empty()) return;
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out << strings::ToUtf8(text) << '\n';
}

void InstallLog::Engine(const std::u16string& text) const {
    if (path_.empty()) return;
    int ms = 0;
    const std::tm t = LocalNow(&ms);
    char prefix[64];
    // The process and thread numbers, two hex digits each as Windows shows them.
    std::snprintf(prefix, sizeof prefix, "MSI (s) (%02X:%02X) [%02d:%02d:%02d:%03d]: ", ::getpid() & 0xFF,
                  ::gettid() & 0xFF, t.tm_hour, t.tm_min, t.tm_sec, ms);
    Line(Ascii(prefix) + text);
}

void InstallLog::ActionStart(const std::u16string& action) const {
    Line(u"Action start " + Clock() + u": " + action + u".");
}

void InstallLog::ActionEnded(const std::u16string& action, std::uint32_t result) const {
    Line(u"Action ended " + Clock() + u": " + action + u". Return value " +
         Ascii(std::to_string(ReturnValue(result)).c_str()) + u".");
}

int InstallLog::ReturnValue(std::uint32_t result) {
    switch (result) {
    case platform::kErrorSuccess: return 1;
    case platform::kErrorInstallUserExit: return 2;
    case platform::kErrorFunctionNotCalled: return 0;
    case platform::kErrorNoMoreItems: return 5;
    default: return 3;
    }
}

std::u16string InstallLog::Clock() {
    const std::tm t = LocalNow(nullptr);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return Ascii(text);
}

std::u16string InstallLog::DateAndClock() {
    const std::tm t = LocalNow(nullptr);
    char text[40];
    std::snprintf(text, sizeof text, "%d/%d/%d  %02d:%02d:%02d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return Ascii(text);
}

}  // namespace host
