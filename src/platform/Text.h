// Code page conversions between UTF-16 and byte encodings.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr std::uint32_t kCodePageUtf8 = 65001;
constexpr std::uint32_t kCodePageWindows1252 = 1252;

// MultiByteToWideChar for kCodePageUtf8 and kCodePageWindows1252; invalid
// UTF-8 becomes U+FFFD.
std::u16string MultiByteToWide(std::uint32_t codePage, const std::string& bytes);

// IsTextUnicode with the given tests (kIsTextUnicode*); true when the buffer
// passes them.
constexpr int kIsTextUnicodeStatistics = 0x0002;
constexpr int kIsTextUnicodeNullBytes = 0x1000;
bool IsTextUnicode(const void* buffer, std::size_t size, int tests);

}  // namespace platform
