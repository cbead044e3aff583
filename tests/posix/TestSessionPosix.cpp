// The test session over the POSIX stand-in installer.
#include <cstdlib>

#include "platform/posix/msi/InstallerSession.h"
#include "support/TestSession.h"

namespace test {

std::string FixturePath(const std::string& name) {
    const char* dir = std::getenv("TRELLIS_FIXTURE_DIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : TRELLIS_FIXTURE_DIR) + "/" + name + ".msi";
}

struct TestSession::Impl {
    platform::posix::InstallerSession session;
    bool open = false;
};

TestSession::TestSession(const std::string& fixture) : impl_(std::make_unique<Impl>()) {
    impl_->open = impl_->session.OpenDatabase(FixturePath(fixture));
}

TestSession::~TestSession() = default;

bool TestSession::IsOpen() const { return impl_->open; }
InstallerHandle TestSession::Handle() const { return impl_->session.Handle(); }

void TestSession::SetProperty(const std::u16string& name, const std::u16string& value) {
    impl_->session.SetProperty(name, value);
}

std::u16string TestSession::GetProperty(const std::u16string& name) const { return impl_->session.GetProperty(name); }

std::vector<Message> TestSession::Messages(std::uint32_t type) const {
    std::vector<Message> out;
    for (const auto& m : impl_->session.Messages()) {
        const std::uint32_t kind = m.type & 0xFF000000u;
        if (type == 0 || kind == type) out.push_back({kind, m.fields});
    }
    return out;
}

std::vector<std::u16string> TestSession::LogLines() const {
    std::vector<std::u16string> lines;
    for (const auto& m : Messages(platform::kInstallMessageInfo))
        lines.push_back(FormatLogged(Handle(), m.fields.size() > 1 ? m.fields[1] : u""));
    return lines;
}

void TestSession::ClearMessages() { impl_->session.ClearMessages(); }
void TestSession::SetReply(std::uint32_t type, int reply) { impl_->session.SetMessageReply(type, reply); }

}  // namespace test
