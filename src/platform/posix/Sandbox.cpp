// Windows paths mapped into the sandbox folder. Windows compares file names
// without regard to case while Linux does not, so every component of a mapped
// path is looked up on disk: the exact name when it exists, else an entry that
// differs only in case; components that do not exist yet keep their case.
#include "platform/posix/Sandbox.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/Strings.h"
#include "platform/posix/CaseFolding.h"

namespace platform::posix {
namespace {

std::mutex g_rootMutex;
std::string g_root;  // set by SetSandboxRoot; empty until then

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// Characters that Windows refuses in a file name.
bool IsValidComponent(const std::u16string& name) {
    for (char16_t c : name) {
        if (c < 0x20) return false;
        switch (c) {
        case u'<': case u'>': case u':': case u'"': case u'|': case u'?': case u'*': return false;
        default: break;
        }
    }
    return true;
}

void MakeDirectories(const std::string& path) {
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string prefix = path.substr(0, pos);
        if (!prefix.empty()) ::mkdir(prefix.c_str(), 0777);
    }
}

std::string Join(const std::string& base, const std::string& name) {
    if (base.empty()) return name;
    if (base.back() == '/') return base + name;
    return base + "/" + name;
}

// The entry of `folder` whose name equals `name` without regard to case; the
// first such name in byte order when several do.
bool FindIgnoringCase(const std::string& folder, const std::u16string& name, std::string* found) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return false;
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..") continue;
        if (EqualsIgnoreCase(strings::FromUtf8(candidate), name)) matches.push_back(candidate);
    }
    ::closedir(dir);
    if (matches.empty()) return false;
    *found = *std::min_element(matches.begin(), matches.end());
    return true;
}

}  // namespace

std::string SandboxRoot() {
    std::lock_guard<std::mutex> lock(g_rootMutex);
    if (!g_root.empty()) return g_root;
    std::string root;
    if (const char* env = std::getenv("TRELLIS_SANDBOX_ROOT"); env != nullptr && *env != '\0') {
        root = env;
    } else {
        const char* tmp = std::getenv("TMPDIR");
        root = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        root += "/trellis-sandbox";
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

void SetSandboxRoot(const std::string& root) {
    std::lock_guard<std::mutex> lock(g_rootMutex);
    g_root = root;
    while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
}

// A path rooted without a drive ("\dir") is taken to be on C:, the only
// drive the sandbox treats as current. "." and ".." are folded away as
// Windows does, never climbing above a drive root or a UNC share.
bool MapWindowsPath(const std::u16string& windowsPath, std::string* posixPath) {
    enum class Kind { Relative, Drive, Unc };
    const std::u16string& p = windowsPath;
    Kind kind = Kind::Relative;
    char16_t drive = u'C';
    std::size_t rest = 0;
    if (p.size() >= 4 && p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\') {
        const std::u16string tail = p.substr(4);
        if (tail.size() >= 4 && EqualsIgnoreCase(tail.substr(0, 3), u"UNC") && IsSeparator(tail[3])) {
            kind = Kind::Unc;
            rest = 8;
        } else if (tail.size() >= 2 && IsDriveLetter(tail[0]) && tail[1] == u':' &&
                   (tail.size() == 2 || IsSeparator(tail[2]))) {
            kind = Kind::Drive;
            drive = tail[0];
            rest = 6;
        } else {
            return false;
        }
    } else if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
        // \\.\ and \\?\ name devices and namespaces, not files.
        if (p.size() >= 3 && (p[2] == u'.' || p[2] == u'?') && (p.size() == 3 || IsSeparator(p[3]))) return false;
        kind = Kind::Unc;
        rest = 2;
    } else if (p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == u':') {
        if (p.size() == 2 || !IsSeparator(p[2])) return false;  // relative to a drive's current folder
        kind = Kind::Drive;
        drive = p[0];
        rest = 2;
    } else if (!p.empty() && IsSeparator(p[0])) {
        kind = Kind::Drive;
    }

    std::vector<std::u16string> parts;
    std::size_t fixed = 0;  // parts that ".." cannot remove: the UNC server and share
    for (std::size_t i = rest; i <= p.size();) {
        std::size_t end = i;
        while (end < p.size() && !IsSeparator(p[end])) ++end;
        std::u16string part = p.substr(i, end - i);
        i = end + 1;
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (parts.size() > fixed && parts.back() != u"..") {
                parts.pop_back();
            } else if (kind == Kind::Relative) {
                parts.push_back(part);
            }
            continue;
        }
        if (!IsValidComponent(part)) return false;
        bool exact = true;
        strings::ToUtf8(part, &exact);
        if (!exact) return false;
        parts.push_back(part);
        if (kind == Kind::Unc && parts.size() <= 2) fixed = parts.size();
    }
    if (kind == Kind::Unc && parts.empty()) return false;

    std::string current;
    if (kind != Kind::Relative) {
        const std::string root = SandboxRoot();
        if (kind == Kind::Drive) {
            current = root + "/" + static_cast<char>(UpcaseUnit(drive));
        } else {
            current = root + "/UNC";
        }
        struct stat st;
        if (::stat(current.c_str(), &st) != 0) MakeDirectories(current);
    }
    bool onDisk = true;
    for (const std::u16string& part : parts) {
        const std::string name = strings::ToUtf8(part);
        const std::string exactPath = Join(current, name);
        struct stat st;
        if (onDisk && part != u"..") {
            if (::lstat(exactPath.c_str(), &st) == 0) {
                current = exactPath;
                continue;
            }
            std::string found;
            if (FindIgnoringCase(current, part, &found)) {
                current = Join(current, found);
                continue;
            }
            onDisk = false;
        }
        current = exactPath;
    }
    if (current.empty()) current = ".";
    *posixPath = current;
    return true;
}

}  // namespace platform::posix
