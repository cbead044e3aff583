// The verbose log of trellis-host, laid out like a Windows Installer log:
//
//   Action start 10:20:30: CostFinalize.
//   MSI (s) (1A:2B) [10:20:30:125]: Skipping action: Extra (condition is false)
//   Action ended 10:20:30: CostFinalize. Return value 1.
//
// Every line is appended on its own, so that the messages the installer
// session writes to the same file (a custom action's INFO lines) fall in
// between in the order they happened.
#pragma once

#include <cstdint>
#include <string>

namespace host {

class InstallLog {
public:
    // An empty path logs nothing.
    explicit InstallLog(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    bool Enabled() const { return !path_.empty(); }
    // Empties the file; false when it cannot be written.
    bool Start();

    void Line(const std::u16string& text) const;
    // "MSI (s) (pid:tid) [HH:MM:SS:mmm]: text"
    void Engine(const std::u16string& text) const;
    void ActionStart(const std::u16string& action) const;
    void ActionEnded(const std::u16string& action, std::uint32_t result) const;

    // The number a log shows for an action's result: 1 success, 2 user
    // exit, 3 failure, 0 not run, 5 success with the remaining actions skipped.
    static int ReturnValue(std::uint32_t result);
    // "HH:MM:SS" of the local time.
    static std::u16string Clock();
    // "M/D/YYYY  HH:MM:SS", as the first and last lines show it.
    static std::u16string DateAndClock();

private:
    std::string path_;
};

}  // namespace host
