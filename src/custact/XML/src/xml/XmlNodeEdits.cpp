// The node edits of XmlTargetDatabase: remove an element, insert new markup,
// update attributes and texts. Every change goes through the byte stream
// updater, whose observer moves the stored positions; where the observer's
// general rule cannot know what an edit meant, the edit sets the positions
// of the nodes it touched itself.
#include <algorithm>

#include "custact/XML/src/xml/SourceFragments.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/XmlEscape.h"

namespace {

void Log(const WideString& line) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

bool IsBlank(char16_t c, bool anyWhiteSpace) {
    if (anyWhiteSpace) return c == u' ' || (c >= u'\t' && c <= u'\r');
    return c == u' ' || c == u'\t';
}

// Its bytes went with an earlier removal.
bool IsGone(const TargetNode& node) { return node.start == -1; }

bool IsEmptyElementTag(const TargetNode& node) { return node.endTagStart == node.end; }

bool IsLineEnd(char16_t c) { return c == u'\n' || c == u'\r'; }

// "<x/>", or a start and an end tag with nothing but blanks between them.
bool IsEmpty(const ByteStreamUpdater& bytes, const TargetNode& node) {
    if (IsEmptyElementTag(node)) return true;
    for (std::int32_t p = node.startTagEnd + bytes.UnitSize(); p < node.endTagStart; p += bytes.UnitSize()) {
        if (!IsBlank(bytes.UnitAt(p), false)) return false;
    }
    return true;
}

// What may stand where an element's end was: blanks and "/>", or blanks,
// ">", blanks and the end tag, when it was empty; else blanks and the end
// tag. A record that holds anything else is not written into the file.
bool IsEndOf(const TargetNode& node, std::u16string_view tail, bool wasEmpty) {
    std::size_t i = 0;
    const auto blanks = [&] {
        while (i < tail.size() && IsBlank(tail[i], true)) ++i;
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
    if (!take(u"</") || !take(node.name)) return false;
    blanks();
    return take(u">") && i == tail.size();
}

// The observer moves every position at an insertion point behind the new
// text. That is right for what starts there, but a node or text run that
// ends there lies before the new text and must keep its end; otherwise a
// later removal of that node would take the new text with it.
class EndsKeptAt {
public:
    EndsKeptAt(TargetNodeMap& nodes, std::int32_t at) : at_(at) {
        for (auto& entry : nodes) {
            TargetNode& n = entry.second;
            if (IsGone(n) || n.start >= at) continue;
            if (n.end == at) {
                if (n.endTagStart == at) ends_.push_back(&n.endTagStart);
                ends_.push_back(&n.end);
            }
            for (TextRange& r : n.textRanges) {
                if (r.end == at && r.begin < at) ends_.push_back(&r.end);
            }
        }
    }
    void Restore() const {
        for (std::int32_t* p : ends_) *p = at_;
    }

private:
    std::int32_t at_;
    std::vector<std::int32_t*> ends_;
};


}  // namespace

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
    while (pos - unit >= 0 && IsBlank(updater_.UnitAt(pos - unit), anyWhiteSpace)) pos -= unit;
    return pos;
}

std::int32_t XmlTargetDatabase::SkipSpaceForward(std::int32_t pos, bool stopAfterLineFeed) const {
    const std::int32_t unit = updater_.UnitSize();
    while (pos < updater_.Size()) {
        const char16_t c = updater_.UnitAt(pos);
        if (!IsBlank(c, true)) break;
        pos += unit;
        if (stopAfterLineFeed && c == u'\n') break;
    }
    return pos;
}

void XmlTargetDatabase::RefreshEndTagStart(TargetNode& node) {
    node.endTagStart = node.end - updater_.ByteLength(u"</" + node.name + u">");
}

void XmlTargetDatabase::EraseMarkup(std::int32_t start, std::int32_t end) {
    const std::int32_t unit = updater_.UnitSize();
    const std::int32_t before = SkipSpaceBackward(start, false);
    std::int32_t after = end;
    while (after < updater_.Size() && IsBlank(updater_.UnitAt(after), false)) after += unit;
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

void XmlTargetDatabase::JoinTouchingRuns(TargetNode& node) {
    std::vector<TextRange>& runs = node.textRanges;
    for (std::size_t i = 1; i < runs.size(); ++i) {
        if (runs[i - 1].end == runs[i].begin && !runs[i - 1].cdata && !runs[i].cdata) {
            runs[i - 1].end = runs[i].end;
            runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i--));
        }
    }
}

void XmlTargetDatabase::RemoveNodeAndChildren(TargetNode& node) {
    Log(u"RemoveNodeAndChildren start.");
    if (!IsGone(node)) {
        EraseMarkup(node.start, node.end);
        // Its descendants now point nowhere; so does the node itself, which
        // the erase may have left at its first byte.
        node.start = node.attrStart = node.startTagEnd = node.endTagStart = node.end = -1;
        node.textRanges.clear();
        if (TargetNode* parent = node.Parent()) JoinTouchingRuns(*parent);
    }
    node.SetProcessed(true);
    for (TargetNode* child : node.children) child->SetProcessed(true);
    Log(u"RemoveNodeAndChildren end.");
}

void XmlTargetDatabase::NoteEndRewrite(TargetNode& node, bool wasEmpty, std::int32_t from) {
    if (!endRewritten_.insert(&node).second) return;
    endRewrites_.push_back({&node, wasEmpty, TextAt(from, node.end)});
}

void XmlTargetDatabase::InsertNodeAndChildren(XmlUpdateData& data, const XmlFileRecord& file,
                                              XmlElementRecord& source, int mode) {
    Log(u"InsertNodeAndChildren start.");
    if (source.parent == nullptr) return;
    std::vector<TargetNode*> matches;
    FindMatchingNodes(*source.parent, mode, matches);
    if (matches.empty()) throw Exception(TRELLIS_HERE, u"Unexpected exception.");
    TargetNode& parent = *matches.front();
    if (IsGone(parent)) {
        Log(u"InsertNodeAndChildren end.");
        return;
    }

    const std::int32_t unit = updater_.UnitSize();
    const WideString endTag = u"</" + parent.name + u">";
    // The end tag, when it gets a line of its own, lines up with the start tag.
    const WideString closing = LineIndentAt(parent.start);
    FragmentLayout layout{ChildIndent(parent, file), IndentUnitNear(parent, file), WideString()};
    if (IsEmpty(updater_, parent)) {
        // "<x/>", "<x />" or "<x></x>" opens up: "<x>", the markup on the
        // lines below, and the end tag on a line of its own.
        const std::int32_t s = SkipSpaceBackward(parent.startTagEnd, true);
        layout.lineEnd = LineEndAt(parent.start);
        const WideString fragment = BuildXmlFragment(data, source, mode, layout);
        NoteEndRewrite(parent, true, s);
        updater_.Update(s, parent.end, u">" + layout.lineEnd + fragment + closing + endTag);
        parent.textRanges.clear();
        ScanStartTag(parent);
        RefreshEndTagStart(parent);
    } else {
        const std::int32_t p = SkipSpaceBackward(parent.endTagStart, false);
        layout.lineEnd = LineEndAt(p);
        const WideString fragment = BuildXmlFragment(data, source, mode, layout);
        const EndsKeptAt kept(nodes_, p);
        if (p == contentStart_ || IsLineEnd(updater_.UnitAt(p - unit))) {
            // The end tag has its own line: the markup goes in before it.
            updater_.Insert(p, fragment);
        } else {
            // Content before the end tag on its line: the markup starts a
            // new line, and the end tag gets one of its own.
            NoteEndRewrite(parent, false, p);
            updater_.Update(p, parent.end, layout.lineEnd + fragment + closing + endTag);
            RefreshEndTagStart(parent);
        }
        kept.Restore();
    }
    if (source.flags & kXmlElementComment) commentsAdded_.push_back({&parent, source.text});
    Log(u"InsertNodeAndChildren end.");
}

void XmlTargetDatabase::InsertComment(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& comment,
                                      const XmlElementRecord* next, int mode) {
    Log(u"InsertComment start.");
    if (next == nullptr) {
        Log(u"NO sibling node after this comment => insert comment as last element in parent...");
        InsertNodeAndChildren(data, file, comment, mode);
        return;
    }
    std::vector<TargetNode*> matches;
    FindMatchingNodes(*next, mode, matches);
    // A sibling whose bytes are gone cannot give the comment a place.
    matches.erase(std::remove_if(matches.begin(), matches.end(), [](const TargetNode* n) { return IsGone(*n); }),
                  matches.end());
    if (matches.empty()) {
        Log(u"Sibling node after this comment was NOT found on target XML => insert comment as last element in "
            u"parent...");
        InsertNodeAndChildren(data, file, comment, mode);
        return;
    }
    const TargetNode& sibling = *matches.front();
    const std::int32_t p = SkipSpaceBackward(sibling.start, false);
    // On the sibling's line, the comment gets a line of its own like it;
    // between markup on one line, it stays on that line.
    const std::optional<WideString> indent = IndentBefore(sibling.start);
    const FragmentLayout layout = indent ? FragmentLayout{*indent, WideString(), LineEndAt(sibling.start)}
                                         : FragmentLayout{WideString(), WideString(), WideString()};
    const WideString fragment = BuildXmlFragment(data, comment, mode, layout);
    const EndsKeptAt kept(nodes_, p);
    updater_.Insert(p, fragment);
    kept.Restore();
    if (sibling.Parent() != nullptr) commentsAdded_.push_back({sibling.Parent(), comment.text});
    Log(u"InsertComment end.");
}

void XmlTargetDatabase::UpdateXmlNode(const XmlFileRecord& file, TargetNode& target, XmlElementRecord& source,
                                      int mode) {
    Log(u"UpdateXmlNode start.");
    if (!IsGone(target)) {
        UpdateNodeAttributes(target, source, mode);
        if (mode == XML_UPDATE_INSTALL) UpdateNodeText(file, target, source);
    }
    source.SetProcessed(true);
    Log(u"UpdateXmlNode end.");
}

void XmlTargetDatabase::UpdateNodeText(const XmlFileRecord& file, TargetNode& target,
                                       const XmlElementRecord& source) {
    Log(u"UpdateNodeText start.");
    if (source.text.empty() && target.text.empty()) return;
    if (IsGone(target)) {
        Log(u"UpdateNodeText end.");
        return;
    }
    const WideString escaped = EscapeText(source.text);

    if (IsEmptyElementTag(target)) {
        const std::int32_t s = target.startTagEnd;
        updater_.Update(s, target.end, u">" + escaped + u"</" + target.name + u">");
        target.startTagEnd = s;
        RefreshEndTagStart(target);
        const std::int32_t begin = s + updater_.ByteLength(u">");
        target.textRanges = {TextRange{begin, begin + updater_.ByteLength(escaped), false}};
        target.text = TrimXmlBlanks(source.text);
    } else if (target.textRanges.size() == 1) {
        TextRange run = target.textRanges.front();
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
        const EndsKeptAt kept(nodes_, run.begin);
        updater_.Update(run.begin, run.end, replacement);
        kept.Restore();
        const std::int32_t length = updater_.ByteLength(replacement);
        target.textRanges.clear();
        if (length > 0) target.textRanges.push_back(TextRange{run.begin, run.begin + length, run.cdata});
        target.text = TrimXmlBlanks(source.text);
    } else {
        const std::int32_t p = SkipSpaceBackward(target.endTagStart, true);
        // Mixed content keeps its runs; the new text gets a line of its own.
        const bool mixed = !target.textRanges.empty();
        const WideString indent = mixed ? ChildIndent(target, file) : WideString();
        const WideString lead = mixed ? LineEndAt(p) + indent : WideString();
        const EndsKeptAt kept(nodes_, p);
        updater_.Insert(p, lead + escaped);
        kept.Restore();
        const std::int32_t begin = p + updater_.ByteLength(lead);
        const std::int32_t end = begin + updater_.ByteLength(escaped);
        if (mixed && target.textRanges.back().end == p && !target.textRanges.back().cdata) {
            // Only white space lies between the last run and the new text.
            target.textRanges.back().end = end;
        } else if (end > begin) {
            target.textRanges.push_back(TextRange{begin, end, false});
        }
        // As a parser reports it: line ends as line feeds.
        const WideString between = mixed ? u"\n" + indent : WideString();
        target.text = TrimXmlBlanks(mixed ? target.text + between + source.text : source.text);
    }
    Log(u"UpdateNodeText end.");
}

AddedMarkup XmlTargetDatabase::AddedInThisRun() const {
    AddedMarkup added;
    SiblingIndices indices;
    for (const CommentAdded& c : commentsAdded_) {
        if (!IsGone(*c.parent)) added.comments.push_back({IndexPathAfterEdits(*c.parent, indices), c.text});
    }
    for (const EndRewrite& r : endRewrites_) {
        if (IsGone(*r.node)) continue;
        const auto kept = std::count_if(r.node->children.begin(), r.node->children.end(),
                                        [](const TargetNode* child) { return !IsGone(*child); });
        added.ends.push_back(
            {IndexPathAfterEdits(*r.node, indices), r.wasEmpty, static_cast<std::int32_t>(kept), r.tail});
    }
    return added;
}

void XmlTargetDatabase::GiveBackAddedMarkup(const AddedMarkup& added) {
    // Comments first: a comment the install added may be all that keeps its
    // element from being empty.
    for (const AddedComment& comment : added.comments) {
        if (!RemoveAddedComment(comment))
            Log(u"Comment added by the installation NOT found in " + comment.parent + u": " + comment.text);
    }
    for (const RewrittenEnd& end : added.ends) {
        if (!RestoreEnd(end))
            Log(u"Earlier end NOT restored, the element is missing or holds more than before: " + end.element);
    }
}

bool XmlTargetDatabase::RemoveAddedComment(const AddedComment& added) {
    TargetNode* parent = FindNodeAtIndexPath(added.parent);
    if (parent == nullptr || IsGone(*parent)) return false;
    // The last of its text in the element: one the install added was not
    // there before it.
    TargetComment* found = nullptr;
    const auto range = commentsByText_.equal_range(NormalisedComment(added.text));
    for (auto it = range.first; it != range.second; ++it) {
        TargetComment& c = comments_[it->second];
        if (c.parent == parent && c.start != -1 && (found == nullptr || c.start > found->start)) found = &c;
    }
    if (found == nullptr) return false;
    Log(u"REMOVE Comment: " + added.text);
    EraseMarkup(found->start, found->end);
    found->start = found->end = -1;
    JoinTouchingRuns(*parent);
    return true;
}

bool XmlTargetDatabase::RestoreEnd(const RewrittenEnd& rewritten) {
    TargetNode* node = FindNodeAtIndexPath(rewritten.element);
    if (node == nullptr || IsGone(*node) || IsEmptyElementTag(*node) ||
        !IsEndOf(*node, rewritten.tail, rewritten.wasEmpty))
        return false;
    const std::int32_t unit = updater_.UnitSize();
    const std::int32_t contentEnd = SkipSpaceBackward(node->endTagStart, true);
    const bool empty = contentEnd == node->startTagEnd + unit;
    // Only when all it gained is gone again: no content at all for an
    // element that was empty, else just the children it had.
    const auto children = std::count_if(node->children.begin(), node->children.end(),
                                        [](const TargetNode* child) { return !IsGone(*child); });
    if (rewritten.wasEmpty ? !empty : (empty || children != rewritten.children)) return false;
    const std::int32_t s = rewritten.wasEmpty ? SkipSpaceBackward(node->startTagEnd, true) : contentEnd;
    Log(u"RESTORE the end the element had before the installation: <" + node->name + u"> at line " +
        ToWideUnsigned(node->startLine));
    const EndsKeptAt kept(nodes_, s);
    updater_.Update(s, node->end, rewritten.tail);
    kept.Restore();
    node->end = s + updater_.ByteLength(rewritten.tail);
    ScanStartTag(*node);
    if (updater_.UnitAt(node->startTagEnd) == u'/') {
        node->endTagStart = node->end;
    } else {
        std::int32_t lt = node->end - unit;
        while (lt > node->startTagEnd && updater_.UnitAt(lt) != u'<') lt -= unit;
        node->endTagStart = lt;
    }
    if (rewritten.wasEmpty) node->textRanges.clear();
    return true;
}
