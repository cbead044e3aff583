// The attribute edits of XmlTargetDatabase. The start tag is edited where
// the list changes and nowhere else: a new value goes between the quotes
// that held the old one, a removed attribute goes with the white space
// before it, and added attributes follow the last one with the separator
// and quotes the tag already uses. Spacing, line breaks and quoting of the
// rest of the tag stay as the file had them, so that an uninstall that takes
// the added attributes out again gives back the same bytes.
#include <algorithm>

#include "custact/XML/src/xml/XmlTagScan.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Logger.h"
#include "platform/os/XmlEscape.h"

namespace {

// What a planned attribute of this mode does to a list in which existing
// is its namesake (null: none).
enum class AttributeEdit { None, Add, Set, Remove };

AttributeEdit EditOf(const XmlAttributeRecord& planned, const XmlAttributeRecord* existing, int mode) {
    if (!AttributeTakesPart(planned.flags, mode)) return AttributeEdit::None;
    const bool add = (planned.flags & kXmlAttributeBelongs) != 0;
    const bool setOrRemove = (planned.flags & kXmlAttributeSetOrRemove) != 0;
    if (existing == nullptr) return add ? AttributeEdit::Add : AttributeEdit::None;
    if (!setOrRemove) return AttributeEdit::None;
    if (!add) return AttributeEdit::Remove;
    return existing->value != planned.value ? AttributeEdit::Set : AttributeEdit::None;
}

// The target's attribute list after the source's attributes of this mode,
// in the order it is written: the target's own attributes by their place
// in the start tag, then the added ones by their order.
bool MergeAttributes(const std::vector<XmlAttributeRecord>& target, const XmlElementRecord& source, int mode,
                     std::vector<XmlAttributeRecord>& merged) {
    // Until one changes the list, each sees the target's list as it is:
    // when none does, nothing needs to be copied.
    if (std::none_of(source.attributes.begin(), source.attributes.end(), [&](const XmlAttributeRecord& a) {
            return EditOf(a, FindAttributeNamed(target, a.name), mode) != AttributeEdit::None;
        }))
        return false;
    merged = target;
    // Collected records come sorted by order; a copy is sorted only for
    // records put together otherwise.
    const auto byOrder = [](const XmlAttributeRecord& a, const XmlAttributeRecord& b) { return a.order < b.order; };
    std::vector<XmlAttributeRecord> unsorted;
    const std::vector<XmlAttributeRecord>* planned = &source.attributes;
    if (!std::is_sorted(planned->begin(), planned->end(), byOrder)) {
        unsorted = source.attributes;
        std::stable_sort(unsorted.begin(), unsorted.end(), byOrder);
        planned = &unsorted;
    }
    bool changed = false;
    for (const XmlAttributeRecord& a : *planned) {
        XmlAttributeRecord* existing = FindAttributeNamed(merged, a.name);
        switch (EditOf(a, existing, mode)) {
        case AttributeEdit::None: continue;
        case AttributeEdit::Add: merged.push_back(a); break;
        case AttributeEdit::Set: existing->value = a.value; break;
        case AttributeEdit::Remove: merged.erase(merged.begin() + (existing - merged.data())); break;
        }
        changed = true;
    }
    // The target's list is in tag order and the planned ones follow by
    // order, so the list is mostly in order already; sorting it anyway
    // would cost a buffer each time.
    if (!std::is_sorted(merged.begin(), merged.end(), MergedAttributeLess))
        std::stable_sort(merged.begin(), merged.end(), MergedAttributeLess);
    return changed;
}

WideString FormatAttributes(const std::vector<XmlAttributeRecord>& attributes, bool targetHadNone) {
    WideString text;
    for (const XmlAttributeRecord& a : attributes) {
        // With no attributes before, the area starts at the tag's end and
        // needs its own blank after the name.
        if (!text.empty() || targetHadNone) text += u' ';
        text.append(a.name).append(u"=\"").append(EscapeAttribute(a.value)).push_back(u'"');
    }
    return text;
}

bool CombineInto(const std::vector<XmlAttributeRecord>& target, const XmlElementRecord& source, int mode,
                 std::vector<XmlAttributeRecord>& list, WideString& merged) {
    LogIfEnabled(u"CombineAttributes start.");
    merged.clear();
    if (!MergeAttributes(target, source, mode, list)) {
        LogIfEnabled(u"NO changes in attribute list.");
        LogIfEnabled(u"CombineAttributes end.");
        return false;
    }
    merged = FormatAttributes(list, target.empty());
    LogIfEnabled(u"Merged Attribute List: [" + merged + u"]");
    LogIfEnabled(u"CombineAttributes end.");
    return true;
}

}  // namespace

bool XmlTargetDatabase::CombineAttributes(NodeId target, const XmlElementRecord& source, int mode,
                                          WideString& merged) {
    std::vector<XmlAttributeRecord> list;
    return CombineInto(AttributesOf(target), source, mode, list, merged);
}

namespace {

// The attributes of the node's start tag as the bytes stand now, in order.
std::vector<AttributeBytes> ScanAttributes(const XmlTargetDatabase& db, NodeId node) {
    const ByteStreamUpdater& bytes = db.Updater();
    const std::int32_t start = db.Place(node, NodePlace::Start);
    const std::int32_t stop = db.Place(node, NodePlace::StartTagEnd);
    std::vector<AttributeBytes> found;
    if (stop <= start) return found;
    // The tag is read from one copy of its bytes, taken from the pieces in
    // one sweep, rather than a byte at a time through the edits.
    const std::string tag = bytes.Slice(start, stop);
    const XmlEncoding encoding = bytes.Encoding();
    ForEachAttribute([&](std::int32_t p) { return CodeUnitAt(encoding, tag, p - start); }, bytes.UnitSize(), start,
                     stop, [&found](const AttributeBytes& a) {
                         found.push_back(a);
                         return true;
                     });
    return found;
}

}  // namespace

AttributeChanges XmlTargetDatabase::UpdateNodeAttributes(NodeId target, const XmlElementRecord& source, int mode) {
    LogIfEnabled(u"UpdateNodeAttributes start.");
    std::vector<XmlAttributeRecord> list;
    WideString merged;
    AttributeChanges changes;
    const bool gone = IsGone(target);
    const std::vector<XmlAttributeRecord> before = gone ? std::vector<XmlAttributeRecord>() : AttributesOf(target);
    if (!gone && CombineInto(before, source, mode, list, merged)) {
        for (const XmlAttributeRecord& a : list) {
            const XmlAttributeRecord* was = FindAttributeNamed(before, a.name);
            if (was == nullptr || was->value != a.value) ++changes.set;
        }
        for (const XmlAttributeRecord& a : before) {
            if (FindAttributeNamed(list, a.name) == nullptr) ++changes.removed;
        }
        const std::vector<AttributeBytes> tag = ScanAttributes(*this, target);
        // Added attributes follow the last one as the tag separates and
        // quotes its own; the first attribute of a tag gets a blank.
        WideString separator = u" ";
        char16_t quote = u'"';
        if (!tag.empty()) {
            separator = TextAt(SkipSpaceBackward(tag.back().start, true), tag.back().start);
            quote = tag.back().quote;
        }
        // Back to front, so that the positions still to be edited hold.
        for (auto it = tag.rbegin(); it != tag.rend(); ++it) {
            const WideString name = TextAt(it->start, it->nameEnd);
            const XmlAttributeRecord* now = FindAttributeNamed(list, name);
            const XmlAttributeRecord* was = FindAttributeNamed(before, name);
            if (now == nullptr) {
                updater_.Erase(SkipSpaceBackward(it->start, true), it->end);
                continue;
            }
            if (was != nullptr && was->value != now->value) {
                updater_.Update(it->valueBegin, it->valueEnd, EscapeAttribute(now->value));
            }
        }
        WideString added;
        for (const XmlAttributeRecord& a : list) {
            if (a.origin == kAttributeFromTarget) continue;
            added.append(separator).append(a.name).append(u"=");
            added.append(1, quote).append(EscapeAttribute(a.value)).append(1, quote);
        }
        if (!added.empty()) {
            const std::vector<AttributeBytes> kept = ScanAttributes(*this, target);
            std::int32_t anchor = Place(target, NodePlace::Start) + updater_.UnitSize();
            if (!kept.empty()) {
                anchor = kept.back().end;
            } else {
                // No attribute stays: the new ones follow the name.
                const std::int32_t unit = updater_.UnitSize();
                const std::int32_t stop = Place(target, NodePlace::StartTagEnd);
                while (anchor < stop && !IsTagBlank(updater_.UnitAt(anchor))) anchor += unit;
            }
            updater_.Insert(anchor, added);
        }
        ScanStartTag(target);
        // Later records of this run match against the attributes as written:
        // the merged list, in tag order, becomes the target's own.
        for (std::size_t i = 0; i < list.size(); ++i) {
            XmlAttributeRecord& a = list[i];
            a.origin = kAttributeFromTarget;
            a.flags = 0;
            a.order = static_cast<std::int32_t>(i);
            a.key = WideString();
        }
        SetAttributes(target, std::move(list), before);
    }
    LogIfEnabled(u"UpdateNodeAttributes end.");
    return changes;
}
