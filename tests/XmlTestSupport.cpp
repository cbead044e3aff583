#include "XmlTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "platform/CodePage1252.h"

namespace xmltest {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::string DataFolder() {
    const char* dir = std::getenv("TRELLIS_TEST_DATA_DIR");
    std::string folder = dir != nullptr && *dir != '\0' ? dir : TRELLIS_TEST_DATA_DIR;
#ifdef _WIN32
    // Under Wine the build host's root is drive Z:.
    if (!folder.empty() && folder[0] == '/') {
        folder = "Z:" + folder;
        std::replace(folder.begin(), folder.end(), '/', '\\');
    }
#endif
    return folder;
}

void AppendUnit(DecodedFile& d, std::uint32_t cp, std::int32_t offset) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        d.text.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        d.text.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        d.offsets.push_back(offset);
        d.offsets.push_back(offset);
    } else {
        d.text.push_back(static_cast<char16_t>(cp));
        d.offsets.push_back(offset);
    }
}

// The line (from 1) of every code unit, and of the end.
std::vector<std::uint64_t> Lines(const WideString& text) {
    std::vector<std::uint64_t> lines(text.size() + 1, 1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool lineEnd = text[i] == u'\n' || (text[i] == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'));
        lines[i + 1] = lines[i] + (lineEnd ? 1 : 0);
    }
    return lines;
}

WideString NormaliseLineEnds(std::u16string_view raw) {
    WideString out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == u'\r') {
            out.push_back(u'\n');
            if (i + 1 < raw.size() && raw[i + 1] == u'\n') ++i;
        } else {
            out.push_back(raw[i]);
        }
    }
    return out;
}

// name="value" pairs of a start tag's attribute area, values as a parser
// reports them.
bool ParseAttributeArea(std::u16string_view area, std::vector<std::pair<WideString, WideString>>* out) {
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < area.size() && IsBlank(area[i])) ++i;
    };
    for (;;) {
        skipBlanks();
        if (i == area.size()) return true;
        const std::size_t nameStart = i;
        while (i < area.size() && !IsBlank(area[i]) && area[i] != u'=') ++i;
        const WideString name(area.substr(nameStart, i - nameStart));
        skipBlanks();
        if (i == area.size() || area[i] != u'=') return false;
        ++i;
        skipBlanks();
        if (i == area.size() || (area[i] != u'"' && area[i] != u'\'')) return false;
        const char16_t quote = area[i++];
        const std::size_t valueStart = i;
        while (i < area.size() && area[i] != quote) ++i;
        if (i == area.size()) return false;
        // Literal white space becomes a space; references stay what they say.
        WideString raw = NormaliseLineEnds(area.substr(valueStart, i - valueStart));
        for (char16_t& c : raw) {
            if (c == u'\n' || c == u'\t') c = u' ';
        }
        out->emplace_back(name, Unescape(raw));
        ++i;
    }
}

}  // namespace

std::string ReadSample(const std::string& name) {
    const std::string path = DataFolder() + "/xml/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return std::string();
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Utf16Le(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string Utf16Be(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c >> 8));
        bytes.push_back(static_cast<char>(c & 0xFF));
    }
    return bytes;
}

std::int32_t DecodedFile::UnitAt(std::int32_t offset) const {
    const auto it = std::lower_bound(offsets.begin(), offsets.end(), offset);
    if (it == offsets.end() || *it != offset) return -1;
    return static_cast<std::int32_t>(it - offsets.begin());
}

DecodedFile Decode(const std::string& bytes, XmlEncoding encoding) {
    DecodedFile d;
    const auto size = static_cast<std::int32_t>(bytes.size());
    const auto byte = [&](std::int32_t i) { return static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]); };
    if (encoding == XmlEncoding::Utf16) {
        for (std::int32_t i = 0; i + 1 < size; i += 2) {
            d.text.push_back(static_cast<char16_t>(byte(i) | (byte(i + 1) << 8)));
            d.offsets.push_back(i);
        }
    } else if (encoding == XmlEncoding::Utf8) {
        for (std::int32_t i = 0; i < size;) {
            const unsigned char b = byte(i);
            const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            std::uint32_t cp = length == 1 ? b : b & (0x3F >> (length - 1));
            for (int k = 1; k < length && i + k < size; ++k) cp = (cp << 6) | (byte(i + k) & 0x3F);
            AppendUnit(d, cp, i);
            i += length;
        }
    } else if (encoding == XmlEncoding::Windows1252) {
        for (std::int32_t i = 0; i < size; ++i) AppendUnit(d, codepage1252::ToUnicode(byte(i)), i);
    } else {
        for (std::int32_t i = 0; i < size; ++i) AppendUnit(d, byte(i), i);
    }
    d.offsets.push_back(size);
    return d;
}

std::string Transcode(WideString text, XmlEncoding to) {
    const std::size_t declEnd = text.find(u"?>");
    const std::size_t at = text.find(u"encoding=");
    if (text.compare(0, 5, u"<?xml") == 0 && at != WideString::npos && at < declEnd) {
        const char16_t quote = text[at + 9];
        const std::size_t close = text.find(quote, at + 10);
        text.replace(at + 10, close - at - 10, XmlEncodingName(to));
    }
    const std::string bytes = EncodeXmlText(to, text);
    return to == XmlEncoding::Utf16 ? "\xFF\xFE" + bytes : bytes;
}

WideString Unescape(std::u16string_view raw) {
    const WideString text = NormaliseLineEnds(raw);
    WideString out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            out.push_back(text[i]);
            continue;
        }
        const std::size_t semicolon = text.find(u';', i);
        const WideString name = text.substr(i + 1, semicolon - i - 1);
        if (name[0] == u'#') {
            const bool hex = name.size() > 1 && name[1] == u'x';
            std::uint32_t cp = 0;
            for (std::size_t k = hex ? 2 : 1; k < name.size(); ++k) {
                const char16_t c = name[k];
                const std::uint32_t digit = c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10;
                cp = cp * (hex ? 16 : 10) + digit;
            }
            if (cp >= 0x10000) {
                out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                out.push_back(static_cast<char16_t>(cp));
            }
        } else {
            const struct {
                const char16_t* name;
                char16_t c;
            } entities[] = {{u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}};
            bool known = false;
            for (const auto& e : entities) {
                if (name == e.name) {
                    out.push_back(e.c);
                    known = true;
                }
            }
            EXPECT_TRUE(known) << Narrow(name);
        }
        i = semicolon;
    }
    return out;
}

WideString RawText(const XmlTargetDatabase& db, std::int32_t begin, std::int32_t end) {
    const DecodedFile d = Decode(db.Updater().Bytes(), db.Updater().Encoding());
    const std::int32_t b = d.UnitAt(begin);
    const std::int32_t e = d.UnitAt(end);
    if (b < 0 || e < b) return u"<not a character range>";
    return d.text.substr(static_cast<std::size_t>(b), static_cast<std::size_t>(e - b));
}

void ExpectPositionsMatchBytes(const XmlTargetDatabase& db) {
    const DecodedFile d = Decode(db.Updater().Bytes(), db.Updater().Encoding());
    const WideString& text = d.text;
    const auto unit = [&](std::int32_t offset, const char* what, const TargetNode& n) {
        const std::int32_t u = d.UnitAt(offset);
        EXPECT_GE(u, 0) << Narrow(n.key) << ": " << what << " " << offset << " is not on a character";
        return static_cast<std::size_t>(std::max(u, 0));
    };
    const auto offset = [&](std::size_t u) { return d.offsets[std::min(u, d.offsets.size() - 1)]; };
    const std::vector<std::uint64_t> lines = Lines(text);
    const auto lineOf = [&](std::size_t u) { return lines[std::min(u, text.size())]; };
    std::map<const XmlNodeRecord*, std::vector<const TargetNode*>> children;
    for (const auto& entry : db.Nodes()) children[entry.second.parent].push_back(&entry.second);

    for (const auto& entry : db.Nodes()) {
        const TargetNode& n = entry.second;
        SCOPED_TRACE(Narrow(n.key));
        ASSERT_EQ(entry.first, n.key);

        const std::size_t s = unit(n.start, "start", n);
        ASSERT_EQ(text.substr(s, 1 + n.name.size()), u"<" + n.name);
        const std::size_t afterName = s + 1 + n.name.size();
        ASSERT_LT(afterName, text.size());
        ASSERT_TRUE(IsBlank(text[afterName]) || text[afterName] == u'/' || text[afterName] == u'>');
        EXPECT_EQ(n.startLine, lineOf(s));

        const std::size_t tagEnd = unit(n.startTagEnd, "startTagEnd", n);
        const bool empty = text[tagEnd] == u'/';
        EXPECT_TRUE(text[tagEnd] == u'>' || text.compare(tagEnd, 2, u"/>") == 0);

        const std::size_t attr = unit(n.attrStart, "attrStart", n);
        EXPECT_EQ(attr, IsBlank(text[afterName]) && afterName < tagEnd ? afterName + 1 : tagEnd);
        std::vector<std::pair<WideString, WideString>> area;
        EXPECT_TRUE(ParseAttributeArea(std::u16string_view(text).substr(attr, tagEnd - std::min(attr, tagEnd)), &area))
            << Narrow(text.substr(attr, tagEnd - attr));
        std::vector<std::pair<WideString, WideString>> expected;
        for (const XmlAttributeRecord& a : n.attributes) {
            EXPECT_EQ(a.origin, kAttributeFromTarget);
            EXPECT_EQ(a.order, static_cast<std::int32_t>(expected.size()));
            expected.emplace_back(a.name, a.value);
        }
        EXPECT_EQ(area, expected);

        std::size_t close = 0;  // the unit of the element's last ">"
        if (empty) {
            close = tagEnd + 1;
            EXPECT_EQ(n.endTagStart, n.end);
            EXPECT_EQ(n.endLine, lineOf(close));
        } else {
            const std::size_t endTag = unit(n.endTagStart, "endTagStart", n);
            EXPECT_EQ(text.substr(endTag, 2 + n.name.size()), u"</" + n.name);
            close = endTag + 2 + n.name.size();
            while (close < text.size() && IsBlank(text[close])) ++close;
            EXPECT_EQ(n.endLine, lineOf(endTag));
        }
        ASSERT_LT(close, text.size());
        EXPECT_EQ(text[close], u'>');
        EXPECT_EQ(n.end, offset(close + 1));

        const TargetNode* parent = n.Parent();
        if (parent != nullptr) {
            EXPECT_GT(n.start, parent->startTagEnd);
            EXPECT_LE(n.end, parent->endTagStart);
            const auto& siblings = children[parent];
            const auto before = std::count_if(siblings.begin(), siblings.end(),
                                              [&](const TargetNode* other) { return other->start < n.start; });
            EXPECT_EQ(n.index, before);
        } else {
            EXPECT_EQ(&n, db.Root());
            EXPECT_EQ(n.index, 0);
        }

        std::vector<WideString> pieces;
        std::int32_t previousEnd = n.startTagEnd;
        for (const TextRange& r : n.textRanges) {
            EXPECT_LT(r.begin, r.end);
            EXPECT_GT(r.begin, previousEnd);
            EXPECT_LE(r.end, n.endTagStart);
            previousEnd = r.end;
            for (const TargetNode* child : children[&n]) EXPECT_TRUE(r.end <= child->start || r.begin >= child->end);
            const std::size_t b = unit(r.begin, "text begin", n);
            const std::size_t e = unit(r.end, "text end", n);
            const WideString raw = text.substr(b, e - b);
            ASSERT_FALSE(raw.empty());
            EXPECT_FALSE(IsBlank(raw.front()) || IsBlank(raw.back())) << Narrow(raw);
            if (r.cdata) {
                // Only white space between the range and the section's delimiters.
                const std::size_t open = text.rfind(u"<![CDATA[", b);
                ASSERT_NE(open, WideString::npos);
                const std::size_t closing = text.find(u"]]>", e);
                ASSERT_NE(closing, WideString::npos);
                EXPECT_TRUE(std::all_of(text.begin() + static_cast<std::ptrdiff_t>(open + 9),
                                        text.begin() + static_cast<std::ptrdiff_t>(b), IsBlank));
                EXPECT_TRUE(std::all_of(text.begin() + static_cast<std::ptrdiff_t>(e),
                                        text.begin() + static_cast<std::ptrdiff_t>(closing), IsBlank));
                EXPECT_EQ(raw.find(u"]]>"), WideString::npos);
                pieces.push_back(NormaliseLineEnds(raw));
            } else {
                EXPECT_EQ(raw.find(u'<'), WideString::npos) << Narrow(raw);
                pieces.push_back(Unescape(raw));
            }
        }
        if (pieces.empty()) {
            EXPECT_EQ(n.text, u"");
        } else {
            EXPECT_EQ(n.text.compare(0, pieces.front().size(), pieces.front()), 0)
                << Narrow(n.text) << " | " << Narrow(pieces.front());
            EXPECT_GE(n.text.size(), pieces.back().size());
            EXPECT_EQ(n.text.compare(n.text.size() - std::min(n.text.size(), pieces.back().size()),
                                     WideString::npos, pieces.back()),
                      0)
                << Narrow(n.text) << " | " << Narrow(pieces.back());
            std::size_t from = 0;
            for (const WideString& piece : pieces) {
                const std::size_t at = n.text.find(piece, from);
                EXPECT_NE(at, WideString::npos) << Narrow(piece);
                if (at != WideString::npos) from = at + piece.size();
            }
        }
    }
}

}  // namespace xmltest
