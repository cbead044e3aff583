// The registry functions of platform/Registry.h over the stand-in's file
// (RegistryHive.h). Every call takes the file's lock (shared to read,
// exclusive to change), reads the whole file and, when it changed something,
// writes it back, so that other processes see each other's changes.
//
// Key and value names compare without regard to case and keep the case they
// were created with. Subkeys enumerate in the order of their upper-case
// names, values in the order they were created. Handles are a table of this
// process (root and path); a handle whose key was deleted fails with
// ERROR_KEY_DELETED. HKEY_CLASSES_ROOT is a root of its own here, not a view
// of the two Classes keys, and the WOW64 view flags are ignored. A test can
// make any one call fail with ERROR_REGISTRY_IO_FAILED (FaultInjection.h).
#include "platform/Registry.h"

#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "platform/posix/FaultInjection.h"
#include "platform/posix/RegistryHive.h"

namespace platform {
namespace {

using posix::registry::Hive;
using posix::registry::HiveFile;
using posix::registry::Key;
using posix::registry::RootIndex;
using posix::registry::Value;

constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorBadPathname = 161;
constexpr long kErrorRegistryIoFailed = 1016;
constexpr long kErrorKeyDeleted = 1018;

constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kMaximumAllowed = 0x02000000u;
constexpr std::uint32_t kKeyWow64Mask = 0x0300;  // KEY_WOW64_64KEY | KEY_WOW64_32KEY

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
