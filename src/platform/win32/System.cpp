// System information, GUIDs, message boxes, environment and the process
// user over kernel32, ole32, user32 and advapi32.
#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include <cstring>
#include <vector>

#include "platform/System.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

using win32::U;
using win32::W;

bool IsHex(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": ole32 would also accept ProgIDs.
bool IsBracedGuid(const std::u16string& text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != u'-' : !IsHex(text[i])) return false;
    }
    return true;
}

}  // namespace

bool IsWow64Process() {
    using Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return false;
    const auto function =
        reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return function != nullptr && function(::GetCurrentProcess(), &wow64) && wow64;
}

bool Wow64DisableWow64FsRedirection(void** oldValue) { return ::Wow64DisableWow64FsRedirection(oldValue) != FALSE; }
bool Wow64RevertWow64FsRedirection(void* oldValue) { return ::Wow64RevertWow64FsRedirection(oldValue) != FALSE; }

bool CLSIDFromString(const std::u16string& text, Guid* guid) {
    if (!IsBracedGuid(text)) return false;
    CLSID clsid;
    if (FAILED(::CLSIDFromString(W(text), &clsid))) return false;
    static_assert(sizeof clsid == sizeof(Guid), "a GUID is 16 bytes");
    std::memcpy(guid->data(), &clsid, sizeof clsid);
    return true;
}

bool CoCreateGuid(Guid* guid) {
    GUID created;
    if (FAILED(::CoCreateGuid(&created))) return false;
    std::memcpy(guid->data(), &created, sizeof created);
    return true;
}

int MessageBoxW(const std::u16string& text, const std::u16string& caption, std::uint32_t type) {
    return ::MessageBoxW(::GetForegroundWindow(), W(text), W(caption), type);
}

std::u16string GetProcessUserSid() {
    win32::KernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Out())) return std::u16string();
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::u16string();
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return std::u16string();
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    win32::LocalMemory<wchar_t*> text;
    if (!::ConvertSidToStringSidW(user->User.Sid, text.Out())) return std::u16string();
    return U(text.Get());
}

std::u16string GetEnvironmentVariableW(const std::u16string& name, bool* exists) {
    if (exists != nullptr) *exists = false;
    std::vector<wchar_t> buffer(256);
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(W(name), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            // An empty value also gives 0, without an error.
            if (::GetLastError() != ERROR_SUCCESS) return std::u16string();
            if (exists != nullptr) *exists = true;
            return std::u16string();
        }
        if (length < buffer.size()) {
            if (exists != nullptr) *exists = true;
            return U(buffer.data(), length);
        }
        buffer.resize(length);  // the size asked for includes the terminating NUL
    }
}

}  // namespace platform
