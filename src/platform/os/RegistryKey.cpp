#include "platform/os/RegistryKey.h"

#include <vector>

namespace {
constexpr std::uint32_t kReadWriteAccess = platform::kKeyRead | platform::kKeyWrite;  // 0x2001F
}

WideString RegistryKey::RootName(platform::HKey root) {
    switch (root) {
    case platform::kHKeyClassesRoot: return u"HKEY_CLASSES_ROOT";
    case platform::kHKeyCurrentUser: return u"HKEY_CURRENT_USER";
    case platform::kHKeyLocalMachine: return u"HKEY_LOCAL_MACHINE";
    case platform::kHKeyUsers: return u"HKEY_USERS";
    case platform::kHKeyCurrentConfig: return u"HKEY_CURRENT_CONFIG";
    default: return WideString();
    }
}

RegistryKey::RegistryKey(const WideString& subkey, platform::HKey root, bool writable)
    : subkey_(subkey), root_(root), access_(writable ? kReadWriteAccess : platform::kKeyRead) {
    WideString trimmed = subkey;
    if (!trimmed.empty() && trimmed.back() == u'\\') trimmed.pop_back();
    fullName_ = RootName(root) + u"\\" + trimmed;
    platform::HKey handle = 0;
    if (Open(&handle, false)) handle_ = handle;
}

RegistryKey::~RegistryKey() { Close(); }

bool RegistryKey::Open(platform::HKey* handle, bool create) {
    status_ = create ? platform::RegCreateKeyExW(root_, subkey_, access_ | platform::kKeyAllAccess, handle)
                     : platform::RegOpenKeyExW(root_, subkey_, access_, handle);
    return status_ == platform::kRegSuccess && *handle != 0;
}

bool RegistryKey::Create() {
    if (handle_ != 0) return true;
    platform::HKey handle = 0;
    if (!Open(&handle, true)) return false;
    handle_ = handle;
    return true;
}

WideString RegistryKey::ReadString(const WideString& valueName) const {
    WideString text;
    if (QueryString(valueName, &text) != platform::kRegSuccess) text.clear();
    return text;
}

long RegistryKey::QueryString(const WideString& valueName, WideString* text) const {
    text->clear();
    if (handle_ == 0) return status_ == platform::kRegSuccess ? platform::kRegFileNotFound : status_;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (const long result = platform::RegQueryValueExW(handle_, valueName, &type, nullptr, &size);
        result != platform::kRegSuccess)
        return result;
    if ((type != platform::kRegSz && type != platform::kRegExpandSz) || size == 0) return platform::kRegSuccess;
    std::vector<char16_t> buffer(size / 2 + 1, u'\0');
    std::uint32_t bytes = static_cast<std::uint32_t>(buffer.size() * 2);
    if (const long result = platform::RegQueryValueExW(
            handle_, valueName, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &bytes);
        result != platform::kRegSuccess)
        return result;
    text->assign(buffer.data(), bytes / 2);
    if (!text->empty() && text->back() == u'\0') text->pop_back();
    return platform::kRegSuccess;
}

bool RegistryKey::WriteString(const WideString& valueName, const WideString& text) {
    if (!Create()) return false;
    const auto size = static_cast<std::uint32_t>((text.size() + 1) * 2);
    status_ = platform::RegSetValueExW(handle_, valueName, platform::kRegSz,
                                       reinterpret_cast<const std::uint8_t*>(text.c_str()), size);
    return status_ == platform::kRegSuccess;
}

bool RegistryKey::DeleteValue(const WideString& valueName) {
    if (handle_ == 0) return false;
    status_ = platform::RegDeleteValueW(handle_, valueName);
    return status_ == platform::kRegSuccess;
}

bool RegistryKey::DeleteSubkey(const WideString& name, bool force) {
    if (handle_ == 0) return false;
    if (!force) {
        platform::HKey child = 0;
        if (platform::RegOpenKeyExW(handle_, name, platform::kKeyRead, &child) == platform::kRegSuccess) {
            std::uint32_t values = 0;
            const long info = platform::RegQueryInfoKeyW(child, nullptr, &values);
            platform::RegCloseKey(child);
            if (info == platform::kRegSuccess && values > 0) return true;
        }
    }
    return platform::RegDeleteKeyW(handle_, name) == platform::kRegSuccess;
}

std::uint32_t RegistryKey::ValueCount() const {
    std::uint32_t values = 0;
    if (handle_ == 0 || platform::RegQueryInfoKeyW(handle_, nullptr, &values) != platform::kRegSuccess) return 0;
    return values;
}

std::uint32_t RegistryKey::SubkeyCount() const {
    std::uint32_t subkeys = 0;
    if (handle_ == 0 || platform::RegQueryInfoKeyW(handle_, &subkeys, nullptr) != platform::kRegSuccess) return 0;
    return subkeys;
}

void RegistryKey::Close() {
    if (handle_ != 0) platform::RegCloseKey(handle_);
    handle_ = 0;
}
