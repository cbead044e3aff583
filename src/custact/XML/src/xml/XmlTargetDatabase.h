// An XML file that already exists on the machine, held twice: as its raw
// bytes, which edits change in place, and as a table of its elements, each
// knowing where its tags, attributes and texts lie in those bytes. The
// positions follow every edit, so bytes no edit touches never change.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "custact/XML/src/util/ByteStreamUpdater.h"
#include "custact/XML/src/xml/AddedMarkup.h"
#include "custact/XML/src/xml/XmlUpdateData.h"
#include "platform/os/XmlReader.h"

// Bytes [begin, end) of one run of character data directly inside an
// element, without the white space at its ends. A run inside a CDATA
// section covers the section's content only, never "<![CDATA[" or "]]>",
// and is never joined with the text around the section.
struct TextRange {
    std::int32_t begin = -1;
    std::int32_t end = -1;
    bool cdata = false;
};

// An element of the target file. Byte offsets are -1 when the bytes they
// pointed at have been erased.
class TargetNode : public XmlNodeRecord {
public:
    TargetNode* Parent() const { return static_cast<TargetNode*>(parent); }

    std::int32_t start = -1;        // "<" of the start tag
    std::uint64_t startLine = 0;    // from 1
    std::uint64_t startColumn = 0;  // from 0
    std::int32_t attrStart = -1;    // after the blank that follows the name; else startTagEnd
    std::int32_t startTagEnd = -1;  // ">" of the start tag, or "/" of "/>"
    std::int32_t endTagStart = -1;  // "<" of "</name>"; equals end for an empty-element tag
    std::int32_t end = -1;          // just past the element
    std::uint64_t endLine = 0;
    std::uint64_t endColumn = 0;
    std::vector<TextRange> textRanges;
    std::vector<TargetNode*> children;  // in document order
};

using TargetNodeMap = std::unordered_map<WideString, TargetNode>;

// A comment of the target file: its bytes from "<!--" to past "-->" (-1
// once erased), and the element holding it (null outside the root).
struct TargetComment {
    TargetNode* parent = nullptr;
    std::int32_t start = -1;
    std::int32_t end = -1;
};

// The text without " \t\r\n" at either end.
WideString TrimXmlBlanks(std::u16string_view text);
// A comment's text as comments are compared: trimmed, each line end as
// "\r\n" whichever way the file or the row wrote it.
WideString NormalisedComment(std::u16string_view text);
// "root/child[0]/grandchild[3]", or "root/child/grandchild" without the
// indices; a record without parent gives its name. Works on element
// records (whose index is their Order) and target nodes alike.
WideString GetNodePath(const XmlNodeRecord& record, bool withoutIndex);
// The number of ancestors: 0 for a root.
int NodeDepth(const XmlNodeRecord& record);
// One indentation level of the file (a tab or a space, indent-units
// times), repeated depth times.
WideString MakeIndent(const XmlFileRecord& file, int depth);

class XmlTargetDatabase : public XmlReader, public ByteStreamObserver {
public:
    explicit XmlTargetDatabase(WideString path);

    // Loads the bytes and parses the file; once, before anything else.
    void Parse();
    // The same over bytes already in memory, taken as the file's content;
    // the path only names the file in messages.
    void Parse(std::string bytes);

    // The target nodes that stand for this planned element in this run mode,
    // in document order: same path, same text in uninstall runs, and the
    // key attributes of the element and of its ancestors found with equal
    // values. Walks down from the root along the element's path, so the cost
    // grows with its depth and the nodes on that path, not with the file.
    void FindMatchingNodes(const XmlNodeRecord& source, int mode, std::vector<TargetNode*>& out);
    // Children of parent with this name (any name when empty); 0 for null.
    int CountChildren(const XmlNodeRecord* parent, const WideString& name) const;
    // The children of parent with this name in document order; the root
    // for a null parent and the root's name.
    const std::vector<TargetNode*>& ChildrenNamed(const TargetNode* parent, std::u16string_view name) const;
    // Whether the file has a comment with this record's text in the element
    // at its parent's path.
    bool CommentExists(const XmlNodeRecord& comment) const;
    // The node at a path with indices ("root/a[0]/b[3]", indices counting
    // the parent's element children); null when there is none.
    TargetNode* FindNodeAtIndexPath(std::u16string_view path) const;

    TargetNode* Root() const { return root_; }
    TargetNodeMap& Nodes() { return nodes_; }
    const TargetNodeMap& Nodes() const { return nodes_; }
    const WideString& Version() const { return version_; }
    const WideString& EncodingName() const { return encodingName_; }
    // As Expat reports it: -1 not given, 0 "no", 1 "yes".
    int Standalone() const { return standalone_; }
    // What the first bytes said, before the declaration was read.
    const XmlFileStart& FileStart() const { return fileStart_; }
    ByteStreamUpdater& Updater() { return updater_; }
    const ByteStreamUpdater& Updater() const { return updater_; }

    // Node edits (XmlNodeEdits.cpp): each turns one decision of the update
    // driver into byte edits through Updater(). A node whose start is -1
    // went with an earlier removal and is left alone.

    // Erases the element with the blanks before it and the white space
    // after it up to the next content or through the next line feed; the
    // node and its direct children become processed.
    void RemoveNodeAndChildren(TargetNode& node);
    // Inserts the record with everything below it as the last child of the
    // first node that matches the record's parent.
    void InsertNodeAndChildren(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& source, int mode);
    // Before the line of the first node matching next, else as the last
    // child of the comment's parent.
    void InsertComment(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& comment,
                       const XmlElementRecord* next, int mode);
    // Attributes, and in install runs the text; the source becomes processed.
    void UpdateXmlNode(const XmlFileRecord& file, TargetNode& target, XmlElementRecord& source, int mode);
    void UpdateNodeAttributes(TargetNode& target, const XmlElementRecord& source, int mode);
    // The target's attribute list after the source's attributes of this
    // mode; false, with merged empty, when nothing changes.
    bool CombineAttributes(TargetNode& target, const XmlElementRecord& source, int mode, WideString& merged);
    // Replaces the element's one text run, or adds the text after its last
    // content. Text for a CDATA run stays raw inside the section unless it
    // holds "]]>"; then the whole section becomes escaped text.
    void UpdateNodeText(const XmlFileRecord& file, TargetNode& target, const XmlElementRecord& source);

    // What the insertions of this run added that removing elements would not
    // take back, with the elements named as the edited file reads.
    AddedMarkup AddedInThisRun() const;
    // Undoes what an earlier install recorded: removes the comments it
    // added, and gives an element whose new children are all gone again the
    // end it had before. Entries that no longer fit the file are left alone.
    void GiveBackAddedMarkup(const AddedMarkup& added);

    // The file's layout as its own author wrote it (XmlLayout.cpp), so that
    // new markup looks like the lines around it. Lines end in "\r\n", "\n"
    // or a lone "\r".

    // The line end of the line holding pos; else the file's first line end;
    // "\r\n" for a file without one.
    WideString LineEndAt(std::int32_t pos) const;
    // The blanks that start the line holding pos (up to pos at most).
    WideString LineIndentAt(std::int32_t pos) const;
    // The blanks before pos when nothing else stands before it on its line.
    std::optional<WideString> IndentBefore(std::int32_t pos) const;
    // The indentation a new last child of parent gets: that of its last
    // child that starts a line, else the parent's line indentation and one
    // unit.
    WideString ChildIndent(const TargetNode& parent, const XmlFileRecord& file);
    // One level of indentation near node: the step from an element's line
    // to its children's, the nearest one up the ancestors that is not empty,
    // else the file's first; "" when every step in the file is empty; the
    // file record's unit when the file has no element and child that start
    // lines of their own.
    WideString IndentUnitNear(const TargetNode& node, const XmlFileRecord& file);
    // The text of the bytes [begin, end).
    WideString TextAt(std::int32_t begin, std::int32_t end) const;

    // The start of the run of blanks (space and tab, or any white space)
    // that ends at pos; pos when there is none.
    std::int32_t SkipSpaceBackward(std::int32_t pos, bool anyWhiteSpace) const;
    // Past the white space from pos; with the flag, no further than just
    // past the first line feed.
    std::int32_t SkipSpaceForward(std::int32_t pos, bool stopAfterLineFeed) const;
    // After the node's end tag was rewritten: the "<" of "</name>" that
    // ends at the node's end.
    void RefreshEndTagStart(TargetNode& node);
    // Erases the markup [start, end) of an element or comment and the white
    // space that would be left without purpose: its whole line when it
    // stands alone on it; the blanks after it when it starts its line and
    // more follows; else the blanks before it.
    void EraseMarkup(std::int32_t start, std::int32_t end);

    void OnErase(std::int32_t start, std::int32_t end) override;
    void OnInsert(std::int32_t at, std::int32_t count) override;

protected:
    void OnXmlDecl(const std::optional<WideString>& version, const std::optional<WideString>& encoding,
                   int standalone) override;
    void OnStartElement(const WideString& name, const XmlReaderAttributes& attributes) override;
    void OnEndElement(const WideString& name) override;
    void OnCharacterData(const WideString& text) override;
    void OnComment(const WideString& text) override;
    void OnStartCdata() override;

private:
    struct OpenElement {
        TargetNode* node;
        std::int32_t children;
    };

    struct ChildKey {
        const TargetNode* parent;
        std::u16string_view name;  // into the first such child's name
        bool operator==(const ChildKey& other) const { return parent == other.parent && name == other.name; }
    };
    struct ChildKeyHash {
        std::size_t operator()(const ChildKey& key) const;
    };

    void ParseLoadedBytes();
    // A change of this run that only the record can undo.
    struct EndRewrite {
        TargetNode* node;
        bool wasEmpty;
        WideString tail;
    };
    struct CommentAdded {
        const TargetNode* parent;
        WideString text;
    };

    // After the bytes between two text runs of the node went: one run, as
    // a parse of the edited bytes would see it.
    static void JoinTouchingRuns(TargetNode& node);
    // Notes the first rewrite of the node's end in this run.
    void NoteEndRewrite(TargetNode& node, bool wasEmpty, std::int32_t from);

    WideString MakeNodeKey(const WideString& name);
    void ScanStartTag(TargetNode& node) const;
    // The node's path with indices among the siblings still in the file;
    // the indices found on the way are kept for the next call.
    using SiblingIndices = std::unordered_map<const TargetNode*, std::int64_t>;
    WideString IndexPathAfterEdits(const TargetNode& node, SiblingIndices& indices) const;
    bool RemoveAddedComment(const AddedComment& added);
    bool RestoreEnd(const RewrittenEnd& rewritten);
    std::optional<WideString> StepToChildren(const TargetNode& node) const;
    WideString FileIndentUnit(const XmlFileRecord& file);
    void TightenTextRanges(TargetNode& node) const;
    // Bytes an entity reference stands for carry the reference's position,
    // not their own: such a file cannot be edited in place (4119).
    void ExpectMarkupAt(std::int32_t pos, std::u16string_view markup) const;

    std::deque<OpenElement> open_;
    TargetNodeMap nodes_;
    std::unordered_map<WideString, std::uint32_t> nextKeySuffix_;
    std::unordered_map<ChildKey, std::vector<TargetNode*>, ChildKeyHash> childrenByName_;
    TargetNode* root_ = nullptr;
    std::vector<TargetComment> comments_;
    // Normalised comment text -> its index in comments_.
    std::unordered_multimap<WideString, std::size_t> commentsByText_;
    std::int32_t contentStart_ = 0;    // past a byte order mark
    WideString firstLineEnd_ = u"\r\n";
    // Layouts learned so far, by node.
    std::unordered_map<const TargetNode*, WideString> childIndents_;
    std::unordered_map<const TargetNode*, std::optional<WideString>> unitsNear_;
    std::optional<WideString> fileUnit_;
    std::vector<EndRewrite> endRewrites_;
    std::unordered_set<const TargetNode*> endRewritten_;
    std::vector<CommentAdded> commentsAdded_;
    XmlFileStart fileStart_;
    WideString version_ = u"1.0";
    WideString encodingName_;
    int standalone_ = -1;
    ByteStreamUpdater updater_;
};
