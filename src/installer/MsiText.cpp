#include "installer/MsiText.h"

WideString ReadInstallerText(const TextGetter& get) {
    char16_t empty[1] = {0};
    std::uint32_t length = 0;
    std::uint32_t result = get(empty, &length);
    if (result == platform::kErrorSuccess) return WideString();
    if (result != platform::kErrorMoreData) return WideString();
    // The value may grow between the calls (another thread setting a
    // property); keep asking until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        WideString buffer(static_cast<std::size_t>(length) + 1, u'\0');
        std::uint32_t size = length + 1;
        result = get(buffer.data(), &size);
        if (result == platform::kErrorSuccess) {
            buffer.resize(size);
            return buffer;
        }
        if (result != platform::kErrorMoreData) break;
        length = size;
    }
    return WideString();
}

WideString GetInstallerProperty(InstallerHandle install, const WideString& name) {
    return ReadInstallerText([&](char16_t* buffer, std::uint32_t* length) {
        return platform::MsiGetPropertyW(install, name.c_str(), buffer, length);
    });
}

WideString GetRecordString(InstallerHandle record, std::uint32_t field) {
    return ReadInstallerText([&](char16_t* buffer, std::uint32_t* length) {
        return platform::MsiRecordGetStringW(record, field, buffer, length);
    });
}

WideString FormatInstallerRecord(InstallerHandle install, InstallerHandle record) {
    return ReadInstallerText([&](char16_t* buffer, std::uint32_t* length) {
        return platform::MsiFormatRecordW(install, record, buffer, length);
    });
}

WideString EscapeForFormatting(const WideString& text) {
    WideString escaped;
    AppendEscapedForFormatting(escaped, text);
    return escaped;
}

void AppendEscapedForFormatting(WideString& out, std::u16string_view text) {
    out.reserve(out.size() + text.size());
    // The text between the brackets and braces goes over in whole runs.
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c != u'[' && c != u']' && c != u'{' && c != u'}') continue;
        out.append(text.substr(start, i - start));
        out += u"[\\";
        out.push_back(c);
        out.push_back(u']');
        start = i + 1;
    }
    out.append(text.substr(start));
}
