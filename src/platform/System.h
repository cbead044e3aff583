// System information, WOW64 redirection, GUIDs, message boxes, environment
// and process identity.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace platform {

// IsWow64Process for the current process (looked up at run time); false when
// the system lacks it or the call fails.
bool IsWow64Process();
bool Wow64DisableWow64FsRedirection(void** oldValue);
bool Wow64RevertWow64FsRedirection(void* oldValue);

using Guid = std::array<std::uint8_t, 16>;
// Stands for CLSIDFromString on a braced GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
bool CLSIDFromString(const std::u16string& text, Guid* guid);
// CoCreateGuid: a new random GUID.
bool CoCreateGuid(Guid* guid);

constexpr std::uint32_t kMbIconErrorBox = 0x10;
// MessageBoxW owned by the foreground window.
int MessageBoxW(const std::u16string& text, const std::u16string& caption, std::uint32_t type);

// The string SID of the user of the process token, or an empty text.
std::u16string GetProcessUserSid();

std::u16string GetEnvironmentVariableW(const std::u16string& name, bool* exists = nullptr);

}  // namespace platform
