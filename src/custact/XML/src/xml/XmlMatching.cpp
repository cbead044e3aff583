// Finding the target elements that a planned element stands for, through
// two indexes: the children of a parent by name, built when first needed,
// and the children of a parent with one name by the value of one key
// attribute, built when that search comes a second time. The value index
// follows every attribute this run rewrites, so later records see the
// values as written.
#include <algorithm>

#include "custact/XML/src/xml/XmlTargetDatabase.h"

namespace {

// Below this many children a parent is searched child by child.
constexpr std::size_t kIndexedChildren = 16;

bool IsKeyOfElement(const XmlAttributeRecord& a, int mode) {
    if (!(a.flags & kXmlAttributeBelongs) || (a.flags & kXmlAttributeUninstall)) return false;
    return mode == XML_UPDATE_UNINSTALL || (a.flags & kXmlAttributeKey);
}

bool IsKeyOfAncestor(const XmlAttributeRecord& a) {
    return (a.flags & kXmlAttributeBelongs) && (a.flags & kXmlAttributeKey) && !(a.flags & kXmlAttributeUninstall);
}

std::uint64_t HashBytes(std::string_view bytes) { return std::hash<std::string_view>()(bytes); }

std::uint64_t ParentAndName(NodeId parent, std::uint32_t name) { return (std::uint64_t{parent} << 32) | name; }

}  // namespace

std::size_t XmlTargetDatabase::ValueIndexKeyHash::operator()(const ValueIndexKey& k) const {
    return std::hash<std::uint64_t>()(ParentAndName(k.parent, k.name)) * 31 + k.attribute;
}

const std::vector<NodeId>& XmlTargetDatabase::ChildrenNamed(NodeId parent, NameId name) const {
    auto known = childrenByName_.find(parent);
    if (known == childrenByName_.end()) {
        std::unordered_map<NameId, std::vector<NodeId>> byName;
        // Siblings mostly share their name: the list of the last one is
        // kept at hand (the map never moves its values).
        NameId lastName = kNoName;
        std::vector<NodeId>* last = nullptr;
        for (NodeId child = FirstChild(parent); child != kNoNode; child = NextSibling(child)) {
            if (nodes_[child].name != lastName) {
                lastName = nodes_[child].name;
                last = &byName[lastName];
            }
            last->push_back(child);
        }
        known = childrenByName_.emplace(parent, std::move(byName)).first;
    }
    static const std::vector<NodeId> kNone;
    const auto found = known->second.find(name);
    return found == known->second.end() ? kNone : found->second;
}

bool XmlTargetDatabase::HasKeys(NodeId node, const std::vector<KeyProbe>& keys) const {
    return std::all_of(keys.begin(), keys.end(), [&](const KeyProbe& key) { return HasKey(node, key); });
}

XmlTargetDatabase::ValueIndex& XmlTargetDatabase::IndexOfValues(NodeId parent, NameId name, const KeyProbe& probe) {
    const NameId attribute = Intern(probe.key->name);
    const ValueIndexKey key{parent, name, attribute};
    const auto known = valueIndexes_.find(key);
    if (known != valueIndexes_.end()) return known->second;
    ValueIndex index;
    for (NodeId child = FirstChild(parent); child != kNoNode; child = NextSibling(child)) {
        if (nodes_[child].name != name) continue;
        if (const std::optional<std::uint64_t> hash = ValueHash(child, probe.name)) index.emplace_back(*hash, child);
    }
    std::sort(index.begin(), index.end());
    indexedAttributes_[ParentAndName(parent, name)].push_back(attribute);
    return valueIndexes_.emplace(key, std::move(index)).first->second;
}

void XmlTargetDatabase::ReindexValues(NodeId node, const std::vector<XmlAttributeRecord>& before,
                                      const std::vector<XmlAttributeRecord>& after) {
    if (ParentOf(node) == kNoNode) return;
    const auto indexed = indexedAttributes_.find(ParentAndName(ParentOf(node), nodes_[node].name));
    if (indexed == indexedAttributes_.end()) return;
    // The value in the list, or null; compared in place, not copied.
    const auto valueIn = [](const std::vector<XmlAttributeRecord>& list, const WideString& name) {
        const XmlAttributeRecord* found = FindAttributeNamed(list, name);
        return found == nullptr ? nullptr : &found->value;
    };
    const XmlEncoding encoding = updater_.Encoding();
    for (NameId attribute : indexed->second) {
        const WideString* was = valueIn(before, names_[attribute]);
        const WideString* now = valueIn(after, names_[attribute]);
        if (was == nullptr ? now == nullptr : now != nullptr && *was == *now) continue;
        ValueIndex& index = valueIndexes_.at(ValueIndexKey{ParentOf(node), nodes_[node].name, attribute});
        if (was) {
            const ValueIndex::value_type entry(HashBytes(EncodeXmlText(encoding, *was)), node);
            const auto it = std::lower_bound(index.begin(), index.end(), entry);
            if (it != index.end() && *it == entry) index.erase(it);
        }
        if (now) {
            const ValueIndex::value_type entry(HashBytes(EncodeXmlText(encoding, *now)), node);
            index.insert(std::lower_bound(index.begin(), index.end(), entry), entry);
        }
    }
}

void XmlTargetDatabase::SelectChildren(NodeId parent, NameId name, const std::vector<KeyProbe>& keys,
                                       std::vector<NodeId>& out) {
    if (keys.empty()) {
        const std::vector<NodeId>& children = ChildrenNamed(parent, name);
        out.insert(out.end(), children.begin(), children.end());
        return;
    }
    // Most parents are searched once or twice: an index pays only from the
    // second search on, and only for many children. The first is made
    // child by child; it notes whether the next should build the index.
    const ValueIndexKey key{parent, name, Intern(keys.front().key->name)};
    if (valueIndexes_.count(key) == 0 && searchedOnce_.count(key) == 0) {
        std::size_t named = 0;
        for (NodeId child = FirstChild(parent); child != kNoNode; child = NextSibling(child)) {
            if (nodes_[child].name != name) continue;
            ++named;
            if (HasKeys(child, keys)) out.push_back(child);
        }
        if (named >= kIndexedChildren) searchedOnce_.insert(key);
        return;
    }
    // The children whose first key has the value, in document order; the
    // other keys, and the first against hash collisions, are checked too.
    // Entries of one hash sort by element, which is document order.
    const ValueIndex& index = IndexOfValues(parent, name, keys.front());
    const std::uint64_t hash = HashBytes(keys.front().value);
    for (auto it = std::lower_bound(index.begin(), index.end(), ValueIndex::value_type(hash, 0));
         it != index.end() && it->first == hash; ++it) {
        if (HasKeys(it->second, keys)) out.push_back(it->second);
    }
}

void XmlTargetDatabase::FindMatchingNodes(const XmlNodeRecord& source, int mode, std::vector<NodeId>& out) {
    out.clear();
    // Sized once: this runs for every record of a file.
    std::vector<const XmlNodeRecord*> path(static_cast<std::size_t>(NodeDepth(source)) + 1);  // the root record first
    std::size_t at = path.size();
    for (const XmlNodeRecord* r = &source; r != nullptr; r = r->parent) path[--at] = r;
    std::vector<NameId> names;
    names.reserve(path.size());
    for (const XmlNodeRecord* r : path) {
        names.push_back(FindName(r->name));
        if (names.back() == kNoName || nodes_.empty()) return;
    }

    // The nodes at each level of the path whose ancestors all carry the
    // keys of the records above; each level is in document order.
    const auto ancestorKeys = [this](const XmlNodeRecord& record) {
        std::vector<KeyProbe> keys;
        keys.reserve(record.attributes.size());
        for (const XmlAttributeRecord& a : record.attributes) {
            if (IsKeyOfAncestor(a)) keys.push_back(ProbeFor(a));
        }
        return keys;
    };
    std::vector<NodeId> level;
    if (nodes_[0].name == names[0] && (path.size() == 1 || HasKeys(0, ancestorKeys(*path[0])))) level.push_back(0);
    std::vector<NodeId> next;
    std::vector<KeyProbe> ownKeys;
    ownKeys.reserve(source.attributes.size());
    for (const XmlAttributeRecord& a : source.attributes) {
        if (IsKeyOfElement(a, mode)) ownKeys.push_back(ProbeFor(a));
    }
    std::vector<KeyProbe> ancestorProbes;
    for (std::size_t depth = 1; depth < path.size() && !level.empty(); ++depth) {
        const bool last = depth + 1 == path.size();
        if (!last) ancestorProbes = ancestorKeys(*path[depth]);
        const std::vector<KeyProbe>& keys = last ? ownKeys : ancestorProbes;
        next.clear();
        for (NodeId node : level) SelectChildren(node, names[depth], keys, next);
        level.swap(next);
    }
    if (path.size() == 1) {
        level.erase(std::remove_if(level.begin(), level.end(), [&](NodeId n) { return !HasKeys(n, ownKeys); }),
                    level.end());
    }

    const WideString sourceText = mode == XML_UPDATE_UNINSTALL ? TrimXmlBlanks(source.text) : WideString();
    for (NodeId node : level) {
        if (mode == XML_UPDATE_UNINSTALL && TrimXmlBlanks(TextOf(node)) != sourceText) continue;
        if (AttributeCount(node) < ownKeys.size()) continue;
        out.push_back(node);
    }
}

int XmlTargetDatabase::CountChildren(NodeId parent, std::u16string_view name) const {
    if (parent == kNoNode) return 0;
    if (name.empty()) return static_cast<int>(ChildrenOf(parent).size());
    const NameId id = FindName(name);
    return id == kNoName ? 0 : static_cast<int>(ChildrenNamed(parent, id).size());
}

bool XmlTargetDatabase::CommentExists(const XmlNodeRecord& comment) const {
    // Line ends compare alike however the row writes them, so that a
    // repair never adds a comment with line ends a second time.
    const auto samePath = [this](const XmlNodeRecord* record, NodeId node) {
        for (; record != nullptr && node != kNoNode; record = record->parent, node = ParentOf(node)) {
            if (record->name != NameOf(node)) return false;
        }
        return record == nullptr && node == kNoNode;
    };
    const auto range = commentsByText_.equal_range(NormalisedComment(comment.text));
    return std::any_of(range.first, range.second,
                       [&](const auto& entry) { return samePath(comment.parent, comments_[entry.second].parent); });
}

NodeId XmlTargetDatabase::FindNodeAtIndexPath(std::u16string_view path) const {
    std::size_t slash = path.find(u'/');
    NodeId node = RootId();
    if (node == kNoNode || NameOf(node) != path.substr(0, slash)) return kNoNode;
    while (slash != std::u16string_view::npos) {
        const std::size_t from = slash + 1;
        slash = path.find(u'/', from);
        const std::u16string_view step = path.substr(from, slash == std::u16string_view::npos ? slash : slash - from);
        const std::size_t open = step.rfind(u'[');
        if (open == std::u16string_view::npos || step.size() < open + 3 || step.back() != u']') return kNoNode;
        const std::vector<NodeId>& children = ChildrenOf(node);
        std::size_t index = 0;
        for (char16_t c : step.substr(open + 1, step.size() - open - 2)) {
            // Detect and prevent overflow: no file has this many children.
            if (c < u'0' || c > u'9' || index > children.size()) return kNoNode;
            index = index * 10 + (c - u'0');
        }
        if (index >= children.size() || NameOf(children[index]) != step.substr(0, open)) return kNoNode;
        node = children[index];
    }
    return node;
}

WideString XmlTargetDatabase::IndexPathAfterEdits(NodeId node, SiblingIndices& indices) const {
    std::vector<NodeId> chain;
    for (NodeId n = node; n != kNoNode; n = ParentOf(n)) chain.push_back(n);
    WideString path = NameOf(chain.back());
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        if (indices.count(*it) == 0) {
            // All siblings at once, so that many entries below one parent
            // count its children once.
            std::int64_t index = 0;
            for (NodeId sibling : ChildrenOf(ParentOf(*it))) {
                indices[sibling] = index;
                if (!IsGone(sibling)) ++index;
            }
        }
        path += u"/" + NameOf(*it) + u"[" + ToWideDecimal(indices[*it]) + u"]";
    }
    return path;
}
