#include "custact/XML/src/xml/XmlUpdateData.h"

#include <algorithm>
#include <limits>
#include <utility>

WideString GetFullPath(const XmlFileRecord& file) { return file.directory + file.fileName; }

std::int32_t ToRecordInteger(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    // Accumulate in 64 bits and stop growing once past the 32-bit range.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i] - u'0'), kLimit);
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, kLimit - 1));
}

const std::vector<XmlElementRecord*>& XmlUpdateData::ChildrenOf(const XmlElementRecord* parent) {
    static const std::vector<XmlElementRecord*> kNone;
    if (!childrenIndexed_) IndexChildren();
    const auto found = children_.find(parent);
    return found == children_.end() ? kNone : found->second;
}

void XmlUpdateData::IndexChildren() {
    children_.clear();
    children_.reserve(elements.size());
    for (auto& entry : elements) children_[entry.second.Parent()].push_back(&entry.second);
    // Most lists are short and in order already; a stable sort would take a
    // buffer for each of them.
    const auto byOrder = [](const XmlElementRecord* a, const XmlElementRecord* b) { return a->index < b->index; };
    for (auto& entry : children_) {
        if (!std::is_sorted(entry.second.begin(), entry.second.end(), byOrder))
            std::stable_sort(entry.second.begin(), entry.second.end(), byOrder);
    }
    childrenIndexed_ = true;
}

namespace {

int Depth(const XmlNodeRecord* record) {
    int depth = 0;
    for (; record != nullptr; record = record->parent) ++depth;
    return depth;
}

}  // namespace

bool CompareTreeOrder(const XmlNodeRecord* a, const XmlNodeRecord* b) {
    const XmlNodeRecord* pa = a->parent;
    const XmlNodeRecord* pb = b->parent;
    if (pa == pb) return a->index < b->index;
    // The record whose parent is nearer the root comes first; at equal
    // depths, the ancestors just below the nearest common one decide. One
    // walk up each chain, so the cost grows with the depth, not its square.
    const int da = Depth(pa);
    const int db = Depth(pb);
    if (da != db) return da < db;
    const XmlNodeRecord* ca = pa;
    const XmlNodeRecord* cb = pb;
    while (ca->parent != cb->parent) {
        ca = ca->parent;
        cb = cb->parent;
    }
    return ca->index < cb->index;
}

void SortAttributesByOrder(std::vector<XmlAttributeRecord>& attributes) {
    std::sort(attributes.begin(), attributes.end(),
              [](const XmlAttributeRecord& a, const XmlAttributeRecord& b) { return a.order < b.order; });
}

bool MergedAttributeLess(const XmlAttributeRecord& a, const XmlAttributeRecord& b) {
    if (a.origin != b.origin) return a.origin == kAttributeFromTarget;
    return a.order < b.order;
}

const XmlAttributeRecord* FindAttributeNamed(const std::vector<XmlAttributeRecord>& list, std::u16string_view name) {
    const auto found =
        std::find_if(list.begin(), list.end(), [&](const XmlAttributeRecord& a) { return a.name == name; });
    return found == list.end() ? nullptr : &*found;
}

XmlAttributeRecord* FindAttributeNamed(std::vector<XmlAttributeRecord>& list, std::u16string_view name) {
    return const_cast<XmlAttributeRecord*>(FindAttributeNamed(std::as_const(list), name));
}
