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
    AppendEscaped(
        out, text, [](char16_t c) { return c == u'[' || c == u']' || c == u'{' || c == u'}'; },
        [](WideString& to, char16_t c) {
            to += u"[\\";
            to.push_back(c);
            to.push_back(u']');
        });
}
