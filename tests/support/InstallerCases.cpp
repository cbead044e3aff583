#include "support/InstallerCases.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/Strings.h"

namespace test {

std::string Escape(const std::u16string& text) {
    std::u16string plain;
    std::string out;
    for (char16_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            char code[16];
            std::snprintf(code, sizeof code, "<U+%04X>", static_cast<unsigned>(c));
            out += strings::ToUtf8(plain) + code;
            plain.clear();
        } else {
            plain += c;
        }
    }
    return out + strings::ToUtf8(plain);
}

std::u16string Unescape(const std::u16string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, u"<U+") == 0 && i + 7 < text.size() && text[i + 7] == u'>') {
            unsigned value = 0;
            bool hex = true;
            for (std::size_t k = i + 3; k < i + 7; ++k) {
                const char16_t d = text[k];
                const int digit = d >= u'0' && d <= u'9' ? d - u'0' : d >= u'A' && d <= u'F' ? d - u'A' + 10 : -1;
                if (digit < 0) hex = false;
                value = value * 16 + static_cast<unsigned>(digit < 0 ? 0 : digit);
            }
            if (hex) {
                out += static_cast<char16_t>(value);
                i += 7;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return parts;
        start = tab + 1;
    }
}

struct Shape {
    const char* keyword;
    std::size_t minArgs;
    std::size_t maxArgs;
};

constexpr Shape kShapes[] = {
    {"property", 2, 2}, {"env", 2, 2},  {"component", 3, 3}, {"feature", 3, 3},  {"file", 3, 3},
    {"componentdir", 2, 2}, {"cond", 1, 1}, {"format", 1, 64}, {"format0", 1, 64}, {"install", 1, 1},
};

bool IsInteger(const std::u16string& text) {
    std::size_t i = !text.empty() && text[0] == u'-' ? 1 : 0;
    if (i == text.size() || text.size() > 10) return false;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
    }
    return true;
}

int ToInt(const std::u16string& text) { return std::stoi(strings::ToUtf8(text)); }

}  // namespace

bool ReadInstallerCases(const std::string& path, std::vector<InstallerCase>* cases, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> parts = SplitTabs(line);
        InstallerCase c;
        c.line = number;
        c.keyword = parts[0];
        for (std::size_t i = 1; i < parts.size(); ++i) c.args.push_back(Unescape(strings::FromUtf8(parts[i])));
        bool known = false;
        for (const Shape& shape : kShapes) {
            if (c.keyword == shape.keyword) {
                known = c.args.size() >= shape.minArgs && c.args.size() <= shape.maxArgs;
            }
        }
        if (known && (c.keyword == "component" || c.keyword == "feature")) {
            known = IsInteger(c.args[1]) && IsInteger(c.args[2]);
        }
        if (!known) {
            *error = path + ":" + std::to_string(number) + ": unknown directive or wrong number of parts";
            return false;
        }
        cases->push_back(std::move(c));
    }
    return true;
}

std::string CaseKey(const InstallerCase& c) {
    std::string key = c.keyword;
    for (const std::u16string& arg : c.args) key += "\t" + Escape(arg);
    return key;
}

std::vector<std::string> RunInstallerCases(const std::vector<InstallerCase>& cases, InstallerCaseTarget& target) {
    std::vector<std::string> lines;
    for (const InstallerCase& c : cases) {
        const std::vector<std::u16string>& a = c.args;
        std::string result;
        if (c.keyword == "property") {
            target.SetProperty(a[0], a[1]);
        } else if (c.keyword == "env") {
            target.SetEnvironment(a[0], a[1]);
        } else if (c.keyword == "component") {
            result = target.SetComponent(a[0], ToInt(a[1]), ToInt(a[2]));
        } else if (c.keyword == "feature") {
            result = target.SetFeature(a[0], ToInt(a[1]), ToInt(a[2]));
        } else if (c.keyword == "file") {
            target.SetFile(a[0], a[1], a[2]);
        } else if (c.keyword == "componentdir") {
            target.SetComponentDirectory(a[0], a[1]);
        } else if (c.keyword == "install") {
            // done before the session opens
        } else if (c.keyword == "cond") {
            result = std::to_string(target.Evaluate(a[0]));
        } else {
            std::vector<std::optional<std::u16string>> fields;
            for (const std::u16string& arg : a) {
                fields.push_back(arg == u"<null>" ? std::nullopt : std::optional<std::u16string>(arg));
            }
            unsigned error = 0;
            const std::u16string text = target.Format(c.keyword == "format", fields, &error);
            result = error == 0 ? "\"" + Escape(text) + "\"" : "error " + std::to_string(error);
        }
        if (c.keyword == "install" || c.keyword == "property" || c.keyword == "env" || c.keyword == "file" || c.keyword == "componentdir") {
            continue;
        }
        lines.push_back(CaseKey(c) + "\t=> " + result);
    }
    return lines;
}

}  // namespace test
