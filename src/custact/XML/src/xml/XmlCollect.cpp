#include "custact/XML/src/xml/XmlCollect.h"

#include "installer/Logger.h"
#include "permissions/WellKnownAccounts.h"

namespace {

// The long name of a "short|long" file name.
WideString LongFileName(const WideString& field) {
    const std::size_t bar = field.find(u'|');
    return bar == WideString::npos ? field : field.substr(bar + 1);
}

std::uint32_t ToFlags(const WideString& field) { return static_cast<std::uint32_t>(ToRecordInteger(field)); }

// An access mask: the leading decimal digits, up to the largest mask.
std::uint32_t ToAccessMask(const WideString& field) {
    std::uint64_t value = 0;
    for (char16_t c : field) {
        if (c < u'0' || c > u'9') break;
        value = value * 10 + static_cast<std::uint64_t>(c - u'0');
        if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(value);
}

void CollectFiles(XmlManager& manager, const XmlUpdateDataReader& reader, const WideString& testDirectory,
                  const WideString& testFileName) {
    for (const XmlUpdateDataReader::Row& row : reader.GetSection(kXmlFileSection)) {
        XmlFileRecord file;
        file.key = FieldAt(row, 0);
        file.fileName = testFileName.empty() ? LongFileName(FieldAt(row, 1)) : testFileName;
        file.directory = testDirectory.empty() ? FieldAt(row, 2) : testDirectory;
        file.rootElementKey = FieldAt(row, 4);
        file.flags = ToFlags(FieldAt(row, 5));
        file.version = FieldAt(row, 6);
        file.encoding = FieldAt(row, 7);
        file.indentUnits = ToRecordInteger(FieldAt(row, 8));
        file.backupPattern = FieldAt(row, 9);
        AddXmlFile(manager.data, file);
    }
}

// A field of a row that the reader no longer needs.
WideString TakeField(XmlUpdateDataReader::Row& row, std::size_t index) {
    return index < row.size() ? std::move(row[index]) : WideString();
}

void CollectElements(XmlManager& manager, XmlUpdateDataReader& reader) {
    for (XmlUpdateDataReader::Row& row : reader.TakeSection(kXmlElementSection)) {
        XmlElementRecord element;
        element.key = TakeField(row, 0);
        element.parentKey = TakeField(row, 1);
        element.name = TakeField(row, 2);
        element.index = ToRecordInteger(FieldAt(row, 4));
        element.flags = ToFlags(FieldAt(row, 5));
        element.text = TakeField(row, 6);
        element.updateIndex = ToRecordInteger(FieldAt(row, 7));
        manager.data.elements[element.key] = std::move(element);
    }
}

// Every element is stored before the first attribute is read, so an
// attribute row may come before the row of its element.
void CollectAttributes(XmlManager& manager, XmlUpdateDataReader& reader) {
    for (XmlUpdateDataReader::Row& row : reader.TakeSection(kXmlAttributeSection)) {
        const auto element = manager.data.elements.find(FieldAt(row, 1));
        if (element == manager.data.elements.end()) continue;
        XmlAttributeRecord attribute;
        attribute.origin = kAttributeFromUpdate;
        attribute.name = TakeField(row, 2);
        attribute.flags = ToFlags(FieldAt(row, 3));
        attribute.order = ToRecordInteger(FieldAt(row, 4));
        attribute.value = TakeField(row, 5);
        attribute.key = TakeField(row, 0);
        element->second.attributes.push_back(std::move(attribute));
    }
}

void CollectPermissionRules(XmlManager& manager, const XmlUpdateDataReader& reader) {
    for (const XmlUpdateDataReader::Row& row : reader.GetSection(kLockPermissionsSection)) {
        if (FieldAt(row, 1) != u"QM_XmlFile") continue;
        const auto file = manager.data.files.find(FieldAt(row, 0));
        if (file == manager.data.files.end()) continue;
        PermissionRule rule;
        rule.domain = FieldAt(row, 2);
        rule.user = LookupWellKnownSid(FieldAt(row, 3));
        if (rule.user.empty()) rule.user = FieldAt(row, 3);
        rule.permission = ToAccessMask(FieldAt(row, 4));
        const auto [set, created] = manager.permissions.try_emplace(&file->second);
        if (created) {
            set->second.objectName = GetFullPath(file->second);
            set->second.objectKind = kPermissionObjectXmlFile;
        }
        set->second.rules.push_back(std::move(rule));
    }
}

}  // namespace

void AddXmlFile(XmlUpdateData& data, const XmlFileRecord& file) {
    LogIfEnabled(u"Adding XML file: " + GetFullPath(file));
    data.files[file.key] = file;
}

void ValidateXmlData(XmlUpdateData& data) {
    LogIfEnabled(u"ValidateXmlData start.");
    for (auto& [key, file] : data.files) {
        const auto root = data.elements.find(file.rootElementKey);
        file.root = root == data.elements.end() ? nullptr : &root->second;
    }
    for (auto& [key, element] : data.elements) {
        // An empty ParentElement is a root, even beside a row whose key is
        // empty: otherwise that row would become every root's parent.
        const auto parent = element.parentKey.empty() ? data.elements.end() : data.elements.find(element.parentKey);
        element.parent = parent == data.elements.end() ? nullptr : &parent->second;
        SortAttributesByOrder(element.attributes);
    }
    data.IndexChildren();
    LogIfEnabled(u"ValidateXmlData end.");
}

void CollectXmlData(XmlManager& manager, XmlUpdateDataReader& reader, bool withElements) {
    LogIfEnabled(u"CollectXmlData start.");
    manager.productKey = PropertyOf(reader, u"ProductCode");
    const WideString& moduleId = PropertyOf(reader, u"QM_CA_MODULE_ID");
    if (!moduleId.empty()) manager.productKey += u"." + moduleId;
    manager.upgradeCode = PropertyOf(reader, u"UpgradeCode");
    manager.runId = PropertyOf(reader, kRunIdProperty);
    manager.isUpgrading =
        !PropertyOf(reader, u"UPGRADINGPRODUCTCODE").empty() || !PropertyOf(reader, u"OLDPRODUCTS").empty();
    manager.removeAll = PropertyOf(reader, u"REMOVE") == u"ALL";

    CollectFiles(manager, reader, PropertyOf(reader, u"QM_TEST_XML_FILE_DIRECTORY"),
                 PropertyOf(reader, u"QM_TEST_XML_FILE_NAME"));
    if (withElements) {
        CollectElements(manager, reader);
        CollectAttributes(manager, reader);
    }
    CollectPermissionRules(manager, reader);
    ValidateXmlData(manager.data);
    LogIfEnabled(u"CollectXmlData end.");
}
