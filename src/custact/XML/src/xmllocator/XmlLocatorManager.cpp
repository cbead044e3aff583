#include "custact/XML/src/xmllocator/XmlLocatorManager.h"

#include <algorithm>
#include <exception>

#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/Msi.h"
#include "platform/os/FileSystem.h"

namespace {

// Element names are compared without regard to ASCII case.
WideString FoldedPath(const XmlNodeRecord& record) {
    WideString path = GetNodePath(record, true);
    for (char16_t& c : path) c = ToLowerAscii(c);
    return path;
}

bool HasAttribute(const TargetNode& node, bool byName, const WideString& text) {
    return std::any_of(node.attributes.begin(), node.attributes.end(),
                       [&](const XmlAttributeRecord& a) { return (byName ? a.name : a.value) == text; });
}

WideString SystemMessage(std::uint32_t error) {
    WideString text = platform::FormatSystemMessage(error);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
    return text.empty() ? u"error " + ToWideUnsigned(error) : text;
}

// Throws, with the system's reason, when the file is a folder or cannot be
// opened: the parser alone would only say that it cannot open it.
void CheckReadable(const WideString& path) {
    const std::uint32_t attributes = platform::GetFileAttributesW(ToLongPath(path));
    if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kFileAttributeDirectory) != 0)
        throw Exception(TRELLIS_HERE, u"the path is a folder");
    const platform::File probe = platform::File::OpenForRead(ToLongPath(path));
    if (!probe.IsOpen())
        throw Exception(TRELLIS_HERE, u"the file cannot be opened: " + SystemMessage(platform::GetLastError()));
}

WideString DescribeException(const Exception& e) {
    const auto argument = [&e](std::size_t i) { return i < e.Arguments().size() ? e.Arguments()[i] : WideString(); };
    switch (e.ErrorNumber()) {
    case 0: return e.Description();
    case 4110: return u"the XML parser cannot be started";
    case 4111: return u"the file cannot be opened";
    case 4112: return u"the file cannot be read";
    case 4113:
        return u"the file is not well-formed XML: " + argument(3) + u" (line " + argument(1) + u", column " +
               argument(2) + u")";
    case 4114: return u"the file's encoding cannot be read";
    case 4115: return u"the file is too large to read";
    default: return u"error " + ToWideDecimal(e.ErrorNumber());
    }
}

void SkipFile(const WideString& path, const WideString& reason) {
    LogIfEnabled(u"Skipping locators for file: " + path + u": " + reason + u". Its properties keep their values.");
}

// Parses the file and indexes its elements; the previous file goes first.
void LoadTarget(XmlLocatorManager& manager, const WideString& path) {
    manager.target.reset();
    manager.nodesByPath.clear();
    manager.nodesWithChildren.clear();
    auto target = std::make_unique<XmlTargetDatabase>(path);
    target->Parse();
    for (const auto& entry : target->Nodes()) {
        const TargetNode& node = entry.second;
        manager.nodesByPath[FoldedPath(node)].push_back(&node);
        if (node.parent != nullptr) manager.nodesWithChildren.insert(node.parent);
    }
    // Freshly parsed, the start of the start tag is the document order.
    for (auto& entry : manager.nodesByPath) {
        std::sort(entry.second.begin(), entry.second.end(),
                  [](const TargetNode* a, const TargetNode* b) { return a->start < b->start; });
    }
    manager.target = std::move(target);
}

void ListDepthFirst(const LocatorElementRecord& record, std::vector<const LocatorElementRecord*>& out) {
    out.push_back(&record);
    for (const LocatorElementRecord* child : record.children) ListDepthFirst(*child, out);
}

bool AncestorsHold(const XmlLocatorManager& manager, const LocatorElementRecord& record, const TargetNode& node) {
    const LocatorElementRecord* r = record.Parent();
    const TargetNode* n = node.Parent();
    for (; r != nullptr && n != nullptr; r = r->Parent(), n = n->Parent()) {
        if (!LocatorConditionsHold(manager, *r, *n)) return false;
    }
    return true;
}

}  // namespace

std::uint32_t RunLocators(XmlLocatorManager& manager) {
    LogIfEnabled(u"RunLocators start.");
    manager.hiddenProperties = ReadHiddenPropertyNames(manager.install);
    manager.unreadableFiles = 0;
    for (const LocatorElementRecord* root : manager.roots) RunLocatorsForFile(manager, *root);
    manager.target.reset();
    manager.nodesByPath.clear();
    manager.nodesWithChildren.clear();
    LogIfEnabled(u"RunLocators end.");
    return manager.unreadableFiles == 0 ? platform::kErrorSuccess : platform::kErrorInstallFailure;
}

bool RunLocatorsForFile(XmlLocatorManager& manager, const LocatorElementRecord& root) {
    const WideString& path = root.file;
    LogIfEnabled(u"RUN Locators for file: " + path);
    manager.target.reset();
    // A folder property that was still empty leaves a relative path.
    if (path.empty() || (path[0] != u'\\' && path.find(u':') == WideString::npos)) {
        SkipFile(path, u"the path is not a full path");
        return false;
    }
    if (!PathExists(path)) {
        SkipFile(path, u"the file does not exist");
        return false;
    }
    try {
        CheckReadable(path);
        SendActionData(manager.install, {path});
        LoadTarget(manager, path);
        std::vector<const LocatorElementRecord*> records;
        ListDepthFirst(root, records);
        for (const LocatorElementRecord* record : records) RunLocatorsForElement(manager, *record);
    } catch (...) {
        SkipFile(path, DescribeLocatorFailure());
        manager.target.reset();
        ++manager.unreadableFiles;
        return false;
    }
    LogIfEnabled(u"FINISHED Locators for file: " + path);
    return true;
}

bool RunLocatorsForElement(XmlLocatorManager& manager, const LocatorElementRecord& record) {
    if (record.locators.empty()) return true;
    const WideString path = GetNodePath(record, true);
    LogIfEnabled(u"RUN locators for element: " + path);
    const auto candidates = manager.nodesByPath.find(FoldedPath(record));
    if (candidates != manager.nodesByPath.end()) {
        for (const TargetNode* node : candidates->second) {
            if (!LocatorConditionsHold(manager, record, *node) || !AncestorsHold(manager, record, *node)) continue;
            // No "[index]" path: the installer would take it for a field of its own.
            LogIfEnabled(u"Found element: " + GetNodePath(*node, true) + u" at line " +
                         ToWideUnsigned(node->startLine));
            SetLocatorProperties(manager, record, *node);
            return true;
        }
    }
    LogIfEnabled(u"No element meets the locators of " + record.key + u": " + path);
    return false;
}

bool LocatorConditionsHold(const XmlLocatorManager& manager, const LocatorElementRecord& record,
                           const TargetNode& node) {
    for (const LocatorRecord& locator : record.locators) {
        bool holds = true;
        switch (locator.type) {
        case kLocateIndexInParent: holds = node.index == ToRecordInteger(locator.value); break;
        case kLocateTextContains: holds = node.text.find(locator.value) != WideString::npos; break;
        case kLocateAttributeNamed: holds = HasAttribute(node, true, locator.value); break;
        case kLocateAttributeValued: holds = HasAttribute(node, false, locator.value); break;
        case kLocateHasChildren: holds = manager.nodesWithChildren.count(&node) != 0; break;
        default: break;
        }
        if (!holds) return false;
    }
    return true;
}

void SetLocatorProperties(XmlLocatorManager& manager, const LocatorElementRecord& record, const TargetNode& node) {
    for (const LocatorRecord& locator : record.locators) {
        const std::optional<WideString> result = GetLocatorResult(locator, node);
        if (locator.property.empty()) continue;
        if (!result) {
            LogIfEnabled(u"Property " + locator.property + u" keeps its value: the element has no attribute " +
                         (locator.resultType == kResultAttributeName ? u"whose value is " : u"named ") +
                         locator.value);
            continue;
        }
        // The value found is a secret from now on, in every line that follows.
        const auto& hidden = manager.hiddenProperties;
        if (std::find(hidden.begin(), hidden.end(), locator.property) != hidden.end()) Logger::Instance().Hide(*result);
        LogIfEnabled(u"Set Property: " + locator.property + u" to " + *result);
        const std::uint32_t rc = platform::MsiSetPropertyW(manager.install, locator.property.c_str(), result->c_str());
        if (rc != platform::kErrorSuccess)
            LogIfEnabled(u"Cannot set property " + locator.property + u": error " + ToWideUnsigned(rc));
    }
}

std::optional<WideString> GetLocatorResult(const LocatorRecord& locator, const TargetNode& node) {
    const bool byName = locator.resultType == kResultAttributeValue;
    switch (locator.resultType) {
    case kResultName: return node.name;
    case kResultText: return node.text;
    case kResultAttributeName:
    case kResultAttributeValue:
        for (const XmlAttributeRecord& a : node.attributes) {
            if ((byName ? a.name : a.value) == locator.value) return byName ? a.value : a.name;
        }
        return std::nullopt;
    default: return WideString();
    }
}

WideString DescribeLocatorFailure() {
    try {
        throw;
    } catch (const Exception& e) {
        return DescribeException(e);
    } catch (const std::exception& e) {
        return Widen(e.what());
    } catch (...) {
        return u"an unknown exception";
    }
}
