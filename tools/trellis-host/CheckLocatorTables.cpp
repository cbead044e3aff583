// The checks of QM_XmlLocatorElement and QM_XmlLocator. OnXmlLocator
// tolerates what these find (a missing file, an unknown row, a Type it does
// not know); each is still almost always a mistake, so the ones that make a
// row useless are errors and the doubtful ones warnings.
#include "CheckRules.h"
#include "platform/os/XmlSyntax.h"

namespace host::check {

namespace {

bool IsOneOf(std::int32_t value, std::initializer_list<std::int32_t> values) {
    for (std::int32_t v : values) {
        if (v == value) return true;
    }
    return false;
}

bool IsDecimal(const Text& text) {
    return !text.empty() && text.find_first_not_of(u"0123456789") == Text::npos;
}

// A root's file under a folder of the Directory table is unknown until
// CostFinalize; a locator that runs before it finds nothing.
void CheckFileIsKnownInTime(const PackageIndex& index, Findings& findings, const Text& key,
                            const FormattedText& file) {
    const auto locator = index.executeSequence.find(Decorated(LocatorAction().name, ScopeOfKey(key)));
    const auto costFinalize = index.executeSequence.find(u"CostFinalize");
    if (locator == index.executeSequence.end() || costFinalize == index.executeSequence.end() ||
        locator->second.sequence > costFinalize->second.sequence) {
        return;
    }
    for (const Text& property : file.properties) {
        if (index.costedDirectories.count(property) == 0) continue;
        findings.Warning("QM_XmlLocatorElement", key, "XmlFile",
                         "reads [" + Utf8(property) +
                             "], a folder that CostFinalize resolves, but QM_XmlLocator runs before "
                             "CostFinalize: the path is not known yet and the file is never found");
    }
}

void CheckElements(const Table& elements, const PackageIndex& index, Findings& findings) {
    std::map<Text, Text> parents;
    for (const Row& row : elements.rows)
        parents[elements.Text(row, "XmlElement")] = elements.Text(row, "ParentElement");
    for (const std::vector<Text>& loop : FindParentLoops(parents)) {
        findings.Error("QM_XmlLocatorElement", loop.front(), "ParentElement",
                       "leads back to this row in a loop of parent rows: " + DescribeLoop(loop));
    }
    for (const Row& row : elements.rows) {
        const Text& key = elements.Text(row, "XmlElement");
        const Text& parent = elements.Text(row, "ParentElement");
        const Text& file = elements.Text(row, "XmlFile");
        const Text& name = elements.Text(row, "Name");
        if (!parent.empty() && parents.count(parent) == 0) {
            findings.Error("QM_XmlLocatorElement", key, "ParentElement",
                           "names no QM_XmlLocatorElement row: " + Utf8(parent));
        }
        if (!IsXmlName(name)) findings.Error("QM_XmlLocatorElement", key, "Name", "is not an XML name: " + Utf8(name));
        if (!parent.empty()) {
            if (!file.empty()) {
                findings.Warning("QM_XmlLocatorElement", key, "XmlFile",
                                 "is used on root rows only, and this row has a parent");
            }
            continue;
        }
        if (file.empty()) {
            findings.Error("QM_XmlLocatorElement", key, "XmlFile",
                           "is empty: a root row needs the full path of the file to search");
            continue;
        }
        const FormattedText path = ReadFormatted(file);
        CheckReferences(index, findings, "QM_XmlLocatorElement", key, "XmlFile", path);
        CheckFileIsKnownInTime(index, findings, key, path);
    }
}

void CheckLocators(const Table& locators, const Table& elements, Findings& findings) {
    std::set<Text> elementKeys;
    for (const Row& row : elements.rows) elementKeys.insert(elements.Text(row, "XmlElement"));
    for (const Row& row : locators.rows) {
        const Text& key = locators.Text(row, "XmlLocator");
        const Text& element = locators.Text(row, "XmlElement");
        const Text& property = locators.Text(row, "Property");
        const Text& value = locators.Text(row, "Value");
        const std::int32_t type = IntegerCell(locators, row, "Type");
        const std::int32_t result = IntegerCell(locators, row, "ResultType");
        if (elementKeys.count(element) == 0) {
            findings.Error("QM_XmlLocator", key, "XmlElement",
                           "names no QM_XmlLocatorElement row: " + Utf8(element) + " (the locator is never used)");
        }
        if (type != 0 && !IsOneOf(type, {1, 2, 4, 16, 64})) {
            findings.Warning("QM_XmlLocator", key, "Type",
                             "is " + std::to_string(type) + ", which tests nothing (the tests are 1, 2, 4, 16 and 64)");
        }
        if (type == 1 && !IsDecimal(value)) {
            findings.Warning("QM_XmlLocator", key, "Value",
                             "is '" + Utf8(value) + "', but Type 1 needs a position such as 0");
        }
        if ((type == 4 || result == 16) && !IsXmlName(value)) {
            findings.Warning("QM_XmlLocator", key, "Value",
                             "is '" + Utf8(value) + "', which is no attribute name, so no attribute matches");
        }
        const bool gives = IsOneOf(result, {1, 2, 4, 16});
        if (!property.empty() && !gives) {
            findings.Warning("QM_XmlLocator", key, "ResultType",
                             "is " + std::to_string(result) + ", which gives the empty text: " + Utf8(property) +
                                 " is cleared whenever the element is found");
        } else if (property.empty() && gives) {
            findings.Warning("QM_XmlLocator", key, "Property",
                             "is empty, so the result of ResultType " + std::to_string(result) + " goes nowhere");
        }
    }
}

}  // namespace

void CheckLocatorTables(const PackageTables& tables, const PackageIndex& index, Findings& findings) {
    const Table& elements = tables.Get("QM_XmlLocatorElement");
    CheckElements(elements, index, findings);
    CheckLocators(tables.Get("QM_XmlLocator"), elements, findings);
}

}  // namespace host::check
