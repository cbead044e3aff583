// The checks of QM_XmlFile, QM_XmlElement, QM_XmlAttribute and
// QM_LockPermissions. The rows become the records the library builds at
// installation, and the library's own checks (XmlRecordCheck.h) run over
// them; formatted texts go in with their literal parts only, since the
// properties are not known yet (the library checks the values again when
// it runs).
#include <limits>
#include <set>

#include "CheckRules.h"
#include "custact/XML/src/xml/XmlCollect.h"
#include "custact/XML/src/xml/XmlRecordCheck.h"
#include "custact/XML/src/xml/XmlUpdateFlags.h"
#include "platform/os/XmlEncoding.h"

namespace host::check {

namespace {

constexpr std::uint32_t kFileFlags = kXmlFileStandalone | kXmlFileIndentWithTabs | kXmlFileCreateIfMissing |
                                     kXmlFileDeleteIfBuilt | kXmlFileRollbackAlone | kXmlFileKeepBackup |
                                     kXmlFileDeleteIfEmpty | kXmlFileSkipEmptyAttributes;
constexpr std::uint32_t kElementFlags = kXmlElementComment | kXmlElementRemoveOnUninstall |
                                        kXmlElementInsertIfMissing | kXmlElementUpdateFirst | kXmlElementUpdateAll |
                                        kXmlElementRemoveOnInstall | kXmlElementUpdateByIndex;
constexpr std::uint32_t kAttributeFlags =
    kXmlAttributeKey | kXmlAttributeBelongs | kXmlAttributeSetOrRemove | kXmlAttributeInstall | kXmlAttributeUninstall;
constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
constexpr std::size_t kShownLength = 100;

std::uint32_t FlagsCell(const Table& table, const Row& row) {
    return static_cast<std::uint32_t>(IntegerCell(table, row, "Flags"));
}

// "Flags 26 has 2, which means nothing in QM_XmlFile".
void CheckFlagBits(Findings& findings, const Table& table, const Row& row, const Text& key, std::uint32_t allowed) {
    const std::uint32_t flags = FlagsCell(table, row);
    const std::uint32_t unknown = flags & ~allowed;
    if (unknown == 0) return;
    std::string bits;
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        if (unknown & bit) bits += (bits.empty() ? "" : " + ") + std::to_string(bit);
    }
    findings.Error(table.name, key, "Flags",
                   "is " + std::to_string(static_cast<std::int32_t>(flags)) + ", which holds " + bits +
                       ", a value no flag of " + table.name + " has");
}

// The rows of one table by their key column.
std::map<Text, const Row*> ByKey(const Table& table, const char* column) {
    std::map<Text, const Row*> rows;
    for (const Row& row : table.rows) rows.emplace(table.Text(row, column), &row);
    return rows;
}

// The records the library would build from the rows.
void BuildRecords(const PackageTables& tables, XmlUpdateData& data) {
    const Table& elements = tables.Get("QM_XmlElement");
    for (const Row& row : elements.rows) {
        XmlElementRecord element;
        element.key = elements.Text(row, "XmlElement");
        element.parentKey = elements.Text(row, "ParentElement");
        element.name = elements.Text(row, "Name");
        element.index = IntegerCell(elements, row, "Order");
        element.flags = FlagsCell(elements, row);
        element.text = ReadFormatted(elements.Text(row, "Text")).literal;
        element.updateIndex = IntegerCell(elements, row, "UpdateIndexInParent");
        data.elements[element.key] = std::move(element);
    }
    const Table& attributes = tables.Get("QM_XmlAttribute");
    for (const Row& row : attributes.rows) {
        const auto element = data.elements.find(attributes.Text(row, "XmlElement"));
        if (element == data.elements.end()) continue;
        XmlAttributeRecord attribute;
        attribute.key = attributes.Text(row, "XmlAttribute");
        attribute.name = attributes.Text(row, "Name");
        attribute.flags = FlagsCell(attributes, row);
        attribute.order = IntegerCell(attributes, row, "Order");
        attribute.value = ReadFormatted(attributes.Text(row, "Value")).literal;
        element->second.attributes.push_back(std::move(attribute));
    }
    const Table& files = tables.Get("QM_XmlFile");
    for (const Row& row : files.rows) {
        XmlFileRecord file;
        file.key = files.Text(row, "XmlFile");
        file.fileName = files.Text(row, "FileName");
        file.directory = files.Text(row, "DirProperty");
        file.rootElementKey = files.Text(row, "RootElement");
        file.flags = FlagsCell(files, row);
        file.version = files.Text(row, "Version");
        file.encoding = files.Text(row, "Encoding");
        data.files[file.key] = std::move(file);
    }
    ValidateXmlData(data);
}

class XmlTableCheck {
public:
    XmlTableCheck(const PackageTables& tables, const PackageIndex& index, Findings& findings)
        : tables_(tables), index_(index), findings_(findings),
          files_(tables.Get("QM_XmlFile")), elements_(tables.Get("QM_XmlElement")),
          attributes_(tables.Get("QM_XmlAttribute")) {
        BuildRecords(tables, data_);
        elementRows_ = ByKey(elements_, "XmlElement");
        attributeRows_ = ByKey(attributes_, "XmlAttribute");
    }

    void Run() {
        CheckLoops();
        for (const Row& row : files_.rows) CheckFileRow(row);
        for (const Row& row : elements_.rows) CheckElementRow(row);
        for (const Row& row : attributes_.rows) CheckAttributeRow(row);
        CheckUnusedElements();
        CheckPermissions();
    }

private:
    // The cell as the package has it, for messages about formatted texts.
    Text Original(const Text& table, const Text& row, const Text& column) const {
        const bool element = table == u"QM_XmlElement";
        const auto& rows = element ? elementRows_ : attributeRows_;
        const auto found = rows.find(row);
        if (table == u"QM_XmlFile" || found == rows.end()) return Text();
        return (element ? elements_ : attributes_).Text(*found->second, Utf8(column));
    }

    void Report(const std::vector<XmlRowProblem>& problems) {
        for (const XmlRowProblem& p : problems) {
            Text shown = Original(p.table, p.row, p.column);
            if (shown.empty()) shown = p.text;
            if (shown.size() > kShownLength) shown = shown.substr(0, kShownLength) + u"\u2026";
            findings_.ErrorOnce(Utf8(p.table), p.row, Utf8(p.column), Utf8(p.reason) + ": " + Utf8(shown));
        }
    }

    void CheckLoops() {
        std::map<Text, Text> parents;
        for (const auto& [key, element] : data_.elements) parents[key] = element.parentKey;
        for (const std::vector<Text>& loop : FindParentLoops(parents)) {
            findings_.Error("QM_XmlElement", loop.front(), "ParentElement",
                            "leads back to this row in a loop of parent rows: " + DescribeLoop(loop));
            inLoops_.insert(loop.begin(), loop.end());
        }
    }

    void CheckFileRow(const Row& row) {
        const Text& key = files_.Text(row, "XmlFile");
        XmlFileRecord& file = data_.files[key];
        const Text& component = files_.Text(row, "Component");
        if (index_.components.count(component) == 0)
            findings_.Error("QM_XmlFile", key, "Component", "names no Component row: " + Utf8(component));
        if (index_.properties.count(file.directory) == 0) {
            findings_.Warning("QM_XmlFile", key, "DirProperty",
                              "names " + Utf8(file.directory) +
                                  ", which is neither a directory nor a property the package sets");
        }
        CheckFlagBits(findings_, files_, row, key, kFileFlags);
        if ((file.flags & kXmlFileDeleteIfBuilt) && !(file.flags & kXmlFileCreateIfMissing))
            findings_.Warning("QM_XmlFile", key, "Flags",
                              "has 16 without 8: a file the package never builds is never deleted");
        Report(FindRowProblems(data_, file, kAll));
        for (XmlElementRecord* record : RecordsInLevelOrder(data_, file)) reached_.insert(record);
        if (file.flags & kXmlFileCreateIfMissing) CheckNewFile(file);
    }

    // A file that may be built from scratch needs what its declaration says.
    void CheckNewFile(const XmlFileRecord& file) {
        Report(FindNewFileProblems(file));
        const XmlEncoding encoding = FindXmlEncoding(file.encoding);
        if (encoding == XmlEncoding::None) {
            findings_.Error("QM_XmlFile", file.key, "Encoding",
                            "is '" + Utf8(file.encoding) +
                                "': a file built from scratch needs UTF-8, UTF-16, UTF-16BE, ISO-8859-1, "
                                "Windows-1252 or US-ASCII");
            return;
        }
        Report(FindUnencodableRows(data_, file, encoding, kAll));
    }

    void CheckElementRow(const Row& row) {
        const Text& key = elements_.Text(row, "XmlElement");
        const Text& parent = elements_.Text(row, "ParentElement");
        if (!parent.empty() && elementRows_.count(parent) == 0)
            findings_.Error("QM_XmlElement", key, "ParentElement", "names no QM_XmlElement row: " + Utf8(parent));
        CheckFlagBits(findings_, elements_, row, key, kElementFlags);
        const Text& condition = elements_.Text(row, "Condition");
        if (condition.find_first_not_of(u' ') == Text::npos) {
            findings_.Warning("QM_XmlElement", key, "Condition",
                              "is empty, which never holds: the row is never installed (write 1 for always)");
        } else {
            CheckConditionCell(index_, findings_, "QM_XmlElement", key, "Condition", condition);
        }
        CheckReferences(index_, findings_, "QM_XmlElement", key, "Text", ReadFormatted(elements_.Text(row, "Text")));
    }

    void CheckAttributeRow(const Row& row) {
        const Text& key = attributes_.Text(row, "XmlAttribute");
        const Text& element = attributes_.Text(row, "XmlElement");
        const auto owner = data_.elements.find(element);
        if (owner == data_.elements.end()) {
            findings_.Error("QM_XmlAttribute", key, "XmlElement", "names no QM_XmlElement row: " + Utf8(element));
        } else if (owner->second.flags & kXmlElementComment) {
            findings_.Warning("QM_XmlAttribute", key, "XmlElement",
                              "belongs to " + Utf8(element) + ", a comment, which has no attributes");
        }
        CheckFlagBits(findings_, attributes_, row, key, kAttributeFlags);
        const std::uint32_t flags = FlagsCell(attributes_, row);
        const std::uint32_t identifies = kXmlAttributeKey | kXmlAttributeBelongs;
        if ((flags & identifies) == identifies && (flags & kXmlAttributeUninstall)) {
            findings_.Error("QM_XmlAttribute", key, "Flags",
                            "is " + std::to_string(flags) +
                                ": 1 and 2 make the attribute identify its element, but 16 (uninstallation) keeps "
                                "it from identifying, so every sibling of that name matches");
        } else if ((flags & kXmlAttributeKey) && !(flags & kXmlAttributeBelongs)) {
            findings_.Warning("QM_XmlAttribute", key, "Flags", "has 1 without 2, which identifies nothing");
        }
        if (!(flags & (kXmlAttributeInstall | kXmlAttributeUninstall)))
            findings_.Warning("QM_XmlAttribute", key, "Flags", "has neither 8 nor 16: the attribute is never used");
        CheckReferences(index_, findings_, "QM_XmlAttribute", key, "Value",
                        ReadFormatted(attributes_.Text(row, "Value")));
    }

    // Rows below no file's root: a root row no file names is a warning; the
    // names and texts of such rows are checked all the same.
    void CheckUnusedElements() {
        for (const Row& row : elements_.rows) {
            const Text& key = elements_.Text(row, "XmlElement");
            XmlElementRecord& element = data_.elements[key];
            if (reached_.count(&element) != 0 || inLoops_.count(key) != 0 || element.parent != nullptr) continue;
            if (element.parentKey.empty()) {
                findings_.Warning("QM_XmlElement", key, "ParentElement",
                                  "is empty, but no QM_XmlFile names this row as its RootElement: the row is "
                                  "never used");
            }
            XmlFileRecord unused;
            unused.root = &element;
            Report(FindRowProblems(data_, unused, kAll));
        }
    }

    void CheckPermissions() {
        const Table& table = tables_.Get("QM_LockPermissions");
        for (const Row& row : table.rows) {
            const Text key = table.Text(row, "LockObject") + u"/" + table.Text(row, "Table") + u"/" +
                             table.Text(row, "Domain") + u"/" + table.Text(row, "User");
            const Text& object = table.Text(row, "LockObject");
            if (table.Text(row, "Table") != u"QM_XmlFile") {
                findings_.Warning("QM_LockPermissions", key, "Table",
                                  "is not QM_XmlFile: Trellis uses only the rows of its own files");
            } else if (data_.files.count(object) == 0) {
                findings_.Error("QM_LockPermissions", key, "LockObject", "names no QM_XmlFile row: " + Utf8(object));
            }
            for (const char* column : {"Domain", "User"})
                CheckReferences(index_, findings_, "QM_LockPermissions", key, column,
                                ReadFormatted(table.Text(row, column)));
            if (IntegerCell(table, row, "Permission") == 0)
                findings_.Warning("QM_LockPermissions", key, "Permission", "is empty or 0: the rule grants nothing");
        }
    }

    const PackageTables& tables_;
    const PackageIndex& index_;
    Findings& findings_;
    const Table& files_;
    const Table& elements_;
    const Table& attributes_;
    XmlUpdateData data_;
    std::map<Text, const Row*> elementRows_;
    std::map<Text, const Row*> attributeRows_;
    std::set<const XmlElementRecord*> reached_;
    std::set<Text> inLoops_;
};

}  // namespace

void CheckXmlTables(const PackageTables& tables, const PackageIndex& index, Findings& findings) {
    XmlTableCheck(tables, index, findings).Run();
}

}  // namespace host::check
