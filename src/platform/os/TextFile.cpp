#include "platform/os/TextFile.h"

#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/os/FileSystem.h"

namespace {

constexpr std::size_t kBlockSize = 4096;

bool Has(const std::string& block, std::initializer_list<unsigned char> prefix) {
    if (block.size() < prefix.size()) return false;
    std::size_t i = 0;
    for (unsigned char b : prefix)
        if (static_cast<unsigned char>(block[i++]) != b) return false;
    return true;
}

// Well-formed UTF-8 with at least one multi-byte sequence; a sequence cut
// off by the end of the block counts as valid.
bool LooksLikeUtf8(const std::string& block) {
    bool multiByte = false;
    for (std::size_t i = 0; i < block.size();) {
        const auto lead = static_cast<unsigned char>(block[i]);
        if (lead == 0 || (lead >= 128 && lead <= 191) || lead >= 240) return false;
        const std::size_t extra = lead >= 224 ? 2 : lead >= 192 ? 1 : 0;
        for (std::size_t k = 1; k <= extra && i + k < block.size(); ++k) {
            const auto b = static_cast<unsigned char>(block[i + k]);
            if (b < 128 || b > 191) return false;
        }
        multiByte = multiByte || extra > 0;
        i += extra + 1;
    }
    return multiByte;
}

WideString DecodeUtf16(const std::string& bytes, std::size_t offset, bool bigEndian) {
    WideString text;
    text.reserve((bytes.size() - offset) / 2);
    for (std::size_t i = offset; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        text.push_back(static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
    }
    return text;
}

}  // namespace

TextEncoding DetectTextEncoding(const std::string& firstBlock) {
    const std::string block = firstBlock.substr(0, kBlockSize);
    if (Has(block, {0xFF, 0xFE})) return TextEncoding::Utf16LeBom;
    if (Has(block, {0xFE, 0xFF})) return TextEncoding::Utf16BeBom;
    if (Has(block, {0xEF, 0xBB, 0xBF})) return TextEncoding::Utf8Bom;
    if (block.size() >= 2 && block[0] != 0 && block[1] == 0 &&
        platform::IsTextUnicode(block.data(), block.size(), platform::kIsTextUnicodeStatistics))
        return TextEncoding::Utf16Le;
    if (block.size() >= 2 && block[0] == 0 && block[1] != 0 &&
        platform::IsTextUnicode(block.data(), block.size(), platform::kIsTextUnicodeNullBytes))
        return TextEncoding::Utf16Be;
    return LooksLikeUtf8(block) ? TextEncoding::Utf8 : TextEncoding::Ansi;
}

WideString DecodeText(const std::string& bytes, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf16LeBom: return DecodeUtf16(bytes, 2, false);
    case TextEncoding::Utf16BeBom: return DecodeUtf16(bytes, 2, true);
    case TextEncoding::Utf16Le: return DecodeUtf16(bytes, 0, false);
    case TextEncoding::Utf16Be: return DecodeUtf16(bytes, 0, true);
    case TextEncoding::Utf8Bom: return platform::MultiByteToWide(platform::kCodePageUtf8, bytes.substr(3));
    case TextEncoding::Utf8: return platform::MultiByteToWide(platform::kCodePageUtf8, bytes);
    case TextEncoding::Ansi: break;
    }
    return platform::MultiByteToWide(platform::kCodePageWindows1252, bytes);
}

bool ReadTextFile(const WideString& path, WideString* text, TextEncoding* encoding) {
    platform::File file = platform::File::OpenForRead(ToLongPath(path));
    if (!file.IsOpen()) return false;
    std::string bytes;
    char block[kBlockSize];
    for (;;) {
        std::uint32_t read = 0;
        if (!file.Read(block, kBlockSize, &read)) return false;
        if (read == 0) break;
        bytes.append(block, read);
    }
    const TextEncoding detected = DetectTextEncoding(bytes);
    *text = DecodeText(bytes, detected);
    if (encoding != nullptr) *encoding = detected;
    return true;
}
