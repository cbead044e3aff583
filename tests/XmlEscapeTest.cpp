// Escaping of character data and attribute values over our own "graph"
// class, the same on every build.
#include <gtest/gtest.h>

#include "platform/os/XmlCharClass.h"
#include "platform/os/XmlEscape.h"

namespace {

TEST(XmlEscape, TextAndAttributeValues) {
    struct Case {
        std::u16string in;
        std::u16string text;
        std::u16string attribute;
    };
    const Case cases[] = {
        {u"a<b>&c", u"a&lt;b&gt;&amp;c", u"a&lt;b&gt;&amp;c"},
        {u"say \"hi\" 'x'", u"say \"hi\" 'x'", u"say &quot;hi&quot; &apos;x&apos;"},
        {u"a\tb\r\nc", u"a\tb\r\nc", u"a&#9;b&#13;&#10;c"},
        {u"\u0001\u007F\u0085", u"&#1;&#127;&#133;", u"&#1;&#127;&#133;"},
        // No-break spaces are graph; other spaces and the separators are not.
        {u"\u00A0\u2003\u2028", u"\u00A0&#8195;&#8232;", u"\u00A0&#8195;&#8232;"},
        {u"\u0378\uFFFF", u"&#888;&#65535;", u"&#888;&#65535;"},  // unassigned
        {u"\u00E9\u0416\u0627\u4E2D\uAC00e\u0301\u200B\uE000", u"\u00E9\u0416\u0627\u4E2D\uAC00e\u0301\u200B\uE000",
         u"\u00E9\u0416\u0627\u4E2D\uAC00e\u0301\u200B\uE000"},
        {u"\U0001F600", u"\U0001F600", u"\U0001F600"},  // a pair stays whole
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeText(c.in), c.text) << Narrow(c.in);
        EXPECT_EQ(EscapeAttribute(c.in), c.attribute) << Narrow(c.in);
    }
}

TEST(XmlEscape, GraphClassAtTheEdgesOfItsTable) {
    for (char16_t c = 0; c < 0x80; ++c) EXPECT_EQ(IsGraphCharacter(c), c > 0x20 && c < 0x7F) << int(c);
    const std::pair<char16_t, bool> cases[] = {{0x0377, true}, {0x0378, false}, {0x2007, true}, {0x200A, false},
                                               {0xD7FB, true}, {0xD7FC, false}, {0xD800, true}, {0xFA6D, true},
                                               {0xFA6E, false}, {0xFFFD, true}, {0xFFFE, false}};
    for (const auto& c : cases) EXPECT_EQ(IsGraphCharacter(c.first), c.second) << std::hex << int(c.first);
}

}  // namespace
