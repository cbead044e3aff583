// MsiEvaluateConditionW of the stand-in. Where Windows Installer's
// documentation leaves the lexical details open, this follows what msi.dll
// does (measured under Wine, see tests/data/installer-cases.txt): only the
// space separates tokens, a number runs on over digits, '-' and '.' and reads
// like atoi, names may hold letters, digits and _ . - #, and an unknown
// component or feature reads as an empty text.
#include "platform/posix/msi/Condition.h"

#include <climits>
#include <cstdint>

#include "platform/Msi.h"
#include "platform/posix/CaseFolding.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace platform::posix {

namespace {

enum class Kind {
    End,
    Bad,
    Open,
    Close,
    Not,
    And,
    Or,
    Xor,
    Eqv,
    Imp,
    Compare,
    Integer,
    Literal,
    Property,
    Environment,
    ComponentInstalled,
    ComponentAction,
    FeatureInstalled,
    FeatureAction,
};

enum class Op { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual, Contains, StartsWith, EndsWith };

// Tokens view the condition text: a condition is evaluated for every log
// line of a long installation, and lexing it copies nothing.
struct Token {
    Kind kind = Kind::End;
    std::u16string_view text;  // literal text or name
    int integer = 0;
    Op op = Op::Equal;
    bool ignoreCase = false;
};

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsNameStart(char16_t c) { return IsAsciiLetter(c) || c == u'_'; }
bool IsNameChar(char16_t c) { return IsNameStart(c) || IsDigit(c) || c == u'.' || c == u'-' || c == u'#'; }
bool IsNumberChar(char16_t c) { return IsDigit(c) || c == u'-' || c == u'.'; }

int Clamp(std::int64_t value) {
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// A number token's value as atoi reads it: an optional '-', then digits up
// to the first other character; out of range saturates.
int LeadingInteger(std::u16string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == u'-';
    if (negative) ++i;
    std::int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > std::int64_t{INT_MAX} + 1) value = std::int64_t{INT_MAX} + 1;
    }
    return Clamp(negative ? -value : value);
}

class Lexer {
public:
    explicit Lexer(std::u16string_view text) : text_(text) {}

    Token Next() {
        while (pos_ < text_.size() && text_[pos_] == u' ') ++pos_;
        Token token;
        if (pos_ == text_.size()) return token;
        const char16_t c = text_[pos_];
        if (c == u'(' || c == u')') {
            ++pos_;
            token.kind = c == u'(' ? Kind::Open : Kind::Close;
        } else if (c == u'~') {
            ++pos_;
            token = Comparison();
            token.ignoreCase = true;
        } else if (c == u'=' || c == u'<' || c == u'>') {
            token = Comparison();
        } else if (c == u'"') {
            const std::size_t close = text_.find(u'"', pos_ + 1);
            if (close == std::u16string_view::npos) {
                token.kind = Kind::Bad;
            } else {
                token.kind = Kind::Literal;
                token.text = text_.substr(pos_ + 1, close - pos_ - 1);
                pos_ = close + 1;
            }
        } else if (IsNumberChar(c)) {
            const std::size_t start = pos_;
            while (pos_ < text_.size() && IsNumberChar(text_[pos_])) ++pos_;
            token.kind = Kind::Integer;
            token.integer = LeadingInteger(text_.substr(start, pos_ - start));
        } else if (IsNameStart(c)) {
            token.text = Name();
            token.kind = Keyword(token.text);
        } else {
            const Kind prefixed = c == u'%'   ? Kind::Environment
                                  : c == u'?' ? Kind::ComponentInstalled
                                  : c == u'$' ? Kind::ComponentAction
                                  : c == u'!' ? Kind::FeatureInstalled
                                  : c == u'&' ? Kind::FeatureAction
                                              : Kind::Bad;
            if (prefixed != Kind::Bad) {
                ++pos_;
                while (pos_ < text_.size() && text_[pos_] == u' ') ++pos_;
                if (pos_ < text_.size() && IsNameStart(text_[pos_])) {
                    token.kind = prefixed;
                    token.text = Name();
                } else {
                    token.kind = Kind::Bad;
                }
            } else {
                token.kind = Kind::Bad;
            }
        }
        return token;
    }

private:
    std::u16string_view Name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }

    static Kind Keyword(std::u16string_view word) {
        static const struct {
            const char16_t* word;
            Kind kind;
        } keywords[] = {{u"NOT", Kind::Not}, {u"AND", Kind::And}, {u"OR", Kind::Or},
                        {u"XOR", Kind::Xor}, {u"EQV", Kind::Eqv}, {u"IMP", Kind::Imp}};
        // Most names are longer than any keyword.
        if (word.size() > 3) return Kind::Property;
        for (const auto& k : keywords) {
            if (EqualsIgnoreCase(word, k.word)) return k.kind;
        }
        return Kind::Property;
    }

    // The longest operator at pos_: two characters before one.
    Token Comparison() {
        static const struct {
            const char16_t* text;
            Op op;
        } operators[] = {{u"<>", Op::NotEqual},     {u"<=", Op::LessEqual},  {u">=", Op::GreaterEqual},
                         {u"><", Op::Contains},     {u"<<", Op::StartsWith}, {u">>", Op::EndsWith},
                         {u"=", Op::Equal},         {u"<", Op::Less},        {u">", Op::Greater}};
        Token token;
        token.kind = Kind::Bad;
        for (const auto& o : operators) {
            const std::u16string_view text(o.text);
            if (text_.compare(pos_, text.size(), text) == 0) {
                token.kind = Kind::Compare;
                token.op = o.op;
                pos_ += text.size();
                break;
            }
        }
        return token;
    }

    std::u16string_view text_;
    std::size_t pos_ = 0;
};

// An operand. Integers (numbers and states) and quoted literals have their
// type; a symbol's text (property, environment variable) is compared as an
// integer when it reads as one.
struct Value {
    enum class Type { Integer, Literal, Symbol };
    Type type = Type::Literal;
    int integer = 0;
    std::u16string text;

    bool Truth() const { return type == Type::Integer ? integer != 0 : !text.empty(); }
};

bool AsInteger(const Value& v, int* out) {
    if (v.type == Value::Type::Integer) {
        *out = v.integer;
        return true;
    }
    return v.type == Value::Type::Symbol && msi::ParseInteger(v.text, true, out);
}

bool CompareIntegers(int a, Op op, int b) {
    const auto bits = static_cast<std::uint32_t>(a);
    switch (op) {
    case Op::Equal: return a == b;
    case Op::NotEqual: return a != b;
    case Op::Less: return a < b;
    case Op::Greater: return a > b;
    case Op::LessEqual: return a <= b;
    case Op::GreaterEqual: return a >= b;
    // On integers the substring operators test bits: any in common, the
    // high word equal to the right side, the low word equal to it.
    case Op::Contains: return (a & b) != 0;
    case Op::StartsWith: return static_cast<int>(bits >> 16) == b;
    case Op::EndsWith: return static_cast<int>(bits & 0xFFFF) == b;
    }
    return false;
}

// Case-insensitive texts compare as lower case, as msi.dll orders them
// ("_" sorts before "a"); letters beyond ASCII fold by their upper case.
char16_t Fold(char16_t c) {
    const char16_t upper = UpcaseUnit(c);
    return upper >= u'A' && upper <= u'Z' ? static_cast<char16_t>(upper + 0x20) : upper;
}

int Order(const std::u16string& a, const std::u16string& b, bool ignoreCase) {
    if (!ignoreCase) return a.compare(b);
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

std::u16string Folded(std::u16string text, bool ignoreCase) {
    if (ignoreCase) {
        for (char16_t& c : text) c = Fold(c);
    }
    return text;
}

bool CompareTexts(const std::u16string& a, Op op, const std::u16string& b, bool ignoreCase) {
    if (op == Op::Contains || op == Op::StartsWith || op == Op::EndsWith) {
        // An empty left side contains nothing, not even the empty text.
        if (a.empty()) return false;
        const std::u16string x = Folded(a, ignoreCase), y = Folded(b, ignoreCase);
        if (y.size() > x.size()) return false;
        if (op == Op::Contains) return x.find(y) != std::u16string::npos;
        if (op == Op::StartsWith) return x.compare(0, y.size(), y) == 0;
        return x.compare(x.size() - y.size(), y.size(), y) == 0;
    }
    const int order = Order(a, b, ignoreCase);
    switch (op) {
    case Op::Equal: return order == 0;
    case Op::NotEqual: return order != 0;
    case Op::Less: return order < 0;
    case Op::Greater: return order > 0;
    case Op::LessEqual: return order <= 0;
    case Op::GreaterEqual: return order >= 0;
    default: return false;
    }
}

bool Compare(const Value& a, Op op, const Value& b, bool ignoreCase) {
    if (a.type == Value::Type::Integer || b.type == Value::Type::Integer) {
        // An integer against a text that is not one: only <> holds.
        int x = 0, y = 0;
        if (!AsInteger(a, &x) || !AsInteger(b, &y)) return op == Op::NotEqual;
        return CompareIntegers(x, op, y);
    }
    // Two texts, one of them a symbol: digit strings compare by value.
    int x = 0, y = 0;
    if ((a.type == Value::Type::Symbol || b.type == Value::Type::Symbol) && msi::ParseInteger(a.text, false, &x) &&
        msi::ParseInteger(b.text, false, &y)) {
        return CompareIntegers(x, op, y);
    }
    return CompareTexts(a.text, op, b.text, ignoreCase);
}

// Recursive descent over the documented grammar, evaluating as it goes:
//   expression  := eqv-term { IMP eqv-term }     (and so on down to)
//   and-term    := not-term { AND not-term }
//   not-term    := NOT not-term | term
//   term        := ( expression ) | value [ comparison value ]
class Parser {
public:
    Parser(const InstallerContext& context, std::u16string_view text) : context_(context), lexer_(text) {
        Advance();
    }

    int Evaluate() {
        if (token_.kind == Kind::End) return kMsiConditionNone;
        const bool result = Level(0);
        if (!ok_ || token_.kind != Kind::End) return kMsiConditionError;
        return result ? kMsiConditionTrue : kMsiConditionFalse;
    }

private:
    void Advance() { token_ = lexer_.Next(); }

    // Levels 0..4: IMP, EQV, XOR, OR, AND (loosest first), all left-associative.
    bool Level(int level) {
        static const Kind operators[] = {Kind::Imp, Kind::Eqv, Kind::Xor, Kind::Or, Kind::And};
        if (level == 5) return NotTerm();
        bool left = Level(level + 1);
        while (ok_ && token_.kind == operators[level]) {
            Advance();
            const bool right = Level(level + 1);
            switch (operators[level]) {
            case Kind::Imp: left = !left || right; break;
            case Kind::Eqv: left = left == right; break;
            case Kind::Xor: left = left != right; break;
            case Kind::Or: left = left || right; break;
            default: left = left && right; break;
            }
        }
        return left;
    }

    // NOT and parentheses recurse; a condition nested deeper than any
    // package would need is refused rather than allowed to exhaust the stack.
    static constexpr int kMaxDepth = 200;

    bool NotTerm() {
        if (token_.kind == Kind::Not) {
            if (++depth_ > kMaxDepth) return Fail();
            Advance();
            const bool result = !NotTerm();
            --depth_;
            return result;
        }
        return Term();
    }

    bool Term() {
        if (token_.kind == Kind::Open) {
            if (++depth_ > kMaxDepth) return Fail();
            Advance();
            const bool result = Level(0);
            if (token_.kind != Kind::Close) return Fail();
            Advance();
            --depth_;
            return result;
        }
        Value left;
        if (!Operand(&left)) return Fail();
        if (token_.kind != Kind::Compare) return left.Truth();
        const Op op = token_.op;
        const bool ignoreCase = token_.ignoreCase;
        Advance();
        Value right;
        if (!Operand(&right)) return Fail();
        return Compare(left, op, right, ignoreCase);
    }

    bool Operand(Value* value) {
        ItemState state;
        bool known = false;
        switch (token_.kind) {
        case Kind::Integer:
            value->type = Value::Type::Integer;
            value->integer = token_.integer;
            break;
        case Kind::Literal:
            value->type = Value::Type::Literal;
            value->text = token_.text;
            break;
        case Kind::Property:
            value->type = Value::Type::Symbol;
            value->text = context_.Property(std::u16string(token_.text));
            break;
        case Kind::Environment:
            value->type = Value::Type::Symbol;
            if (!context_.Environment(std::u16string(token_.text), &value->text)) value->text.clear();
            break;
        case Kind::ComponentInstalled:
        case Kind::ComponentAction:
        case Kind::FeatureInstalled:
        case Kind::FeatureAction: {
            const bool component = token_.kind == Kind::ComponentInstalled || token_.kind == Kind::ComponentAction;
            const bool installed = token_.kind == Kind::ComponentInstalled || token_.kind == Kind::FeatureInstalled;
            const std::u16string name(token_.text);
            known = component ? context_.ComponentState(name, &state) : context_.FeatureState(name, &state);
            if (known) {
                value->type = Value::Type::Integer;
                value->integer = installed ? state.installed : state.action;
            } else {
                value->type = Value::Type::Symbol;  // empty, like an unset property
            }
            break;
        }
        default: return false;
        }
        Advance();
        return true;
    }

    bool Fail() {
        ok_ = false;
        return false;
    }

    const InstallerContext& context_;
    Lexer lexer_;
    Token token_;
    bool ok_ = true;
    int depth_ = 0;
};

}  // namespace

int EvaluateConditionText(const InstallerContext& context, std::u16string_view condition) {
    return Parser(context, condition).Evaluate();
}

int EvaluateCondition(const InstallerSession& session, std::u16string_view condition) {
    return EvaluateConditionText(session, condition);
}

}  // namespace platform::posix
