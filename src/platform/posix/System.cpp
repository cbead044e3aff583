// System information without Windows. The sandbox stands for a 64-bit
// Windows seen from a 64-bit process: no WOW64, so the redirection calls
// fail with ERROR_INVALID_FUNCTION as they do there.
#include "platform/System.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/posix/CaseFolding.h"
#include "platform/posix/MessageBoxHook.h"

extern char** environ;

namespace platform {
namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorEnvVarNotFound = 203;
constexpr int kIdOk = 1;

std::mutex g_hookMutex;
posix::MessageBoxHook g_hook;

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

namespace posix {

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}

}  // namespace posix

bool IsWow64Process() { return false; }

bool Wow64DisableWow64FsRedirection(void** oldValue) {
    if (oldValue != nullptr) *oldValue = nullptr;
    SetLastError(kErrorInvalidFunction);
    return false;
}

bool Wow64RevertWow64FsRedirection(void*) {
    SetLastError(kErrorInvalidFunction);
    return false;
}

// Only the braced form; the GUID's fields are stored as Windows keeps them in
// memory: Data1, Data2 and Data3 little-endian, Data4 byte by byte.
// A version 4 GUID from the kernel's random source.
bool CoCreateGuid(Guid* guid) {
    std::size_t filled = 0;
    while (filled < guid->size()) {
        const ssize_t n = ::getrandom(guid->data() + filled, guid->size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        filled += static_cast<std::size_t>(n);
    }
    (*guid)[7] = static_cast<std::uint8_t>(((*guid)[7] & 0x0F) | 0x40);
    (*guid)[8] = static_cast<std::uint8_t>(((*guid)[8] & 0x3F) | 0x80);
    return true;
}

bool CLSIDFromString(const std::u16string& text, Guid* guid) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
    const std::u16string body = text.substr(1, 36);
    std::uint8_t bytes[16];
    std::size_t out = 0;
    for (std::size_t i = 0; i < body.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (body[i] != u'-') return false;
            ++i;
            continue;
        }
        const int high = HexValue(body[i]), low = HexValue(body[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[out++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    if (out != 16) return false;
    // The text is big-endian per field; swap the first three into memory order.
    const std::uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) (*guid)[i] = bytes[order[i]];
    return true;
}

int MessageBoxW(const std::u16string& text, const std::u16string& caption, std::uint32_t type) {
    posix::MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) return hook(text, caption, type);
    std::fprintf(stderr, "[message box 0x%X] %s: %s\n", type, strings::ToUtf8(caption).c_str(),
                 strings::ToUtf8(text).c_str());
    return kIdOk;
}

// TRELLIS_PROCESS_SID lets a test run as another account (LocalSystem is
// S-1-5-18); otherwise a user SID made from the Unix user id.
std::u16string GetProcessUserSid() {
    if (const char* sid = std::getenv("TRELLIS_PROCESS_SID"); sid != nullptr && *sid != '\0') {
        return strings::FromUtf8(sid);
    }
    return strings::FromUtf8("S-1-5-21-1000-1000-1000-" + std::to_string(::getuid()));
}

// Windows looks environment names up without regard to case: the exact name
// first, then any that differs only in case.
std::u16string GetEnvironmentVariableW(const std::u16string& name, bool* exists) {
    if (exists != nullptr) *exists = false;
    if (name.empty() || name.find(u'=') != std::u16string::npos) {
        SetLastError(kErrorEnvVarNotFound);
        return std::u16string();
    }
    const std::string key = strings::ToUtf8(name);
    const char* value = std::getenv(key.c_str());
    if (value == nullptr) {
        for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::size_t equals = text.find('=');
            if (equals != std::string::npos && equals > 0 &&
                posix::EqualsIgnoreCase(strings::FromUtf8(text.substr(0, equals)), name)) {
                value = *entry + equals + 1;
                break;
            }
        }
    }
    if (value == nullptr) {
        SetLastError(kErrorEnvVarNotFound);
        return std::u16string();
    }
    if (exists != nullptr) *exists = true;
    return strings::FromUtf8(value);
}

}  // namespace platform
