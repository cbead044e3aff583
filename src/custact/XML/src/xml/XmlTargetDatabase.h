// An XML file that already exists on the machine: its bytes, held once by
// the ByteStreamUpdater together with every edit made to them, and a
// compact table of its elements in document order, each knowing where its
// tags and texts lay in the bytes as read. A position is worked out when it
// is asked for and follows every edit made since; names are interned;
// attribute values and texts are decoded from the bytes when asked for,
// except those the bytes alone cannot give (references to a DTD's
// entities, mixed content) and those an edit of this run has set. Bytes no
// edit touches never change.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "custact/XML/src/util/ByteStreamUpdater.h"
#include "custact/XML/src/util/ChunkedVector.h"
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

// Elements are numbered by their start tags in document order, from 0.
using NodeId = std::uint32_t;
constexpr NodeId kNoNode = 0xFFFFFFFFu;

class XmlTargetDatabase;

// An element of the target file as a record, for tests and the locators:
// Nodes() and Root() build one for every element on first use and bring
// them up to date each time they are asked for, and so do the node edits
// that take one. Byte offsets are -1 when the bytes they pointed at have
// been erased.
class TargetNode : public XmlNodeRecord {
public:
    TargetNode* Parent() const { return static_cast<TargetNode*>(parent); }
    // The database's own mark, so that it never goes stale.
    bool IsProcessed() const override;
    void SetProcessed(bool on) override;

    NodeId id = kNoNode;
    std::int32_t start = -1;        // "<" of the start tag
    std::uint64_t startLine = 0;    // from 1
    std::int32_t attrStart = -1;    // after the blank that follows the name; else startTagEnd
    std::int32_t startTagEnd = -1;  // ">" of the start tag, or "/" of "/>"
    std::int32_t endTagStart = -1;  // "<" of "</name>"; equals end for an empty-element tag
    std::int32_t end = -1;          // just past the element
    std::uint64_t endLine = 0;
    std::vector<TextRange> textRanges;
    std::vector<TargetNode*> children;  // in document order

private:
    friend class XmlTargetDatabase;
    XmlTargetDatabase* db_ = nullptr;
};

using TargetNodeMap = std::unordered_map<WideString, TargetNode>;

// What an update did to an element's attributes: those that are new or
// have another value, and those that are gone.
struct AttributeChanges {
    int set = 0;
    int removed = 0;
};

// The places of an element that positions name (see TargetNode).
enum class NodePlace : std::uint8_t { Start, AttrStart, StartTagEnd, EndTagStart, End };

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
    ~XmlTargetDatabase() override;

    // Loads the bytes and parses them; once, before anything else.
    void Parse();
    // The same over bytes already in memory, taken as the file's content;
    // the path only names the file in messages.
    void Parse(std::string bytes);

    // The elements (XmlTargetDatabase.cpp).
    NodeId RootId() const { return nodes_.empty() ? kNoNode : 0; }
    std::size_t NodeCount() const { return nodes_.size(); }
    NodeId ParentOf(NodeId id) const { return nodes_[id].parent; }
    const WideString& NameOf(NodeId id) const { return names_[nodes_[id].name]; }
    // The position among its parent's children (0 for the root).
    std::int32_t IndexOf(NodeId id) const { return nodes_[id].index; }
    // The element name, or for the second and later elements of a name,
    // the name followed by "_" and the smallest number that no other key
    // took ("a", "a_1", "a_2").
    WideString KeyOf(NodeId id) const;
    // Its children in document order: a list kept once built, or one by one.
    const std::vector<NodeId>& ChildrenOf(NodeId id) const;
    NodeId FirstChild(NodeId id) const {
        return id + 1 < nodes_.size() && nodes_[id + 1].parent == id ? id + 1 : kNoNode;
    }
    NodeId NextSibling(NodeId id) const { return nodes_[id].nextSibling; }
    // Where it is now; -1 once its bytes are gone.
    std::int32_t Place(NodeId id, NodePlace place) const;
    bool IsGone(NodeId id) const { return Place(id, NodePlace::Start) == -1; }
    std::vector<TextRange> TextRangesOf(NodeId id) const;
    // All character data directly inside it, trimmed of " \t\r\n", as
    // parsed or as this run's text updates set it.
    WideString TextOf(NodeId id) const;
    // Its attributes in tag order, as parsed or as this run wrote them.
    std::vector<XmlAttributeRecord> AttributesOf(NodeId id) const;
    bool IsProcessed(NodeId id) const { return (nodes_[id].flags & kProcessedFlag) != 0; }
    void SetProcessed(NodeId id, bool on);
    // The line of an offset into the bytes as read, as Expat counts lines.
    std::uint64_t LineOf(std::int32_t offset) const;
    // GetNodePath of the element.
    WideString NodePath(NodeId id, bool withoutIndex) const;

    // Matching (XmlMatching.cpp).

    // The target nodes that stand for this planned element in this run mode,
    // in document order: same path, same text in uninstall runs, and the
    // key attributes of the element and of its ancestors found with equal
    // values. Walks down from the root along the element's path; a parent's
    // children are read one by one on its first search and through an index
    // of key values from then on, so the cost grows with the depth and the
    // matches, not with the file.
    void FindMatchingNodes(const XmlNodeRecord& source, int mode, std::vector<NodeId>& out);
    void FindMatchingNodes(const XmlNodeRecord& source, int mode, std::vector<TargetNode*>& out);
    // Children of parent with this name (any name when empty); 0 for none.
    int CountChildren(NodeId parent, std::u16string_view name) const;
    int CountChildren(const XmlNodeRecord* parent, const WideString& name) const;
    // Whether the file has a comment with this record's text in the element
    // at its parent's path.
    bool CommentExists(const XmlNodeRecord& comment) const;
    // The node at a path with indices ("root/a[0]/b[3]", indices counting
    // the parent's element children); kNoNode when there is none.
    NodeId FindNodeAtIndexPath(std::u16string_view path) const;

    // The elements as records (TargetNodeRecords.cpp).
    TargetNode* Root() const;
    TargetNodeMap& Nodes();
    const TargetNodeMap& Nodes() const;

    const WideString& Version() const { return version_; }
    const WideString& EncodingName() const { return encodingName_; }
    // As Expat reports it: -1 not given, 0 "no", 1 "yes".
    int Standalone() const { return standalone_; }
    // What the first bytes said, before the declaration was read.
    const XmlFileStart& FileStart() const { return fileStart_; }
    ByteStreamUpdater& Updater() { return updater_; }
    const ByteStreamUpdater& Updater() const { return updater_; }

    // Node edits (XmlNodeEdits.cpp, XmlAttributeEdits.cpp): each turns one
    // decision of the update driver into byte edits through Updater(). A
    // node whose start is -1 went with an earlier removal and is left alone.
    // Those that take a TargetNode bring the records up to date afterwards.

    // Erases the element with the blanks before it and the white space
    // after it up to the next content or through the next line feed; the
    // node and its direct children become processed.
    void RemoveNodeAndChildren(NodeId node);
    void RemoveNodeAndChildren(TargetNode& node);
    // Inserts the record with everything below it as the last child of the
    // first node that matches the record's parent.
    void InsertNodeAndChildren(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& source, int mode);
    // Before the line of the first node matching next, else as the last
    // child of the comment's parent.
    void InsertComment(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& comment,
                       const XmlElementRecord* next, int mode);
    // Attributes, and in install runs the text; the source becomes processed.
    // Returns what became of the node's attributes.
    AttributeChanges UpdateXmlNode(const XmlFileRecord& file, NodeId target, XmlElementRecord& source, int mode);
    void UpdateXmlNode(const XmlFileRecord& file, TargetNode& target, XmlElementRecord& source, int mode);
    AttributeChanges UpdateNodeAttributes(NodeId target, const XmlElementRecord& source, int mode);
    void UpdateNodeAttributes(TargetNode& target, const XmlElementRecord& source, int mode);
    // The target's attribute list after the source's attributes of this
    // mode; false, with merged empty, when nothing changes.
    bool CombineAttributes(NodeId target, const XmlElementRecord& source, int mode, WideString& merged);
    // Replaces the element's one text run, or adds the text after its last
    // content. Text for a CDATA run stays raw inside the section unless it
    // holds "]]>"; then the whole section becomes escaped text.
    void UpdateNodeText(const XmlFileRecord& file, NodeId target, const XmlElementRecord& source);
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
    WideString ChildIndent(NodeId parent, const XmlFileRecord& file);
    // One level of indentation near node: the step from an element's line
    // to its children's, the nearest one up the ancestors that is not empty,
    // else the file's first; "" when every step in the file is empty; the
    // file record's unit when the file has no element and child that start
    // lines of their own.
    WideString IndentUnitNear(NodeId node, const XmlFileRecord& file);
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
    void RefreshEndTagStart(NodeId node);
    // Erases the markup [start, end) of an element or comment and the white
    // space that would be left without purpose: its whole line when it
    // stands alone on it; the blanks after it when it starts its line and
    // more follows; else the blanks before it.
    void EraseMarkup(std::int32_t start, std::int32_t end);

    // Positions follow edits through anchors: nothing to do per edit.
    void OnErase(std::int32_t /*start*/, std::int32_t /*end*/) override {}
    void OnInsert(std::int32_t /*at*/, std::int32_t /*count*/) override {}

protected:
    void OnXmlDecl(const std::optional<WideString>& version, const std::optional<WideString>& encoding,
                   int standalone) override;
    void OnStartElement(std::u16string_view name, const XmlReaderAttributes& attributes) override;
    void OnEndElement() override;
    void OnCharacterData(std::u16string_view text) override;
    void OnComment(const WideString& text) override;
    void OnStartCdata() override;
    void OnStartDoctype() override { hasDoctype_ = true; }

private:
    friend class TargetNode;
    friend class EndsKeptAt;
    using NameId = std::uint32_t;
    static constexpr NameId kNoName = 0xFFFFFFFFu;

    static constexpr std::uint8_t kProcessedFlag = 1;
    static constexpr std::uint8_t kTextKept = 2;        // texts_ holds its text
    static constexpr std::uint8_t kAttributesKept = 4;  // attributeLists_ holds its attributes
    static constexpr std::uint8_t kPlacesSet = 8;       // placeEdits_ holds positions an edit set

    // One element as parsed: 48 bytes, whatever its names and values.
    struct NodeData {
        NodeId parent;
        NodeId nextSibling;
        NameId name;
        std::uint32_t ordinal;  // among the elements of its name, for the key
        std::int32_t index;
        std::int32_t start;
        std::int32_t startTagEnd;
        std::int32_t endTagStart;
        std::int32_t end;
        std::uint32_t firstRange;  // into ranges_
        std::uint32_t rangeCount;
        std::uint8_t flags;
    };
    // Positions that this run's edits set on one element, held as anchors.
    struct PlaceEdits {
        struct Range {
            ByteStreamUpdater::Anchor begin;
            ByteStreamUpdater::Anchor end;
            bool cdata;
        };
        std::uint8_t set = 0;  // one bit per NodePlace
        ByteStreamUpdater::Anchor places[5];
        bool rangesSet = false;
        std::vector<Range> ranges;
    };
    struct CommentData {
        NodeId parent;
        std::int32_t start;  // -1: an entity brought it, it has no bytes
        std::int32_t end;
        bool erased;
    };
    struct OpenElement {
        NodeId id;
        NodeId lastChild;
        std::int32_t children;
    };
    // Parses what the updater holds: the file's bytes or bytes set in memory.
    void ParseLoadedBytes();
    // A change of this run that only the record can undo.
    struct EndRewrite {
        NodeId node;
        bool wasEmpty;
        WideString tail;
    };
    struct CommentAdded {
        NodeId parent;
        WideString text;
    };
    // Key values of the children of one parent with one name.
    struct ValueIndexKey {
        NodeId parent;
        NameId name;
        NameId attribute;
        bool operator==(const ValueIndexKey& o) const {
            return parent == o.parent && name == o.name && attribute == o.attribute;
        }
    };
    struct ValueIndexKeyHash {
        std::size_t operator()(const ValueIndexKey& k) const;
    };
    // Hashes of key values, as the file's bytes hold them, each with its
    // element, sorted: one block per parent and name, however many children.
    using ValueIndex = std::vector<std::pair<std::uint64_t, NodeId>>;
    // A key attribute with its name and value in the file's encoding, so
    // that start tags can be searched without decoding them.
    struct KeyProbe {
        const XmlAttributeRecord* key;
        std::string name;
        std::string value;
        // Without a blank in the value, only the value's own bytes can
        // read as it in a start tag that holds no reference.
        bool blankFree;
    };

    NameId Intern(std::u16string_view name);
    NameId FindName(std::u16string_view name) const;
    void AssignKeys();
    void CheckTextOf(NodeId id, std::u16string_view text);
    void CheckAttributesOf(NodeId id, const XmlReaderAttributes& attributes);
    // Scans of the start tag and its attributes in the bytes as read.
    std::int32_t OriginalAttrStart(const NodeData& node) const;
    std::optional<WideString> AttributeValue(NodeId id, std::u16string_view name) const;
    KeyProbe ProbeFor(const XmlAttributeRecord& key) const;
    bool HasKey(NodeId id, const KeyProbe& probe) const;
    // The hash of the value of the attribute with this encoded name, as
    // the file's bytes hold it; none when the element has no such attribute.
    std::optional<std::uint64_t> ValueHash(NodeId id, const std::string& name) const;
    std::size_t AttributeCount(NodeId id) const;
    std::optional<WideString> DecodedRange(const TextRange& range) const;
    void SetPlace(NodeId id, NodePlace place, std::int32_t pos);
    void SetTextRanges(NodeId id, const std::vector<TextRange>& ranges);
    void SetText(NodeId id, WideString text);
    // before: its attributes until now, as AttributesOf gives them.
    void SetAttributes(NodeId id, std::vector<XmlAttributeRecord> attributes,
                       const std::vector<XmlAttributeRecord>& before);

    // Matching (XmlMatching.cpp).
    const std::vector<NodeId>& ChildrenNamed(NodeId parent, NameId name) const;
    void SelectChildren(NodeId parent, NameId name, const std::vector<KeyProbe>& keys, std::vector<NodeId>& out);
    bool HasKeys(NodeId node, const std::vector<KeyProbe>& keys) const;
    ValueIndex& IndexOfValues(NodeId parent, NameId name, const KeyProbe& key);
    void ReindexValues(NodeId node, const std::vector<XmlAttributeRecord>& before,
                       const std::vector<XmlAttributeRecord>& after);

    // The records (TargetNodeRecords.cpp).
    void BuildRecords() const;
    void RefreshRecords() const;

    // Node edits.
    // After the bytes between two text runs of the node went: one run, as
    // a parse of the edited bytes would see it.
    void JoinTouchingRuns(NodeId node);
    // Notes the first rewrite of the node's end in this run.
    void NoteEndRewrite(NodeId node, bool wasEmpty, std::int32_t from);
    void ScanStartTag(NodeId node);
    // The node's path with indices among the siblings still in the file;
    // the indices found on the way are kept for the next call.
    using SiblingIndices = std::unordered_map<NodeId, std::int64_t>;
    WideString IndexPathAfterEdits(NodeId node, SiblingIndices& indices) const;
    bool RemoveAddedComment(const AddedComment& added);
    bool RestoreEnd(const RewrittenEnd& rewritten);
    std::optional<WideString> StepToChildren(NodeId node) const;
    // Its text runs without the white space at their ends, in the bytes as
    // they are now; runs of white space alone go.
    void TightenTextRanges(NodeId node);
    WideString FileIndentUnit(const XmlFileRecord& file);
    // Bytes an entity reference stands for carry the reference's position,
    // not their own: such a file cannot be edited in place (4119).
    void ExpectMarkupAt(std::int32_t pos, std::u16string_view markup) const;
    // The code unit at pos in the bytes as read; 0 outside them.
    char16_t OriginalUnitAt(std::int32_t pos) const {
        return CodeUnitAt(updater_.Encoding(), updater_.Original(), pos);
    }
    auto OriginalAt() const {
        return [this](std::int32_t pos) { return OriginalUnitAt(pos); };
    }

    ChunkedVector<NodeData> nodes_;
    ChunkedVector<TextRange> ranges_;
    std::deque<WideString> names_;
    std::unordered_map<std::u16string_view, NameId> nameIds_;
    NameId lastName_ = kNoName;
    std::vector<WideString> keys_;  // only when names could collide with keys
    std::unordered_map<NodeId, WideString> texts_;
    std::unordered_map<NodeId, std::vector<XmlAttributeRecord>> attributeLists_;
    std::unordered_map<NodeId, PlaceEdits> placeEdits_;
    std::vector<CommentData> comments_;
    // Normalised comment text -> its index in comments_.
    std::unordered_multimap<WideString, std::size_t> commentsByText_;
    std::vector<std::uint32_t> nameCounts_;
    bool hasDoctype_ = false;

    // Built when first needed.
    mutable std::unordered_map<NodeId, std::vector<NodeId>> children_;
    mutable std::unordered_map<NodeId, std::unordered_map<NameId, std::vector<NodeId>>> childrenByName_;
    std::unordered_map<ValueIndexKey, ValueIndex, ValueIndexKeyHash> valueIndexes_;
    // Indexes searched once without being built: the next search builds them.
    std::unordered_set<ValueIndexKey, ValueIndexKeyHash> searchedOnce_;
    // The attribute names indexed under each parent and name.
    std::unordered_map<std::uint64_t, std::vector<NameId>> indexedAttributes_;
    mutable std::vector<std::int32_t> lineStarts_;
    mutable bool linesKnown_ = false;
    mutable std::unique_ptr<TargetNodeMap> records_;
    mutable std::vector<TargetNode*> recordById_;

    // While parsing.
    std::vector<OpenElement> open_;
    std::vector<WideString> openTexts_;  // the text of each open element, by depth
    std::vector<std::vector<TextRange>> openRanges_;

    std::int32_t contentStart_ = 0;  // past a byte order mark
    WideString firstLineEnd_ = u"\r\n";
    // Layouts learned so far, by node.
    std::unordered_map<NodeId, WideString> childIndents_;
    std::unordered_map<NodeId, std::optional<WideString>> unitsNear_;
    std::optional<WideString> fileUnit_;
    std::vector<EndRewrite> endRewrites_;
    std::unordered_set<NodeId> endRewritten_;
    std::vector<CommentAdded> commentsAdded_;
    XmlFileStart fileStart_;
    WideString version_ = u"1.0";
    WideString encodingName_;
    int standalone_ = -1;
    ByteStreamUpdater updater_;
};
