#include "support/BackupTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

#include "installer/CustomActionData.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"

namespace test {

void DeleteRegistryTree(platform::HKey parent, const std::u16string& name) {
    platform::HKey key = 0;
    if (platform::RegOpenKeyExW(parent, name, platform::kKeyAllAccess, &key) != platform::kRegSuccess) return;
    std::u16string child;
    while (platform::RegEnumKeyExW(key, 0, &child) == platform::kRegSuccess) DeleteRegistryTree(key, child);
    platform::RegCloseKey(key);
    platform::RegDeleteKeyW(parent, name);
}

std::u16string ActionDataText(const std::vector<ActionSection>& sections) {
    std::u16string text;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        if (s > 0) text.push_back(kSectionSeparator);
        for (std::size_t r = 0; r < sections[s].size(); ++r) {
            if (r > 0) text.push_back(kRowSeparator);
            for (std::size_t f = 0; f < sections[s][r].size(); ++f) {
                if (f > 0) text.push_back(kFieldSeparator);
                text += EscapeField(sections[s][r][f]);
            }
        }
    }
    return text;
}

void DeleteNorrvikTree() {
    UsePrivateSandbox();
    DeleteRegistryTree(platform::kHKeyCurrentUser, u"Software\\Norrvik");
}

bool CurrentUserKeyExists(const std::u16string& subkey) {
    platform::HKey key = 0;
    if (platform::RegOpenKeyExW(platform::kHKeyCurrentUser, subkey, platform::kKeyRead, &key) != platform::kRegSuccess)
        return false;
    platform::RegCloseKey(key);
    return true;
}

std::u16string CurrentUserValue(const std::u16string& subkey, const std::u16string& name) {
    platform::HKey key = 0;
    if (platform::RegOpenKeyExW(platform::kHKeyCurrentUser, subkey, platform::kKeyRead, &key) != platform::kRegSuccess)
        return u"<absent>";
    std::uint32_t type = 0, size = 0;
    std::u16string text = u"<absent>";
    if (platform::RegQueryValueExW(key, name, &type, nullptr, &size) == platform::kRegSuccess) {
        std::vector<char16_t> buffer(size / 2 + 1, u'\0');
        if (platform::RegQueryValueExW(key, name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &size) ==
            platform::kRegSuccess) {
            text.assign(buffer.data(), size / 2);
            if (!text.empty() && text.back() == u'\0') text.pop_back();
        }
    }
    platform::RegCloseKey(key);
    return text;
}

void SetCurrentUserValue(const std::u16string& subkey, const std::u16string& name, const std::u16string& text) {
    platform::HKey key = 0;
    ASSERT_EQ(platform::RegCreateKeyExW(platform::kHKeyCurrentUser, subkey, platform::kKeyAllAccess, &key),
              platform::kRegSuccess);
    ASSERT_EQ(platform::RegSetValueExW(key, name, platform::kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                       static_cast<std::uint32_t>((text.size() + 1) * 2)),
              platform::kRegSuccess);
    platform::RegCloseKey(key);
}

std::string ReadBytes(const std::u16string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, &bytes)) << "cannot read the file";
    return bytes;
}

void WriteBytes(const std::u16string& path, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << "cannot write the file";
}

bool FileExists(const std::u16string& path) {
    return platform::GetFileAttributesW(ToLongPath(path)) != platform::kInvalidFileAttributes;
}

}  // namespace test
