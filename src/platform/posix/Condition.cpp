// MsiEvaluateCondition of the stand-in, for the few forms the engine uses:
//   Name            true when the property is set (non-empty)
//   NOT Name        its negation
//   Name = "text"   case-sensitive comparison; also <>, and NOT before either
// Anything else is reported as an error rather than guessed at.
#include "platform/posix/InstallerSession.h"

namespace platform::posix {

namespace {

class Tokens {
public:
    explicit Tokens(const std::u16string& text) : text_(text) {}

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }
    bool AtEnd() {
        SkipSpace();
        return pos_ == text_.size();
    }

    bool Identifier(std::u16string* name) {
        SkipSpace();
        std::size_t end = pos_;
        while (end < text_.size() && IsNameChar(text_[end], end == pos_)) ++end;
        if (end == pos_) return false;
        *name = text_.substr(pos_, end - pos_);
        pos_ = end;
        return true;
    }

    // A keyword, case-insensitively, as a whole word.
    bool Keyword(const char* word) {
        SkipSpace();
        std::size_t i = 0;
        for (; word[i] != '\0'; ++i) {
            if (pos_ + i >= text_.size() || ToUpper(text_[pos_ + i]) != static_cast<char16_t>(word[i])) return false;
        }
        if (pos_ + i < text_.size() && IsNameChar(text_[pos_ + i], false)) return false;
        pos_ += i;
        return true;
    }

    bool Symbol(const char16_t* symbol) {
        SkipSpace();
        const std::u16string s(symbol);
        if (text_.compare(pos_, s.size(), s) != 0) return false;
        pos_ += s.size();
        return true;
    }

    // A double-quoted literal; the condition syntax has no escapes.
    bool Literal(std::u16string* value) {
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != u'"') return false;
        const std::size_t close = text_.find(u'"', pos_ + 1);
        if (close == std::u16string::npos) return false;
        *value = text_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        return true;
    }

private:
    static bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
    static char16_t ToUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }
    static bool IsNameChar(char16_t c, bool first) {
        const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
        return letter || (!first && ((c >= u'0' && c <= u'9') || c == u'.'));
    }

    const std::u16string& text_;
    std::size_t pos_ = 0;
};

}  // namespace

int EvaluateCondition(const InstallerSession& session, const std::u16string& condition) {
    Tokens tokens(condition);
    if (tokens.AtEnd()) return kMsiConditionNone;

    const bool negate = tokens.Keyword("NOT");
    std::u16string name;
    if (!tokens.Identifier(&name)) return kMsiConditionError;
    const std::u16string value = session.GetProperty(name);

    bool result = false;
    if (tokens.AtEnd()) {
        result = !value.empty();
    } else {
        bool equal = false;
        if (tokens.Symbol(u"<>")) {
            equal = false;
        } else if (tokens.Symbol(u"=")) {
            equal = true;
        } else {
            return kMsiConditionError;
        }
        std::u16string literal;
        if (!tokens.Literal(&literal) || !tokens.AtEnd()) return kMsiConditionError;
        result = (value == literal) == equal;
    }
    return (result != negate) ? kMsiConditionTrue : kMsiConditionFalse;
}

}  // namespace platform::posix
