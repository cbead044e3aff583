#include "installer/MsiText.h"

#include <vector>

WideString ReadInstallerText(const TextGetter& get) {
    char16_t empty[1] = {0};
    std::uint32_t length = 0;
    std::uint32_t result = get(empty, &length);
    if (result == platform::kErrorSuccess) return WideString();
    if (result != platform::kErrorMoreData) return WideString();
    // The value may grow between the calls (another thread setting a
    // property); keep asking until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<char16_t> buffer(static_cast<std::size_t>(length) + 1, u'\0');
        std::uint32_t size = length + 1;
        result = get(buffer.data(), &size);
        if (result == platform::kErrorSuccess) return WideString(buffer.data(), size);
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
    escaped.reserve(text.size());
    for (char16_t c : text) {
        if (c == u'[' || c == u']' || c == u'{' || c == u'}') {
            escaped += u"[\\";
            escaped.push_back(c);
            escaped.push_back(u']');
        } else {
            escaped.push_back(c);
        }
    }
    return escaped;
}
