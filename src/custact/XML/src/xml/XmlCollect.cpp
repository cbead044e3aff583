#include "custact/XML/src/xml/XmlCollect.h"

#include "installer/Logger.h"
#include "permissions/WellKnownAccounts.h"

namespace {

using RowView = XmlUpdateDataReader::RowView;

// The long name of a "short|long" file name.
std::u16string_view LongFileName(std::u16string_view field) {
    const std::size_t bar = field.find(u'|');
    return bar == std::u16string_view::npos ? field : field.substr(bar + 1);
}

std::uint32_t ToFlags(std::u16string_view field) { return static_cast<std::uint32_t>(ToRecordInteger(field)); }

// An access mask: the leading decimal digits, up to the largest mask.
std::uint32_t ToAccessMask(std::u16string_view field) {
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
    for (const RowView row : reader.SectionRows(kXmlFileSection)) {
        XmlFileRecord file;
        file.key = row[0];
        file.fileName = testFileName.empty() ? WideString(LongFileName(row[1])) : testFileName;
        file.directory = testDirectory.empty() ? WideString(row[2]) : testDirectory;
        file.rootElementKey = row[4];
        file.flags = ToFlags(row[5]);
        file.version = row[6];
        file.encoding = row[7];
        file.indentUnits = ToRecordInteger(row[8]);
        file.backupPattern = row[9];
        AddXmlFile(manager.data, file);
    }
}

void CollectElements(XmlManager& manager, const XmlUpdateDataReader& reader) {
    XmlElementMap& elements = manager.data.elements;
    for (const RowView row : reader.SectionRows(kXmlElementSection)) {
        // A later row of the same key replaces the earlier one.
        auto [entry, created] = elements.try_emplace(WideString(row[0]));
        XmlElementRecord& element = entry->second;
        if (!created) element = XmlElementRecord();
        element.key = entry->first;
        element.parentKey = row[1];
        element.name = row[2];
        element.index = ToRecordInteger(row[4]);
        element.flags = ToFlags(row[5]);
        element.text = row[6];
        element.updateIndex = ToRecordInteger(row[7]);
    }
}

// Every element is stored before the first attribute is read, so an
// attribute row may come before the row of its element. The rows of one
// element usually follow each other, so the element found for one row
// serves the next rows of the same element.
void CollectAttributes(XmlManager& manager, const XmlUpdateDataReader& reader) {
    XmlElementMap& elements = manager.data.elements;
    XmlElementRecord* element = nullptr;
    WideString elementKey;
    bool first = true;
    for (const RowView row : reader.SectionRows(kXmlAttributeSection)) {
        if (first || row[1] != elementKey) {
            first = false;
            elementKey = row[1];
            const auto found = elements.find(elementKey);
            element = found == elements.end() ? nullptr : &found->second;
        }
        if (element == nullptr) continue;
        XmlAttributeRecord& attribute = element->attributes.emplace_back();
        attribute.origin = kAttributeFromUpdate;
        attribute.name = row[2];
        attribute.flags = ToFlags(row[3]);
        attribute.order = ToRecordInteger(row[4]);
        attribute.value = row[5];
        attribute.key = row[0];
    }
}

void CollectPermissionRules(XmlManager& manager, const XmlUpdateDataReader& reader) {
    for (const RowView row : reader.SectionRows(kLockPermissionsSection)) {
        if (row[1] != u"QM_XmlFile") continue;
        const auto file = manager.data.files.find(WideString(row[0]));
        if (file == manager.data.files.end()) continue;
        PermissionRule rule;
        rule.domain = row[2];
        const WideString user(row[3]);
        rule.user = LookupWellKnownSid(user);
        if (rule.user.empty()) rule.user = user;
        rule.permission = ToAccessMask(row[4]);
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

void CollectXmlData(XmlManager& manager, const XmlUpdateDataReader& reader, bool withElements) {
    LogIfEnabled(u"CollectXmlData start.");
    manager.productKey = PropertyOf(reader, u"ProductCode");
    const WideString moduleId = PropertyOf(reader, u"QM_CA_MODULE_ID");
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
