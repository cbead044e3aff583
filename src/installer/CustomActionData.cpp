#include "installer/CustomActionData.h"

#include <algorithm>

#include "installer/Logger.h"
#include "platform/Msi.h"

namespace {

const WideString kEmptyText;
const XmlUpdateDataReader::Section kEmptySection;

// Only brackets and braces mean anything to the installer's formatting:
// other text comes out as it went in, without a round trip per row.
bool NeedsFormatting(const WideString& value) { return value.find_first_of(u"[]{}") != WideString::npos; }

WideString FormatValue(InstallerHandle install, const WideString& value) {
    if (value.empty()) return value;
    MsiHandle record(platform::MsiCreateRecord(1));
    if (!record || platform::MsiRecordSetStringW(record.Get(), 0, value.c_str()) != platform::kErrorSuccess)
        return WideString();
    return FormatInstallerRecord(install, record.Get());
}

}  // namespace

namespace {

// EscapeField(value) at the end of text, without a string of its own.
void AppendField(WideString& text, const WideString& value) {
    text.reserve(text.size() + value.size() + 1);
    // Values rarely hold a separator: the runs between them go over whole.
    const std::u16string_view view = value;
    std::size_t start = 0;
    for (std::size_t i = 0; i < view.size(); ++i) {
        const char16_t c = view[i];
        if (c != kFieldSeparator && c != kRowSeparator && c != kSectionSeparator) continue;
        text.append(view.substr(start, i - start));
        text.push_back(u'\\');
        start = i;
    }
    text.append(view.substr(start));
    text.push_back(kFieldTerminator);
}

}  // namespace

WideString EscapeField(const WideString& value) {
    WideString field;
    AppendField(field, value);
    return field;
}

namespace {

bool IsSeparator(char16_t c) { return c == kFieldSeparator || c == kRowSeparator || c == kSectionSeparator; }

// Without its terminator, and without the backslash before each separator.
WideString Unescape(std::u16string_view field) {
    WideString value;
    if (field.empty()) return value;
    field.remove_suffix(1);
    value.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == u'\\' && i + 1 < field.size() && IsSeparator(field[i + 1])) continue;
        value.push_back(field[i]);
    }
    return value;
}

}  // namespace

WideString UnescapeField(const WideString& field) { return Unescape(field); }

std::vector<WideString> SplitUnescaped(const WideString& text, char16_t separator) {
    std::vector<WideString> pieces;
    if (text.empty()) return pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != separator || (i > 0 && text[i - 1] == u'\\')) continue;
        pieces.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

const std::vector<TableSpec>& XmlTableSpecs() {
    static const std::vector<TableSpec> tables = {
        {u"QM_XmlFile",
         {{u"XmlFile"}, {u"FileName"}, {u"DirProperty", false, true}, {u"Component"}, {u"RootElement"},
          {u"Flags"}, {u"Version"}, {u"Encoding"}, {u"IndentUnits"}, {u"BackupFileName"}},
         {},
         {nullptr, nullptr, u"Component"}},
        {u"QM_XmlElement",
         {{u"XmlElement"}, {u"ParentElement"}, {u"Name"}, {u"Condition"}, {u"Order"}, {u"Flags"},
          {u"Text", true}, {u"UpdateIndexInParent"}},
         {},
         {u"Condition", nullptr, nullptr}},
        {u"QM_XmlAttribute",
         {{u"XmlAttribute"}, {u"XmlElement"}, {u"Name"}, {u"Flags"}, {u"Order"}, {u"Value", true}},
         {},
         {}},
        {u"QM_LockPermissions",
         {{u"LockObject"}, {u"Table"}, {u"Domain", true}, {u"User", true}, {u"Permission"}},
         {},
         {}},
    };
    return tables;
}

const std::vector<TableSpec>& LocatorTableSpecs() {
    static const std::vector<TableSpec> tables = {
        {u"QM_XmlLocatorElement",
         {{u"XmlElement"}, {u"XmlFile", true}, {u"ParentElement"}, {u"Name"}, {u"Order"}},
         {},
         {}},
        {u"QM_XmlLocator",
         {{u"XmlLocator"}, {u"XmlElement"}, {u"Property"}, {u"Type"}, {u"Value"}, {u"ResultType"}, {u"Order"}},
         {},
         {}},
    };
    return tables;
}

const std::vector<const char16_t*>& ContextProperties() {
    static const std::vector<const char16_t*> names = {
        u"ProductName", u"ProductCode", u"UpgradeCode", u"OLDPRODUCTS", u"UPGRADINGPRODUCTCODE", u"REMOVE",
        u"QM_TEST_XML_FILE_DIRECTORY", u"QM_TEST_XML_FILE_NAME", u"QM_CA_MODULE_ID"};
    return names;
}

void AppendPropertySection(InstallerHandle install, WideString& text) {
    if (!text.empty()) text.push_back(kSectionSeparator);
    bool first = true;
    for (const char16_t* name : ContextProperties()) {
        if (!first) text.push_back(kRowSeparator);
        first = false;
        text += EscapeField(name);
        text.push_back(kFieldSeparator);
        text += EscapeField(GetInstallerProperty(install, name));
    }
}

void AppendRunId(WideString& text, const WideString& runId) {
    text.push_back(kRowSeparator);
    text += EscapeField(kRunIdProperty);
    text.push_back(kFieldSeparator);
    text += EscapeField(runId);
}

void AppendLogSettings(WideString& text, InstallerHandle install, const WideString& tables) {
    text.push_back(kRowSeparator);
    text += EscapeField(kHiddenPropertiesRow);
    text.push_back(kFieldSeparator);
    text += EscapeField(GetInstallerProperty(install, kHiddenPropertiesRow));
    for (const WideString& value : ReadHiddenValues(install)) {
        // As the value stands inside a field, without the terminator.
        WideString field = EscapeField(value);
        field.pop_back();
        if (text.find(field) == WideString::npos && tables.find(field) == WideString::npos) continue;
        text.push_back(kFieldSeparator);
        text += EscapeField(value);
    }
    const bool silent =
        platform::MsiEvaluateConditionW(install, kSilenceRow) == platform::kMsiConditionTrue;
    text.push_back(kRowSeparator);
    text += EscapeField(kSilenceRow);
    text.push_back(kFieldSeparator);
    text += EscapeField(silent ? u"1" : u"");
}

void AppendTableSection(WideString& text, InstallerHandle install, const TableSpec& table,
                        const std::vector<TableRecord>& rows, RowMode mode, ConditionEvaluator* evaluator) {
    const WideString tableName = table.name;
    // The section is about as long as the rows' values with a terminator
    // and separator each: one allocation rather than a string that keeps
    // doubling (it may run to megabytes).
    std::size_t length = 0;
    for (const TableRecord& row : rows) length += row.TextLength() + 2 * row.FieldCount();
    text.reserve(text.size() + length);
    bool firstRow = true;
    for (const TableRecord& row : rows) {
        if (!RowPassesConditions(install, tableName, table.conditions, row, mode, evaluator)) continue;
        if (!firstRow) text.push_back(kRowSeparator);
        firstRow = false;
        // Only the listed columns are written, even when the table has more.
        const std::size_t count = std::min(row.FieldCount(), table.columns.size());
        for (std::size_t i = 0; i < count; ++i) {
            const ColumnSpec& column = table.columns[i];
            const WideString& value = row.Get(column.name);
            if (i > 0) text.push_back(kFieldSeparator);
            if (column.property && !value.empty()) {
                AppendField(text, GetInstallerProperty(install, value));
            } else if (column.formatted && NeedsFormatting(value)) {
                AppendField(text, FormatValue(install, value));
            } else {
                AppendField(text, value);
            }
        }
    }
}

WideString SerializeTables(MsiTableReader& reader, InstallerHandle install, const std::vector<TableSpec>& tables,
                           RowMode mode, ConditionEvaluator* evaluator) {
    WideString result;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (i > 0) result.push_back(kSectionSeparator);
        reader.Query(tables[i].name, tables[i].orderBy, WideString());
        AppendTableSection(result, install, tables[i], reader.Records(), mode, evaluator);
    }
    return result;
}

XmlUpdateDataReader::XmlUpdateDataReader(InstallerHandle install)
    : text_(GetInstallerProperty(install, u"CustomActionData")) {}

bool XmlUpdateDataReader::Parse() {
    sections_.clear();
    if (text_.empty()) return false;
    // One pass that splits as SplitUnescaped does at each level: a separator
    // right after a backslash is text; an empty section holds no rows, an
    // empty row no fields.
    const std::u16string_view text = text_;
    Section section;
    Row row;
    std::size_t sectionStart = 0, rowStart = 0, fieldStart = 0;
    const auto endRow = [&](std::size_t at) {
        if (at > rowStart) row.push_back(Unescape(text.substr(fieldStart, at - fieldStart)));
        // The rows of a section have the same width: the next gets room at once.
        const std::size_t width = row.size();
        section.push_back(std::move(row));
        row = Row();
        row.reserve(width);
    };
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char16_t c = i < text.size() ? text[i] : kSectionSeparator;
        if (!IsSeparator(c) || (i > 0 && i < text.size() && text[i - 1] == u'\\')) continue;
        if (c == kFieldSeparator) {
            row.push_back(Unescape(text.substr(fieldStart, i - fieldStart)));
        } else if (c == kRowSeparator) {
            endRow(i);
            rowStart = i + 1;
        } else {
            if (i > sectionStart) endRow(i);
            sections_.push_back(std::move(section));
            section = Section();
            sectionStart = rowStart = i + 1;
        }
        fieldStart = i + 1;
    }
    return true;
}

const XmlUpdateDataReader::Section& XmlUpdateDataReader::GetSection(std::size_t index) const {
    return index < sections_.size() ? sections_[index] : kEmptySection;
}

XmlUpdateDataReader::Section XmlUpdateDataReader::TakeSection(std::size_t index) {
    return index < sections_.size() ? std::move(sections_[index]) : Section();
}

const WideString& FieldAt(const XmlUpdateDataReader::Row& row, std::size_t index) {
    return index < row.size() ? row[index] : kEmptyText;
}

const WideString& PropertyOf(const XmlUpdateDataReader& reader, const WideString& name) {
    for (const XmlUpdateDataReader::Row& row : reader.GetSection(kPropertySection)) {
        if (FieldAt(row, 0) == name) return FieldAt(row, 1);
    }
    return kEmptyText;
}

LogSettings ReadLogSettings(const XmlUpdateDataReader& reader) {
    LogSettings settings;
    for (const XmlUpdateDataReader::Row& row : reader.GetSection(kPropertySection)) {
        if (FieldAt(row, 0) == kHiddenPropertiesRow && row.size() > 2)
            settings.hiddenValues.assign(row.begin() + 2, row.end());
        if (FieldAt(row, 0) == kSilenceRow) settings.silent = !FieldAt(row, 1).empty();
    }
    return settings;
}
