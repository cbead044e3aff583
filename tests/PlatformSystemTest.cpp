// GUID parsing, environment, process identity and WOW64 of platform/System.h
// on both backends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Files.h"
#include "platform/System.h"

namespace {

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void UnsetEnvironment(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

TEST(PlatformSystem, GuidTextsAndTheirBytes) {
    platform::Guid guid{};
    ASSERT_TRUE(platform::CLSIDFromString(u"{00112233-4455-6677-8899-AABBCCDDEEFF}", &guid));
    // Data1, Data2 and Data3 are little-endian in memory, Data4 in text order.
    const platform::Guid expected = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                     0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(guid, expected);
    platform::Guid lower{};
    ASSERT_TRUE(platform::CLSIDFromString(u"{00112233-4455-6677-8899-aabbccddeeff}", &lower));
    EXPECT_EQ(lower, expected);

    const char16_t* const rejected[] = {
        u"00112233-4455-6677-8899-AABBCCDDEEFF",     // no braces
        u"{00112233-4455-6677-8899-AABBCCDDEEF}",    // one digit short
        u"{00112233-4455-6677-8899-AABBCCDDEEFFF}",  // one digit more
        u"{0011223-34455-6677-8899-AABBCCDDEEFF}",   // dash out of place
        u"{00112233-4455-6677-8899-AABBCCDDEEFG}",   // not hex
        u"{00112233 4455-6677-8899-AABBCCDDEEFF}",
        u"(00112233-4455-6677-8899-AABBCCDDEEFF)",
        u"Scripting.FileSystemObject",               // a ProgID is no GUID text
        u"",
    };
    for (const char16_t* text : rejected) {
        EXPECT_FALSE(platform::CLSIDFromString(text, &guid)) << std::u16string(text).size();
    }
}

TEST(PlatformSystem, EnvironmentVariables) {
    SetEnvironment("TRELLIS_TEST_VARIABLE", "some value");
    bool exists = false;
    EXPECT_EQ(platform::GetEnvironmentVariableW(u"TRELLIS_TEST_VARIABLE", &exists), u"some value");
    EXPECT_TRUE(exists);
    EXPECT_EQ(platform::GetEnvironmentVariableW(u"trellis_test_variable"), u"some value");  // names ignore case
    UnsetEnvironment("TRELLIS_TEST_VARIABLE");
    EXPECT_EQ(platform::GetEnvironmentVariableW(u"TRELLIS_TEST_VARIABLE", &exists), u"");
    EXPECT_FALSE(exists);
    EXPECT_EQ(platform::GetLastError(), 203u);  // ERROR_ENVVAR_NOT_FOUND
}

// The tests run as 64-bit programs, which have no file-system redirection.
TEST(PlatformSystem, NoRedirectionOutsideWow64) {
    if (platform::IsWow64Process()) GTEST_SKIP() << "a 32-bit build under WOW64";
    void* old = reinterpret_cast<void*>(1);
    EXPECT_FALSE(platform::Wow64DisableWow64FsRedirection(&old));
    EXPECT_EQ(platform::GetLastError(), 1u);  // ERROR_INVALID_FUNCTION
}

}  // namespace
