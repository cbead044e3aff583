// A live installer session over a test package, on either backend: the
// stand-in session on POSIX, msi.dll's MsiOpenPackage under Wine. Messages
// that the code under test sends are recorded on both.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "installer/MsiText.h"

namespace test {

struct Message {
    std::uint32_t type = 0;             // without the icon bits
    std::vector<std::u16string> fields;  // 0..n, integers in decimal
};

// The path of a built test package (tests/fixtures/NAME) in the form the
// backend's installer expects.
std::string FixturePath(const std::string& name);

// A message field as the installer's formatting turns it into log text.
std::u16string FormatLogged(InstallerHandle install, const std::u16string& field);

class TestSession {
public:
    explicit TestSession(const std::string& fixture = "frame");
    ~TestSession();
    TestSession(const TestSession&) = delete;
    TestSession& operator=(const TestSession&) = delete;

    bool IsOpen() const;
    InstallerHandle Handle() const;
    void SetProperty(const std::u16string& name, const std::u16string& value);
    std::u16string GetProperty(const std::u16string& name) const;

    // Messages of the given type (0: every type), oldest first.
    std::vector<Message> Messages(std::uint32_t type = 0) const;
    // The INFO messages as the installer writes them into its log: field 1
    // formatted once more, as the template "[1]" makes it.
    std::vector<std::u16string> LogLines() const;
    void ClearMessages();
    // The answer the session gives to messages of this type from now on.
    void SetReply(std::uint32_t type, int reply);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace test
