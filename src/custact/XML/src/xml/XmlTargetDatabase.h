// An XML file that already exists on the machine, held twice: as its raw
// bytes, which edits change in place, and as a table of its elements, each
// knowing where its tags, attributes and texts lie in those bytes. The
// positions follow every edit, so bytes no edit touches never change.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "custact/XML/src/util/ByteStreamUpdater.h"
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

// The text without " \t\r\n" at either end.
WideString TrimXmlBlanks(std::u16string_view text);
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

    // The start of the run of blanks (space and tab, or any white space)
    // that ends at pos; pos when there is none.
    std::int32_t SkipSpaceBackward(std::int32_t pos, bool anyWhiteSpace) const;
    // Past the white space from pos; with the flag, no further than just
    // past the first line feed.
    std::int32_t SkipSpaceForward(std::int32_t pos, bool stopAfterLineFeed) const;
    // After the node's end tag was rewritten: the "<" of "</name>" that
    // ends at the node's end.
    void RefreshEndTagStart(TargetNode& node);

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
    WideString MakeNodeKey(const WideString& name);
    void ScanStartTag(TargetNode& node) const;
    void TightenTextRanges(TargetNode& node) const;
    // Bytes an entity reference stands for carry the reference's position,
    // not their own: such a file cannot be edited in place (4119).
    void ExpectMarkupAt(std::int32_t pos, std::u16string_view markup) const;

    std::deque<OpenElement> open_;
    TargetNodeMap nodes_;
    std::unordered_map<WideString, std::uint32_t> nextKeySuffix_;
    std::unordered_map<ChildKey, std::vector<TargetNode*>, ChildKeyHash> childrenByName_;
    TargetNode* root_ = nullptr;
    // Normalised comment text -> the element holding it; null for a
    // comment outside the root.
    std::unordered_multimap<WideString, const TargetNode*> comments_;
    XmlFileStart fileStart_;
    WideString version_ = u"1.0";
    WideString encodingName_;
    int standalone_ = -1;
    ByteStreamUpdater updater_;
};
