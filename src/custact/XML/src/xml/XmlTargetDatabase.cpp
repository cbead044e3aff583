// Parsing the target file into the element table, and what each element
// holds: positions through anchors, names, keys, lines.
#include "custact/XML/src/xml/XmlTargetDatabase.h"

#include <algorithm>
#include <limits>

#include "custact/XML/src/xml/XmlTagScan.h"
#include "installer/Exception.h"
#include "installer/Logger.h"

namespace {

bool IsDigits(std::u16string_view text) {
    return !text.empty() && text[0] != u'0' &&
           std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::int32_t ByteOrderMarkLength(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return 3;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) return 2;
    return 0;
}

// "root/a[1]/b[2]" from a chain of steps listed from the last one up to
// the root, by their names and indices (the root's index is not shown).
// Sized once: each record of a run logs its path.
template <typename Step, typename NameOf, typename IndexOf>
WideString JoinPath(const std::vector<Step>& chain, NameOf name, IndexOf index, bool withoutIndex) {
    constexpr std::size_t kStepMarks = 14;  // "/", "[", "]" and the digits of an index
    std::size_t length = 0;
    for (const Step& step : chain) length += name(step).size() + kStepMarks;
    WideString path;
    path.reserve(length);
    path.append(name(chain.back()));
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        path.append(u"/").append(name(*it));
        if (!withoutIndex) path.append(u"[").append(ToWideDecimal(index(*it))).append(u"]");
    }
    return path;
}

}  // namespace

WideString NormalisedComment(std::u16string_view text) {
    const WideString trimmed = TrimXmlBlanks(text);
    WideString normalised;
    normalised.reserve(trimmed.size());
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
        const char16_t c = trimmed[i];
        if (c == u'\r' || c == u'\n') {
            normalised += u"\r\n";
            if (c == u'\r' && i + 1 < trimmed.size() && trimmed[i + 1] == u'\n') ++i;
        } else {
            normalised += c;
        }
    }
    return normalised;
}

WideString TrimXmlBlanks(std::u16string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsTagBlank(text[first])) ++first;
    while (last > first && IsTagBlank(text[last - 1])) --last;
    return WideString(text.substr(first, last - first));
}

WideString GetNodePath(const XmlNodeRecord& record, bool withoutIndex) {
    std::vector<const XmlNodeRecord*> chain;
    chain.reserve(static_cast<std::size_t>(NodeDepth(record)) + 1);
    for (const XmlNodeRecord* r = &record; r != nullptr; r = r->parent) chain.push_back(r);
    return JoinPath(
        chain, [](const XmlNodeRecord* r) -> const WideString& { return r->name; },
        [](const XmlNodeRecord* r) { return r->index; }, withoutIndex);
}

XmlTargetDatabase::XmlTargetDatabase(WideString path) : XmlReader(std::move(path)), updater_(this) {}

XmlTargetDatabase::~XmlTargetDatabase() = default;

void XmlTargetDatabase::Parse() {
    LogIfEnabled(u"Target XML file -> Start parsing...");
    updater_.LoadFile(Path());
    ParseLoadedBytes();
}

void XmlTargetDatabase::Parse(std::string bytes) {
    LogIfEnabled(u"Target XML file -> Start parsing...");
    // Positions are signed 32-bit offsets, as for a file.
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw Exception(TRELLIS_HERE, 4115, {Path()});
    updater_.SetBytes(std::move(bytes));
    ParseLoadedBytes();
}

void XmlTargetDatabase::ParseLoadedBytes() {
    const std::string& bytes = updater_.Original();
    fileStart_ = InspectXmlFileStart(bytes);
    if (!fileStart_.unsupported.empty()) throw Exception(TRELLIS_HERE, 4114, {Path(), fileStart_.unsupported});
    // Until a declaration names one, the bytes decide: UTF-16 in their own
    // byte order, else UTF-8.
    updater_.SetEncoding(ResolveXmlEncoding(fileStart_, u""));
    // The bytes the edits change are the bytes parsed: the file is read once.
    Read(bytes);
    open_ = {};
    openTexts_ = {};
    openRanges_ = {};
    AssignKeys();
    contentStart_ = ByteOrderMarkLength(bytes);
    const std::int32_t unit = updater_.UnitSize();
    for (std::int32_t p = contentStart_; p < updater_.Size(); p += unit) {
        const char16_t c = OriginalUnitAt(p);
        if (c == u'\n' || c == u'\r') {
            firstLineEnd_ = c == u'\r' && OriginalUnitAt(p + unit) == u'\n' ? u"\r\n" : WideString(1, c);
            break;
        }
    }
    LogIfEnabled(u"XML File parsed successfully.");
}

void XmlTargetDatabase::OnXmlDecl(const std::optional<WideString>& version, const std::optional<WideString>& encoding,
                                  int standalone) {
    if (!version) return;
    version_ = *version;
    if (encoding) {
        // Edits must be written as the file is read, or they would not read
        // back: a name outside the table, or one the bytes contradict, is
        // refused before Expat decides anything.
        const XmlEncoding resolved = ResolveXmlEncoding(fileStart_, *encoding);
        if (resolved == XmlEncoding::None) {
            const bool known = FindXmlEncoding(*encoding) != XmlEncoding::None;
            throw Exception(TRELLIS_HERE, 4114,
                            {Path(), known ? *encoding + u" (the bytes say " + DescribeXmlFileStart(fileStart_) + u")"
                                           : *encoding});
        }
        updater_.SetEncoding(resolved);
        encodingName_ = *encoding;
        LogIfEnabled(u"Target XML Encoding: [" + *encoding + u"].");
    }
    standalone_ = standalone;
}

void XmlTargetDatabase::ExpectMarkupAt(std::int32_t pos, std::u16string_view markup) const {
    const std::int32_t unit = updater_.UnitSize();
    for (char16_t c : markup) {
        if (OriginalUnitAt(pos) != c) {
            throw Exception(TRELLIS_HERE, 4119,
                            {Path(), u"an entity reference stands for markup", ToWideUnsigned(CurrentLine()),
                             ToWideUnsigned(CurrentColumn())});
        }
        pos += unit;
    }
}

XmlTargetDatabase::NameId XmlTargetDatabase::Intern(std::u16string_view name) {
    // Siblings mostly share their name: the last one is tried first.
    if (lastName_ != kNoName && names_[lastName_] == name) return lastName_;
    const auto found = nameIds_.find(name);
    if (found != nameIds_.end()) return lastName_ = found->second;
    const auto id = static_cast<NameId>(names_.size());
    names_.emplace_back(name);
    nameIds_.emplace(names_.back(), id);
    nameCounts_.push_back(0);
    return lastName_ = id;
}

XmlTargetDatabase::NameId XmlTargetDatabase::FindName(std::u16string_view name) const {
    const auto found = nameIds_.find(name);
    return found == nameIds_.end() ? kNoName : found->second;
}

void XmlTargetDatabase::OnStartElement(std::u16string_view name, const XmlReaderAttributes& attributes) {
    // Detect and prevent overflow: ids are 32-bit, and kNoNode is none.
    if (nodes_.size() >= kNoNode - 1) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    const auto id = static_cast<NodeId>(nodes_.size());
    NodeData node{};
    node.parent = open_.empty() ? kNoNode : open_.back().id;
    node.nextSibling = kNoNode;
    node.name = Intern(name);
    node.ordinal = nameCounts_[node.name]++;
    node.index = open_.empty() ? 0 : open_.back().children++;
    node.start = static_cast<std::int32_t>(CurrentByteIndex());
    ExpectMarkupAt(node.start, u"<");
    // Expat's event is the whole tag; "/>" ends an empty-element tag. A ">"
    // inside a quoted attribute value does not end the tag.
    const std::int32_t unit = updater_.UnitSize();
    std::int32_t gt = node.start + CurrentByteCount() - unit;
    if (gt <= node.start || OriginalUnitAt(gt) != u'>') {
        gt = FindTagClose(OriginalAt(), unit, node.start + unit, updater_.Size());
        if (gt >= updater_.Size()) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    }
    node.startTagEnd = OriginalUnitAt(gt - unit) == u'/' ? gt - unit : gt;
    if (!open_.empty()) {
        OpenElement& parent = open_.back();
        if (parent.lastChild != kNoNode) nodes_[parent.lastChild].nextSibling = id;
        parent.lastChild = id;
    }
    nodes_.push_back(node);
    open_.push_back({id, kNoNode, 0});
    if (openTexts_.size() < open_.size()) {
        openTexts_.resize(open_.size());
        openRanges_.resize(open_.size());
    }
    openTexts_[open_.size() - 1].clear();
    openRanges_[open_.size() - 1].clear();
    // Without a DTD, the bytes of a tag give Expat's values exactly; with
    // one, a declared type or entity may change them.
    if (hasDoctype_) CheckAttributesOf(id, attributes);
}

void XmlTargetDatabase::OnStartCdata() { ExpectMarkupAt(static_cast<std::int32_t>(CurrentByteIndex()), u"<![CDATA["); }

void XmlTargetDatabase::OnEndElement() {
    if (open_.empty()) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    const NodeId id = open_.back().id;
    NodeData& node = nodes_[id];
    const std::int32_t unit = updater_.UnitSize();
    if (OriginalUnitAt(node.startTagEnd) == u'/') {
        // An empty-element tag: it ends with its "/>".
        node.end = node.startTagEnd + 2 * unit;
        node.endTagStart = node.end;
    } else {
        // Expat reports the "<" of the end tag; the element ends past its ">".
        node.endTagStart = static_cast<std::int32_t>(CurrentByteIndex());
        std::int32_t p = node.endTagStart + CurrentByteCount() - unit;
        if (p <= node.endTagStart || OriginalUnitAt(p) != u'>') {
            p = node.endTagStart;
            while (p < updater_.Size() && OriginalUnitAt(p) != u'>') p += unit;
        }
        node.end = std::min(p + unit, updater_.Size());
    }
    const std::size_t depth = open_.size() - 1;
    std::vector<TextRange>& runs = openRanges_[depth];
    node.firstRange = static_cast<std::uint32_t>(ranges_.size());
    for (TextRange r : runs) {
        while (r.begin < r.end && IsCSpace(OriginalUnitAt(r.begin))) r.begin += unit;
        while (r.end > r.begin && IsCSpace(OriginalUnitAt(r.end - unit))) r.end -= unit;
        if (r.end > r.begin) ranges_.push_back(r);
    }
    node.rangeCount = static_cast<std::uint32_t>(ranges_.size() - node.firstRange);
    std::u16string_view text = openTexts_[depth];
    while (!text.empty() && IsTagBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsTagBlank(text.back())) text.remove_suffix(1);
    CheckTextOf(id, text);
    open_.pop_back();
}

void XmlTargetDatabase::OnCharacterData(std::u16string_view text) {
    if (open_.empty()) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    const std::size_t depth = open_.size() - 1;
    // Blanks before the first other character would be trimmed away: the
    // many lines between an element's children are never copied.
    WideString& collected = openTexts_[depth];
    if (!collected.empty() ||
        !std::all_of(text.begin(), text.end(), [](char16_t c) { return IsTagBlank(c); }))
        collected += text;
    // The raw bytes of this event: a run of characters, a line end, or a
    // reference as written in the file. Inside an internal entity every
    // event reports the reference itself, so the ranges overlap and merge.
    const std::int64_t begin = CurrentByteIndex();
    const std::int32_t count = CurrentByteCount();
    if (begin < 0 || count <= 0) return;
    const TextRange run{static_cast<std::int32_t>(begin), static_cast<std::int32_t>(begin + count), InCdata()};
    std::vector<TextRange>& runs = openRanges_[depth];
    if (!runs.empty()) {
        TextRange& last = runs.back();
        if (last.cdata == run.cdata && run.begin >= last.begin && run.begin <= last.end) {
            last.end = std::max(last.end, run.end);
            return;
        }
    }
    runs.push_back(run);
}

void XmlTargetDatabase::OnComment(const WideString& text) {
    const NodeId parent = open_.empty() ? kNoNode : open_.back().id;
    auto start = static_cast<std::int32_t>(CurrentByteIndex());
    std::int32_t end = start + CurrentByteCount();
    // A comment that an entity reference brings in has no bytes of its own.
    const std::int32_t unit = updater_.UnitSize();
    if (start < 0 || OriginalUnitAt(start) != u'<' || OriginalUnitAt(start + unit) != u'!' ||
        OriginalUnitAt(end - unit) != u'>') {
        start = end = -1;
    }
    commentsByText_.emplace(NormalisedComment(text), comments_.size());
    comments_.push_back({parent, start, end, false});
}

void XmlTargetDatabase::AssignKeys() {
    // The second and later elements of a name take the name, "_" and their
    // number among them, unless an element is itself named that way: then
    // every key is worked out in document order as it was given.
    bool collide = false;
    for (NameId n = 0; n < names_.size() && !collide; ++n) {
        if (nameCounts_[n] == 0) continue;
        const std::size_t underscore = names_[n].rfind(u'_');
        if (underscore == WideString::npos || !IsDigits(std::u16string_view(names_[n]).substr(underscore + 1)))
            continue;
        const NameId base = FindName(std::u16string_view(names_[n]).substr(0, underscore));
        collide = base != kNoName && nameCounts_[base] > 0;
    }
    if (!collide) return;
    std::unordered_set<WideString> taken;
    std::unordered_map<NameId, std::uint32_t> next;
    keys_.reserve(nodes_.size());
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        const NodeData& node = nodes_[id];
        const WideString& name = names_[node.name];
        WideString key = name;
        if (taken.count(key) != 0) {
            std::uint32_t& suffix = next[node.name];
            if (suffix == 0) suffix = 1;
            while (taken.count(name + u"_" + ToWideUnsigned(suffix)) != 0) ++suffix;
            key = name + u"_" + ToWideUnsigned(suffix++);
        }
        taken.insert(key);
        keys_.push_back(std::move(key));
    }
}

WideString XmlTargetDatabase::KeyOf(NodeId id) const {
    if (!keys_.empty()) return keys_[id];
    const NodeData& node = nodes_[id];
    if (node.ordinal == 0) return names_[node.name];
    return names_[node.name] + u"_" + ToWideUnsigned(node.ordinal);
}

const std::vector<NodeId>& XmlTargetDatabase::ChildrenOf(NodeId id) const {
    const auto known = children_.find(id);
    if (known != children_.end()) return known->second;
    std::vector<NodeId> children;
    for (NodeId child = FirstChild(id); child != kNoNode; child = NextSibling(child)) children.push_back(child);
    return children_.emplace(id, std::move(children)).first->second;
}

std::int32_t XmlTargetDatabase::OriginalAttrStart(const NodeData& node) const {
    const std::int32_t unit = updater_.UnitSize();
    const std::int32_t p = TagNameEnd(OriginalAt(), unit, node.start, node.startTagEnd);
    return p < node.startTagEnd && IsTagBlank(OriginalUnitAt(p)) ? p + unit : node.startTagEnd;
}

std::int32_t XmlTargetDatabase::Place(NodeId id, NodePlace place) const {
    const NodeData& node = nodes_[id];
    if (node.flags & kPlacesSet) {
        const PlaceEdits& edits = placeEdits_.at(id);
        const auto i = static_cast<std::size_t>(place);
        if (edits.set & (1u << i)) return updater_.Resolve(edits.places[i]);
    }
    switch (place) {
    case NodePlace::Start: return updater_.Resolve(PieceTable::OriginalBefore(node.start));
    case NodePlace::AttrStart: return updater_.Resolve(PieceTable::OriginalAfter(OriginalAttrStart(node)));
    case NodePlace::StartTagEnd: return updater_.Resolve(PieceTable::OriginalBefore(node.startTagEnd));
    case NodePlace::EndTagStart: return updater_.Resolve(PieceTable::OriginalBefore(node.endTagStart));
    case NodePlace::End: return updater_.Resolve(PieceTable::OriginalBefore(node.end));
    }
    return -1;
}

void XmlTargetDatabase::SetPlace(NodeId id, NodePlace place, std::int32_t pos) {
    PlaceEdits& edits = placeEdits_[id];
    nodes_[id].flags |= kPlacesSet;
    const auto i = static_cast<std::size_t>(place);
    edits.set = static_cast<std::uint8_t>(edits.set | (1u << i));
    // Text inserted exactly at the start of the attributes goes in front
    // of them: that place is held by the byte before it.
    if (pos < 0) {
        edits.places[i] = ByteStreamUpdater::Anchor{};
    } else if (place == NodePlace::AttrStart) {
        edits.places[i] = updater_.AnchorAfter(pos);
    } else {
        edits.places[i] = updater_.AnchorBefore(pos);
    }
}

std::vector<TextRange> XmlTargetDatabase::TextRangesOf(NodeId id) const {
    const NodeData& node = nodes_[id];
    std::vector<TextRange> ranges;
    if (node.flags & kPlacesSet) {
        const PlaceEdits& edits = placeEdits_.at(id);
        if (edits.rangesSet) {
            for (const PlaceEdits::Range& r : edits.ranges)
                ranges.push_back({updater_.Resolve(r.begin), updater_.Resolve(r.end), r.cdata});
            return ranges;
        }
    }
    for (std::uint32_t i = node.firstRange; i < node.firstRange + node.rangeCount; ++i) {
        const TextRange& r = ranges_[i];
        ranges.push_back({updater_.Resolve(PieceTable::OriginalBefore(r.begin)),
                          updater_.Resolve(PieceTable::OriginalBefore(r.end)), r.cdata});
    }
    return ranges;
}

void XmlTargetDatabase::SetTextRanges(NodeId id, const std::vector<TextRange>& ranges) {
    PlaceEdits& edits = placeEdits_[id];
    nodes_[id].flags |= kPlacesSet;
    edits.rangesSet = true;
    edits.ranges.clear();
    const auto anchor = [this](std::int32_t pos) {
        return pos < 0 ? ByteStreamUpdater::Anchor{} : updater_.AnchorBefore(pos);
    };
    for (const TextRange& r : ranges) edits.ranges.push_back({anchor(r.begin), anchor(r.end), r.cdata});
}

void XmlTargetDatabase::TightenTextRanges(NodeId id) {
    const std::int32_t unit = updater_.UnitSize();
    std::vector<TextRange> kept;
    for (TextRange r : TextRangesOf(id)) {
        while (r.begin < r.end && IsCSpace(updater_.UnitAt(r.begin))) r.begin += unit;
        while (r.end > r.begin && IsCSpace(updater_.UnitAt(r.end - unit))) r.end -= unit;
        if (r.end > r.begin) kept.push_back(r);
    }
    SetTextRanges(id, kept);
}

void XmlTargetDatabase::SetProcessed(NodeId id, bool on) {
    nodes_[id].flags = static_cast<std::uint8_t>(on ? nodes_[id].flags | kProcessedFlag
                                                    : nodes_[id].flags & ~kProcessedFlag);
}

std::uint64_t XmlTargetDatabase::LineOf(std::int32_t offset) const {
    if (!linesKnown_) {
        // Expat's line ends: "\r\n", "\n" and a lone "\r".
        const std::int32_t unit = updater_.UnitSize();
        const auto size = static_cast<std::int32_t>(updater_.Original().size());
        for (std::int32_t p = 0; p < size; p += unit) {
            const char16_t c = OriginalUnitAt(p);
            if (c == u'\n' || (c == u'\r' && OriginalUnitAt(p + unit) != u'\n')) lineStarts_.push_back(p + unit);
        }
        linesKnown_ = true;
    }
    return 1 + static_cast<std::uint64_t>(std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset) -
                                          lineStarts_.begin());
}

WideString XmlTargetDatabase::NodePath(NodeId id, bool withoutIndex) const {
    std::vector<NodeId> chain;
    for (NodeId n = id; n != kNoNode; n = ParentOf(n)) chain.push_back(n);
    return JoinPath(
        chain, [this](NodeId n) -> decltype(auto) { return NameOf(n); }, [this](NodeId n) { return IndexOf(n); },
        withoutIndex);
}

WideString XmlTargetDatabase::TextAt(std::int32_t begin, std::int32_t end) const {
    if (begin < 0 || end <= begin) return WideString();
    return DecodeXmlText(updater_.Encoding(), updater_.Slice(begin, std::min(end, updater_.Size())));
}

void XmlTargetDatabase::ScanStartTag(NodeId id) {
    const std::int32_t unit = updater_.UnitSize();
    const std::int32_t size = updater_.Size();
    const auto unitAt = [this](std::int32_t at) { return updater_.UnitAt(at); };
    const std::int32_t afterName = TagNameEnd(unitAt, unit, Place(id, NodePlace::Start), size);
    const std::int32_t p = FindTagClose(unitAt, unit, afterName, size);
    if (p >= size) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    const std::int32_t startTagEnd = updater_.UnitAt(p - unit) == u'/' ? p - unit : p;
    SetPlace(id, NodePlace::StartTagEnd, startTagEnd);
    SetPlace(id, NodePlace::AttrStart, afterName < startTagEnd && IsTagBlank(updater_.UnitAt(afterName))
                                           ? afterName + unit
                                           : startTagEnd);
}
