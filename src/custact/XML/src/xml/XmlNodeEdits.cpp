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

bool IsTagBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Its bytes went with an earlier removal.
bool IsGone(const TargetNode& node) { return node.start == -1; }

bool IsEmptyElementTag(const TargetNode& node) { return node.endTagStart == node.end; }

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

void XmlTargetDatabase::RemoveNodeAndChildren(TargetNode& node) {
    Log(u"RemoveNodeAndChildren start.");
    if (!IsGone(node)) {
        const std::int32_t s = SkipSpaceBackward(node.start, false);
        const std::int32_t e = SkipSpaceForward(node.end, true);
        updater_.Erase(s, e);
        // Its descendants now point nowhere; so does the node itself, which
        // the erase may have left at s.
        node.start = node.attrStart = node.startTagEnd = node.endTagStart = node.end = -1;
        node.textRanges.clear();
        // Text on both sides of the element now forms one run, as a parse
        // of the edited bytes would see it.
        if (TargetNode* parent = node.Parent()) {
            std::vector<TextRange>& runs = parent->textRanges;
            for (std::size_t i = 1; i < runs.size(); ++i) {
                if (runs[i - 1].end == runs[i].begin && !runs[i - 1].cdata && !runs[i].cdata) {
                    runs[i - 1].end = runs[i].end;
                    runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i--));
                }
            }
        }
    }
    node.SetProcessed(true);
    for (TargetNode* child : node.children) child->SetProcessed(true);
    Log(u"RemoveNodeAndChildren end.");
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

    const WideString fragment = BuildXmlFragment(data, file, source, mode);
    const WideString closing = MakeIndent(file, NodeDepth(parent)) + u"</" + parent.name + u">";
    const std::int32_t unit = updater_.UnitSize();
    if (IsEmptyElementTag(parent)) {
        // "/>" becomes ">", the markup follows on the next lines, and the end
        // tag gets a line of its own. startTagEnd stays on the new ">".
        const std::int32_t s = parent.startTagEnd;
        updater_.Update(s, parent.end, u">\r\n" + fragment + closing);
        parent.startTagEnd = s;
        RefreshEndTagStart(parent);
    } else {
        const std::int32_t p = SkipSpaceBackward(parent.endTagStart, false);
        if (p - unit >= 0 && updater_.UnitAt(p - unit) == u'\n') {
            // The end tag has its own line: the markup goes in before it.
            const EndsKeptAt kept(nodes_, p);
            updater_.Insert(p, fragment);
            kept.Restore();
        } else {
            const EndsKeptAt kept(nodes_, p);
            updater_.Update(p, parent.end, u"\r\n" + fragment + closing);
            kept.Restore();
            RefreshEndTagStart(parent);
        }
    }
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
    const std::int32_t p = SkipSpaceBackward(matches.front()->start, false);
    const WideString fragment = BuildXmlFragment(data, file, comment, mode);
    const EndsKeptAt kept(nodes_, p);
    updater_.Insert(p, fragment);
    kept.Restore();
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

namespace {

// The target's attribute list after the source's attributes of this mode,
// in the order it is written: the target's own attributes by their place
// in the start tag, then the added ones by their order.
bool MergeAttributes(const TargetNode& target, const XmlElementRecord& source, int mode,
                     std::vector<XmlAttributeRecord>& merged) {
    merged = target.attributes;
    const auto find = [&](const WideString& name) {
        return std::find_if(merged.begin(), merged.end(), [&](const XmlAttributeRecord& a) { return a.name == name; });
    };
    std::vector<XmlAttributeRecord> planned = source.attributes;
    std::stable_sort(planned.begin(), planned.end(),
                     [](const XmlAttributeRecord& a, const XmlAttributeRecord& b) { return a.order < b.order; });
    bool changed = false;
    for (const XmlAttributeRecord& a : planned) {
        if (!AttributeTakesPart(a.flags, mode)) continue;
        const bool add = (a.flags & kXmlAttributeBelongs) != 0;
        const bool setOrRemove = (a.flags & kXmlAttributeSetOrRemove) != 0;
        const auto existing = find(a.name);
        if (add && existing == merged.end()) {
            merged.push_back(a);
            changed = true;
        } else if (add && setOrRemove) {
            if (existing->value != a.value) {
                existing->value = a.value;
                changed = true;
            }
        } else if (!add && setOrRemove && existing != merged.end()) {
            merged.erase(existing);
            changed = true;
        }
    }
    std::stable_sort(merged.begin(), merged.end(), MergedAttributeLess);
    return changed;
}

WideString FormatAttributes(const std::vector<XmlAttributeRecord>& attributes, bool targetHadNone) {
    WideString text;
    for (const XmlAttributeRecord& a : attributes) {
        // With no attributes before, the area starts at the tag's end and
        // needs its own blank after the name.
        if (!text.empty() || targetHadNone) text += u" ";
        text += a.name + u"=\"" + EscapeAttribute(a.value) + u"\"";
    }
    return text;
}

bool CombineInto(TargetNode& target, const XmlElementRecord& source, int mode, std::vector<XmlAttributeRecord>& list,
                 WideString& merged) {
    Log(u"CombineAttributes start.");
    merged.clear();
    if (!MergeAttributes(target, source, mode, list)) {
        Log(u"NO changes in attribute list.");
        Log(u"CombineAttributes end.");
        return false;
    }
    merged = FormatAttributes(list, target.attributes.empty());
    Log(u"Merged Attribute List: [" + merged + u"]");
    Log(u"CombineAttributes end.");
    return true;
}

}  // namespace

bool XmlTargetDatabase::CombineAttributes(TargetNode& target, const XmlElementRecord& source, int mode,
                                          WideString& merged) {
    std::vector<XmlAttributeRecord> list;
    return CombineInto(target, source, mode, list, merged);
}

void XmlTargetDatabase::UpdateNodeAttributes(TargetNode& target, const XmlElementRecord& source, int mode) {
    Log(u"UpdateNodeAttributes start.");
    std::vector<XmlAttributeRecord> list;
    WideString merged;
    if (!IsGone(target) && CombineInto(target, source, mode, list, merged)) {
        const std::int32_t unit = updater_.UnitSize();
        std::int32_t s = target.attrStart;
        const std::int32_t e = target.startTagEnd;
        // No attributes left: the blank after the name goes too.
        if (s < e && merged.empty()) s -= unit;
        updater_.Update(s, e, merged);
        // The observer cannot tell the attribute area from what follows it;
        // both ends are known here.
        target.startTagEnd = s + updater_.ByteLength(merged);
        const bool blankWritten = !merged.empty() && merged.front() == u' ' && !IsTagBlank(updater_.UnitAt(s - unit));
        target.attrStart = blankWritten ? s + unit : s;
        // Later records of this run match against the attributes as written.
        target.attributes.clear();
        for (XmlAttributeRecord& a : list) {
            target.attributes.push_back({kAttributeFromTarget, std::move(a.name), std::move(a.value), 0,
                                         static_cast<std::int32_t>(target.attributes.size())});
        }
    }
    Log(u"UpdateNodeAttributes end.");
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
                    updater_.Bytes().compare(static_cast<std::size_t>(before), static_cast<std::size_t>(openLength),
                                             EncodeXmlText(updater_.Encoding(), open)) == 0 &&
                    updater_.Bytes().compare(static_cast<std::size_t>(after), static_cast<std::size_t>(closeLength),
                                             EncodeXmlText(updater_.Encoding(), close)) == 0) {
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
        const WideString lead = mixed ? u"\r\n" + MakeIndent(file, NodeDepth(target) + 1) : WideString();
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
        const WideString between = mixed ? u"\n" + MakeIndent(file, NodeDepth(target) + 1) : WideString();
        target.text = TrimXmlBlanks(mixed ? target.text + between + source.text : source.text);
    }
    // Runs leave out the blanks at their ends, as a parse gives them: a run
    // that started on a blank right after an element would otherwise lose
    // its start when that element is removed with the white space after it.
    TightenTextRanges(target);
    Log(u"UpdateNodeText end.");
}
