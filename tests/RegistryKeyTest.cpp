// The registry key wrapper, on either backend's registry.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Registry.h"
#include "platform/os/RegistryKey.h"
#include "support/ScratchFolder.h"

namespace {

class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::UsePrivateSandbox();
        base = u"Software\\TrellisTest\\Key" + ToWideUnsigned(static_cast<unsigned>(std::rand()));
    }
    void TearDown() override {
        // Deepest first: a key with subkeys is refused.
        for (const char16_t* sub : {u"\\a\\b", u"\\a", u"\\values", u""}) {
            RegistryKey parent(u"Software\\TrellisTest", platform::kHKeyCurrentUser, true);
            parent.DeleteSubkey(base.substr(21) + sub, true);
        }
    }
    std::u16string base;
};

TEST_F(RegistryKeyTest, StringsRoundTripAndOtherTypesReadEmpty) {
    RegistryKey key(base, platform::kHKeyCurrentUser, true);
    EXPECT_FALSE(key.IsOpen());  // missing is no error
    EXPECT_EQ(key.ReadString(u"x"), u"");
    const std::u16string texts[] = {u"C:\\App\\web.config", u"", u"*", u"\u00e9\u20ac\U0001F600"};
    for (const auto& text : texts) {
        ASSERT_TRUE(key.WriteString(u"value", text));
        EXPECT_TRUE(key.IsOpen());
        EXPECT_EQ(key.ReadString(u"value"), text);
        EXPECT_EQ(RegistryKey(base, platform::kHKeyCurrentUser, false).ReadString(u"value"), text);
    }
    const std::uint32_t dword = 7;
    ASSERT_EQ(platform::RegSetValueExW(key.Handle(), u"number", platform::kRegDword,
                                       reinterpret_cast<const std::uint8_t*>(&dword), 4),
              platform::kRegSuccess);
    EXPECT_EQ(key.ReadString(u"number"), u"");
    const char16_t expandable[] = u"%TEMP%\\x";
    ASSERT_EQ(platform::RegSetValueExW(key.Handle(), u"expand", platform::kRegExpandSz,
                                       reinterpret_cast<const std::uint8_t*>(expandable), sizeof(expandable)),
              platform::kRegSuccess);
    EXPECT_EQ(key.ReadString(u"expand"), u"%TEMP%\\x");  // not expanded
    EXPECT_EQ(key.ValueCount(), 3u);
    EXPECT_TRUE(key.DeleteValue(u"number"));
    EXPECT_EQ(key.ValueCount(), 2u);
}

TEST_F(RegistryKeyTest, FullNameDropsOneTrailingBackslash) {
    EXPECT_EQ(RegistryKey(u"Software\\A\\", platform::kHKeyCurrentUser, false).FullName(),
              u"HKEY_CURRENT_USER\\Software\\A");
    EXPECT_EQ(RegistryKey(u"Software\\A", platform::kHKeyLocalMachine, false).FullName(),
              u"HKEY_LOCAL_MACHINE\\Software\\A");
    EXPECT_EQ(RegistryKey::RootName(platform::kHKeyUsers), u"HKEY_USERS");
    EXPECT_EQ(RegistryKey::RootName(12345), u"");
}

TEST_F(RegistryKeyTest, DeletingSubkeys) {
    RegistryKey key(base, platform::kHKeyCurrentUser, true);
    ASSERT_TRUE(key.Create());
    ASSERT_TRUE(RegistryKey(base + u"\\values", platform::kHKeyCurrentUser, true).WriteString(u"v", u"1"));
    ASSERT_TRUE(RegistryKey(base + u"\\a\\b", platform::kHKeyCurrentUser, true).Create());
    EXPECT_EQ(key.SubkeyCount(), 2u);

    // A subkey with values stays without force, and that counts as success.
    EXPECT_TRUE(key.DeleteSubkey(u"values", false));
    EXPECT_TRUE(RegistryKey(base + u"\\values", platform::kHKeyCurrentUser, false).IsOpen());
    EXPECT_TRUE(key.DeleteSubkey(u"values", true));
    EXPECT_FALSE(RegistryKey(base + u"\\values", platform::kHKeyCurrentUser, false).IsOpen());

    // A subkey with subkeys is refused, even with force.
    EXPECT_FALSE(key.DeleteSubkey(u"a", true));
    EXPECT_TRUE(key.DeleteSubkey(u"a\\b", false));
    EXPECT_TRUE(key.DeleteSubkey(u"a", false));
    EXPECT_EQ(key.SubkeyCount(), 0u);
    EXPECT_FALSE(key.DeleteSubkey(u"never-there", true));
}

TEST_F(RegistryKeyTest, AReadOnlyKeyCannotWriteAnExistingKey) {
    ASSERT_TRUE(RegistryKey(base, platform::kHKeyCurrentUser, true).WriteString(u"v", u"1"));
    RegistryKey readOnly(base, platform::kHKeyCurrentUser, false);
    ASSERT_TRUE(readOnly.IsOpen());
    EXPECT_FALSE(readOnly.WriteString(u"v", u"2"));
    EXPECT_EQ(readOnly.ReadString(u"v"), u"1");
}

}  // namespace
