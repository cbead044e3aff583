#include "platform/os/XmlEscape.h"

#include "platform/os/XmlCharClass.h"

namespace {

// The entity reference that stands for c, or null when c is copied or
// written as a character reference. Quotes need one in attribute values only.
const char16_t* EntityFor(char16_t c, bool attribute) {
    switch (c) {
    case u'&': return u"&amp;";
    case u'<': return u"&lt;";
    case u'>': return u"&gt;";
    case u'"': return attribute ? u"&quot;" : nullptr;
    case u'\'': return attribute ? u"&apos;" : nullptr;
    default: return nullptr;
    }
}

// Character data keeps tab and line ends as they are; an attribute value
// writes them as references, which attribute-value normalisation leaves alone.
bool IsCopied(char16_t c, bool attribute) {
    if (c == u' ' || IsGraphCharacter(c)) return true;
    return !attribute && (c == u'\t' || c == u'\n' || c == u'\r');
}

WideString Escape(std::u16string_view text, bool attribute) {
    WideString out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (const char16_t* entity = EntityFor(c, attribute)) {
            out += entity;
        } else if (IsCopied(c, attribute)) {
            out.push_back(c);
        } else {
            out += u"&#" + ToWideUnsigned(c) + u";";
        }
    }
    return out;
}

}  // namespace

WideString EscapeText(std::u16string_view text) { return Escape(text, false); }

WideString EscapeAttribute(std::u16string_view text) { return Escape(text, true); }
