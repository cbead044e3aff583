#include "custact/XML/src/util/XmlEncoding.h"

#include "platform/Text.h"
#include "platform/TextEncode.h"

namespace {

constexpr const char16_t* kNames[] = {u"UTF-8", u"UTF-16", u"ISO-8859-1", u"Windows-1252", u"US-ASCII"};
constexpr int kNameCount = static_cast<int>(sizeof(kNames) / sizeof(kNames[0]));

}  // namespace

XmlEncoding FindXmlEncoding(std::u16string_view name) {
    for (int i = 0; i < kNameCount; ++i) {
        if (EqualsIgnoreCaseAscii(name, kNames[i])) return static_cast<XmlEncoding>(i);
    }
    return XmlEncoding::None;
}

WideString XmlEncodingName(XmlEncoding encoding) {
    const auto i = static_cast<std::int32_t>(encoding);
    return i >= 0 && i < kNameCount ? WideString(kNames[i]) : WideString();
}

std::string EncodeXmlText(XmlEncoding encoding, const WideString& text) {
    switch (encoding) {
    case XmlEncoding::Utf8:
        return platform::WideToCodePage(platform::kCodePageUtf8, text);
    case XmlEncoding::Utf16: {
        std::string bytes;
        bytes.reserve(text.size() * 2);
        for (char16_t c : text) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
        }
        return bytes;
    }
    case XmlEncoding::Iso88591:
    case XmlEncoding::Windows1252:
        return platform::WideToCodePage(platform::kCodePageWindows1252, text);
    case XmlEncoding::UsAscii: {
        std::string bytes;
        bytes.reserve(text.size());
        for (char16_t c : text) bytes.push_back(static_cast<char>(c & 0xFF));
        return bytes;
    }
    case XmlEncoding::None:
        break;
    }
    return std::string();
}
