// Reading a text file whose encoding is not declared (the lists that icacls
// writes, for example): the encoding is detected from the first block.
#pragma once

#include <string>

#include "installer/WideString.h"

enum class TextEncoding {
    Utf16LeBom,
    Utf16BeBom,
    Utf8Bom,
    Utf16Le,
    Utf16Be,
    Utf8,
    Ansi,  // code page 1252, as icacls writes on western systems
};

// Decides from the first block of a file (at most 4096 bytes).
TextEncoding DetectTextEncoding(const std::string& firstBlock);
// Decodes bytes of the given encoding; a byte order mark is not part of the text.
WideString DecodeText(const std::string& bytes, TextEncoding encoding);
// False when the file cannot be opened or read.
bool ReadTextFile(const WideString& path, WideString* text, TextEncoding* encoding = nullptr);
