// The registry functions of platform/Registry.h, run against the backend of
// the build: the sandbox's registry file on POSIX, Wine's registry under Wine.
// Every test works below HKEY_CURRENT_USER\Software\TrellisTest\<random>.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "support/BackupTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

using namespace platform;

std::vector<std::uint8_t> Bytes(const std::u16string& text) {
    std::vector<std::uint8_t> bytes((text.size() + 1) * 2);
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

std::vector<std::uint8_t> Bytes(std::uint32_t number) {
    std::vector<std::uint8_t> bytes(4);
    std::memcpy(bytes.data(), &number, 4);
    return bytes;
}

class PlatformRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        test::UsePrivateSandbox();
        std::random_device random;
        path_ = u"Software\\TrellisTest\\run" + Hex(random()) + Hex(random());
        ASSERT_EQ(RegCreateKeyExW(kHKeyCurrentUser, path_, kKeyAllAccess, &base_), kRegSuccess);
        ASSERT_NE(base_, 0u);
    }
    void TearDown() override {
        if (base_ != 0) RegCloseKey(base_);
        test::DeleteRegistryTree(kHKeyCurrentUser, path_);
        HKey parent = 0;
        if (RegOpenKeyExW(kHKeyCurrentUser, u"Software\\TrellisTest", kKeyRead, &parent) == kRegSuccess) {
            std::uint32_t subkeys = 1, values = 1;
            const bool empty = RegQueryInfoKeyW(parent, &subkeys, &values) == kRegSuccess && subkeys == 0 && values == 0;
            RegCloseKey(parent);
            if (empty) RegDeleteKeyW(kHKeyCurrentUser, u"Software\\TrellisTest");
        }
    }

    static std::u16string Hex(unsigned value) {
        std::u16string out;
        for (int i = 0; i < 8; ++i) out += u"0123456789abcdef"[(value >> (4 * i)) & 0xF];
        return out;
    }

    long Set(HKey key, const std::u16string& name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
        return RegSetValueExW(key, name, type, data.data(), static_cast<std::uint32_t>(data.size()));
    }

    // The value's bytes after asking for its size first, as callers do.
    std::vector<std::uint8_t> Get(HKey key, const std::u16string& name, std::uint32_t* type = nullptr) {
        std::uint32_t size = 0;
        EXPECT_EQ(RegQueryValueExW(key, name, type, nullptr, &size), kRegSuccess);
        std::vector<std::uint8_t> data(size + 1, 0xCC);
        std::uint32_t got = static_cast<std::uint32_t>(data.size());
        EXPECT_EQ(RegQueryValueExW(key, name, type, data.data(), &got), kRegSuccess);
        EXPECT_EQ(got, size);
        data.resize(got);
        return data;
    }

    // Names by index until ERROR_NO_MORE_ITEMS.
    static std::set<std::u16string> Names(HKey key, long (*enumerate)(HKey, std::uint32_t, std::u16string*)) {
        std::set<std::u16string> names;
        std::u16string name;
        long status;
        for (std::uint32_t index = 0; (status = enumerate(key, index, &name)) == kRegSuccess; ++index) {
            names.insert(name);
        }
        EXPECT_EQ(status, kRegNoMoreItems);
        return names;
    }
    static std::set<std::u16string> Subkeys(HKey key) { return Names(key, RegEnumKeyExW); }
    static std::set<std::u16string> ValueNames(HKey key) { return Names(key, RegEnumValueW); }

    std::u16string path_;
    HKey base_ = 0;
};

TEST_F(PlatformRegistry, StringValueSizesAndShortBuffers) {
    ASSERT_EQ(Set(base_, u"Name", kRegSz, Bytes(u"value")), kRegSuccess);

    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(base_, u"Name", &type, nullptr, &size), kRegSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 12u);  // five characters and the NUL

    std::uint8_t small[4] = {};
    std::uint32_t smallSize = sizeof small;
    EXPECT_EQ(RegQueryValueExW(base_, u"Name", &type, small, &smallSize), kRegMoreData);
    EXPECT_EQ(smallSize, 12u);

    EXPECT_EQ(Get(base_, u"Name"), Bytes(u"value"));
    EXPECT_EQ(Get(base_, u"NAME"), Bytes(u"value"));  // names ignore case

    ASSERT_EQ(Set(base_, u"name", kRegExpandSz, Bytes(u"%TEMP%\\x")), kRegSuccess);
    EXPECT_EQ(Get(base_, u"Name", &type), Bytes(u"%TEMP%\\x"));
    EXPECT_EQ(type, kRegExpandSz);
    EXPECT_EQ(ValueNames(base_), std::set<std::u16string>{u"Name"});  // keeps its first spelling
}

TEST_F(PlatformRegistry, ValueKindsKeepTheirBytes) {
    struct Case {
        std::u16string name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    const Case cases[] = {
        {u"", kRegSz, Bytes(u"the default value")},
        {u"Count", kRegDword, Bytes(0x12345678u)},
        {u"Blob", kRegBinary, {0x00, 0xFF, 0x0A, 0x00, 0x22}},
        {u"Empty", kRegBinary, {}},
        {u"Odd text", kRegSz, {'a', 0, 'b'}},  // not a whole text
        {u"Controls \"quoted\" \\ [x]", kRegSz, Bytes(u"tab\t cr\r lf\n quote\" backslash\\ %41")},
        {u"Unicode \u00e9\u4e2d\U0001F600", kRegSz, Bytes(u"\u00e9\u4e2d\U0001F600 lone \xD800 and \xDC01.")},
        {u"Other type", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const Case& c : cases) ASSERT_EQ(Set(base_, c.name, c.type, c.data), kRegSuccess);

    HKey again = 0;
    ASSERT_EQ(RegOpenKeyExW(kHKeyCurrentUser, path_, kKeyRead, &again), kRegSuccess);
    for (const Case& c : cases) {
        std::uint32_t type = 0;
        EXPECT_EQ(Get(again, c.name, &type), c.data) << c.name.size();
        EXPECT_EQ(type, c.type) << c.name.size();
    }
    std::uint32_t subkeys = 9, values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(again, &subkeys, &values), kRegSuccess);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, sizeof cases / sizeof cases[0]);
    EXPECT_EQ(RegCloseKey(again), kRegSuccess);
}

TEST_F(PlatformRegistry, MissingKeysAndValues) {
    HKey key = 123;
    EXPECT_EQ(RegOpenKeyExW(base_, u"missing", kKeyRead, &key), kRegFileNotFound);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(RegOpenKeyExW(kHKeyCurrentUser, path_ + u"\\missing\\deeper", kKeyRead, &key), kRegFileNotFound);
    std::uint32_t size = 0;
    EXPECT_EQ(RegQueryValueExW(base_, u"missing", nullptr, nullptr, &size), kRegFileNotFound);
    EXPECT_EQ(RegDeleteValueW(base_, u"missing"), kRegFileNotFound);
    EXPECT_EQ(RegDeleteKeyW(base_, u"missing"), kRegFileNotFound);
}

TEST_F(PlatformRegistry, CreateMakesTheWholePathAndOpensExistingKeys) {
    HKey deep = 0;
    ASSERT_EQ(RegCreateKeyExW(base_, u"One\\Two\\Three", kKeyAllAccess, &deep), kRegSuccess);
    ASSERT_EQ(Set(deep, u"v", kRegDword, Bytes(7u)), kRegSuccess);
    RegCloseKey(deep);

    HKey same = 0;
    ASSERT_EQ(RegCreateKeyExW(kHKeyCurrentUser, path_ + u"\\one\\TWO\\three", kKeyRead, &same), kRegSuccess);
    EXPECT_EQ(Get(same, u"v"), Bytes(7u));
    RegCloseKey(same);

    HKey two = 0;
    ASSERT_EQ(RegOpenKeyExW(base_, u"ONE\\two", kKeyRead, &two), kRegSuccess);
    EXPECT_EQ(Subkeys(two), std::set<std::u16string>{u"Three"});  // the case it was created with
    RegCloseKey(two);
}

TEST_F(PlatformRegistry, EnumerationAndCounts) {
    for (const char16_t* name : {u"beta", u"Alpha", u"gamma"}) {
        HKey child = 0;
        ASSERT_EQ(RegCreateKeyExW(base_, name, kKeyAllAccess, &child), kRegSuccess);
        RegCloseKey(child);
    }
    ASSERT_EQ(Set(base_, u"first", kRegSz, Bytes(u"1")), kRegSuccess);
    ASSERT_EQ(Set(base_, u"second", kRegDword, Bytes(2u)), kRegSuccess);

    std::uint32_t subkeys = 0, values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(base_, &subkeys, &values), kRegSuccess);
    EXPECT_EQ(subkeys, 3u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(Subkeys(base_), (std::set<std::u16string>{u"Alpha", u"beta", u"gamma"}));
    EXPECT_EQ(ValueNames(base_), (std::set<std::u16string>{u"first", u"second"}));

    ASSERT_EQ(RegDeleteValueW(base_, u"FIRST"), kRegSuccess);
    ASSERT_EQ(RegQueryInfoKeyW(base_, nullptr, &values), kRegSuccess);
    EXPECT_EQ(values, 1u);
    EXPECT_EQ(ValueNames(base_), std::set<std::u16string>{u"second"});
}

}  // namespace
