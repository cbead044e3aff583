#include "platform/os/XmlEscape.h"

#include "platform/os/XmlCharClass.h"

namespace {

void AppendReference(WideString& out, char16_t c) { out += u"&#" + ToWideUnsigned(c) + u";"; }

}  // namespace

WideString EscapeText(std::u16string_view text) {
    WideString out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
        case u'&': out += u"&amp;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u'\t':
        case u'\n':
        case u'\r':
        case u' ': out.push_back(c); break;
        default:
            if (IsGraphCharacter(c)) {
                out.push_back(c);
            } else {
                AppendReference(out, c);
            }
        }
    }
    return out;
}

WideString EscapeAttribute(std::u16string_view text) {
    WideString out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
        case u'"': out += u"&quot;"; break;
        case u'&': out += u"&amp;"; break;
        case u'\'': out += u"&apos;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u' ': out.push_back(c); break;
        default:
            if (IsGraphCharacter(c)) {
                out.push_back(c);
            } else {
                AppendReference(out, c);
            }
        }
    }
    return out;
}
