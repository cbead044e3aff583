// A stand-in Windows Installer session for the POSIX backend.
//
// A test makes one, gives it properties and a database, passes Handle() to
// the code under test and then looks at what the code asked of the installer:
//
//   platform::posix::InstallerSession session;
//   session.OpenDatabase("package.msi");
//   session.SetProperty(u"INSTALLDIR", u"C:\\App\\");
//   RunSomething(session.Handle());
//   EXPECT_EQ(session.Messages().size(), 1u);
//
// The platform::Msi* functions of platform/Msi.h answer from it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Msi.h"
#include "platform/posix/msi/InstallerContext.h"

namespace platform::posix {

namespace msi {
class Database;
}

// One MsiProcessMessage call: its type and the record's fields 0..n as text
// (integers in decimal, null fields empty).
struct RecordedMessage {
    std::uint32_t type = 0;
    std::vector<std::u16string> fields;
};

// One MsiDoActionW call, with the property named like the action at that time.
struct RecordedAction {
    std::u16string action;
    std::u16string customActionData;
};

class InstallerSession : public InstallerContext {
public:
    InstallerSession();
    ~InstallerSession();
    InstallerSession(const InstallerSession&) = delete;
    InstallerSession& operator=(const InstallerSession&) = delete;

    MSIHANDLE Handle() const { return handle_; }

    // Opens an installer database read-only through libmsi; false when it cannot be read.
    // Like opening a package, it copies the Property table into the session,
    // keeping properties already set (as if given on a command line).
    bool OpenDatabase(const std::string& path);
    const std::string& DatabasePath() const { return databasePath_; }

    // An empty value removes the property.
    void SetProperty(const std::u16string& name, std::u16string value);
    std::u16string GetProperty(const std::u16string& name) const;
    // The value without a copy; null when the property is not set.
    const std::u16string* FindProperty(const std::u16string& name) const;
    const std::map<std::u16string, std::u16string>& Properties() const { return properties_; }
    // All properties moved out, which leaves none; and put back in place of
    // whatever is set then (a host that runs a deferred action with only a
    // few properties, some of them megabytes long).
    std::map<std::u16string, std::u16string> TakeProperties() { return std::exchange(properties_, {}); }
    void RestoreProperties(std::map<std::u16string, std::u16string> properties) {
        properties_ = std::move(properties);
    }

    // The installation model that conditions and formatted text see.
    void SetComponentState(const std::u16string& component, ItemState state) { components_[component] = state; }
    void SetFeatureState(const std::u16string& feature, ItemState state) { features_[feature] = state; }
    void SetFilePath(const std::u16string& fileKey, std::u16string longPath, std::u16string shortPath);
    void SetComponentDirectory(const std::u16string& component, std::u16string directory) {
        componentDirectories_[component] = std::move(directory);
    }
    const std::map<std::u16string, ItemState>& Components() const { return components_; }
    const std::map<std::u16string, ItemState>& Features() const { return features_; }

    // InstallerContext
    std::u16string Property(const std::u16string& name) const override { return GetProperty(name); }
    bool Environment(const std::u16string& name, std::u16string* value) const override;
    bool ComponentState(const std::u16string& component, ItemState* state) const override;
    bool FeatureState(const std::u16string& feature, ItemState* state) const override;
    bool FilePath(const std::u16string& fileKey, bool shortName, std::u16string* path) const override;
    bool ComponentDirectory(const std::u16string& component, std::u16string* path) const override;

    // MsiGetMode answers true for the modes switched on here.
    void SetMode(int runMode, bool on);
    bool GetMode(int runMode) const;

    // Every MsiProcessMessage and MessageBoxW call, in order, unless
    // recording is off (a host that only logs them: a long installation
    // sends hundreds of thousands).
    const std::vector<RecordedMessage>& Messages() const { return messages_; }
    void ClearMessages() { messages_.clear(); }
    void RecordMessages(bool on) { recordMessages_ = on; }
    // Whether Message reads the fields at all: they are recorded or logged.
    bool KeepsMessages() const { return recordMessages_ || !logFile_.empty(); }
    // Also appends each message to a log file, one line each.
    void SetLogFile(const std::string& path) { logFile_ = path; }
    // The answer MsiProcessMessage gives for a message type (without icon
    // bits); 0 unless set.
    void SetMessageReply(std::uint32_t messageType, int reply);

    const std::vector<RecordedAction>& Actions() const { return actions_; }
    // MsiDoActionW of these actions fails with 1603.
    void FailAction(const std::u16string& action) { failingActions_.push_back(action); }
    // Called first for every message; a test makes it throw, to see that
    // nothing a custom action does lets an exception out of its entry point.
    std::function<void(std::uint32_t type)> onMessage;
    // Lets a host run or schedule the actions itself; the default records them.
    std::function<std::uint32_t(InstallerSession&, const std::u16string&)> doAction;

    // Called by the backend.
    int Message(std::uint32_t type, std::vector<std::u16string> fields);
    std::uint32_t DoAction(const std::u16string& action);
    MSIHANDLE DatabaseHandle() const { return databaseHandle_; }
    const std::shared_ptr<msi::Database>& Database() const { return database_; }
    // The text that msi.dll logs for a message: field 0 formatted, else the
    // Error table template of the number in field 1 for error-like types,
    // else "1: x 2: y ".
    std::u16string MessageText(std::uint32_t type, const std::vector<std::u16string>& fields) const;
    static InstallerSession* FromHandle(MSIHANDLE handle);

private:
    MSIHANDLE handle_ = 0;
    MSIHANDLE databaseHandle_ = 0;
    std::shared_ptr<msi::Database> database_;
    std::string databasePath_;
    std::map<std::u16string, std::u16string> properties_;
    std::vector<int> modes_;
    std::vector<RecordedMessage> messages_;
    bool recordMessages_ = true;
    std::map<std::uint32_t, int> replies_;
    std::vector<RecordedAction> actions_;
    std::vector<std::u16string> failingActions_;
    std::string logFile_;
    std::map<std::u16string, ItemState> components_;
    std::map<std::u16string, ItemState> features_;
    std::map<std::u16string, std::pair<std::u16string, std::u16string>> filePaths_;
    std::map<std::u16string, std::u16string> componentDirectories_;
};

// MsiEvaluateConditionW and MsiFormatRecordW of the stand-in, each behind one
// function so that a fuller implementation can replace it.
int EvaluateCondition(const InstallerSession& session, std::u16string_view condition);
std::u16string FormatRecordText(const InstallerSession& session,
                                const std::vector<std::u16string>& fields);

}  // namespace platform::posix
