// The test session over Windows Installer itself (Wine's msi.dll): the test
// package is opened with MsiOpenPackageW, and an external user-interface
// handler records every message the code under test sends.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "support/TestSession.h"

namespace test {
namespace {

std::u16string RecordField(MSIHANDLE record, unsigned field) {
    DWORD length = 0;
    wchar_t empty[1] = {0};
    if (MsiRecordGetStringW(record, field, empty, &length) != ERROR_MORE_DATA) return std::u16string();
    std::wstring buffer(length + 1, L'\0');
    DWORD size = length + 1;
    if (MsiRecordGetStringW(record, field, &buffer[0], &size) != ERROR_SUCCESS) return std::u16string();
    return std::u16string(reinterpret_cast<const char16_t*>(buffer.c_str()), size);
}

// The handler is process-wide, so is what it records.
struct Recorder {
    std::mutex lock;
    std::vector<Message> messages;
    std::map<std::uint32_t, int> replies;
};

Recorder& TheRecorder() {
    static Recorder recorder;
    return recorder;
}

int WINAPI RecordMessage(LPVOID, UINT type, MSIHANDLE record) {
    Recorder& r = TheRecorder();
    Message message;
    message.type = type & 0xFF000000u;
    // Wine hands some message types (initialize, terminate) a record whose
    // field count reads as -1: take such a record as empty.
    const unsigned count = record != 0 ? MsiRecordGetFieldCount(record) : 0;
    if (record != 0 && count < 0x10000) {
        for (unsigned field = 0; field <= count; ++field) message.fields.push_back(RecordField(record, field));
    }
    std::lock_guard<std::mutex> guard(r.lock);
    r.messages.push_back(message);
    const auto reply = r.replies.find(message.type);
    return reply == r.replies.end() ? 0 : reply->second;
}

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::string FixturePath(const std::string& name) {
    const char* dir = std::getenv("TRELLIS_FIXTURE_DIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : TRELLIS_FIXTURE_DIR) + "\\" + name + ".msi";
    // A Linux path from the build (/work/...) is Wine's drive Z:.
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

struct TestSession::Impl {
    MSIHANDLE handle = 0;
};

TestSession::TestSession(const std::string& fixture) : impl_(std::make_unique<Impl>()) {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIRecord(RecordMessage, 0xFFFFFFFFu, nullptr, nullptr);
    const std::string path = FixturePath(fixture);
    const std::wstring widePath(path.begin(), path.end());
    if (MsiOpenPackageW(widePath.c_str(), &impl_->handle) != ERROR_SUCCESS) impl_->handle = 0;
    ClearMessages();
}

TestSession::~TestSession() {
    if (impl_->handle != 0) MsiCloseHandle(impl_->handle);
    MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
    std::lock_guard<std::mutex> guard(TheRecorder().lock);
    TheRecorder().replies.clear();
}

bool TestSession::IsOpen() const { return impl_->handle != 0; }
InstallerHandle TestSession::Handle() const { return static_cast<InstallerHandle>(impl_->handle); }

void TestSession::SetProperty(const std::u16string& name, const std::u16string& value) {
    MsiSetPropertyW(impl_->handle, ToWide(name).c_str(), ToWide(value).c_str());
}

std::u16string TestSession::GetProperty(const std::u16string& name) const {
    DWORD length = 0;
    wchar_t empty[1] = {0};
    const std::wstring wideName = ToWide(name);
    if (MsiGetPropertyW(impl_->handle, wideName.c_str(), empty, &length) != ERROR_MORE_DATA) return std::u16string();
    std::wstring buffer(length + 1, L'\0');
    DWORD size = length + 1;
    if (MsiGetPropertyW(impl_->handle, wideName.c_str(), &buffer[0], &size) != ERROR_SUCCESS) return std::u16string();
    return std::u16string(reinterpret_cast<const char16_t*>(buffer.c_str()), size);
}

std::vector<Message> TestSession::Messages(std::uint32_t type) const {
    std::lock_guard<std::mutex> guard(TheRecorder().lock);
    std::vector<Message> out;
    for (const Message& m : TheRecorder().messages)
        if (type == 0 || m.type == type) out.push_back(m);
    return out;
}

std::vector<std::u16string> TestSession::LogLines() const {
    std::vector<std::u16string> lines;
    for (const Message& m : Messages(INSTALLMESSAGE_INFO))
        lines.push_back(FormatLogged(Handle(), m.fields.size() > 1 ? m.fields[1] : u""));
    return lines;
}

void TestSession::ClearMessages() {
    std::lock_guard<std::mutex> guard(TheRecorder().lock);
    TheRecorder().messages.clear();
}

void TestSession::SetReply(std::uint32_t type, int reply) {
    std::lock_guard<std::mutex> guard(TheRecorder().lock);
    TheRecorder().replies[type] = reply;
}

}  // namespace test
