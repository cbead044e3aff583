// The registry stand-in: one text file under <sandbox root>/registry, in a
// layout close to a .reg export so that a person can read and edit it:
//
//   [HKEY_CURRENT_USER\Software\Example]
//   @=sz:"default value"
//   "Name"=sz:"text with \"quotes\", a tab \u0009 and a lone surrogate \uD800"
//   "Count"=dword:0000002a
//   "Blob"=hex(3):01,02,ff
//
// Every call takes a lock file (flock; shared to read, exclusive to change),
// reads the whole file and, when it changed something, writes a new file and
// renames it over the old one, so that other processes always see a whole
// registry and each other's changes. The file is not synced to disk: a
// crash may lose the last changes but never leaves a torn file.
//
// Key and value names compare without regard to case and keep the case they
// were created with. Subkeys enumerate in the order of their upper-case
// names, values in the order they were created. Handles are a table of this
// process (root and path); a handle whose key was deleted fails with
// ERROR_KEY_DELETED. HKEY_CLASSES_ROOT is a root of its own here, not a view
// of the two Classes keys, and the WOW64 view flags are ignored. A test can
// make any one call fail with ERROR_REGISTRY_IO_FAILED (FaultInjection.h).
#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/posix/FaultInjection.h"
#include "platform/posix/Sandbox.h"
#include "platform/posix/Utf.h"

namespace platform {
namespace {

constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorBadPathname = 161;
constexpr long kErrorBadDb = 1009;
constexpr long kErrorRegistryIoFailed = 1016;
constexpr long kErrorKeyDeleted = 1018;

constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kMaximumAllowed = 0x02000000u;

struct Value {
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct Key {
    std::u16string name;
    std::vector<Value> values;
    std::map<std::u16string, std::unique_ptr<Key>> subkeys;  // by upper-case name

    Value* FindValue(const std::u16string& valueName) {
        for (Value& value : values) {
            if (posix::EqualsIgnoreCase(value.name, valueName)) return &value;
        }
        return nullptr;
    }
    Key* FindSubkey(const std::u16string& keyName) {
        const auto it = subkeys.find(posix::Upcase(keyName));
        return it == subkeys.end() ? nullptr : it->second.get();
    }
    Key* AddSubkey(const std::u16string& keyName) {
        auto& slot = subkeys[posix::Upcase(keyName)];
        if (!slot) {
            slot = std::make_unique<Key>();
            slot->name = keyName;
        }
        return slot.get();
    }
};

struct RootInfo {
    HKey handle;
    const char16_t* name;
};
constexpr RootInfo kRoots[] = {
    {kHKeyClassesRoot, u"HKEY_CLASSES_ROOT"}, {kHKeyCurrentUser, u"HKEY_CURRENT_USER"},
    {kHKeyLocalMachine, u"HKEY_LOCAL_MACHINE"}, {kHKeyUsers, u"HKEY_USERS"},
    {kHKeyCurrentConfig, u"HKEY_CURRENT_CONFIG"},
};
constexpr int kRootCount = sizeof kRoots / sizeof kRoots[0];

int RootIndex(HKey handle) {
    for (int i = 0; i < kRootCount; ++i) {
        if (kRoots[i].handle == handle) return i;
    }
    return -1;
}

struct Hive {
    Key roots[kRootCount];
    Hive() {
        for (int i = 0; i < kRootCount; ++i) roots[i].name = kRoots[i].name;
    }
};

// --- text form -------------------------------------------------------------

void AppendHex4(std::string& out, char prefix, char16_t unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%c%04X", prefix, static_cast<unsigned>(unit));
    out += buffer;
}

bool IsLoneSurrogate(const std::u16string& text, std::size_t i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) return !(i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF);
    if (c >= 0xDC00 && c <= 0xDFFF) return !(i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF);
    return false;
}

// Quoted text: \\ \" and \uXXXX for controls and lone surrogates; the rest UTF-8.
std::string Quote(const std::u16string& text) {
    std::string out = "\"";
    std::size_t start = 0;
    auto flush = [&](std::size_t end) { out += posix::ToUtf8(text.substr(start, end - start)); };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\\' || c == u'"') {
            flush(i);
            out += '\\';
            out += static_cast<char>(c);
            start = i + 1;
        } else if (c < 0x20 || c == 0x7F || IsLoneSurrogate(text, i)) {
            flush(i);
            out += '\\';
            AppendHex4(out, 'u', c);
            start = i + 1;
        }
    }
    flush(text.size());
    out += '"';
    return out;
}

// A key path in a section header: backslashes separate the names (which
// cannot hold one), and %XXXX stands for controls, lone surrogates, "%",
// "[" and "]".
std::string KeyPathText(const std::vector<const std::u16string*>& names) {
    std::string out;
    for (std::size_t n = 0; n < names.size(); ++n) {
        if (n > 0) out += '\\';
        const std::u16string& name = *names[n];
        std::size_t start = 0;
        for (std::size_t i = 0; i < name.size(); ++i) {
            const char16_t c = name[i];
            if (c < 0x20 || c == 0x7F || c == u'%' || c == u'[' || c == u']' || IsLoneSurrogate(name, i)) {
                out += posix::ToUtf8(name.substr(start, i - start));
                AppendHex4(out, '%', c);
                start = i + 1;
            }
        }
        out += posix::ToUtf8(name.substr(start));
    }
    return out;
}

// A REG_SZ-like value that is exactly one terminated text can be written as
// text; anything else keeps its bytes in hex.
bool AsSingleString(const Value& value, std::u16string* text) {
    const std::size_t size = value.data.size();
    if (size < 2 || size % 2 != 0) return false;
    std::u16string units(size / 2, u'\0');
    std::memcpy(&units[0], value.data.data(), size);
    if (units.back() != u'\0') return false;
    units.pop_back();
    if (units.find(u'\0') != std::u16string::npos) return false;
    *text = units;
    return true;
}

std::string ValueText(const Value& value) {
    std::string out = value.name.empty() ? "@" : Quote(value.name);
    out += '=';
    std::u16string text;
    if ((value.type == kRegSz || value.type == kRegExpandSz) && AsSingleString(value, &text)) {
        out += value.type == kRegSz ? "sz:" : "expand_sz:";
        out += Quote(text);
    } else if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t number;
        std::memcpy(&number, value.data.data(), 4);
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        out += buffer;
    } else {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "hex(%u):", value.type);
        out += buffer;
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", value.data[i]);
            out += buffer;
        }
    }
    return out;
}

void WriteKey(std::string& out, const Key& key, std::vector<const std::u16string*>& path) {
    path.push_back(&key.name);
    // A root is written only for its values; any other key for itself too,
    // so that empty keys survive.
    if (path.size() > 1 || !key.values.empty()) {
        out += '[' + KeyPathText(path) + "]\n";
        for (const Value& value : key.values) out += ValueText(value) + '\n';
    }
    for (const auto& entry : key.subkeys) WriteKey(out, *entry.second, path);
    path.pop_back();
}

std::string HiveText(const Hive& hive) {
    std::string out = "; Registry of the Trellis sandbox: [key] sections with name=type:data values.\n";
    std::vector<const std::u16string*> path;
    for (const Key& root : hive.roots) WriteKey(out, root, path);
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex4(const std::string& line, std::size_t pos, char16_t* unit) {
    if (pos + 4 > line.size()) return false;
    unsigned value = 0;
    for (std::size_t i = pos; i < pos + 4; ++i) {
        const int d = HexDigit(line[i]);
        if (d < 0) return false;
        value = value * 16 + static_cast<unsigned>(d);
    }
    *unit = static_cast<char16_t>(value);
    return true;
}

// Reads a quoted text starting at line[*pos] == '"'; leaves *pos after it.
bool ParseQuoted(const std::string& line, std::size_t* pos, std::u16string* text) {
    if (*pos >= line.size() || line[*pos] != '"') return false;
    std::size_t i = *pos + 1;
    std::string pending;
    text->clear();
    while (i < line.size()) {
        const char c = line[i];
        if (c == '"') {
            *text += posix::FromUtf8(pending);
            *pos = i + 1;
            return true;
        }
        if (c != '\\') {
            pending += c;
            ++i;
            continue;
        }
        if (i + 1 >= line.size()) return false;
        const char next = line[i + 1];
        if (next == '\\' || next == '"') {
            pending += next;
            i += 2;
        } else if (next == 'u') {
            char16_t unit;
            if (!ParseHex4(line, i + 2, &unit)) return false;
            *text += posix::FromUtf8(pending);
            pending.clear();
            *text += unit;
            i += 6;
        } else {
            return false;
        }
    }
    return false;
}

bool ParseKeyPath(const std::string& text, std::vector<std::u16string>* names) {
    names->clear();
    std::u16string current;
    std::string pending;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == '%') {
            current += posix::FromUtf8(pending);
            pending.clear();
            if (c == '\\') {
                names->push_back(current);
                current.clear();
            } else {
                char16_t unit;
                if (!ParseHex4(text, i + 1, &unit)) return false;
                current += unit;
                i += 4;
            }
        } else {
            pending += c;
        }
    }
    current += posix::FromUtf8(pending);
    names->push_back(current);
    for (const std::u16string& name : *names) {
        if (name.empty()) return false;
    }
    return true;
}

bool ParseValue(const std::string& line, Value* value) {
    std::size_t pos = 0;
    if (line[0] == '@') {
        value->name.clear();
        pos = 1;
    } else if (!ParseQuoted(line, &pos, &value->name)) {
        return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    ++pos;
    const std::size_t colon = line.find(':', pos);
    if (colon == std::string::npos) return false;
    const std::string kind = line.substr(pos, colon - pos);
    pos = colon + 1;
    value->data.clear();
    if (kind == "sz" || kind == "expand_sz") {
        value->type = kind == "sz" ? kRegSz : kRegExpandSz;
        std::u16string text;
        if (!ParseQuoted(line, &pos, &text) || pos != line.size()) return false;
        text += u'\0';
        value->data.resize(text.size() * 2);
        std::memcpy(value->data.data(), text.data(), value->data.size());
        return true;
    }
    if (kind == "dword") {
        if (line.size() - pos != 8) return false;
        std::uint32_t number = 0;
        for (; pos < line.size(); ++pos) {
            const int d = HexDigit(line[pos]);
            if (d < 0) return false;
            number = number * 16 + static_cast<std::uint32_t>(d);
        }
        value->type = kRegDword;
        value->data.resize(4);
        std::memcpy(value->data.data(), &number, 4);
        return true;
    }
    unsigned type = 0;
    char close = 0;
    int consumed = 0;
    if (std::sscanf(kind.c_str(), "hex(%u%c%n", &type, &close, &consumed) != 2 || close != ')' ||
        static_cast<std::size_t>(consumed) != kind.size()) {
        return false;
    }
    value->type = type;
    while (pos < line.size()) {
        if (pos + 2 > line.size()) return false;
        const int high = HexDigit(line[pos]), low = HexDigit(line[pos + 1]);
        if (high < 0 || low < 0) return false;
        value->data.push_back(static_cast<std::uint8_t>(high * 16 + low));
        pos += 2;
        if (pos < line.size()) {
            if (line[pos] != ',') return false;
            ++pos;
        }
    }
    return true;
}

bool ParseHive(const std::string& text, Hive* hive) {
    Key* current = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return false;
            std::vector<std::u16string> names;
            if (!ParseKeyPath(line.substr(1, line.size() - 2), &names)) return false;
            current = nullptr;
            for (int i = 0; i < kRootCount; ++i) {
                if (posix::EqualsIgnoreCase(names[0], kRoots[i].name)) current = &hive->roots[i];
            }
            if (current == nullptr) return false;
            for (std::size_t n = 1; n < names.size(); ++n) current = current->AddSubkey(names[n]);
            continue;
        }
        Value value;
        if (current == nullptr || !ParseValue(line, &value)) return false;
        if (Value* existing = current->FindValue(value.name)) {
            *existing = std::move(value);
        } else {
            current->values.push_back(std::move(value));
        }
    }
    return true;
}

// --- the file and its lock -------------------------------------------------

class HiveFile {
public:
    explicit HiveFile(bool exclusive) : folder_(posix::SandboxRoot() + "/registry") {
        std::string path;
        for (std::size_t pos = 1; pos != std::string::npos;) {
            pos = folder_.find('/', pos + 1);
            path = folder_.substr(0, pos);
            ::mkdir(path.c_str(), 0777);
        }
        lock_ = ::open((folder_ + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (lock_ < 0) return;
        int result;
        do {
            result = ::flock(lock_, exclusive ? LOCK_EX : LOCK_SH);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            ::close(lock_);
            lock_ = -1;
        }
    }
    ~HiveFile() {
        if (lock_ >= 0) ::close(lock_);
    }
    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;

    long Load(Hive* hive) {
        if (lock_ < 0) return kErrorRegistryIoFailed;
        const int fd = ::open(DataPath().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return errno == ENOENT ? kRegSuccess : kErrorRegistryIoFailed;
        std::string text;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ::close(fd);
                return kErrorRegistryIoFailed;
            }
            if (n == 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return ParseHive(text, hive) ? kRegSuccess : kErrorBadDb;
    }

    long Save(const Hive& hive) {
        const std::string text = HiveText(hive);
        const std::string temp = DataPath() + ".tmp." + std::to_string(::getpid());
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return kErrorRegistryIoFailed;
        const char* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ::close(fd);
                ::unlink(temp.c_str());
                return kErrorRegistryIoFailed;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0 || ::rename(temp.c_str(), DataPath().c_str()) != 0) {
            ::unlink(temp.c_str());
            return kErrorRegistryIoFailed;
        }
        return kRegSuccess;
    }

private:
    std::string DataPath() const { return folder_ + "/registry.txt"; }

    std::string folder_;
    int lock_ = -1;
};

// --- handles ---------------------------------------------------------------

struct OpenKey {
    int root = -1;
    std::vector<std::u16string> path;
    std::uint32_t access = 0;
};

std::mutex g_mutex;  // the handle table, and one registry call at a time in this process
std::map<HKey, OpenKey> g_handles;
HKey g_nextHandle = 0x100;

std::uint32_t NormalizeAccess(std::uint32_t access) {
    if ((access & (kGenericAll | kMaximumAllowed)) != 0) access |= kKeyAllAccess;
    if ((access & kGenericRead) != 0) access |= kKeyRead;
    if ((access & kGenericWrite) != 0) access |= kKeyWrite;
    return access & ~kKeyWow64Mask;
}

long LookUpHandle(HKey handle, OpenKey* key) {
    const int root = RootIndex(handle);
    if (root >= 0) {
        *key = OpenKey{root, {}, kKeyAllAccess};
        return kRegSuccess;
    }
    const auto it = g_handles.find(handle);
    if (it == g_handles.end()) return kRegInvalidHandle;
    *key = it->second;
    return kRegSuccess;
}

HKey AddHandle(OpenKey key) {
    const HKey handle = g_nextHandle;
    g_nextHandle += 4;
    g_handles[handle] = std::move(key);
    return handle;
}

// Subkey names as Windows reads them: backslash-separated, a trailing
// backslash allowed, no empty name inside and none at the start.
long SplitSubkey(const std::u16string& subkey, std::vector<std::u16string>* names) {
    names->clear();
    if (subkey.empty()) return kRegSuccess;
    std::size_t start = 0;
    while (start < subkey.size()) {
        std::size_t end = subkey.find(u'\\', start);
        if (end == std::u16string::npos) end = subkey.size();
        if (end == start) return kErrorBadPathname;
        names->push_back(subkey.substr(start, end - start));
        start = end + 1;
    }
    return kRegSuccess;
}

Key* Walk(Key* key, const std::vector<std::u16string>& names) {
    for (const std::u16string& name : names) {
        if (key == nullptr) return nullptr;
        key = key->FindSubkey(name);
    }
    return key;
}

// Runs `action` on the key of an open handle with the registry loaded; saves
// the registry when the action reports a change.
template <typename Action>
long WithKey(HKey handle, std::uint32_t neededAccess, bool changes, Action action) {
    if (posix::OperationFails()) return kErrorRegistryIoFailed;  // chosen by a test
    std::lock_guard<std::mutex> lock(g_mutex);
    OpenKey open;
    if (long result = LookUpHandle(handle, &open); result != kRegSuccess) return result;
    if ((open.access & neededAccess) != neededAccess) return kRegAccessDenied;
    HiveFile file(changes);
    Hive hive;
    if (long result = file.Load(&hive); result != kRegSuccess) return result;
    Key* key = Walk(&hive.roots[open.root], open.path);
    if (key == nullptr) return kErrorKeyDeleted;
    bool changed = false;
    const long result = action(open, *key, hive, changed);
    if (changed) {
        if (long saved = file.Save(hive); saved != kRegSuccess) return saved;
    }
    return result;
}

long OpenOrCreate(HKey root, const std::u16string& subkey, std::uint32_t access, HKey* result, bool create) {
    if (result == nullptr) return kErrorInvalidParameter;
    *result = 0;
    std::vector<std::u16string> names;
    if (long split = SplitSubkey(subkey, &names); split != kRegSuccess) return split;
    HKey opened = 0;
    const long status = WithKey(root, 0, create, [&](const OpenKey& base, Key& key, Hive&, bool& changed) {
        OpenKey child{base.root, base.path, NormalizeAccess(access)};
        Key* current = &key;
        for (const std::u16string& name : names) {
            Key* next = current->FindSubkey(name);
            if (next == nullptr) {
                if (!create) return kRegFileNotFound;
                next = current->AddSubkey(name);
                changed = true;
            }
            child.path.push_back(next->name);
            current = next;
        }
        opened = AddHandle(std::move(child));
        return kRegSuccess;
    });
    if (status == kRegSuccess) *result = opened;
    return status;
}

}  // namespace

long RegOpenKeyExW(HKey root, const std::u16string& subkey, std::uint32_t access, HKey* result) {
    return OpenOrCreate(root, subkey, access, result, false);
}

long RegCreateKeyExW(HKey root, const std::u16string& subkey, std::uint32_t access, HKey* result) {
    return OpenOrCreate(root, subkey, access, result, true);
}

// The sandbox has no kernel transactions.
long RegOpenKeyTransactedW(HKey, const std::u16string&, std::uint32_t, TransactionHandle, HKey* result) {
    if (result != nullptr) *result = 0;
    return kRegCallNotImplemented;
}

long RegCreateKeyTransactedW(HKey, const std::u16string&, std::uint32_t, TransactionHandle, HKey* result) {
    if (result != nullptr) *result = 0;
    return kRegCallNotImplemented;
}

long RegQueryValueExW(HKey key, const std::u16string& name, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* size) {
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    return WithKey(key, kKeyQueryValue, false, [&](const OpenKey&, Key& node, Hive&, bool&) {
        const Value* value = node.FindValue(name);
        if (value == nullptr) return kRegFileNotFound;
        if (type != nullptr) *type = value->type;
        const auto needed = static_cast<std::uint32_t>(value->data.size());
        if (data == nullptr) {
            if (size != nullptr) *size = needed;
            return kRegSuccess;
        }
        if (*size < needed) {
            *size = needed;
            return kRegMoreData;
        }
        if (needed > 0) std::memcpy(data, value->data.data(), needed);
        *size = needed;
        return kRegSuccess;
    });
}

long RegSetValueExW(HKey key, const std::u16string& name, std::uint32_t type, const std::uint8_t* data,
                    std::uint32_t size) {
    if (data == nullptr && size != 0) return kErrorInvalidParameter;
    return WithKey(key, kKeySetValue, true, [&](const OpenKey&, Key& node, Hive&, bool& changed) {
        Value* value = node.FindValue(name);
        if (value == nullptr) {
            node.values.push_back(Value{name, 0, {}});
            value = &node.values.back();
        }
        value->type = type;
        value->data.assign(data, data + size);
        changed = true;
        return kRegSuccess;
    });
}

long RegDeleteValueW(HKey key, const std::u16string& name) {
    return WithKey(key, kKeySetValue, true, [&](const OpenKey&, Key& node, Hive&, bool& changed) {
        for (auto it = node.values.begin(); it != node.values.end(); ++it) {
            if (posix::EqualsIgnoreCase(it->name, name)) {
                node.values.erase(it);
                changed = true;
                return kRegSuccess;
            }
        }
        return kRegFileNotFound;
    });
}

long RegDeleteKeyW(HKey key, const std::u16string& subkey) {
    std::vector<std::u16string> names;
    if (long split = SplitSubkey(subkey, &names); split != kRegSuccess) return split;
    return WithKey(key, 0, true, [&](const OpenKey& open, Key& node, Hive& hive, bool& changed) {
        Key* parent = &node;
        std::u16string last;
        if (names.empty()) {
            // Without a subkey name the open key itself goes; a root cannot.
            if (open.path.empty()) return kRegAccessDenied;
            std::vector<std::u16string> parentPath(open.path.begin(), open.path.end() - 1);
            parent = Walk(&hive.roots[open.root], parentPath);
            last = open.path.back();
        } else {
            last = names.back();
            names.pop_back();
            parent = Walk(parent, names);
        }
        Key* target = parent == nullptr ? nullptr : parent->FindSubkey(last);
        if (target == nullptr) return kRegFileNotFound;
        if (!target->subkeys.empty()) return kRegAccessDenied;
        parent->subkeys.erase(posix::Upcase(last));
        changed = true;
        return kRegSuccess;
    });
}

long RegQueryInfoKeyW(HKey key, std::uint32_t* subkeyCount, std::uint32_t* valueCount) {
    return WithKey(key, kKeyQueryValue, false, [&](const OpenKey&, Key& node, Hive&, bool&) {
        if (subkeyCount != nullptr) *subkeyCount = static_cast<std::uint32_t>(node.subkeys.size());
        if (valueCount != nullptr) *valueCount = static_cast<std::uint32_t>(node.values.size());
        return kRegSuccess;
    });
}

long RegEnumKeyExW(HKey key, std::uint32_t index, std::u16string* name) {
    return WithKey(key, kKeyEnumerateSubKeys, false, [&](const OpenKey&, Key& node, Hive&, bool&) {
        if (index >= node.subkeys.size()) return kRegNoMoreItems;
        auto it = node.subkeys.begin();
        std::advance(it, index);
        *name = it->second->name;
        return kRegSuccess;
    });
}

long RegEnumValueW(HKey key, std::uint32_t index, std::u16string* name) {
    return WithKey(key, kKeyQueryValue, false, [&](const OpenKey&, Key& node, Hive&, bool&) {
        if (index >= node.values.size()) return kRegNoMoreItems;
        *name = node.values[index].name;
        return kRegSuccess;
    });
}

long RegCloseKey(HKey key) {
    if (RootIndex(key) >= 0) return kRegSuccess;
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_handles.erase(key) == 1 ? kRegSuccess : kRegInvalidHandle;
}

}  // namespace platform
