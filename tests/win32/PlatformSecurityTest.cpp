// The access list that CreateDirectoryForAccounts gives a new folder, read
// back from Windows.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/Files.h"
#include "support/ScratchFolder.h"

namespace {

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return std::wstring();
    std::wstring result(text);
    LocalFree(text);
    return result;
}

TEST(PlatformSecurity, FolderForAccountsGrantsFullControlToEachAccount) {
    test::ScratchFolder folder;
    const std::u16string path = folder / u"secure";
    const char16_t* const sids[] = {u"S-1-5-18", u"S-1-5-32-544"};
    ASSERT_TRUE(platform::CreateDirectoryForAccounts(path, sids, 2));

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(reinterpret_cast<const wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    std::set<std::wstring> granted;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERITED_ACE) != 0) continue;
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        // GENERIC_ALL is stored as such or mapped to the file rights.
        EXPECT_TRUE(allowed->Mask == GENERIC_ALL || (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS)
            << std::hex << allowed->Mask;
        EXPECT_EQ(header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        granted.insert(SidText(const_cast<DWORD*>(&allowed->SidStart)));
    }
    LocalFree(descriptor);
    // Two entries, LocalSystem's and Administrators'. Wine keeps a folder's
    // access list as Unix permissions and reads the Administrators entry back
    // as the current user, so only LocalSystem is checked by name.
    EXPECT_EQ(granted.size(), 2u);
    EXPECT_EQ(granted.count(L"S-1-5-18"), 1u);

    const char16_t* const bad[] = {u"not a SID"};
    EXPECT_FALSE(platform::CreateDirectoryForAccounts(folder / u"other", bad, 1));
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ERROR_INVALID_SID));
}

}  // namespace
