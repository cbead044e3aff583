// The registry stand-in's file: one text file under <sandbox root>/registry,
// in a layout close to a .reg export so that a person can read and edit it:
//
//   [HKEY_CURRENT_USER\Software\Example]
//   @=sz:"default value"
//   "Name"=sz:"text with \"quotes\", a tab \u0009 and a lone surrogate \uD800"
//   "Count"=dword:0000002a
//   "Blob"=hex(3):01,02,ff
//
// A lock file beside it (flock) keeps one process changing it at a time;
// a change writes a new file and renames it over the old one, so that other
// processes always see a whole registry. The file is not synced to disk: a
// crash may lose the last changes but never leaves a torn file.
#include "platform/posix/RegistryHive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Strings.h"
#include "platform/posix/FileCalls.h"
#include "platform/posix/Sandbox.h"

namespace platform::posix::registry {
namespace {

constexpr long kErrorBadDb = 1009;
constexpr long kErrorRegistryIoFailed = 1016;

void AppendHex4(std::string& out, char prefix, char16_t unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%c%04X", prefix, static_cast<unsigned>(unit));
    out += buffer;
}

bool IsLoneSurrogate(const std::u16string& text, std::size_t i) {
    if (strings::IsHighSurrogate(text[i])) return !(i + 1 < text.size() && strings::IsLowSurrogate(text[i + 1]));
    if (strings::IsLowSurrogate(text[i])) return !(i > 0 && strings::IsHighSurrogate(text[i - 1]));
    return false;
}

// Quoted text: \\ \" and \uXXXX for controls and lone surrogates; the rest UTF-8.
std::string Quote(const std::u16string& text) {
    std::string out = "\"";
    std::size_t start = 0;
    auto flush = [&](std::size_t end) { out += strings::ToUtf8(text.substr(start, end - start)); };
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
                out += strings::ToUtf8(name.substr(start, i - start));
                AppendHex4(out, '%', c);
                start = i + 1;
            }
        }
        out += strings::ToUtf8(name.substr(start));
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
            *text += strings::FromUtf8(pending);
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
            *text += strings::FromUtf8(pending);
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
            current += strings::FromUtf8(pending);
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
    current += strings::FromUtf8(pending);
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

}  // namespace

int RootIndex(HKey handle) {
    for (int i = 0; i < kRootCount; ++i) {
        if (kRoots[i].handle == handle) return i;
    }
    return -1;
}

std::string HiveText(const Hive& hive) {
    std::string out = "; Registry of the Trellis sandbox: [key] sections with name=type:data values.\n";
    std::vector<const std::u16string*> path;
    for (const Key& root : hive.roots) WriteKey(out, root, path);
    return out;
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
                if (EqualsIgnoreCase(names[0], kRoots[i].name)) current = &hive->roots[i];
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

HiveFile::HiveFile(bool exclusive) : folder_(SandboxRoot() + "/registry") {
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

HiveFile::~HiveFile() {
    if (lock_ >= 0) ::close(lock_);
}

long HiveFile::Load(Hive* hive) {
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

long HiveFile::Save(const Hive& hive) {
    const std::string text = HiveText(hive);
    const std::string temp = DataPath() + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return kErrorRegistryIoFailed;
    const bool written = WriteAll(fd, text.data(), text.size());
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), DataPath().c_str()) != 0) {
        ::unlink(temp.c_str());
        return kErrorRegistryIoFailed;
    }
    return kRegSuccess;
}

}  // namespace platform::posix::registry
