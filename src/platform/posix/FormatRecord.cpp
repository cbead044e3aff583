// MsiFormatRecord's text substitution, for now only record fields ([1]),
// properties ([Name]) and the one-character escape ([\[]).
#include "platform/posix/InstallerSession.h"
#include "platform/posix/MsiInternal.h"

namespace platform::posix {

namespace {

bool IsDigits(const std::u16string& text) {
    if (text.empty()) return false;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
    }
    return true;
}

bool IsPropertyName(const std::u16string& text) {
    if (text.empty()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
        const bool digitOrDot = (c >= u'0' && c <= u'9') || c == u'.';
        if (!letter && !(i > 0 && digitOrDot)) return false;
    }
    return true;
}

class Formatter {
public:
    Formatter(const InstallerSession* session, const std::vector<std::u16string>& fields)
        : session_(session), fields_(fields) {}

    // Expands text from pos on. Brackets nest and resolve from the inside
    // out, so "[[1]]" names the property held in field 1. Inside a bracket
    // the expansion stops at the closing one; *closed tells whether it came.
    std::u16string Expand(const std::u16string& text, std::size_t& pos, bool nested, bool* closed) const {
        std::u16string out;
        while (pos < text.size()) {
            const char16_t c = text[pos];
            if (c == u'[') {
                // Without a session msi.dll substitutes only record fields,
                // so even escapes stay as they are.
                if (session_ != nullptr && pos + 3 < text.size() && text[pos + 1] == u'\\' && text[pos + 3] == u']') {
                    out += text[pos + 2];
                    pos += 4;
                    continue;
                }
                ++pos;
                bool innerClosed = false;
                const std::u16string inner = Expand(text, pos, true, &innerClosed);
                out += innerClosed ? Resolve(inner) : u"[" + inner;
            } else if (c == u']' && nested) {
                ++pos;
                *closed = true;
                return out;
            } else {
                out += c;
                ++pos;
            }
        }
        return out;
    }

private:
    // Substituted values are inserted as they are, not formatted again.
    std::u16string Resolve(const std::u16string& key) const {
        if (IsDigits(key)) {
            const std::size_t index = key.size() > 5 ? fields_.size() : std::stoul(std::string(key.begin(), key.end()));
            return index < fields_.size() ? fields_[index] : std::u16string();
        }
        // Without a session msi.dll has no properties and keeps the text.
        if (session_ != nullptr && IsPropertyName(key)) return session_->GetProperty(key);
        return u"[" + key + u"]";
    }

    const InstallerSession* session_;
    const std::vector<std::u16string>& fields_;
};

}  // namespace

namespace msi {

std::u16string FormatFields(const InstallerSession* session, const std::vector<std::u16string>& fields) {
    if (fields.empty()) return {};
    if (fields[0].empty()) {
        // msi.dll's text for a record without a template, as its logs show it.
        std::u16string out;
        for (std::size_t i = 1; i < fields.size(); ++i) {
            const std::string number = std::to_string(i);
            out += std::u16string(number.begin(), number.end()) + u": " + fields[i] + u" ";
        }
        return out;
    }
    std::size_t pos = 0;
    bool closed = false;
    return Formatter(session, fields).Expand(fields[0], pos, false, &closed);
}

}  // namespace msi

std::u16string FormatRecordText(const InstallerSession& session, const std::vector<std::u16string>& fields) {
    return msi::FormatFields(&session, fields);
}

}  // namespace platform::posix
