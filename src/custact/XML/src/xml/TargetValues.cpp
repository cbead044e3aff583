// Attribute values and texts of the target's elements, decoded from the
// bytes as read when they are asked for. Only what the bytes alone cannot
// give is kept in memory: texts of mixed content or of entity references,
// attributes whose values a DTD changes, and what this run's edits wrote.
#include <algorithm>

#include "custact/XML/src/xml/XmlTagScan.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "platform/CodePage1252.h"

namespace {

std::string_view Span(const std::string& bytes, std::int32_t begin, std::int32_t end) {
    return std::string_view(bytes).substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

// The character a reference between "&" and ";" stands for: one of the
// five predefined entities or a character reference. Nothing for any
// other name, which only a DTD can declare.
std::optional<char32_t> ResolveReference(std::u16string_view name) {
    if (name == u"amp") return U'&';
    if (name == u"lt") return U'<';
    if (name == u"gt") return U'>';
    if (name == u"quot") return U'"';
    if (name == u"apos") return U'\'';
    if (name.size() < 2 || name[0] != u'#') return std::nullopt;
    const bool hex = name[1] == u'x';
    const std::u16string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return std::nullopt;
    char32_t value = 0;
    for (char16_t c : digits) {
        int digit = -1;
        if (c >= u'0' && c <= u'9') digit = c - u'0';
        if (hex && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
        if (hex && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
        // Detect and prevent overflow: no character lies beyond U+10FFFF.
        if (value > 0x10FFFF) return std::nullopt;
    }
    return value;
}

// Raw character data or an attribute value as Expat reports it: line ends
// as line feeds, references resolved, and in an attribute value each
// white-space character written as such a space. A CDATA section's content
// has no references.
std::optional<WideString> Unescape(std::u16string_view raw, bool attribute, bool cdata) {
    WideString out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char16_t c = raw[i];
        if (c == u'\r') {
            if (i + 1 < raw.size() && raw[i + 1] == u'\n') ++i;
            out.push_back(attribute ? u' ' : u'\n');
        } else if (attribute && (c == u'\n' || c == u'\t')) {
            out.push_back(u' ');
        } else if (c != u'&' || cdata) {
            out.push_back(c);
        } else {
            const std::size_t semicolon = raw.find(u';', i);
            if (semicolon == std::u16string_view::npos) return std::nullopt;
            const std::optional<char32_t> character = ResolveReference(raw.substr(i + 1, semicolon - i - 1));
            if (!character) return std::nullopt;
            strings::AppendUtf16(out, *character);
            i = semicolon;
        }
    }
    return out;
}

// Whether raw single-byte or UTF-8 bytes read as exactly the text, when
// nothing in them is resolved or normalised (no reference outside a CDATA
// section, no CR): the common case, told without building a string. False
// also when it cannot be told this way.
bool ReadsAs(std::string_view raw, XmlEncoding encoding, bool cdata, std::u16string_view text) {
    std::size_t t = 0;
    for (std::size_t i = 0; i < raw.size();) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c == '\r' || (c == '&' && !cdata)) return false;
        char32_t character = c;
        std::size_t length = 1;
        if (c >= 0x80) {
            if (encoding == XmlEncoding::Windows1252) {
                character = codepage1252::ToUnicode(c);
            } else if (encoding == XmlEncoding::Utf8) {
                const strings::Utf8Sequence sequence = strings::DecodeUtf8(raw, i);
                if (!sequence.valid) return false;
                character = sequence.codePoint;
                length = sequence.length;
            } else if (encoding != XmlEncoding::Iso88591) {
                return false;
            }
        }
        i += length;
        if (character > 0xFFFF) {
            if (t + 1 >= text.size() || text[t] != 0xD800 + ((character - 0x10000) >> 10) ||
                text[t + 1] != 0xDC00 + ((character - 0x10000) & 0x3FF))
                return false;
            t += 2;
        } else if (t >= text.size() || text[t++] != character) {
            return false;
        }
    }
    return t == text.size();
}

}  // namespace

std::optional<WideString> XmlTargetDatabase::DecodedRange(const TextRange& range) const {
    const std::string& bytes = updater_.Original();
    const WideString raw = DecodeXmlText(updater_.Encoding(), Span(bytes, range.begin, range.end));
    return Unescape(raw, false, range.cdata);
}

void XmlTargetDatabase::CheckTextOf(NodeId id, std::u16string_view text) {
    NodeData& node = nodes_[id];
    if (node.rangeCount == 1) {
        const TextRange& range = ranges_[node.firstRange];
        if (!IsUtf16(updater_.Encoding()) &&
            ReadsAs(Span(updater_.Original(), range.begin, range.end), updater_.Encoding(), range.cdata, text))
            return;
        const std::optional<WideString> decoded = DecodedRange(range);
        if (decoded && *decoded == text) return;
    } else if (node.rangeCount == 0 && text.empty()) {
        return;
    }
    texts_[id] = WideString(text);
    node.flags |= kTextKept;
}

WideString XmlTargetDatabase::TextOf(NodeId id) const {
    const NodeData& node = nodes_[id];
    if (node.flags & kTextKept) return texts_.at(id);
    if (node.rangeCount != 1) return WideString();
    return DecodedRange(ranges_[node.firstRange]).value_or(WideString());
}

void XmlTargetDatabase::SetText(NodeId id, WideString text) {
    texts_[id] = std::move(text);
    nodes_[id].flags |= kTextKept;
}

namespace {

// The attributes' bytes of a start tag as read, one code unit per step.
template <typename Visit>
void ForEachOriginalAttribute(const std::string& bytes, XmlEncoding encoding, std::int32_t start,
                              std::int32_t startTagEnd, const Visit& visit) {
    if (!IsUtf16(encoding)) {
        // A unit is a byte, and the scan reads none past the tag's end,
        // which lies inside the bytes: each is read as it is. Matching
        // reads many start tags per search.
        const char* data = bytes.data();
        const auto byteAt = [data](std::int32_t p) {
            return static_cast<char16_t>(static_cast<unsigned char>(data[p]));
        };
        ForEachAttribute(byteAt, 1, start, startTagEnd, visit);
        return;
    }
    const auto unitAt = [&](std::int32_t p) { return CodeUnitAt(encoding, bytes, p); };
    ForEachAttribute(unitAt, 2, start, startTagEnd, visit);
}

// An attribute value as Expat reports it, from its raw text; most values
// hold nothing to resolve or normalise and are taken as they are.
WideString AttributeText(WideString raw) {
    if (raw.find_first_of(u"&\t\n\r") == WideString::npos) return raw;
    std::optional<WideString> value = Unescape(raw, true, false);
    return value ? std::move(*value) : raw;
}

}  // namespace

std::vector<XmlAttributeRecord> XmlTargetDatabase::AttributesOf(NodeId id) const {
    const NodeData& node = nodes_[id];
    if (node.flags & kAttributesKept) return attributeLists_.at(id);
    const std::string& bytes = updater_.Original();
    const XmlEncoding encoding = updater_.Encoding();
    std::vector<XmlAttributeRecord> attributes;
    ForEachOriginalAttribute(bytes, encoding, node.start, node.startTagEnd, [&](const AttributeBytes& a) {
        attributes.push_back({kAttributeFromTarget, DecodeXmlText(encoding, Span(bytes, a.start, a.nameEnd)),
                              AttributeText(DecodeXmlText(encoding, Span(bytes, a.valueBegin, a.valueEnd))), 0,
                              static_cast<std::int32_t>(attributes.size())});
        return true;
    });
    return attributes;
}

std::optional<WideString> XmlTargetDatabase::AttributeValue(NodeId id, std::u16string_view name) const {
    const NodeData& node = nodes_[id];
    if (node.flags & kAttributesKept) {
        for (const XmlAttributeRecord& a : attributeLists_.at(id)) {
            if (a.name == name) return a.value;
        }
        return std::nullopt;
    }
    const std::string& bytes = updater_.Original();
    const XmlEncoding encoding = updater_.Encoding();
    // Names are compared as bytes: a name in a start tag holds no reference.
    const std::string encodedName = EncodeXmlText(encoding, WideString(name));
    std::optional<WideString> value;
    ForEachOriginalAttribute(bytes, encoding, node.start, node.startTagEnd, [&](const AttributeBytes& a) {
        if (Span(bytes, a.start, a.nameEnd) != encodedName) return true;
        value = AttributeText(DecodeXmlText(encoding, Span(bytes, a.valueBegin, a.valueEnd)));
        return false;
    });
    return value;
}

std::size_t XmlTargetDatabase::AttributeCount(NodeId id) const {
    const NodeData& node = nodes_[id];
    if (node.flags & kAttributesKept) return attributeLists_.at(id).size();
    std::size_t count = 0;
    ForEachOriginalAttribute(updater_.Original(), updater_.Encoding(), node.start, node.startTagEnd,
                             [&count](const AttributeBytes&) {
                                 ++count;
                                 return true;
                             });
    return count;
}

namespace {

// Whether the raw value's bytes are what its text encodes to: nothing in
// it that Expat would resolve or normalise.
bool IsLiteral(std::string_view raw, XmlEncoding encoding) {
    const std::size_t unit = IsUtf16(encoding) ? 2 : 1;
    const std::size_t low = encoding == XmlEncoding::Utf16BE ? 1 : 0;
    for (std::size_t i = 0; i + unit <= raw.size(); i += unit) {
        if (unit == 2 && raw[i + 1 - low] != 0) continue;
        const char c = raw[i + low];
        if (c == '&' || c == '\t' || c == '\n' || c == '\r') return false;
    }
    return true;
}

std::uint64_t HashBytes(std::string_view bytes) { return std::hash<std::string_view>()(bytes); }

}  // namespace

XmlTargetDatabase::KeyProbe XmlTargetDatabase::ProbeFor(const XmlAttributeRecord& key) const {
    return {&key, EncodeXmlText(updater_.Encoding(), key.name), EncodeXmlText(updater_.Encoding(), key.value),
            key.value.find(u' ') == WideString::npos};
}

bool XmlTargetDatabase::HasKey(NodeId id, const KeyProbe& probe) const {
    const NodeData& node = nodes_[id];
    if (node.flags & kAttributesKept) {
        for (const XmlAttributeRecord& a : attributeLists_.at(id)) {
            if (a.name == probe.key->name) return a.value == probe.key->value;
        }
        return false;
    }
    const std::string& bytes = updater_.Original();
    const XmlEncoding encoding = updater_.Encoding();
    // A value read from bytes without a reference differs from its bytes
    // only where line ends and tabs read as blanks. So for a key without a
    // blank, a start tag that holds neither "&" nor the key's bytes has no
    // such value, and is passed over without reading its attributes: the
    // first search of a parent reads the start tags of all its children.
    if (probe.blankFree && !probe.value.empty()) {
        const std::string_view tag = Span(bytes, node.start, node.startTagEnd);
        if (tag.find(probe.value) == std::string_view::npos && tag.find('&') == std::string_view::npos) return false;
    }
    bool found = false;
    ForEachOriginalAttribute(bytes, encoding, node.start, node.startTagEnd, [&](const AttributeBytes& a) {
        if (Span(bytes, a.start, a.nameEnd) != probe.name) return true;
        const std::string_view raw = Span(bytes, a.valueBegin, a.valueEnd);
        if (IsLiteral(raw, encoding)) {
            // Equal bytes are the same text, unless the key holds what the
            // encoding cannot (a lone surrogate).
            found = raw == probe.value && DecodeXmlText(encoding, raw) == probe.key->value;
        } else {
            const WideString text = DecodeXmlText(encoding, raw);
            found = Unescape(text, true, false).value_or(text) == probe.key->value;
        }
        return false;
    });
    return found;
}

std::optional<std::uint64_t> XmlTargetDatabase::ValueHash(NodeId id, const std::string& name) const {
    const NodeData& node = nodes_[id];
    const XmlEncoding encoding = updater_.Encoding();
    if (node.flags & kAttributesKept) {
        for (const XmlAttributeRecord& a : attributeLists_.at(id)) {
            if (EncodeXmlText(encoding, a.name) == name) return HashBytes(EncodeXmlText(encoding, a.value));
        }
        return std::nullopt;
    }
    const std::string& bytes = updater_.Original();
    std::optional<std::uint64_t> hash;
    ForEachOriginalAttribute(bytes, encoding, node.start, node.startTagEnd, [&](const AttributeBytes& a) {
        if (Span(bytes, a.start, a.nameEnd) != name) return true;
        const std::string_view raw = Span(bytes, a.valueBegin, a.valueEnd);
        if (IsLiteral(raw, encoding)) {
            hash = HashBytes(raw);
        } else {
            const WideString text = DecodeXmlText(encoding, raw);
            hash = HashBytes(EncodeXmlText(encoding, Unescape(text, true, false).value_or(text)));
        }
        return false;
    });
    return hash;
}

void XmlTargetDatabase::CheckAttributesOf(NodeId id, const XmlReaderAttributes& attributes) {
    std::vector<XmlAttributeRecord> parsed;
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        parsed.push_back({kAttributeFromTarget, attributes.Name(i), attributes.Value(i), 0,
                          static_cast<std::int32_t>(i)});
    }
    const std::vector<XmlAttributeRecord> decoded = AttributesOf(id);
    const bool same = std::equal(parsed.begin(), parsed.end(), decoded.begin(), decoded.end(),
                                 [](const XmlAttributeRecord& a, const XmlAttributeRecord& b) {
                                     return a.name == b.name && a.value == b.value;
                                 });
    if (same) return;
    attributeLists_[id] = std::move(parsed);
    nodes_[id].flags |= kAttributesKept;
}

void XmlTargetDatabase::SetAttributes(NodeId id, std::vector<XmlAttributeRecord> attributes,
                                      const std::vector<XmlAttributeRecord>& before) {
    attributeLists_[id] = std::move(attributes);
    nodes_[id].flags |= kAttributesKept;
    ReindexValues(id, before, attributeLists_[id]);
}
