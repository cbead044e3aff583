// The registry stand-in's data: the keys and values of the five roots in
// memory (a Hive), their text form, and the file that holds them under the
// sandbox root with its lock. Registry.cpp runs the Windows functions on it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/posix/CaseFolding.h"

namespace platform::posix::registry {

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

// The index of a predefined root in kRoots, or -1.
int RootIndex(HKey handle);

struct Hive {
    Key roots[kRootCount];
    Hive() {
        for (int i = 0; i < kRootCount; ++i) roots[i].name = kRoots[i].name;
    }
};

// The file's text for the hive, and the hive of a file's text; false when
// the text is not one this stand-in wrote (or a person edited well).
std::string HiveText(const Hive& hive);
bool ParseHive(const std::string& text, Hive* hive);

// The registry file, locked for the object's life: shared to read,
// exclusive to change. Load and Save give Windows error codes.
class HiveFile {
public:
    explicit HiveFile(bool exclusive);
    ~HiveFile();
    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;

    long Load(Hive* hive);
    long Save(const Hive& hive);

private:
    std::string DataPath() const { return folder_ + "/registry.txt"; }

    std::string folder_;
    int lock_ = -1;
};

}  // namespace platform::posix::registry
