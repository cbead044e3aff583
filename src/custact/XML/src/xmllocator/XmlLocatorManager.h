// The XML locators: a tree of elements to look for in XML files that are
// already on the machine, the conditions a found element must meet, and the
// installer properties that take values from it. Files are only read, never
// written, backed up or kept open; a file that is missing or cannot be read
// leaves its properties as they were.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/CustomActionData.h"
#include "installer/MsiText.h"

// QM_XmlLocator.Type: what a found element must satisfy. Other values test nothing.
enum LocatorType : std::int32_t {
    kLocateIndexInParent = 1,     // is the Value-th element child of its parent, from 0
    kLocateTextContains = 2,      // its text contains Value
    kLocateAttributeNamed = 4,    // has an attribute named Value
    kLocateAttributeValued = 16,  // has an attribute whose value is Value
    kLocateHasChildren = 64,      // has a child element
};

// QM_XmlLocator.ResultType: what the property takes. Other values give the empty text.
enum LocatorResultType : std::int32_t {
    kResultName = 1,
    kResultText = 2,
    kResultAttributeName = 4,    // of the first attribute whose value is Value
    kResultAttributeValue = 16,  // of the first attribute named Value
};

// One QM_XmlLocator row.
struct LocatorRecord {
    WideString key;
    WideString elementKey;
    WideString property;  // empty: the locator only tests
    std::int32_t type = 0;
    WideString value;
    std::int32_t resultType = 0;
    std::int32_t order = 0;
};

// One QM_XmlLocatorElement row. As a node record it shares the path
// functions of the target nodes.
class LocatorElementRecord : public XmlNodeRecord {
public:
    const LocatorElementRecord* Parent() const { return static_cast<const LocatorElementRecord*>(parent); }

    WideString parentKey;
    WideString file;  // used on roots only
    std::int32_t order = 0;
    std::vector<LocatorRecord> locators;             // by order once validated
    std::vector<LocatorElementRecord*> children;     // by order, then key
};

using LocatorElementMap = std::unordered_map<WideString, LocatorElementRecord>;

// The sections of the text OnXmlLocator builds: the two tables, nothing else.
enum LocatorSection { kLocatorElementSection = 0, kLocatorSection = 1 };

// The driver of one OnXmlLocator run.
struct XmlLocatorManager {
    explicit XmlLocatorManager(InstallerHandle installHandle) : install(installHandle) {}
    XmlLocatorManager(const XmlLocatorManager&) = delete;
    XmlLocatorManager& operator=(const XmlLocatorManager&) = delete;

    InstallerHandle install = 0;
    LocatorElementMap elements;
    std::vector<LocatorElementRecord*> roots;  // by order, then key

    // The file being searched, one at a time; the next file replaces it.
    std::unique_ptr<XmlTargetDatabase> target;
    // Its elements by path without indices in ASCII lower case, each list in
    // document order, and the elements that have child elements.
    std::unordered_map<WideString, std::vector<const TargetNode*>> nodesByPath;
    std::unordered_set<const XmlNodeRecord*> nodesWithChildren;
    // MsiHiddenProperties: properties whose values the log does not show.
    std::vector<WideString> hiddenProperties;
    // Files of this run that exist but could not be read or parsed.
    std::size_t unreadableFiles = 0;
};

// Builds the element map and the locator lists from the two sections, then
// validates. Locators of unknown elements are dropped without a message.
void CollectXmlLocatorData(XmlLocatorManager& manager, const XmlUpdateDataReader& reader);
// Links each element to its parent (a row whose parent is not found is a
// root) and sorts locators, children and roots.
void ValidateXmlData(XmlLocatorManager& manager);

// Searches the file of every root. 0, or 1603 when a file that exists could
// not be read; every file is searched either way.
std::uint32_t RunLocators(XmlLocatorManager& manager);
// False when the file is missing or cannot be read (logged with the reason).
bool RunLocatorsForFile(XmlLocatorManager& manager, const LocatorElementRecord& root);
// Sets the record's properties from the first element of the file, in
// document order, that meets its conditions and whose ancestors meet
// theirs. False, and nothing set, when there is none.
bool RunLocatorsForElement(XmlLocatorManager& manager, const LocatorElementRecord& record);
bool LocatorConditionsHold(const XmlLocatorManager& manager, const LocatorElementRecord& record,
                           const TargetNode& node);
void SetLocatorProperties(XmlLocatorManager& manager, const LocatorElementRecord& record, const TargetNode& node);
// The text the locator's property takes; none when ResultType 4 or 16 finds
// no such attribute, which leaves the property as it was.
std::optional<WideString> GetLocatorResult(const LocatorRecord& locator, const TargetNode& node);

// Call only inside a catch block: why the current exception was thrown, in
// words for the log.
WideString DescribeLocatorFailure();
