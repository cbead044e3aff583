// Where the attributes of a start tag lie in the bytes. The tag was
// parsed, so its shape is known: the name, then blanks, a name, "=", a
// quoted value, and so on up to ">" or "/>". Offsets step by code units
// (two bytes in a UTF-16 file), read through a function, so that the same
// scan serves the bytes as read and the bytes as edited.
#pragma once

#include <cstdint>

inline bool IsTagBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

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
