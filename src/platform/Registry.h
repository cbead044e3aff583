// Windows registry functions, with UTF-16 names.
//
// The POSIX backend keeps the registry in a file under the sandbox root
// (platform/posix/Sandbox.h), locked and re-read on every call, so that
// separate processes see the same keys. Results are Windows error codes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An open key. The predefined roots have fixed values; 0 is no key.
using HKey = std::uintptr_t;

constexpr HKey kHKeyClassesRoot = 0x80000000u;
constexpr HKey kHKeyCurrentUser = 0x80000001u;
constexpr HKey kHKeyLocalMachine = 0x80000002u;
constexpr HKey kHKeyUsers = 0x80000003u;
constexpr HKey kHKeyCurrentConfig = 0x80000005u;

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyWrite = 0x20006;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;

constexpr long kRegSuccess = 0;
constexpr long kRegFileNotFound = 2;
constexpr long kRegAccessDenied = 5;
constexpr long kRegInvalidHandle = 6;
constexpr long kRegMoreData = 234;
constexpr long kRegNoMoreItems = 259;

long RegOpenKeyExW(HKey root, const std::u16string& subkey, std::uint32_t access, HKey* result);
long RegCreateKeyExW(HKey root, const std::u16string& subkey, std::uint32_t access, HKey* result);
// RegQueryValueExW: with a null data pointer, *size receives the data size in bytes.
long RegQueryValueExW(HKey key, const std::u16string& name, std::uint32_t* type,
                      std::uint8_t* data, std::uint32_t* size);
long RegSetValueExW(HKey key, const std::u16string& name, std::uint32_t type,
                    const std::uint8_t* data, std::uint32_t size);
long RegDeleteValueW(HKey key, const std::u16string& name);
// Refuses (kRegAccessDenied) a key that still has subkeys.
long RegDeleteKeyW(HKey key, const std::u16string& subkey);
long RegQueryInfoKeyW(HKey key, std::uint32_t* subkeyCount, std::uint32_t* valueCount);
long RegEnumKeyExW(HKey key, std::uint32_t index, std::u16string* name);
long RegEnumValueW(HKey key, std::uint32_t index, std::u16string* name);
long RegCloseKey(HKey key);

}  // namespace platform
