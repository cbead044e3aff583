// The node edits of XmlTargetDatabase: remove an element, insert new markup,
// update attributes and texts. Every change goes through the byte stream
// updater; the stored positions follow it as anchors. Where that general
// rule cannot know what an edit meant, the edit sets the positions of the
// nodes it touched itself.
#include <algorithm>

#include "custact/XML/src/xml/SourceFragments.h"
#include "custact/XML/src/xml/XmlTagScan.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/XmlEscape.h"

namespace {

// What may stand where an element's end was: blanks and "/>", or blanks,
// ">", blanks and the end tag, when it was empty; else blanks and the end
// tag. A record that holds anything else is not written into the file.
bool IsEndOf(const WideString& name, std::u16string_view tail, bool wasEmpty) {
    std::size_t i = 0;
    const auto blanks = [&] {
        while (i < tail.size() && IsCSpace(tail[i])) ++i;
    };
    const auto take = [&](std::u16string_view text) {
        if (tail.substr(i, text.size()) != text) return false;
        i += text.size();
        return true;
    };
    blanks();
    if (wasEmpty) {
        if (take(u"/>")) return i == tail.size();
        if (!take(u">")) return false;
        blanks();
    }
    if (!take(u"</") || !take(name)) return false;
    blanks();
    return take(u">") && i == tail.size();
}

}  // namespace

// An insertion at a place moves every position there behind the new text.
// That is right for what starts there, but an element or text run of the
// container that ends there lies before the new text and must keep its
// end; otherwise a later removal of that element would take the new text
// with it. The place is directly inside the container, so what can end
// there is the container's last live child before it and its text runs.
class EndsKeptAt {
public:
    EndsKeptAt(XmlTargetDatabase& db, NodeId container, std::int32_t at) : db_(db), container_(container), at_(at) {
        if (container == kNoNode) return;
        const std::vector<NodeId>& children = db.ChildrenOf(container);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            const std::int32_t start = db.Place(*it, NodePlace::Start);
            if (start == -1 || start >= at) continue;
            if (db.Place(*it, NodePlace::End) == at) {
                child_ = *it;
                childTagEnds_ = db.Place(*it, NodePlace::EndTagStart) == at;
            }
            break;
        }
        const std::vector<TextRange> ranges = db.TextRangesOf(container);
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            if (ranges[i].end == at && ranges[i].begin < at) runs_.push_back(i);
        }
    }
    void Restore() const {
        if (child_ != kNoNode) {
            db_.SetPlace(child_, NodePlace::End, at_);
            if (childTagEnds_) db_.SetPlace(child_, NodePlace::EndTagStart, at_);
        }
        if (runs_.empty()) return;
        std::vector<TextRange> ranges = db_.TextRangesOf(container_);
        for (std::size_t i : runs_) ranges[i].end = at_;
        db_.SetTextRanges(container_, ranges);
    }

private:
    XmlTargetDatabase& db_;
    NodeId container_;
    std::int32_t at_;
    NodeId child_ = kNoNode;
    bool childTagEnds_ = false;
    std::vector<std::size_t> runs_;
};

int NodeDepth(const XmlNodeRecord& record) {
    int depth = 0;
    for (const XmlNodeRecord* p = record.parent; p != nullptr; p = p->parent) ++depth;
    return depth;
}

WideString MakeIndent(const XmlFileRecord& file, int depth) {
    const char16_t unit = (file.flags & kXmlFileIndentWithTabs) ? u'\t' : u' ';
    // A negative count has no sound meaning: no indentation.
    const WideString level(static_cast<std::size_t>(std::max(file.indentUnits, 0)), unit);
    WideString indent;
    for (int i = 0; i < depth; ++i) indent += level;
    return indent;
}

std::int32_t XmlTargetDatabase::SkipSpaceBackward(std::int32_t pos, bool anyWhiteSpace) const {
    const std::int32_t unit = updater_.UnitSize();
    const auto blank = anyWhiteSpace ? IsCSpace : IsIndentBlank;
    while (pos - unit >= 0 && blank(updater_.UnitAt(pos - unit))) pos -= unit;
    return pos;
}

std::int32_t XmlTargetDatabase::SkipSpaceForward(std::int32_t pos, bool stopAfterLineFeed) const {
    const std::int32_t unit = updater_.UnitSize();
    while (pos < updater_.Size()) {
        const char16_t c = updater_.UnitAt(pos);
        if (!IsCSpace(c)) break;
        pos += unit;
        if (stopAfterLineFeed && c == u'\n') break;
    }
    return pos;
}

void XmlTargetDatabase::RefreshEndTagStart(NodeId node) {
    SetPlace(node, NodePlace::EndTagStart,
             Place(node, NodePlace::End) - updater_.ByteLength(u"</" + NameOf(node) + u">"));
}

void XmlTargetDatabase::EraseMarkup(std::int32_t start, std::int32_t end) {
    const std::int32_t unit = updater_.UnitSize();
    const std::int32_t before = SkipSpaceBackward(start, false);
    std::int32_t after = end;
    while (after < updater_.Size() && IsIndentBlank(updater_.UnitAt(after))) after += unit;
    const bool startsLine = before == contentStart_ || IsLineEnd(updater_.UnitAt(before - unit));
    const bool endsLine = after >= updater_.Size() || IsLineEnd(updater_.UnitAt(after));
    if (startsLine && endsLine) {
        if (after < updater_.Size()) {
            const char16_t c = updater_.UnitAt(after);
            after += unit;
            if (c == u'\r' && updater_.UnitAt(after) == u'\n') after += unit;
        }
        updater_.Erase(before, after);
    } else if (startsLine) {
        // What follows on the line keeps the indentation.
        updater_.Erase(start, after);
    } else {
        updater_.Erase(before, end);
    }
}

void XmlTargetDatabase::JoinTouchingRuns(NodeId node) {
    std::vector<TextRange> runs = TextRangesOf(node);
    bool joined = false;
    for (std::size_t i = 1; i < runs.size(); ++i) {
        if (runs[i - 1].end == runs[i].begin && !runs[i - 1].cdata && !runs[i].cdata) {
            runs[i - 1].end = runs[i].end;
            runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i--));
            joined = true;
        }
    }
    if (joined) SetTextRanges(node, runs);
}

void XmlTargetDatabase::RemoveNodeAndChildren(NodeId node) {
    LogIfEnabled(u"RemoveNodeAndChildren start.");
    if (!IsGone(node)) {
        EraseMarkup(Place(node, NodePlace::Start), Place(node, NodePlace::End));
        // Its descendants now point nowhere; so does the node itself, which
        // the erase may have left at its first byte.
        for (NodePlace place : {NodePlace::Start, NodePlace::AttrStart, NodePlace::StartTagEnd,
                                NodePlace::EndTagStart, NodePlace::End})
            SetPlace(node, place, -1);
        SetTextRanges(node, {});
        if (ParentOf(node) != kNoNode) JoinTouchingRuns(ParentOf(node));
    }
    SetProcessed(node, true);
    for (NodeId child : ChildrenOf(node)) SetProcessed(child, true);
    LogIfEnabled(u"RemoveNodeAndChildren end.");
}

void XmlTargetDatabase::NoteEndRewrite(NodeId node, bool wasEmpty, std::int32_t from) {
    if (!endRewritten_.insert(node).second) return;
    endRewrites_.push_back({node, wasEmpty, TextAt(from, Place(node, NodePlace::End))});
}

void XmlTargetDatabase::InsertNodeAndChildren(XmlUpdateData& data, const XmlFileRecord& file,
                                              XmlElementRecord& source, int mode) {
    LogIfEnabled(u"InsertNodeAndChildren start.");
    if (source.parent == nullptr) return;
    std::vector<NodeId> matches;
    FindMatchingNodes(*source.parent, mode, matches);
    if (matches.empty()) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    const NodeId parent = matches.front();
    if (IsGone(parent)) {
        LogIfEnabled(u"InsertNodeAndChildren end.");
        return;
    }

    const std::int32_t unit = updater_.UnitSize();
    const WideString endTag = u"</" + NameOf(parent) + u">";
    const std::int32_t start = Place(parent, NodePlace::Start);
    // The end tag, when it gets a line of its own, lines up with the start tag.
    const WideString closing = LineIndentAt(start);
    FragmentLayout layout{ChildIndent(parent, file), IndentUnitNear(parent, file), WideString()};
    const std::int32_t startTagEnd = Place(parent, NodePlace::StartTagEnd);
    const std::int32_t endTagStart = Place(parent, NodePlace::EndTagStart);
    const std::int32_t end = Place(parent, NodePlace::End);
    bool empty = endTagStart == end;
    if (!empty) {
        empty = true;
        for (std::int32_t p = startTagEnd + unit; p < endTagStart && empty; p += unit)
            empty = IsIndentBlank(updater_.UnitAt(p));
    }
    if (empty) {
        // "<x/>", "<x />" or "<x></x>" opens up: "<x>", the markup on the
        // lines below, and the end tag on a line of its own.
        const std::int32_t s = SkipSpaceBackward(startTagEnd, true);
        layout.lineEnd = LineEndAt(start);
        const WideString fragment = BuildXmlFragment(data, source, mode, layout);
        NoteEndRewrite(parent, true, s);
        updater_.Update(s, end, u">" + layout.lineEnd + fragment + closing + endTag);
        SetTextRanges(parent, {});
        ScanStartTag(parent);
        RefreshEndTagStart(parent);
    } else {
        const std::int32_t p = SkipSpaceBackward(endTagStart, false);
        layout.lineEnd = LineEndAt(p);
        const WideString fragment = BuildXmlFragment(data, source, mode, layout);
        const EndsKeptAt kept(*this, parent, p);
        if (p == contentStart_ || IsLineEnd(updater_.UnitAt(p - unit))) {
            // The end tag has its own line: the markup goes in before it.
            updater_.Insert(p, fragment);
        } else {
            // Content before the end tag on its line: the markup starts a
            // new line, and the end tag gets one of its own.
            NoteEndRewrite(parent, false, p);
            updater_.Update(p, end, layout.lineEnd + fragment + closing + endTag);
            RefreshEndTagStart(parent);
        }
        kept.Restore();
    }
    if (source.flags & kXmlElementComment) commentsAdded_.push_back({parent, source.text});
    RefreshRecords();
    LogIfEnabled(u"InsertNodeAndChildren end.");
}

void XmlTargetDatabase::InsertComment(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& comment,
                                      const XmlElementRecord* next, int mode) {
    LogIfEnabled(u"InsertComment start.");
    if (next == nullptr) {
        LogIfEnabled(u"NO sibling node after this comment => insert comment as last element in parent...");
        InsertNodeAndChildren(data, file, comment, mode);
        return;
    }
    std::vector<NodeId> matches;
    FindMatchingNodes(*next, mode, matches);
    // A sibling whose bytes are gone cannot give the comment a place.
    matches.erase(std::remove_if(matches.begin(), matches.end(), [this](NodeId n) { return IsGone(n); }),
                  matches.end());
    if (matches.empty()) {
        LogIfEnabled(
            u"Sibling node after this comment was NOT found on target XML => insert comment as last element in "
            u"parent...");
        InsertNodeAndChildren(data, file, comment, mode);
        return;
    }
    const NodeId sibling = matches.front();
    const std::int32_t start = Place(sibling, NodePlace::Start);
    const std::int32_t p = SkipSpaceBackward(start, false);
    // On the sibling's line, the comment gets a line of its own like it;
    // between markup on one line, it stays on that line.
    const std::optional<WideString> indent = IndentBefore(start);
    const FragmentLayout layout = indent ? FragmentLayout{*indent, WideString(), LineEndAt(start)}
                                         : FragmentLayout{WideString(), WideString(), WideString()};
    const WideString fragment = BuildXmlFragment(data, comment, mode, layout);
    const EndsKeptAt kept(*this, ParentOf(sibling), p);
    updater_.Insert(p, fragment);
    kept.Restore();
    if (ParentOf(sibling) != kNoNode) commentsAdded_.push_back({ParentOf(sibling), comment.text});
    RefreshRecords();
    LogIfEnabled(u"InsertComment end.");
}

AttributeChanges XmlTargetDatabase::UpdateXmlNode(const XmlFileRecord& file, NodeId target, XmlElementRecord& source,
                                                  int mode) {
    LogIfEnabled(u"UpdateXmlNode start.");
    AttributeChanges changes;
    if (!IsGone(target)) {
        changes = UpdateNodeAttributes(target, source, mode);
        if (mode == XML_UPDATE_INSTALL) UpdateNodeText(file, target, source);
    }
    source.SetProcessed(true);
    LogIfEnabled(u"UpdateXmlNode end.");
    return changes;
}

void XmlTargetDatabase::UpdateNodeText(const XmlFileRecord& file, NodeId target, const XmlElementRecord& source) {
    LogIfEnabled(u"UpdateNodeText start.");
    if (source.text.empty() && TextOf(target).empty()) return;
    if (IsGone(target)) {
        LogIfEnabled(u"UpdateNodeText end.");
        return;
    }
    const WideString escaped = EscapeText(source.text);
    std::vector<TextRange> ranges = TextRangesOf(target);

    if (Place(target, NodePlace::EndTagStart) == Place(target, NodePlace::End)) {
        const std::int32_t s = Place(target, NodePlace::StartTagEnd);
        updater_.Update(s, Place(target, NodePlace::End), u">" + escaped + u"</" + NameOf(target) + u">");
        SetPlace(target, NodePlace::StartTagEnd, s);
        RefreshEndTagStart(target);
        const std::int32_t begin = s + updater_.ByteLength(u">");
        SetTextRanges(target, {TextRange{begin, begin + updater_.ByteLength(escaped), false}});
        SetText(target, TrimXmlBlanks(source.text));
    } else if (ranges.size() == 1) {
        TextRange run = ranges.front();
        WideString replacement = escaped;
        if (run.cdata) {
            if (source.text.find(u"]]>") == WideString::npos &&
                !FirstUnencodable(updater_.Encoding(), source.text)) {
                // The section stays; its content is taken literally, so the
                // text goes in unescaped.
                replacement = source.text;
            } else {
                // "]]>" would end the section early, and a character the
                // file's encoding cannot hold has no reference inside it.
                // Splitting the section would leave two runs, and the next
                // install would take the element for mixed content; so the
                // section with its delimiters becomes plain escaped
                // character data.
                const WideString open = u"<![CDATA[";
                const WideString close = u"]]>";
                const std::int32_t openLength = updater_.ByteLength(open);
                const std::int32_t closeLength = updater_.ByteLength(close);
                const std::int32_t before = SkipSpaceBackward(run.begin, true) - openLength;
                const std::int32_t after = SkipSpaceForward(run.end, false);
                if (before >= 0 && after + closeLength <= updater_.Size() &&
                    updater_.Slice(before, before + openLength) == EncodeXmlText(updater_.Encoding(), open) &&
                    updater_.Slice(after, after + closeLength) == EncodeXmlText(updater_.Encoding(), close)) {
                    run = TextRange{before, after + closeLength, false};
                }
            }
        }
        const EndsKeptAt kept(*this, target, run.begin);
        updater_.Update(run.begin, run.end, replacement);
        kept.Restore();
        const std::int32_t length = updater_.ByteLength(replacement);
        ranges.clear();
        if (length > 0) ranges.push_back(TextRange{run.begin, run.begin + length, run.cdata});
        SetTextRanges(target, ranges);
        SetText(target, TrimXmlBlanks(source.text));
    } else {
        const std::int32_t p = SkipSpaceBackward(Place(target, NodePlace::EndTagStart), true);
        // Mixed content keeps its runs; the new text gets a line of its own.
        const bool mixed = !ranges.empty();
        const WideString indent = mixed ? ChildIndent(target, file) : WideString();
        const WideString lead = mixed ? LineEndAt(p) + indent : WideString();
        const EndsKeptAt kept(*this, target, p);
        updater_.Insert(p, lead + escaped);
        kept.Restore();
        ranges = TextRangesOf(target);
        const std::int32_t begin = p + updater_.ByteLength(lead);
        const std::int32_t end = begin + updater_.ByteLength(escaped);
        if (mixed && ranges.back().end == p && !ranges.back().cdata) {
            // Only white space lies between the last run and the new text.
            ranges.back().end = end;
        } else if (end > begin) {
            ranges.push_back(TextRange{begin, end, false});
        }
        SetTextRanges(target, ranges);
        // As a parser reports it: line ends as line feeds.
        const WideString between = mixed ? u"\n" + indent : WideString();
        SetText(target, TrimXmlBlanks(mixed ? TextOf(target) + between + source.text : source.text));
    }
    // Runs leave out the blanks at their ends, as a parse gives them: a run
    // that started on a blank right after an element would otherwise lose
    // its start when that element is removed with the white space after it.
    TightenTextRanges(target);
    LogIfEnabled(u"UpdateNodeText end.");
}

AddedMarkup XmlTargetDatabase::AddedInThisRun() const {
    AddedMarkup added;
    SiblingIndices indices;
    for (const CommentAdded& c : commentsAdded_) {
        if (!IsGone(c.parent)) added.comments.push_back({IndexPathAfterEdits(c.parent, indices), c.text});
    }
    for (const EndRewrite& r : endRewrites_) {
        if (IsGone(r.node)) continue;
        const std::vector<NodeId>& children = ChildrenOf(r.node);
        const auto kept =
            std::count_if(children.begin(), children.end(), [this](NodeId child) { return !IsGone(child); });
        added.ends.push_back(
            {IndexPathAfterEdits(r.node, indices), r.wasEmpty, static_cast<std::int32_t>(kept), r.tail});
    }
    return added;
}

void XmlTargetDatabase::GiveBackAddedMarkup(const AddedMarkup& added) {
    // Comments first: a comment the install added may be all that keeps its
    // element from being empty.
    for (const AddedComment& comment : added.comments) {
        if (!RemoveAddedComment(comment))
            LogIfEnabled(u"Comment added by the installation NOT found in " + comment.parent + u": " + comment.text);
    }
    for (const RewrittenEnd& end : added.ends) {
        if (!RestoreEnd(end))
            LogIfEnabled(u"Earlier end NOT restored, the element is missing or holds more than before: " + end.element);
    }
    RefreshRecords();
}

bool XmlTargetDatabase::RemoveAddedComment(const AddedComment& added) {
    const NodeId parent = FindNodeAtIndexPath(added.parent);
    if (parent == kNoNode || IsGone(parent)) return false;
    // The last of its text in the element: one the install added was not
    // there before it.
    CommentData* found = nullptr;
    std::int32_t foundStart = -1;
    const auto range = commentsByText_.equal_range(NormalisedComment(added.text));
    for (auto it = range.first; it != range.second; ++it) {
        CommentData& c = comments_[it->second];
        if (c.parent != parent || c.erased) continue;
        const std::int32_t start = updater_.Resolve(PieceTable::OriginalBefore(c.start));
        if (start != -1 && (found == nullptr || start > foundStart)) {
            found = &c;
            foundStart = start;
        }
    }
    if (found == nullptr) return false;
    LogIfEnabled(u"REMOVE Comment: " + added.text);
    EraseMarkup(foundStart, updater_.Resolve(PieceTable::OriginalBefore(found->end)));
    found->erased = true;
    JoinTouchingRuns(parent);
    return true;
}

bool XmlTargetDatabase::RestoreEnd(const RewrittenEnd& rewritten) {
    const NodeId node = FindNodeAtIndexPath(rewritten.element);
    if (node == kNoNode || IsGone(node) || Place(node, NodePlace::EndTagStart) == Place(node, NodePlace::End) ||
        !IsEndOf(NameOf(node), rewritten.tail, rewritten.wasEmpty))
        return false;
    const std::int32_t unit = updater_.UnitSize();
    const std::int32_t startTagEnd = Place(node, NodePlace::StartTagEnd);
    const std::int32_t contentEnd = SkipSpaceBackward(Place(node, NodePlace::EndTagStart), true);
    const bool empty = contentEnd == startTagEnd + unit;
    // Only when all it gained is gone again: no content at all for an
    // element that was empty, else just the children it had.
    const std::vector<NodeId>& all = ChildrenOf(node);
    const auto children = std::count_if(all.begin(), all.end(), [this](NodeId child) { return !IsGone(child); });
    if (rewritten.wasEmpty ? !empty : (empty || children != rewritten.children)) return false;
    const std::int32_t s = rewritten.wasEmpty ? SkipSpaceBackward(startTagEnd, true) : contentEnd;
    LogIfEnabled(u"RESTORE the end the element had before the installation: <" + NameOf(node) + u"> at line " +
        ToWideUnsigned(LineOf(nodes_[node].start)));
    const EndsKeptAt kept(*this, node, s);
    updater_.Update(s, Place(node, NodePlace::End), rewritten.tail);
    kept.Restore();
    const std::int32_t end = s + updater_.ByteLength(rewritten.tail);
    SetPlace(node, NodePlace::End, end);
    ScanStartTag(node);
    if (updater_.UnitAt(Place(node, NodePlace::StartTagEnd)) == u'/') {
        SetPlace(node, NodePlace::EndTagStart, end);
    } else {
        const std::int32_t tagEnd = Place(node, NodePlace::StartTagEnd);
        std::int32_t lt = end - unit;
        while (lt > tagEnd && updater_.UnitAt(lt) != u'<') lt -= unit;
        SetPlace(node, NodePlace::EndTagStart, lt);
    }
    if (rewritten.wasEmpty) SetTextRanges(node, {});
    return true;
}
