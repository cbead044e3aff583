// Where platform::MessageBoxW goes in the POSIX backend: the stand-in
// installer session (or a test) sets a hook that records or answers the box.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform::posix {

using MessageBoxHook =
    std::function<int(const std::u16string& text, const std::u16string& caption, std::uint32_t type)>;

// Replaces the hook; an empty function removes it. Without a hook a message
// box is printed to stderr and answered with IDOK (1).
void SetMessageBoxHook(MessageBoxHook hook);

}  // namespace platform::posix
