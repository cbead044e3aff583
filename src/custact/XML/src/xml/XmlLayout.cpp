// The layout of an existing file as its own author wrote it: the line end
// of each line and the indentation of each level, learned from the bytes so
// that new markup looks like the lines around it.
#include <algorithm>

#include "custact/XML/src/xml/XmlTagScan.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"

namespace {

// How far a scan for the end or the start of a line goes. A longer line
// counts as having no line end and no indentation of its own, so that a
// file written on one long line does not cost a scan of the whole file for
// each insertion.
constexpr std::int64_t kLongestLine = 65536;

}  // namespace

WideString XmlTargetDatabase::LineEndAt(std::int32_t pos) const {
    const std::int32_t unit = updater_.UnitSize();
    const auto limit = static_cast<std::int32_t>(std::min<std::int64_t>(updater_.Size(), pos + kLongestLine * unit));
    for (std::int32_t p = pos; p < limit; p += unit) {
        const char16_t c = updater_.UnitAt(p);
        if (c == u'\n') return u"\n";
        if (c == u'\r') return updater_.UnitAt(p + unit) == u'\n' ? u"\r\n" : u"\r";
    }
    return firstLineEnd_;
}

WideString XmlTargetDatabase::LineIndentAt(std::int32_t pos) const {
    const std::int32_t unit = updater_.UnitSize();
    const auto limit = static_cast<std::int32_t>(std::max<std::int64_t>(contentStart_, pos - kLongestLine * unit));
    std::int32_t lineStart = pos;
    while (lineStart > limit && !IsLineEnd(updater_.UnitAt(lineStart - unit))) lineStart -= unit;
    if (lineStart > contentStart_ && !IsLineEnd(updater_.UnitAt(lineStart - unit))) return WideString();
    std::int32_t p = lineStart;
    while (p < pos && IsIndentBlank(updater_.UnitAt(p))) p += unit;
    return TextAt(lineStart, p);
}

std::optional<WideString> XmlTargetDatabase::IndentBefore(std::int32_t pos) const {
    const std::int32_t lineStart = SkipSpaceBackward(pos, false);
    if (lineStart > contentStart_ && !IsLineEnd(updater_.UnitAt(lineStart - updater_.UnitSize()))) return std::nullopt;
    return TextAt(lineStart, pos);
}

WideString XmlTargetDatabase::ChildIndent(NodeId parent, const XmlFileRecord& file) {
    const auto known = childIndents_.find(parent);
    if (known != childIndents_.end()) return known->second;
    std::optional<WideString> indent;
    const std::vector<NodeId>& children = ChildrenOf(parent);
    for (auto it = children.rbegin(); it != children.rend() && !indent; ++it) {
        const std::int32_t start = Place(*it, NodePlace::Start);
        if (start != -1) indent = IndentBefore(start);
    }
    if (!indent) indent = LineIndentAt(Place(parent, NodePlace::Start)) + IndentUnitNear(parent, file);
    return childIndents_.emplace(parent, *indent).first->second;
}

std::optional<WideString> XmlTargetDatabase::StepToChildren(NodeId node) const {
    for (NodeId child = FirstChild(node); child != kNoNode; child = NextSibling(child)) {
        const std::int32_t start = Place(child, NodePlace::Start);
        if (start == -1) continue;
        const std::optional<WideString> indent = IndentBefore(start);
        if (!indent) continue;
        const WideString own = LineIndentAt(Place(node, NodePlace::Start));
        if (indent->compare(0, own.size(), own) != 0) return std::nullopt;
        return indent->substr(own.size());
    }
    return std::nullopt;
}

WideString XmlTargetDatabase::IndentUnitNear(NodeId node, const XmlFileRecord& file) {
    // The answer of each node on the way up is kept, so that every node is
    // looked at once per file however many insertions ask.
    std::vector<NodeId> asked;
    std::optional<WideString> unit;
    for (NodeId n = node; n != kNoNode; n = ParentOf(n)) {
        const auto known = unitsNear_.find(n);
        if (known != unitsNear_.end()) {
            unit = known->second;
            break;
        }
        asked.push_back(n);
        const std::optional<WideString> step = StepToChildren(n);
        if (step && !step->empty()) {
            unit = step;
            break;
        }
    }
    for (NodeId n : asked) unitsNear_.emplace(n, unit);
    return unit ? *unit : FileIndentUnit(file);
}

WideString XmlTargetDatabase::FileIndentUnit(const XmlFileRecord& file) {
    if (fileUnit_) return *fileUnit_;
    // The first step in document order that is not empty; a loop over an
    // explicit stack, so that no depth of nesting exhausts the real one.
    // Document order is the order of the ids: no stack is needed.
    bool flat = false;
    for (NodeId n = 0; n < nodes_.size() && !fileUnit_; ++n) {
        const std::optional<WideString> step = StepToChildren(n);
        if (step && !step->empty()) fileUnit_ = step;
        flat = flat || step.has_value();
    }
    if (!fileUnit_) fileUnit_ = flat ? WideString() : MakeIndent(file, 1);
    return *fileUnit_;
}
