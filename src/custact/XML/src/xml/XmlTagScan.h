// Scans over the markup of a file that was parsed: the blanks the engine
// tells apart, where a start tag ends and where its attributes lie. The
// tag's shape is known: the name, then blanks, a name, "=", a quoted value,
// and so on up to ">" or "/>". Offsets step by code units (two bytes in a
// UTF-16 file), read through a function, so that the same scan serves the
// bytes as read and the bytes as edited.
#pragma once

#include <cstdint>

// XML's four blanks: between the parts of a tag, and around texts.
inline bool IsTagBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }
// White space as the C library knows it: also vertical tab and form feed.
inline bool IsCSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
// The blanks of an indentation.
inline bool IsIndentBlank(char16_t c) { return c == u' ' || c == u'\t'; }
inline bool IsLineEnd(char16_t c) { return c == u'\n' || c == u'\r'; }

// The ">" that ends the tag whose name starts at from, or stop when there
// is none before it. A ">" inside a quoted attribute value does not end the
// tag.
template <typename UnitAt>
std::int32_t FindTagClose(const UnitAt& unitAt, std::int32_t unit, std::int32_t from, std::int32_t stop) {
    char16_t quote = 0;
    for (; from < stop; from += unit) {
        const char16_t c = unitAt(from);
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            break;
        }
    }
    return from;
}

// Where the name of the tag whose "<" is at start ends: at the first blank,
// "/" or ">", or at stop.
template <typename UnitAt>
std::int32_t TagNameEnd(const UnitAt& unitAt, std::int32_t unit, std::int32_t start, std::int32_t stop) {
    std::int32_t p = start + unit;
    for (char16_t c = unitAt(p); p < stop && !IsTagBlank(c) && c != u'/' && c != u'>'; c = unitAt(p += unit)) {
    }
    return p;
}

// One attribute: from its name to past its closing quote.
struct AttributeBytes {
    std::int32_t start = -1;
    std::int32_t nameEnd = -1;
    std::int32_t valueBegin = -1;
    std::int32_t valueEnd = -1;  // the closing quote
    std::int32_t end = -1;
    char16_t quote = u'"';
};

// Calls visit(AttributeBytes) for each attribute of the tag whose "<" is at
// start and whose startTagEnd is stop, in order, until visit gives false.
template <typename UnitAt, typename Visit>
void ForEachAttribute(const UnitAt& unitAt, std::int32_t unit, std::int32_t start, std::int32_t stop,
                      const Visit& visit) {
    std::int32_t p = start + unit;
    while (p < stop && !IsTagBlank(unitAt(p))) p += unit;
    for (;;) {
        while (p < stop && IsTagBlank(unitAt(p))) p += unit;
        if (p >= stop) return;
        AttributeBytes a;
        a.start = p;
        while (p < stop && unitAt(p) != u'=' && !IsTagBlank(unitAt(p))) p += unit;
        a.nameEnd = p;
        while (p < stop && unitAt(p) != u'\'' && unitAt(p) != u'"') p += unit;
        if (p >= stop) return;
        a.quote = unitAt(p);
        a.valueBegin = p += unit;
        while (p < stop && unitAt(p) != a.quote) p += unit;
        a.valueEnd = p;
        a.end = p += unit;
        if (!visit(a)) return;
    }
}
