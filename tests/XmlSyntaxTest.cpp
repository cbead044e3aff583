// The checks of names and characters against Expat itself (what they let
// through must read back, and what they refuse must not), and escaping of
// character data and attribute values over our own "graph" class.
#include <gtest/gtest.h>
#include <expat.h>

#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Exception.h"
#include "platform/os/XmlCharClass.h"
#include "platform/os/XmlEscape.h"
#include "platform/os/XmlSyntax.h"
#include "support/MergeBench.h"

namespace {

// Whether Expat reads "<a>&#N;</a>", a reference to the character.
bool ExpatTakesReference(char32_t character) {
    const std::string document = "<a>&#" + std::to_string(static_cast<std::uint32_t>(character)) + ";</a>";
    return test::StrictRead(document).has_value();
}

std::u16string Utf16(char32_t character) {
    if (character < 0x10000) return std::u16string(1, static_cast<char16_t>(character));
    character -= 0x10000;
    return {static_cast<char16_t>(0xD800 + (character >> 10)), static_cast<char16_t>(0xDC00 + (character & 0x3FF))};
}

TEST(XmlSyntax, AsciiNamesAreDecidedAsExpatDecidesThem) {
    // A trailing é sends a name to Expat; it never changes whether the
    // name is one, so both answers must agree for every ASCII character.
    for (char16_t c = 1; c < 0x80; ++c) {
        const std::u16string first = std::u16string(1, c) + u"a";
        const std::u16string later = u"a" + std::u16string(1, c);
        EXPECT_EQ(IsXmlName(first), IsXmlName(first + u"\u00E9")) << "first " << int(c);
        EXPECT_EQ(IsXmlName(later), IsXmlName(later + u"\u00E9")) << "later " << int(c);
    }
    // Names Expat would read as something else: an attribute, an end.
    const std::pair<std::u16string, bool> cases[] = {
        {u"x:y-z.1_", true},   {u"\u4E2D\u6587", true}, {u"\U00010000", false},   {u"a\u00E9 b", false},
        {u"a\u00E9/", false},  {u"\u00E9='' b", false}, {u"\u00E9 b=''", false}, {u"\u00E9></\u00E9", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsXmlName(c.first), c.second) << Narrow(c.first);
}

// Expat takes U+00B5 for a name character when it reads UTF-16 and not when
// it reads UTF-8 (found by fuzzing: an inserted element named so broke a
// UTF-8 file). Every name the check passes must read back from a file in
// each encoding that holds it; every 3rd character beyond Latin-1 is enough.
TEST(XmlSyntax, NamesReadBackInEveryEncodingThatHoldsThem) {
    const XmlEncoding encodings[] = {XmlEncoding::Utf8,     XmlEncoding::Utf16,       XmlEncoding::Utf16BE,
                                     XmlEncoding::Iso88591, XmlEncoding::Windows1252, XmlEncoding::UsAscii};
    for (char32_t c = 0x80; c < 0x10000; c += c < 0x100 ? 1 : 3) {
        if (c >= 0xD800 && c < 0xE000) continue;
        const std::u16string name = u"a" + Utf16(c);
        if (!IsXmlName(name)) continue;
        for (XmlEncoding encoding : encodings) {
            if (!CanEncode(encoding, c)) continue;
            const std::string bytes = EncodeXmlText(
                encoding, u"<?xml version=\"1.0\" encoding=\"" + XmlEncodingName(encoding) + u"\"?><" + name + u"/>");
            XmlTargetDatabase db(u"names.xml");
            try {
                db.Parse(bytes);
                EXPECT_EQ(db.Root()->name, name);
            } catch (const Exception&) {
                ADD_FAILURE() << std::hex << c << " in " << Narrow(XmlEncodingName(encoding));
            }
        }
    }
}

TEST(XmlSyntax, DisallowedCharactersAreThoseExpatRefusesEvenAsReferences) {
    std::vector<char32_t> probes;
    for (char32_t c = 0; c <= 0x100; ++c) probes.push_back(c);
    for (char32_t c = 0xD7F0; c <= 0xE010; c += (c >= 0xD800 && c < 0xE000) ? 0x3F : 1) probes.push_back(c);
    for (char32_t c = 0xFFF0; c <= 0x10010; ++c) probes.push_back(c);
    probes.push_back(0x10FFFF);
    for (char32_t c : probes) {
        // A lone surrogate in UTF-16 text is refused like its reference.
        const std::u16string text = u"a" + Utf16(c) + u"b";
        EXPECT_EQ(!FindDisallowedXmlCharacter(text).has_value(), ExpatTakesReference(c)) << std::hex << c;
    }
    EXPECT_EQ(FindDisallowedXmlCharacter(u"ok\xDC00\xD800"), char32_t{0xDC00});
    EXPECT_EQ(FindDisallowedXmlCharacter(u"ends\xD800"), char32_t{0xD800});
}

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
