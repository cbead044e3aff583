// Escaping of character data and attribute values, and the character class
// that decides what is copied.
#include <gtest/gtest.h>

#include "platform/os/XmlCharClass.h"
#include "platform/os/XmlEscape.h"

namespace {

TEST(XmlEscape, TextAndAttributeValues) {
    struct Case {
        const char* name;
        std::u16string in;
        std::u16string text;
        std::u16string attribute;
    };
    const Case cases[] = {
        {"plain", u"abc 123", u"abc 123", u"abc 123"},
        {"markup", u"a<b>&c", u"a&lt;b&gt;&amp;c", u"a&lt;b&gt;&amp;c"},
        {"quotes", u"say \"hi\" 'x'", u"say \"hi\" 'x'", u"say &quot;hi&quot; &apos;x&apos;"},
        {"line ends and tabs", u"a\tb\r\nc", u"a\tb\r\nc", u"a&#9;b&#13;&#10;c"},
        {"controls", u"\u0001\u001F\u007F", u"&#1;&#31;&#127;", u"&#1;&#31;&#127;"},
        {"C1 controls", u"\u0080\u0085\u009F", u"&#128;&#133;&#159;", u"&#128;&#133;&#159;"},
        {"no-break space is copied", u"\u00A0\u202F", u"\u00A0\u202F", u"\u00A0\u202F"},
        {"other spaces are not", u"\u2003\u3000", u"&#8195;&#12288;", u"&#8195;&#12288;"},
        {"line and paragraph separators", u"\u2028\u2029", u"&#8232;&#8233;", u"&#8232;&#8233;"},
        {"unassigned", u"\u0378\uFFFE\uFFFF", u"&#888;&#65534;&#65535;", u"&#888;&#65534;&#65535;"},
        {"letters of many scripts", u"\u00E9\u03A9\u0416\u05D0\u0627\u4E2D\uAC00",
         u"\u00E9\u03A9\u0416\u05D0\u0627\u4E2D\uAC00", u"\u00E9\u03A9\u0416\u05D0\u0627\u4E2D\uAC00"},
        {"format characters and combining marks", u"e\u0301\u200B\uFEFF", u"e\u0301\u200B\uFEFF",
         u"e\u0301\u200B\uFEFF"},
        {"private use", u"\uE000\uF8FF", u"\uE000\uF8FF", u"\uE000\uF8FF"},
        {"a character beyond U+FFFF stays whole", u"\U0001F600", u"\U0001F600", u"\U0001F600"},
        {"empty", u"", u"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeText(c.in), c.text) << c.name;
        EXPECT_EQ(EscapeAttribute(c.in), c.attribute) << c.name;
    }
}

TEST(XmlEscape, GraphClassOfAsciiAndTheTableEdges) {
    for (char16_t c = 0; c < 0x80; ++c) EXPECT_EQ(IsGraphCharacter(c), c > 0x20 && c < 0x7F) << int(c);
    struct Case {
        char16_t c;
        bool graph;
    };
    const Case cases[] = {
        {0x00A0, true},  {0x0377, true},  {0x0378, false}, {0x1680, false}, {0x2000, false},
        {0x200A, false}, {0x2007, true},  {0x205F, false}, {0xD7FB, true},  {0xD7FC, false},
        {0xD800, true},  {0xDFFF, true},  {0xFA6D, true},  {0xFA6E, false}, {0xFFFD, true},
        {0xFFFC, true},  {0x0000, false}, {0xFFFF, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsGraphCharacter(c.c), c.graph) << std::hex << int(c.c);
}

}  // namespace
