#include "custact/XML/src/xml/XmlTargetDatabase.h"

#include <algorithm>
#include <functional>

#include "installer/Exception.h"
#include "installer/Logger.h"

namespace {

void Log(const WideString& line) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

bool IsTagBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }
// White space as the C library knows it: also vertical tab and form feed.
bool IsWhite(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool IsKeyOfElement(const XmlAttributeRecord& a, int mode) {
    if (!(a.flags & kXmlAttributeBelongs) || (a.flags & kXmlAttributeUninstall)) return false;
    return mode == XML_UPDATE_UNINSTALL || (a.flags & kXmlAttributeKey);
}

bool IsKeyOfAncestor(const XmlAttributeRecord& a) {
    return (a.flags & kXmlAttributeBelongs) && (a.flags & kXmlAttributeKey) && !(a.flags & kXmlAttributeUninstall);
}

bool HasAttribute(const XmlNodeRecord& node, const XmlAttributeRecord& key) {
    return std::any_of(node.attributes.begin(), node.attributes.end(),
                       [&](const XmlAttributeRecord& a) { return a.name == key.name && a.value == key.value; });
}

bool HasKeysOfAncestor(const XmlNodeRecord& source, const XmlNodeRecord& target) {
    return std::all_of(source.attributes.begin(), source.attributes.end(),
                       [&](const XmlAttributeRecord& key) { return !IsKeyOfAncestor(key) || HasAttribute(target, key); });
}

// Whether both records have the same names from the root down; a null
// record is the place outside the root.
bool SamePath(const XmlNodeRecord* a, const XmlNodeRecord* b) {
    for (; a != nullptr && b != nullptr; a = a->parent, b = b->parent) {
        if (a->name != b->name) return false;
    }
    return a == nullptr && b == nullptr;
}

void MoveAfterErase(std::int32_t& p, std::int32_t start, std::int32_t end) {
    if (p >= end) {
        p = p - end + start;
    } else if (p > start) {
        p = -1;
    }
}

void MoveAfterInsert(std::int32_t& p, std::int32_t at, std::int32_t count) {
    if (p >= at) p += count;
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

namespace {

std::int32_t ByteOrderMarkLength(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return 3;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) return 2;
    return 0;
}

}  // namespace

WideString TrimXmlBlanks(std::u16string_view text) {
    const auto isBlank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return WideString(text.substr(first, last - first));
}

WideString GetNodePath(const XmlNodeRecord& record, bool withoutIndex) {
    std::vector<const XmlNodeRecord*> chain;
    for (const XmlNodeRecord* r = &record; r != nullptr; r = r->parent) chain.push_back(r);
    WideString path = chain.back()->name;
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        path += u"/" + (*it)->name;
        if (!withoutIndex) path += u"[" + ToWideDecimal((*it)->index) + u"]";
    }
    return path;
}

XmlTargetDatabase::XmlTargetDatabase(WideString path) : XmlReader(std::move(path)), updater_(this) {}

std::size_t XmlTargetDatabase::ChildKeyHash::operator()(const ChildKey& key) const {
    return std::hash<const void*>()(key.parent) * 31 + std::hash<std::u16string_view>()(key.name);
}

void XmlTargetDatabase::Parse() {
    Log(u"Target XML file -> Start parsing...");
    updater_.LoadFile(Path());
    fileStart_ = InspectXmlFileStart(updater_.Original());
    if (!fileStart_.unsupported.empty()) throw Exception(TRELLIS_HERE, 4114, {Path(), fileStart_.unsupported});
    // Until a declaration names one, the bytes decide: UTF-16 in their own
    // byte order, else UTF-8.
    updater_.SetEncoding(ResolveXmlEncoding(fileStart_, u""));
    Read();
    contentStart_ = ByteOrderMarkLength(updater_.Original());
    const std::int32_t unit = updater_.UnitSize();
    for (std::int32_t p = contentStart_; p < updater_.Size(); p += unit) {
        const char16_t c = updater_.UnitAt(p);
        if (c == u'\n' || c == u'\r') {
            firstLineEnd_ = c == u'\r' && updater_.UnitAt(p + unit) == u'\n' ? u"\r\n" : WideString(1, c);
            break;
        }
    }
    Log(u"XML File parsed successfully.");
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
        Log(u"Target XML Encoding: [" + *encoding + u"].");
    }
    standalone_ = standalone;
}

void XmlTargetDatabase::ExpectMarkupAt(std::int32_t pos, std::u16string_view markup) const {
    const std::int32_t unit = updater_.UnitSize();
    for (char16_t c : markup) {
        if (updater_.UnitAt(pos) != c) {
            throw Exception(TRELLIS_HERE, 4119,
                            {Path(), u"an entity reference stands for markup", ToWideUnsigned(CurrentLine()),
                             ToWideUnsigned(CurrentColumn())});
        }
        pos += unit;
    }
}

WideString XmlTargetDatabase::MakeNodeKey(const WideString& name) {
    if (nodes_.count(name) == 0) return name;
    // Keys are never removed, so the smallest free suffix only grows.
    std::uint32_t& next = nextKeySuffix_[name];
    if (next == 0) next = 1;
    while (nodes_.count(name + u"_" + ToWideUnsigned(next)) != 0) ++next;
    return name + u"_" + ToWideUnsigned(next++);
}

void XmlTargetDatabase::ScanStartTag(TargetNode& node) const {
    const std::int32_t unit = updater_.UnitSize();
    const std::int32_t size = updater_.Size();
    std::int32_t p = node.start + unit;
    for (char16_t c = updater_.UnitAt(p); p < size && !IsTagBlank(c) && c != u'/' && c != u'>';
         c = updater_.UnitAt(p += unit)) {
    }
    const std::int32_t afterName = p;
    // A ">" inside a quoted attribute value does not end the tag.
    char16_t quote = 0;
    for (; p < size; p += unit) {
        const char16_t c = updater_.UnitAt(p);
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            break;
        }
    }
    if (p >= size) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    node.startTagEnd = updater_.UnitAt(p - unit) == u'/' ? p - unit : p;
    node.attrStart = afterName < node.startTagEnd && IsTagBlank(updater_.UnitAt(afterName)) ? afterName + unit
                                                                                             : node.startTagEnd;
}

void XmlTargetDatabase::OnStartElement(const WideString& name, const XmlReaderAttributes& attributes) {
    TargetNode* parent = open_.empty() ? nullptr : open_.back().node;
    TargetNode node;
    node.key = MakeNodeKey(name);
    node.name = name;
    node.index = open_.empty() ? 0 : open_.back().children++;
    node.parent = parent;
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        node.attributes.push_back({kAttributeFromTarget, attributes[i].first, attributes[i].second, 0,
                                   static_cast<std::int32_t>(i)});
    }
    node.start = static_cast<std::int32_t>(CurrentByteIndex());
    node.startLine = CurrentLine();
    node.startColumn = CurrentColumn();
    ExpectMarkupAt(node.start, u"<");
    ScanStartTag(node);

    const WideString key = node.key;
    TargetNode* stored = &nodes_.emplace(key, std::move(node)).first->second;
    open_.push_back({stored, 0});
    if (parent == nullptr && root_ == nullptr) root_ = stored;
    if (parent != nullptr) parent->children.push_back(stored);
    childrenByName_[ChildKey{parent, stored->name}].push_back(stored);
}

void XmlTargetDatabase::OnStartCdata() { ExpectMarkupAt(static_cast<std::int32_t>(CurrentByteIndex()), u"<![CDATA["); }

const std::vector<TargetNode*>& XmlTargetDatabase::ChildrenNamed(const TargetNode* parent,
                                                                  std::u16string_view name) const {
    static const std::vector<TargetNode*> kNone;
    const auto found = childrenByName_.find(ChildKey{parent, name});
    return found == childrenByName_.end() ? kNone : found->second;
}

void XmlTargetDatabase::OnEndElement(const WideString& /*name*/) {
    if (open_.empty()) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    TargetNode& node = *open_.back().node;
    const std::int32_t unit = updater_.UnitSize();
    if (updater_.UnitAt(node.startTagEnd) == u'/') {
        // An empty-element tag: it ends with its "/>".
        node.end = node.startTagEnd + 2 * unit;
        node.endTagStart = node.end;
    } else {
        // Expat reports the "<" of the end tag; the element ends past its ">".
        node.endTagStart = static_cast<std::int32_t>(CurrentByteIndex());
        std::int32_t p = node.endTagStart;
        while (p < updater_.Size() && updater_.UnitAt(p) != u'>') p += unit;
        node.end = std::min(p + unit, updater_.Size());
    }
    node.endLine = CurrentLine();
    node.endColumn = CurrentColumn();
    node.text = TrimXmlBlanks(node.text);
    TightenTextRanges(node);
    open_.pop_back();
}

void XmlTargetDatabase::TightenTextRanges(TargetNode& node) const {
    const std::int32_t unit = updater_.UnitSize();
    std::vector<TextRange> kept;
    for (TextRange r : node.textRanges) {
        while (r.begin < r.end && IsWhite(updater_.UnitAt(r.begin))) r.begin += unit;
        while (r.end > r.begin && IsWhite(updater_.UnitAt(r.end - unit))) r.end -= unit;
        if (r.end > r.begin) kept.push_back(r);
    }
    node.textRanges = std::move(kept);
}

void XmlTargetDatabase::OnCharacterData(const WideString& text) {
    if (open_.empty()) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    TargetNode& node = *open_.back().node;
    node.text += text;
    // The raw bytes of this event: a run of characters, a line end, or a
    // reference as written in the file. Inside an internal entity every
    // event reports the reference itself, so the ranges overlap and merge.
    const std::int64_t begin = CurrentByteIndex();
    const std::int32_t count = CurrentByteCount();
    if (begin < 0 || count <= 0) return;
    const TextRange run{static_cast<std::int32_t>(begin), static_cast<std::int32_t>(begin + count), InCdata()};
    if (!node.textRanges.empty()) {
        TextRange& last = node.textRanges.back();
        if (last.cdata == run.cdata && run.begin >= last.begin && run.begin <= last.end) {
            last.end = std::max(last.end, run.end);
            return;
        }
    }
    node.textRanges.push_back(run);
}

void XmlTargetDatabase::OnComment(const WideString& text) {
    TargetNode* parent = open_.empty() ? nullptr : open_.back().node;
    auto start = static_cast<std::int32_t>(CurrentByteIndex());
    std::int32_t end = start + CurrentByteCount();
    // A comment that an entity reference brings in has no bytes of its own.
    const std::int32_t unit = updater_.UnitSize();
    if (start < 0 || updater_.UnitAt(start) != u'<' || updater_.UnitAt(start + unit) != u'!' ||
        updater_.UnitAt(end - unit) != u'>') {
        start = end = -1;
    }
    commentsByText_.emplace(NormalisedComment(text), comments_.size());
    comments_.push_back({parent, start, end});
}

void XmlTargetDatabase::FindMatchingNodes(const XmlNodeRecord& source, int mode, std::vector<TargetNode*>& out) {
    out.clear();
    std::vector<const XmlNodeRecord*> path;  // the root record first
    for (const XmlNodeRecord* r = &source; r != nullptr; r = r->parent) path.push_back(r);
    std::reverse(path.begin(), path.end());

    // The nodes at each level of the path whose ancestors all carry the
    // keys of the records above; children lists keep document order.
    std::vector<TargetNode*> level = ChildrenNamed(nullptr, path.front()->name);
    std::vector<TargetNode*> next;
    for (std::size_t depth = 0; depth + 1 < path.size() && !level.empty(); ++depth) {
        next.clear();
        for (const TargetNode* node : level) {
            if (!HasKeysOfAncestor(*path[depth], *node)) continue;
            const std::vector<TargetNode*>& children = ChildrenNamed(node, path[depth + 1]->name);
            next.insert(next.end(), children.begin(), children.end());
        }
        level.swap(next);
    }

    std::vector<const XmlAttributeRecord*> keys;
    for (const XmlAttributeRecord& a : source.attributes) {
        if (IsKeyOfElement(a, mode)) keys.push_back(&a);
    }
    const WideString sourceText = mode == XML_UPDATE_UNINSTALL ? TrimXmlBlanks(source.text) : WideString();
    for (TargetNode* node : level) {
        if (mode == XML_UPDATE_UNINSTALL && TrimXmlBlanks(node->text) != sourceText) continue;
        if (node->attributes.size() < keys.size()) continue;
        if (!std::all_of(keys.begin(), keys.end(), [&](const XmlAttributeRecord* k) { return HasAttribute(*node, *k); }))
            continue;
        out.push_back(node);
    }
}

int XmlTargetDatabase::CountChildren(const XmlNodeRecord* parent, const WideString& name) const {
    if (parent == nullptr) return 0;
    return static_cast<int>(std::count_if(nodes_.begin(), nodes_.end(), [&](const auto& entry) {
        return entry.second.parent == parent && (name.empty() || entry.second.name == name);
    }));
}

bool XmlTargetDatabase::CommentExists(const XmlNodeRecord& comment) const {
    // Line ends compare alike however the row writes them, so that a
    // repair never adds a comment with line ends a second time.
    const auto range = commentsByText_.equal_range(NormalisedComment(comment.text));
    return std::any_of(range.first, range.second,
                       [&](const auto& entry) { return SamePath(comment.parent, comments_[entry.second].parent); });
}

TargetNode* XmlTargetDatabase::FindNodeAtIndexPath(std::u16string_view path) const {
    std::size_t slash = path.find(u'/');
    TargetNode* node = root_;
    if (node == nullptr || node->name != path.substr(0, slash)) return nullptr;
    while (slash != std::u16string_view::npos) {
        const std::size_t from = slash + 1;
        slash = path.find(u'/', from);
        const std::u16string_view step = path.substr(from, slash == std::u16string_view::npos ? slash : slash - from);
        const std::size_t open = step.rfind(u'[');
        if (open == std::u16string_view::npos || step.size() < open + 3 || step.back() != u']') return nullptr;
        std::size_t index = 0;
        for (char16_t c : step.substr(open + 1, step.size() - open - 2)) {
            // Detect and prevent overflow: no file has this many children.
            if (c < u'0' || c > u'9' || index > node->children.size()) return nullptr;
            index = index * 10 + (c - u'0');
        }
        if (index >= node->children.size() || node->children[index]->name != step.substr(0, open)) return nullptr;
        node = node->children[index];
    }
    return node;
}

WideString XmlTargetDatabase::IndexPathAfterEdits(const TargetNode& node, SiblingIndices& indices) const {
    std::vector<const TargetNode*> chain;
    for (const TargetNode* n = &node; n != nullptr; n = n->Parent()) chain.push_back(n);
    WideString path = chain.back()->name;
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        if (indices.count(*it) == 0) {
            // All siblings at once, so that many entries below one parent
            // count its children once.
            std::int64_t index = 0;
            for (const TargetNode* sibling : (*it)->Parent()->children) {
                indices[sibling] = index;
                if (sibling->start != -1) ++index;
            }
        }
        path += u"/" + (*it)->name + u"[" + ToWideDecimal(indices[*it]) + u"]";
    }
    return path;
}

WideString XmlTargetDatabase::TextAt(std::int32_t begin, std::int32_t end) const {
    if (begin < 0 || end <= begin) return WideString();
    return DecodeXmlText(updater_.Encoding(), updater_.Slice(begin, std::min(end, updater_.Size())));
}

void XmlTargetDatabase::OnErase(std::int32_t start, std::int32_t end) {
    for (auto& entry : nodes_) {
        TargetNode& n = entry.second;
        for (std::int32_t* p : {&n.start, &n.attrStart, &n.startTagEnd, &n.endTagStart, &n.end})
            MoveAfterErase(*p, start, end);
        for (TextRange& r : n.textRanges) {
            MoveAfterErase(r.begin, start, end);
            MoveAfterErase(r.end, start, end);
        }
    }
    for (TargetComment& c : comments_) {
        MoveAfterErase(c.start, start, end);
        MoveAfterErase(c.end, start, end);
    }
}

void XmlTargetDatabase::OnInsert(std::int32_t at, std::int32_t count) {
    for (auto& entry : nodes_) {
        TargetNode& n = entry.second;
        for (std::int32_t* p : {&n.start, &n.startTagEnd, &n.endTagStart, &n.end}) MoveAfterInsert(*p, at, count);
        // Text inserted exactly at attrStart goes in front of the old attributes.
        if (n.attrStart > at) n.attrStart += count;
        for (TextRange& r : n.textRanges) {
            MoveAfterInsert(r.begin, at, count);
            MoveAfterInsert(r.end, at, count);
        }
    }
    for (TargetComment& c : comments_) {
        MoveAfterInsert(c.start, at, count);
        MoveAfterInsert(c.end, at, count);
    }
}
