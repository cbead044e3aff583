// The planned changes of one action run: XML files, their elements and
// comments, and the attributes of each element. Parsed target elements
// (TargetNode) share the node record, so that both kinds sort the same way.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "custact/XML/src/xml/XmlUpdateFlags.h"
#include "installer/WideString.h"

// Attributes of the planned update, and attributes read from a target file.
constexpr std::uint32_t kAttributeFromUpdate = 0;
constexpr std::uint32_t kAttributeFromTarget = 1;

struct XmlAttributeRecord {
    std::uint32_t origin = kAttributeFromUpdate;
    WideString name;
    WideString value;
    std::uint32_t flags = 0;  // 0 for target attributes
    std::int32_t order = 0;   // target attributes: position in the start tag
    WideString key = {};      // the XmlAttribute row, for messages; empty for target attributes
};

class XmlNodeRecord {
public:
    XmlNodeRecord() = default;
    XmlNodeRecord(const XmlNodeRecord&) = default;
    XmlNodeRecord(XmlNodeRecord&&) = default;
    XmlNodeRecord& operator=(const XmlNodeRecord&) = default;
    XmlNodeRecord& operator=(XmlNodeRecord&&) = default;

    virtual bool IsMarked() const { return (marks_ & kMarked) != 0; }
    virtual void SetMarked(bool on) { Set(kMarked, on); }
    // A processed source record is skipped by the update driver; a processed
    // target node is not matched again during the same file update.
    virtual bool IsProcessed() const { return (marks_ & kProcessed) != 0; }
    virtual void SetProcessed(bool on) { Set(kProcessed, on); }
    virtual ~XmlNodeRecord() = default;

    WideString key;
    WideString name;
    std::int32_t index = 0;  // Order of an element record, sibling position of a target node
    WideString text;
    XmlNodeRecord* parent = nullptr;  // same kind of record; null for a root
    std::vector<XmlAttributeRecord> attributes;

private:
    static constexpr std::uint8_t kMarked = 1;
    static constexpr std::uint8_t kProcessed = 2;
    void Set(std::uint8_t mark, bool on) { marks_ = static_cast<std::uint8_t>(on ? marks_ | mark : marks_ & ~mark); }

    std::uint8_t marks_ = 0;
};

// One QM_XmlElement row.
class XmlElementRecord : public XmlNodeRecord {
public:
    XmlElementRecord* Parent() const { return static_cast<XmlElementRecord*>(parent); }

    WideString parentKey;
    std::uint32_t flags = 0;
    std::int32_t updateIndex = 0;
};

// One QM_XmlFile row.
struct XmlFileRecord {
    WideString key;
    WideString fileName;
    WideString directory;
    WideString rootElementKey;
    std::uint32_t flags = 0;
    WideString version;
    WideString encoding;
    std::int32_t indentUnits = 0;
    WideString backupPattern;
    XmlElementRecord* root = nullptr;  // into the element map; null when the key names no element
};

using XmlFileMap = std::unordered_map<WideString, XmlFileRecord>;
using XmlElementMap = std::unordered_map<WideString, XmlElementRecord>;

// Owns every record of a run. Parent and root pointers point into the maps,
// whose nodes never move, so the data is not copied.
struct XmlUpdateData {
    XmlUpdateData() = default;
    XmlUpdateData(const XmlUpdateData&) = delete;
    XmlUpdateData& operator=(const XmlUpdateData&) = delete;
    XmlUpdateData(XmlUpdateData&&) = default;
    XmlUpdateData& operator=(XmlUpdateData&&) = default;

    // The element records whose parent is this one (null: the roots), by
    // Order, records of equal Order in the element map's order. Built from
    // the parent links on first use; call IndexChildren again after
    // changing them.
    const std::vector<XmlElementRecord*>& ChildrenOf(const XmlElementRecord* parent);
    void IndexChildren();

    XmlFileMap files;
    XmlElementMap elements;

private:
    std::unordered_map<const XmlElementRecord*, std::vector<XmlElementRecord*>> children_;
    bool childrenIndexed_ = false;
};

// The directory followed directly by the file name; no separator is added.
WideString GetFullPath(const XmlFileRecord& file);

// An integer column: leading blanks, an optional sign and the leading
// digits; 0 when there are none. Values beyond 32 bits are clamped.
std::int32_t ToRecordInteger(std::u16string_view text);

// Level order: a record whose parent is nearer the root sorts first; records
// at the same depth sort by the indices of their ancestors below the nearest
// common ancestor. Serves element records and target nodes alike.
bool CompareTreeOrder(const XmlNodeRecord* a, const XmlNodeRecord* b);

// The order of an element record's attributes: by order alone.
void SortAttributesByOrder(std::vector<XmlAttributeRecord>& attributes);
// Where target attributes and planned ones meet in one list: those read from
// the target first, then by order.
bool MergedAttributeLess(const XmlAttributeRecord& a, const XmlAttributeRecord& b);
// The attribute of the list with this name, or null.
const XmlAttributeRecord* FindAttributeNamed(const std::vector<XmlAttributeRecord>& list, std::u16string_view name);
XmlAttributeRecord* FindAttributeNamed(std::vector<XmlAttributeRecord>& list, std::u16string_view name);
