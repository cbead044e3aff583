// Shared by the fuzz targets: failing a run, and turning input bytes into
// the engine's UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Reports what broke and aborts, so that libFuzzer keeps the input (and a
// replay of it fails).
[[noreturn]] void Fail(const std::string& what);

// The pieces between separators; an empty text gives one empty piece.
std::vector<std::string_view> Split(std::string_view text, char separator);

// UTF-8 (invalid bytes taken as Latin-1) with the escapes "\uXXXX", "\n",
// "\r", "\t", "\|" and "\\", so that a script line can hold any code unit,
// lone surrogates included. A "\" before anything else stays.
std::u16string DecodeEscaped(std::string_view text);

// Pairs of bytes as little-endian code units; an odd last byte is dropped.
std::u16string Utf16Units(const std::uint8_t* data, std::size_t size);

// Splits a line at "|" where no "\" escapes it.
std::vector<std::string_view> SplitFields(std::string_view line);

}  // namespace fuzz
