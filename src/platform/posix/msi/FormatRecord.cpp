// MsiFormatRecordW of the stand-in. Where the documentation says nothing,
// this follows msi.dll as measured under Wine (tests/data/installer-cases.txt):
// [0] stays as it is, a group holding a nested group keeps all its braces,
// environment variables and file paths do not count as properties for a
// group (though an empty one removes it), and [\] is empty.
#include "platform/posix/msi/FormatRecord.h"

#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace platform::posix {

namespace {

constexpr std::size_t kNone = std::u16string::npos;

bool AllDigits(const std::u16string& text) {
    if (text.empty()) return false;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
    }
    return true;
}

// A formatted stretch of text and what its references found, which decides
// the fate of an enclosing group.
struct Piece {
    std::u16string text;
    bool missing = false;  // a reference came out empty
    bool found = false;    // a property or field reference was set
    bool hasGroup = false;
};

class Formatter {
public:
    // fields is null when a field's value is expanded again: then [n] names
    // a property, as msi.dll treats it.
    Formatter(const InstallerContext* context, const std::vector<std::u16string>* fields, const std::u16string& text)
        : context_(context), fields_(fields), text_(text), close_(text.size(), kNone), escape_(text.size(), kNone) {
        Match();
    }

    std::u16string Run() { return Range(0, text_.size(), false).text; }

private:
    // Pairs brackets and braces in one pass. [\x ...] is an escape and takes
    // no part in the pairing; ] closes the innermost open bracket, dropping
    // braces opened inside it; } closes a brace only when one is innermost.
    void Match() {
        std::vector<std::size_t> open;
        const std::size_t n = text_.size();
        // Past the last "]" no escape can end: looking again for every "[\"
        // there would make the pass quadratic.
        const std::size_t lastClose = text_.rfind(u']');
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t c = text_[i];
            if (c == u'[' && i + 2 < n && text_[i + 1] == u'\\') {
                std::size_t end = kNone;
                if (text_[i + 2] == u']') {
                    end = i + 2;
                } else if (lastClose != kNone && lastClose > i + 2) {
                    end = text_.find(u']', i + 3);
                }
                if (end != kNone) {
                    escape_[i] = end;
                    i = end;
                    continue;
                }
            }
            if (c == u'[' || c == u'{') {
                open.push_back(i);
            } else if (c == u']') {
                std::size_t k = open.size();
                while (k > 0 && text_[open[k - 1]] != u'[') --k;
                if (k > 0) {
                    close_[open[k - 1]] = i;
                    open.resize(k - 1);
                }
            } else if (c == u'}' && !open.empty() && text_[open.back()] == u'{') {
                close_[open.back()] = i;
                open.pop_back();
            }
        }
    }

    Piece Range(std::size_t begin, std::size_t end, bool inGroup) {
        Piece out;
        // Nesting beyond any real template is kept as text, not recursed into.
        const bool nest = depth_ < kMaxDepth;
        ++depth_;
        for (std::size_t i = begin; i < end;) {
            const char16_t c = text_[i];
            if (escape_[i] != kNone) {
                if (context_ == nullptr) {
                    out.text += text_.substr(i, escape_[i] + 1 - i);
                } else if (text_[i + 2] != u']') {
                    out.text += text_[i + 2];  // the rest up to ] is dropped
                }
                i = escape_[i] + 1;
            } else if (c == u'[' && close_[i] != kNone && nest) {
                const Piece key = Range(i + 1, close_[i], false);
                const Piece value = Resolve(key.text);
                out.text += value.text;
                out.missing = out.missing || key.missing || value.missing;
                out.found = out.found || key.found || value.found;
                i = close_[i] + 1;
            } else if (c == u'{' && close_[i] != kNone && nest) {
                const std::size_t j = close_[i];
                if (j > i + 2 && text_[i + 1] == u'{' && close_[i + 1] != kNone && text_[j - 1] == u'}') {
                    i = j + 1;  // {{log-only text}}
                    continue;
                }
                const Piece group = Range(i + 1, j, true);
                out.hasGroup = true;
                if (group.missing) {
                    out.missing = true;
                } else if (group.found && !group.hasGroup && !inGroup) {
                    out.text += group.text;
                } else {
                    out.text += u'{' + group.text + u'}';
                }
                i = j + 1;
            } else {
                out.text += c;
                ++i;
            }
        }
        --depth_;
        return out;
    }

    Piece Resolve(const std::u16string& key) const {
        Piece out;
        if (fields_ != nullptr && AllDigits(key)) {
            std::size_t index = 0;
            for (char16_t c : key) {
                index = index * 10 + static_cast<std::size_t>(c - u'0');
                if (index > fields_->size()) break;  // beyond the record either way
            }
            if (index == 0) {
                out.text = u"[" + key + u"]";
            } else if (index >= fields_->size() || (*fields_)[index].empty()) {
                out.missing = true;
            } else {
                out.found = true;
                const std::u16string& value = (*fields_)[index];
                out.text = context_ == nullptr ? value : Formatter(context_, nullptr, value).Run();
            }
            return out;
        }
        if (context_ == nullptr) {
            out.text = u"[" + key + u"]";
            return out;
        }
        bool set = false;
        if (key == u"~") {
            out.text = std::u16string(1, u'\0');
            return out;
        } else if (!key.empty() && key[0] == u'%') {
            set = context_->Environment(key.substr(1), &out.text);
        } else if (!key.empty() && (key[0] == u'#' || key[0] == u'!')) {
            set = context_->FilePath(key.substr(1), key[0] == u'!', &out.text);
        } else if (!key.empty() && key[0] == u'$') {
            set = context_->ComponentDirectory(key.substr(1), &out.text);
        } else {
            out.text = context_->Property(key);
            out.found = !out.text.empty();
            set = true;
        }
        if (!set) out.text.clear();
        out.missing = out.text.empty();
        return out;
    }

    const InstallerContext* context_;
    const std::vector<std::u16string>* fields_;
    const std::u16string& text_;
    std::vector<std::size_t> close_;   // the partner of each [ and {
    std::vector<std::size_t> escape_;  // the ] ending an escape that starts here
    int depth_ = 0;
    static constexpr int kMaxDepth = 200;
};

}  // namespace

std::u16string FormatRecordFields(const InstallerContext* context, const std::vector<std::u16string>& fields) {
    if (fields.empty()) return {};
    std::u16string format = fields[0];
    if (format.empty()) {
        // msi.dll's text for a record without a template, as its logs show it.
        for (std::size_t i = 1; i < fields.size(); ++i) {
            const std::string number = std::to_string(i);
            const std::u16string n(number.begin(), number.end());
            format += n + u": [" + n + u"] ";
        }
    }
    return Formatter(context, &fields, format).Run();
}

namespace msi {

std::u16string FormatFields(const InstallerSession* session, const std::vector<std::u16string>& fields) {
    return FormatRecordFields(session, fields);
}

}  // namespace msi

std::u16string FormatRecordText(const InstallerSession& session, const std::vector<std::u16string>& fields) {
    return FormatRecordFields(&session, fields);
}

}  // namespace platform::posix
