#include "platform/posix/AccessRules.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/posix/Sandbox.h"

namespace platform::posix {
namespace {

// What makes a file itself rather than its name.
struct FileIdentity {
    unsigned long long inode = 0;
    long long birthSeconds = 0;
    unsigned birthNanoseconds = 0;
};

bool Identify(const std::string& path, FileIdentity* identity) {
    struct statx st;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &st) != 0) return false;
    identity->inode = st.stx_ino;
    if ((st.stx_mask & STATX_BTIME) != 0) {
        identity->birthSeconds = st.stx_btime.tv_sec;
        identity->birthNanoseconds = st.stx_btime.tv_nsec;
    }
    return true;
}

std::string IdentityText(const FileIdentity& id) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu %lld.%09u", id.inode, id.birthSeconds, id.birthNanoseconds);
    return text;
}

// Maps an existing file or folder; sets the last error as Windows would.
bool MapExisting(const std::u16string& windowsPath, std::string* posixPath) {
    if (!MapWindowsPath(windowsPath, posixPath) || posixPath->empty() || (*posixPath)[0] != '/') {
        SetLastError(kErrorInvalidName);
        return false;
    }
    struct stat st;
    if (::stat(posixPath->c_str(), &st) == 0) return true;
    const std::size_t slash = posixPath->find_last_of('/');
    struct stat parent;
    const bool parentExists = slash != std::string::npos && ::stat(posixPath->substr(0, slash).c_str(), &parent) == 0;
    SetLastError(parentExists ? kErrorFileNotFound : kErrorPathNotFound);
    return false;
}

// Maps an existing file or folder and tells which one it is.
bool MapAndIdentify(const std::u16string& windowsPath, std::string* posixPath, FileIdentity* identity) {
    if (!MapExisting(windowsPath, posixPath)) return false;
    if (Identify(*posixPath, identity)) return true;
    SetLastError(kErrorAccessDenied);
    return false;
}

// Holds the store's lock file for one read or change.
class StoreLock {
public:
    StoreLock() {
        fd_ = ::open((SandboxRoot() + "/access-rules.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

std::string StorePath() { return SandboxRoot() + "/access-rules"; }

// One line per file: identity, a tab, the path below the root, a tab, the list.
struct StoreLine {
    std::string identity;
    std::string path;
    std::string list;
};

std::vector<StoreLine> ReadStore() {
    std::vector<StoreLine> lines;
    std::ifstream in(StorePath());
    std::string text;
    while (std::getline(in, text)) {
        const std::size_t first = text.find('\t');
        const std::size_t second = first == std::string::npos ? first : text.find('\t', first + 1);
        if (second == std::string::npos) continue;
        lines.push_back({text.substr(0, first), text.substr(first + 1, second - first - 1), text.substr(second + 1)});
    }
    return lines;
}

bool WriteStore(const std::vector<StoreLine>& lines) {
    const std::string temp = StorePath() + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const StoreLine& line : lines) out << line.identity << '\t' << line.path << '\t' << line.list << '\n';
        if (!out.flush()) return false;
    }
    return ::rename(temp.c_str(), StorePath().c_str()) == 0;
}

std::string RelativeToRoot(const std::string& posixPath) {
    const std::string root = SandboxRoot();
    return posixPath.compare(0, root.size() + 1, root + "/") == 0 ? posixPath.substr(root.size() + 1) : posixPath;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string Hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return strings::FromUtf8(text);
}

// "0x" and up to eight hexadecimal digits, as FormatAccessList writes them.
bool ParseRights(const std::u16string& text, std::uint32_t* mask) {
    if (text.size() < 3 || text.size() > 10 || text[0] != u'0' || (text[1] != u'x' && text[1] != u'X')) return false;
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        const char16_t c = text[i];
        std::uint32_t digit;
        if (IsDigit(c)) digit = c - u'0';
        else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
        else return false;
        value = value * 16 + digit;
    }
    *mask = value;
    return true;
}

// One "(type;flags;rights;;;account)" without its parentheses.
bool ParseEntry(const std::u16string& text, AccessEntry* entry) {
    const std::vector<std::u16string> fields = strings::Split(text, u';');
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) return false;
    if (fields[0] == u"A") entry->mode = kGrantAccess;
    else if (fields[0] == u"D") entry->mode = kDenyAccess;
    else return false;
    entry->inheritance = 0;
    for (std::size_t i = 0; i < fields[1].size(); i += 2) {
        const std::u16string flag = fields[1].substr(i, 2);
        if (flag == u"OI") entry->inheritance |= kObjectInherit;
        else if (flag == u"CI") entry->inheritance |= kContainerInherit;
        else return false;
    }
    if (!ParseRights(fields[2], &entry->permissions)) return false;
    entry->sid = fields[5];
    if (!IsValidSid(entry->sid)) return false;
    entry->sid[0] = u'S';
    entry->trusteeType = kTrusteeIsUnknown;
    return true;
}

}  // namespace

bool IsValidSid(const std::u16string& sid) {
    if (sid.size() < 5 || (sid[0] != u'S' && sid[0] != u's') || sid.compare(1, 3, u"-1-") != 0) return false;
    int parts = 0;
    std::size_t digits = 0;
    for (std::size_t i = 4; i <= sid.size(); ++i) {
        if (i == sid.size() || sid[i] == u'-') {
            if (digits == 0 || digits > 10) return false;
            ++parts;
            digits = 0;
        } else if (IsDigit(sid[i])) {
            ++digits;
        } else {
            return false;
        }
    }
    return parts >= 1 && parts <= 16;
}

std::u16string FormatAccessList(const std::vector<AccessEntry>& entries) {
    std::u16string text = u"D:AI";
    for (const AccessEntry& entry : entries) {
        text += entry.mode == kDenyAccess ? u"(D;" : u"(A;";
        if ((entry.inheritance & kObjectInherit) != 0) text += u"OI";
        if ((entry.inheritance & kContainerInherit) != 0) text += u"CI";
        text += u";" + Hex8(entry.permissions) + u";;;" + entry.sid + u")";
    }
    return text;
}

bool ParseAccessList(const std::u16string& text, std::vector<AccessEntry>* entries) {
    if (text.compare(0, 2, u"D:") != 0) return false;
    std::size_t at = 2;
    while (at < text.size() && text[at] != u'(') ++at;  // flags of the list: AI, P, AR
    entries->clear();
    while (at < text.size()) {
        if (text[at] != u'(') return false;
        const std::size_t close = text.find(u')', at);
        if (close == std::u16string::npos) return false;
        AccessEntry entry;
        if (!ParseEntry(text.substr(at + 1, close - at - 1), &entry)) return false;
        entries->push_back(entry);
        at = close + 1;
    }
    return true;
}

bool ReadAccessRules(const std::u16string& windowsPath, std::vector<AccessEntry>* entries) {
    std::string posixPath;
    FileIdentity identity;
    if (!MapAndIdentify(windowsPath, &posixPath, &identity)) return false;
    StoreLock lock;
    entries->clear();
    const std::string path = RelativeToRoot(posixPath);
    for (const StoreLine& line : ReadStore()) {
        // An entry of an earlier file under this name means nothing to this one.
        if (line.path == path && line.identity == IdentityText(identity)) {
            return ParseAccessList(strings::FromUtf8(line.list), entries);
        }
    }
    return true;
}

bool WriteAccessRules(const std::u16string& windowsPath, const std::vector<AccessEntry>& entries) {
    std::string posixPath;
    FileIdentity identity;
    if (!MapAndIdentify(windowsPath, &posixPath, &identity)) return false;
    StoreLock lock;
    const std::string path = RelativeToRoot(posixPath);
    // Lines of files that are gone, or were made again, go on every write.
    std::vector<StoreLine> lines;
    for (StoreLine& line : ReadStore()) {
        FileIdentity current;
        if (line.path != path && Identify(SandboxRoot() + "/" + line.path, &current) &&
            IdentityText(current) == line.identity) {
            lines.push_back(std::move(line));
        }
    }
    if (!entries.empty()) lines.push_back({IdentityText(identity), path, strings::ToUtf8(FormatAccessList(entries))});
    if (!WriteStore(lines)) {
        SetLastError(kErrorWriteFault);
        return false;
    }
    return true;
}

}  // namespace platform::posix
