// The stand-in installer session: properties, modes, recorded messages and
// actions, and the package database behind MsiGetActiveDatabase.
#include "platform/posix/msi/InstallerSession.h"

#include <algorithm>
#include <fstream>

#include "platform/Strings.h"
#include "platform/System.h"
#include "platform/posix/msi/MsiInternal.h"

namespace platform::posix {

namespace {

constexpr std::uint32_t kMessageKindMask = 0xFF000000u;

// Error table rows 0..3 hold the headers that msi.dll puts before the
// message of a fatal, error, warning or user message.
bool HasErrorHeader(std::uint32_t kind) { return kind <= 0x03000000u; }

bool ParseNumber(const std::u16string& text, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int result = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        result = result * 10 + (c - u'0');
    }
    *value = result;
    return true;
}

// "{{text}}" marks text that msi.dll shows only in the log; the log keeps
// the text without the braces.
std::u16string ForLog(std::u16string text) {
    for (const char16_t* braces : {u"{{", u"}}"}) {
        for (std::size_t at = text.find(braces); at != std::u16string::npos; at = text.find(braces, at)) {
            text.erase(at, 2);
        }
    }
    return text;
}

}  // namespace

InstallerSession::InstallerSession() { handle_ = msi::AddHandle(this); }

InstallerSession::~InstallerSession() {
    if (databaseHandle_ != 0) msi::RemoveHandle(databaseHandle_);
    msi::RemoveHandle(handle_);
}

InstallerSession* InstallerSession::FromHandle(MSIHANDLE handle) { return msi::FindSession(handle); }

bool InstallerSession::OpenDatabase(const std::string& path) {
    if (databaseHandle_ != 0) msi::RemoveHandle(databaseHandle_);
    databaseHandle_ = 0;
    database_.reset();
    databasePath_.clear();
    database_ = msi::Database::Open(path);
    if (!database_) return false;
    databaseHandle_ = msi::AddHandle(database_);
    databasePath_ = path;

    // A database without a Property table is still a database.
    std::vector<msi::Record> rows;
    if (msi::QueryRows(*database_, u"SELECT `Property`, `Value` FROM `Property`", &rows)) {
        for (const msi::Record& row : rows) {
            const std::u16string name = msi::FieldText(row.fields[1]);
            if (properties_.count(name) == 0) SetProperty(name, msi::FieldText(row.fields[2]));
        }
    }
    return true;
}

void InstallerSession::SetProperty(const std::u16string& name, std::u16string value) {
    if (value.empty()) {
        properties_.erase(name);
    } else {
        properties_[name] = std::move(value);
    }
}

std::u16string InstallerSession::GetProperty(const std::u16string& name) const {
    const std::u16string* value = FindProperty(name);
    return value != nullptr ? *value : std::u16string();
}

const std::u16string* InstallerSession::FindProperty(const std::u16string& name) const {
    auto it = properties_.find(name);
    return it != properties_.end() ? &it->second : nullptr;
}

void InstallerSession::SetMode(int runMode, bool on) {
    modes_.erase(std::remove(modes_.begin(), modes_.end(), runMode), modes_.end());
    if (on) modes_.push_back(runMode);
}

bool InstallerSession::GetMode(int runMode) const {
    return std::find(modes_.begin(), modes_.end(), runMode) != modes_.end();
}

void InstallerSession::SetMessageReply(std::uint32_t messageType, int reply) {
    replies_[messageType & kMessageKindMask] = reply;
}

std::u16string InstallerSession::MessageText(std::uint32_t type, const std::vector<std::u16string>& fields) const {
    const std::uint32_t kind = type & kMessageKindMask;
    int number = 0;
    if (database_ && HasErrorHeader(kind) && !fields.empty() && fields[0].empty() && fields.size() > 1 &&
        ParseNumber(fields[1], &number)) {
        std::vector<msi::Record> rows;
        const std::string query = "SELECT `Error`, `Message` FROM `Error` WHERE `Error` = " +
                                  std::to_string(kind >> 24) + " OR `Error` = " + std::to_string(number);
        if (msi::QueryRows(*database_, std::u16string(query.begin(), query.end()), &rows)) {
            std::u16string header;
            std::u16string body;
            bool found = false;
            for (const msi::Record& row : rows) {
                const int error = row.fields[1].integer;
                if (error == number) {
                    body = msi::FieldText(row.fields[2]);
                    found = true;
                } else {
                    header = msi::FieldText(row.fields[2]);
                }
            }
            if (found) {
                std::vector<std::u16string> formatted = fields;
                formatted[0] = ForLog(header + body);
                return FormatRecordText(*this, formatted);
            }
        }
    }
    return FormatRecordText(*this, fields);
}

int InstallerSession::Message(std::uint32_t type, std::vector<std::u16string> fields) {
    if (onMessage) onMessage(type);
    if (!logFile_.empty()) {
        std::ofstream log(logFile_, std::ios::app | std::ios::binary);
        log << strings::ToUtf8(MessageText(type, fields)) << '\n';
    }
    if (recordMessages_) messages_.push_back({type, std::move(fields)});
    auto it = replies_.find(type & kMessageKindMask);
    return it != replies_.end() ? it->second : 0;
}

std::uint32_t InstallerSession::DoAction(const std::u16string& action) {
    // A failing action fails before any host hook sees it, and is not
    // recorded as done.
    if (std::find(failingActions_.begin(), failingActions_.end(), action) != failingActions_.end()) {
        return kErrorInstallFailure;
    }
    if (doAction) return doAction(*this, action);
    actions_.push_back({action, GetProperty(action)});
    return kErrorSuccess;
}

}  // namespace platform::posix

namespace platform::posix {

namespace {

template <typename Map, typename Value>
bool Find(const Map& map, const std::u16string& key, Value* value) {
    const auto it = map.find(key);
    if (it == map.end()) return false;
    *value = it->second;
    return true;
}

}  // namespace

void InstallerSession::SetFilePath(const std::u16string& fileKey, std::u16string longPath, std::u16string shortPath) {
    filePaths_[fileKey] = {std::move(longPath), std::move(shortPath)};
}

bool InstallerSession::Environment(const std::u16string& name, std::u16string* value) const {
    bool exists = false;
    *value = platform::GetEnvironmentVariableW(name, &exists);
    return exists;
}

bool InstallerSession::ComponentState(const std::u16string& component, ItemState* state) const {
    return Find(components_, component, state);
}

bool InstallerSession::FeatureState(const std::u16string& feature, ItemState* state) const {
    return Find(features_, feature, state);
}

bool InstallerSession::FilePath(const std::u16string& fileKey, bool shortName, std::u16string* path) const {
    std::pair<std::u16string, std::u16string> paths;
    if (!Find(filePaths_, fileKey, &paths)) return false;
    *path = shortName ? paths.second : paths.first;
    return true;
}

bool InstallerSession::ComponentDirectory(const std::u16string& component, std::u16string* path) const {
    return Find(componentDirectories_, component, path);
}

std::vector<msi::Record> msi::Rows(const InstallerSession& session, const char16_t* query) {
    std::vector<Record> rows;
    if (session.Database()) QueryRows(*session.Database(), query, &rows);
    return rows;
}

std::u16string msi::Text(const Record& row, std::size_t field) {
    return field < row.fields.size() ? FieldText(row.fields[field]) : std::u16string();
}

int msi::Integer(const Record& row, std::size_t field, int fallback) {
    if (field >= row.fields.size() || row.fields[field].kind != Field::Kind::Integer) return fallback;
    return row.fields[field].integer;
}

}  // namespace platform::posix
