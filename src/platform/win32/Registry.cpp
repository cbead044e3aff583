// Windows registry functions over advapi32. Our HKey holds either one of the
// predefined root values (mapped to the real HKEY_* constants, which are
// sign-extended on 64-bit Windows) or a handle that Windows gave us.
#include <windows.h>

#include <vector>

#include "platform/Registry.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

using win32::U;
using win32::W;

HKEY ToHkey(HKey key) {
    switch (key) {
    case kHKeyClassesRoot: return HKEY_CLASSES_ROOT;
    case kHKeyCurrentUser: return HKEY_CURRENT_USER;
    case kHKeyLocalMachine: return HKEY_LOCAL_MACHINE;
    case kHKeyUsers: return HKEY_USERS;
    case kHKeyCurrentConfig: return HKEY_CURRENT_CONFIG;
    default: return reinterpret_cast<HKEY>(key);
    }
}

HKey FromHkey(HKEY key) { return reinterpret_cast<HKey>(key); }

}  // namespace

long RegOpenKeyExW(HKey root, const std::u16string& subkey, std::uint32_t access, HKey* result) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(ToHkey(root), W(subkey), 0, access, &opened);
    *result = status == ERROR_SUCCESS ? FromHkey(opened) : 0;
    return status;
}

long RegCreateKeyExW(HKey root, const std::u16string& subkey, std::uint32_t access, HKey* result) {
    HKEY created = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(ToHkey(root), W(subkey), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                             nullptr, &created, nullptr);
    *result = status == ERROR_SUCCESS ? FromHkey(created) : 0;
    return status;
}

long RegQueryValueExW(HKey key, const std::u16string& name, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* size) {
    DWORD valueType = 0;
    DWORD valueSize = size != nullptr ? *size : 0;
    const LSTATUS status = ::RegQueryValueExW(ToHkey(key), W(name), nullptr, &valueType, data,
                                              size != nullptr ? &valueSize : nullptr);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        if (type != nullptr) *type = valueType;
        if (size != nullptr) *size = valueSize;
    }
    return status;
}

long RegSetValueExW(HKey key, const std::u16string& name, std::uint32_t type, const std::uint8_t* data,
                    std::uint32_t size) {
    return ::RegSetValueExW(ToHkey(key), W(name), 0, type, data, size);
}

long RegDeleteValueW(HKey key, const std::u16string& name) { return ::RegDeleteValueW(ToHkey(key), W(name)); }

long RegDeleteKeyW(HKey key, const std::u16string& subkey) { return ::RegDeleteKeyW(ToHkey(key), W(subkey)); }

long RegQueryInfoKeyW(HKey key, std::uint32_t* subkeyCount, std::uint32_t* valueCount) {
    DWORD subkeys = 0, values = 0;
    const LSTATUS status = ::RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                              &values, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        if (subkeyCount != nullptr) *subkeyCount = subkeys;
        if (valueCount != nullptr) *valueCount = values;
    }
    return status;
}

long RegEnumKeyExW(HKey key, std::uint32_t index, std::u16string* name) {
    wchar_t buffer[256];  // key names have at most 255 characters
    DWORD length = 256;
    const LSTATUS status =
        ::RegEnumKeyExW(ToHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) *name = U(buffer, length);
    return status;
}

long RegEnumValueW(HKey key, std::uint32_t index, std::u16string* name) {
    std::vector<wchar_t> buffer(16384);  // value names have at most 16383 characters
    DWORD length = static_cast<DWORD>(buffer.size());
    const LSTATUS status =
        ::RegEnumValueW(ToHkey(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) *name = U(buffer.data(), length);
    return status;
}

long RegCloseKey(HKey key) { return ::RegCloseKey(ToHkey(key)); }

}  // namespace platform
