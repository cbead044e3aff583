#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include "installer/WideString.h"

namespace fuzz {

void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz target failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return pieces;
        start = end + 1;
    }
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') {
            ++i;
        } else if (line[i] == '|') {
            fields.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::u16string DecodeEscaped(std::string_view text) {
    const std::u16string wide = Widen(text);
    std::u16string out;
    const auto hex = [](char16_t c) {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        if (c != u'\\' || i + 1 == wide.size()) {
            out += c;
            continue;
        }
        const char16_t next = wide[i + 1];
        if (next == u'n' || next == u'r' || next == u't' || next == u'|' || next == u'\\') {
            out += next == u'n' ? u'\n' : next == u'r' ? u'\r' : next == u't' ? u'\t' : next;
            ++i;
        } else if (next == u'u' && i + 5 < wide.size() && hex(wide[i + 2]) >= 0 && hex(wide[i + 3]) >= 0 &&
                   hex(wide[i + 4]) >= 0 && hex(wide[i + 5]) >= 0) {
            out += static_cast<char16_t>(hex(wide[i + 2]) << 12 | hex(wide[i + 3]) << 8 | hex(wide[i + 4]) << 4 |
                                         hex(wide[i + 5]));
            i += 5;
        } else {
            out += c;
        }
    }
    return out;
}

std::u16string Utf16Units(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    return units;
}

}  // namespace fuzz
