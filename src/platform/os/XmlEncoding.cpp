#include "platform/os/XmlEncoding.h"

#include <initializer_list>
#include <utility>

#include "platform/CodePage1252.h"
#include "platform/Strings.h"
#include "platform/Text.h"
#include "platform/TextEncode.h"

namespace {

constexpr const char16_t* kNames[] = {u"UTF-8", u"UTF-16", u"ISO-8859-1", u"Windows-1252", u"US-ASCII", u"UTF-16BE"};
constexpr int kNameCount = static_cast<int>(sizeof(kNames) / sizeof(kNames[0]));

// One byte per character for the single-byte encodings.
bool SingleByte(XmlEncoding encoding, char32_t character, unsigned char* byte) {
    switch (encoding) {
    case XmlEncoding::Iso88591:
        if (character > 0xFF) return false;
        *byte = static_cast<unsigned char>(character);
        return true;
    case XmlEncoding::UsAscii:
        if (character > 0x7F) return false;
        *byte = static_cast<unsigned char>(character);
        return true;
    case XmlEncoding::Windows1252:
        return character <= 0xFFFF && codepage1252::FromUnicode(static_cast<char16_t>(character), byte);
    default:
        return false;
    }
}

void AppendReference(std::string& bytes, char32_t character) {
    bytes += "&#" + std::to_string(static_cast<std::uint32_t>(character)) + ";";
}

}  // namespace

XmlEncoding FindXmlEncoding(std::u16string_view name) {
    for (int i = 0; i < kNameCount; ++i) {
        if (EqualsIgnoreCaseAscii(name, kNames[i])) return static_cast<XmlEncoding>(i);
    }
    if (EqualsIgnoreCaseAscii(name, u"UTF-16LE")) return XmlEncoding::Utf16;
    return XmlEncoding::None;
}

WideString XmlEncodingName(XmlEncoding encoding) {
    const auto i = static_cast<std::int32_t>(encoding);
    return i >= 0 && i < kNameCount ? WideString(kNames[i]) : WideString();
}

XmlFileStart InspectXmlFileStart(std::string_view bytes) {
    XmlFileStart start;
    const auto at = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : -1; };
    const auto begins = [&](std::initializer_list<int> prefix) {
        std::size_t i = 0;
        for (int b : prefix) {
            if (at(i++) != b) return false;
        }
        return true;
    };
    if (begins({0x00, 0x00, 0xFE, 0xFF}) || begins({0xFF, 0xFE, 0x00, 0x00}) || begins({0x00, 0x00, 0x00, 0x3C}) ||
        begins({0x3C, 0x00, 0x00, 0x00})) {
        start.unsupported = u"UTF-32";
    } else if (begins({0x4C, 0x6F, 0xA7, 0x94})) {
        start.unsupported = u"EBCDIC";
    } else if (begins({0xEF, 0xBB, 0xBF})) {
        start.utf8ByteOrderMark = true;
    } else if (begins({0xFE, 0xFF}) || (bytes.size() >= 2 && at(0) == 0x00)) {
        start.utf16 = XmlEncoding::Utf16BE;
    } else if (begins({0xFF, 0xFE}) || (bytes.size() >= 2 && at(1) == 0x00)) {
        start.utf16 = XmlEncoding::Utf16;
    }
    return start;
}

WideString DescribeXmlFileStart(const XmlFileStart& start) {
    if (!start.unsupported.empty()) return start.unsupported;
    if (start.utf16 == XmlEncoding::Utf16BE) return u"UTF-16BE";
    if (start.utf16 == XmlEncoding::Utf16) return u"UTF-16LE";
    return start.utf8ByteOrderMark ? u"UTF-8 with a byte order mark" : u"single-byte text";
}

XmlEncoding ResolveXmlEncoding(const XmlFileStart& start, std::u16string_view declared) {
    if (!start.unsupported.empty()) return XmlEncoding::None;
    if (declared.empty()) return start.utf16 != XmlEncoding::None ? start.utf16 : XmlEncoding::Utf8;
    const XmlEncoding named = FindXmlEncoding(declared);
    if (named == XmlEncoding::None) return XmlEncoding::None;
    if (start.utf16 != XmlEncoding::None) {
        // "UTF-16" fits either byte order; the others name theirs.
        if (EqualsIgnoreCaseAscii(declared, u"UTF-16") || named == start.utf16) return start.utf16;
        return XmlEncoding::None;
    }
    if (IsUtf16(named)) return XmlEncoding::None;
    if (start.utf8ByteOrderMark && named != XmlEncoding::Utf8) return XmlEncoding::None;
    return named;
}

bool CanEncode(XmlEncoding encoding, char32_t character) {
    if (encoding == XmlEncoding::Utf8 || IsUtf16(encoding)) return true;
    unsigned char byte = 0;
    return SingleByte(encoding, character, &byte);
}

std::optional<char32_t> FirstUnencodable(XmlEncoding encoding, std::u16string_view text) {
    std::size_t units = 1;
    for (std::size_t i = 0; i < text.size(); i += units) {
        const char32_t character = strings::CodePointAt(text, i, &units);
        if (!CanEncode(encoding, character)) return character;
    }
    return std::nullopt;
}

std::string EncodeXmlText(XmlEncoding encoding, const WideString& text) {
    std::string bytes;
    switch (encoding) {
    case XmlEncoding::Utf8:
        return platform::WideToCodePage(platform::kCodePageUtf8, text);
    case XmlEncoding::Utf16:
    case XmlEncoding::Utf16BE:
        bytes = strings::ToUtf16Le(text);
        if (encoding == XmlEncoding::Utf16BE) {
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
        }
        return bytes;
    case XmlEncoding::Iso88591:
    case XmlEncoding::Windows1252:
    case XmlEncoding::UsAscii: {
        bytes.reserve(text.size());
        std::size_t units = 1;
        for (std::size_t i = 0; i < text.size(); i += units) {
            const char32_t character = strings::CodePointAt(text, i, &units);
            unsigned char byte = 0;
            if (SingleByte(encoding, character, &byte)) {
                bytes.push_back(static_cast<char>(byte));
            } else {
                AppendReference(bytes, character);
            }
        }
        return bytes;
    }
    case XmlEncoding::None:
        break;
    }
    return bytes;
}

WideString DecodeXmlText(XmlEncoding encoding, std::string_view bytes) {
    WideString text;
    switch (encoding) {
    case XmlEncoding::Utf8:
        return Widen(bytes);
    case XmlEncoding::Utf16:
    case XmlEncoding::Utf16BE: {
        const auto size = static_cast<std::int64_t>(bytes.size());
        text.reserve(bytes.size() / 2);
        for (std::int64_t i = 0; i + 1 < size; i += 2) text.push_back(CodeUnitAt(encoding, bytes, i));
        return text;
    }
    case XmlEncoding::Windows1252:
        for (char c : bytes) text.push_back(codepage1252::ToUnicode(static_cast<unsigned char>(c)));
        return text;
    case XmlEncoding::Iso88591:
    case XmlEncoding::UsAscii:
        for (char c : bytes) text.push_back(static_cast<unsigned char>(c));
        return text;
    case XmlEncoding::None:
        break;
    }
    return text;
}
