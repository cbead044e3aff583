#include "installer/CustomActionData.h"

#include <algorithm>

#include "installer/Logger.h"
#include "platform/Msi.h"

namespace {

const WideString kEmptyText;

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

bool IsSeparator(char16_t c) { return c == kFieldSeparator || c == kRowSeparator || c == kSectionSeparator; }

// EscapeField(value) at the end of text, without a string of its own.
void AppendField(WideString& text, const WideString& value) {
    AppendEscaped(text, value, IsSeparator, [](WideString& to, char16_t c) {
        to.push_back(u'\\');
        to.push_back(c);
    });
    text.push_back(kFieldTerminator);
}

}  // namespace

WideString EscapeField(const WideString& value) {
    WideString field;
    AppendField(field, value);
    return field;
}

namespace {

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
    values_.clear();
    fieldEnds_.clear();
    rowEnds_.clear();
    sectionEnds_.clear();
    if (text_.empty()) return false;
    // One pass that splits as SplitUnescaped does at each level: a separator
    // right after a backslash is text; an empty section holds no rows, an
    // empty row no fields. Each field's text is copied as it is passed, and
    // its terminator and escapes taken out when it ends: values never grow,
    // so they fit into a buffer the size of the text.
    const std::u16string_view text = text_;
    values_.resize(text.size());
    std::size_t written = 0, fieldBegin = 0;  // into values_
    bool escaped = false;                     // the field holds a backslash before a separator
    const auto endField = [&] {
        if (written > fieldBegin) --written;  // the terminator
        if (escaped) {
            std::size_t out = fieldBegin;
            for (std::size_t i = fieldBegin; i < written; ++i) {
                if (values_[i] == u'\\' && i + 1 < written && IsSeparator(values_[i + 1])) continue;
                values_[out++] = values_[i];
            }
            written = out;
        }
        fieldEnds_.push_back(written);
        fieldBegin = written;
        escaped = false;
    };
    std::size_t sectionStart = 0, rowStart = 0;
    const auto endRow = [&](std::size_t at) {
        if (at > rowStart) endField();
        rowEnds_.push_back(fieldEnds_.size());
    };
    const auto split = [&](char16_t separator, std::size_t at) {
        if (separator == kFieldSeparator) {
            endField();
        } else if (separator == kRowSeparator) {
            endRow(at);
            rowStart = at + 1;
        } else {
            if (at > sectionStart) endRow(at);
            sectionEnds_.push_back(rowEnds_.size());
            sectionStart = rowStart = at + 1;
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        // The text up to the next separator goes over in one copy.
        const std::size_t run = i;
        while (i < text.size() && !IsSeparator(text[i])) ++i;
        std::copy(text.begin() + run, text.begin() + i, values_.begin() + written);
        written += i - run;
        if (i == text.size()) break;
        if (i == 0 || text[i - 1] != u'\\') {
            split(text[i], i);
        } else {
            values_[written++] = text[i];
            escaped = true;
        }
    }
    split(kSectionSeparator, text.size());
    values_.resize(written);
    return true;
}

std::u16string_view XmlUpdateDataReader::RowView::operator[](std::size_t index) const {
    if (index >= count_) return {};
    const std::size_t field = first_ + index;
    const std::size_t begin = field == 0 ? 0 : reader_->fieldEnds_[field - 1];
    return std::u16string_view(reader_->values_).substr(begin, reader_->fieldEnds_[field] - begin);
}

XmlUpdateDataReader::RowView XmlUpdateDataReader::RowAt(std::size_t row) const {
    const std::size_t first = row == 0 ? 0 : rowEnds_[row - 1];
    return RowView(*this, first, rowEnds_[row] - first);
}

std::vector<XmlUpdateDataReader::RowView> XmlUpdateDataReader::SectionRows(std::size_t index) const {
    std::vector<RowView> rows;
    if (index >= sectionEnds_.size()) return rows;
    const std::size_t first = index == 0 ? 0 : sectionEnds_[index - 1];
    rows.reserve(sectionEnds_[index] - first);
    for (std::size_t row = first; row < sectionEnds_[index]; ++row) rows.push_back(RowAt(row));
    return rows;
}

XmlUpdateDataReader::Section XmlUpdateDataReader::GetSection(std::size_t index) const {
    Section section;
    for (const RowView row : SectionRows(index)) {
        Row& copy = section.emplace_back();
        for (std::size_t i = 0; i < row.size(); ++i) copy.emplace_back(row[i]);
    }
    return section;
}

const WideString& FieldAt(const XmlUpdateDataReader::Row& row, std::size_t index) {
    return index < row.size() ? row[index] : kEmptyText;
}

WideString PropertyOf(const XmlUpdateDataReader& reader, std::u16string_view name) {
    for (const XmlUpdateDataReader::RowView row : reader.SectionRows(kPropertySection)) {
        if (row[0] == name) return WideString(row[1]);
    }
    return WideString();
}

LogSettings ReadLogSettings(const XmlUpdateDataReader& reader) {
    LogSettings settings;
    for (const XmlUpdateDataReader::RowView row : reader.SectionRows(kPropertySection)) {
        if (row[0] == kHiddenPropertiesRow && row.size() > 2) {
            settings.hiddenValues.clear();
            for (std::size_t i = 2; i < row.size(); ++i) settings.hiddenValues.emplace_back(row[i]);
        }
        if (row[0] == kSilenceRow) settings.silent = !row[1].empty();
    }
    return settings;
}
