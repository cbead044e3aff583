// The text that carries table rows from the immediate actions to the
// deferred, rollback and commit actions.
//
//   text    = section *(U+0003 section)
//   section = empty | row *(U+0002 row)
//   row     = field *(U+0001 field)
//   field   = value with "\" before each U+0001..U+0003, then U+0004
//
// Sections and fields are known by position only. A control character inside
// a value is always written right after its escaping backslash, while a real
// separator always follows a field's U+0004 (or another separator, or the
// start of the text): so a separator is escaped exactly when a backslash
// stands right before it, and every value, including one with a backslash
// before a control character, reads back as written.
#pragma once

#include <string_view>
#include <vector>

#include "installer/MsiTableReader.h"
#include "installer/MsiText.h"
#include "installer/RowConditions.h"

constexpr char16_t kFieldSeparator = u'\u0001';
constexpr char16_t kRowSeparator = u'\u0002';
constexpr char16_t kSectionSeparator = u'\u0003';
constexpr char16_t kFieldTerminator = u'\u0004';

WideString EscapeField(const WideString& value);
WideString UnescapeField(const WideString& field);
std::vector<WideString> SplitUnescaped(const WideString& text, char16_t separator);

struct ColumnSpec {
    const char16_t* name;
    bool formatted = false;  // the value goes through MsiFormatRecordW
    bool property = false;   // a non-empty value names a property whose value is written
};

struct TableSpec {
    const char16_t* name;
    std::vector<ColumnSpec> columns;
    std::vector<WideString> orderBy;
    RowConditionColumns conditions;
};

// QM_XmlFile, QM_XmlElement, QM_XmlAttribute, QM_LockPermissions.
const std::vector<TableSpec>& XmlTableSpecs();
// QM_XmlLocatorElement, QM_XmlLocator.
const std::vector<TableSpec>& LocatorTableSpecs();
// The properties of the property section, in order.
const std::vector<const char16_t*>& ContextProperties();

// Section indices of the text the immediate actions write.
enum XmlSection { kPropertySection = 0, kXmlFileSection, kXmlElementSection, kXmlAttributeSection,
                  kLockPermissionsSection };

// Appends U+0003 first when the text is not empty.
void AppendPropertySection(InstallerHandle install, WideString& text);
// The row of the property section that names one installation run: the
// immediate action makes a new id, and the deferred, rollback and commit
// actions it schedules all read the same one.
constexpr char16_t kRunIdProperty[] = u"QM_XML_RUN_ID";
// Appends that row to the property section just written.
void AppendRunId(WideString& text, const WideString& runId);
// Two more rows carry the log settings to the scheduled actions, which
// cannot read properties themselves:
//   "MsiHiddenProperties": the property's list, then, in further fields, the
//   values of those hidden properties that occur in the rest of the text
//   (no other value enters the data), which their lines then mask;
//   "QmEmbeddedDirectCall": "1" when that condition holds, which silences
//   their lines as it silences the immediate action's.
constexpr char16_t kHiddenPropertiesRow[] = u"MsiHiddenProperties";
constexpr char16_t kSilenceRow[] = u"QmEmbeddedDirectCall";
// Appends both rows; tables: the table sections that are to follow.
void AppendLogSettings(WideString& text, InstallerHandle install, const WideString& tables);
struct LogSettings {
    std::vector<WideString> hiddenValues;
    bool silent = false;
};
// One table section: the rows that pass their conditions, without a
// trailing separator.
void AppendTableSection(WideString& text, InstallerHandle install, const TableSpec& table,
                        const std::vector<TableRecord>& rows, RowMode mode, ConditionEvaluator* evaluator);
// The table sections, without a trailing separator.
WideString SerializeTables(MsiTableReader& reader, InstallerHandle install, const std::vector<TableSpec>& tables,
                           RowMode mode, ConditionEvaluator* evaluator);

// Reads the text back into rows. Parse unescapes every field once into one
// buffer; a row is a view of its fields there, so reading costs a few
// allocations for the whole text, not one per row or field.
class XmlUpdateDataReader {
public:
    using Row = std::vector<WideString>;
    using Section = std::vector<Row>;

    // One row's fields, valid while the reader lives and is not parsed again.
    class RowView {
    public:
        std::size_t size() const { return count_; }
        // The field, or the empty text past the end of the row.
        std::u16string_view operator[](std::size_t index) const;

    private:
        friend class XmlUpdateDataReader;
        RowView(const XmlUpdateDataReader& reader, std::size_t first, std::size_t count)
            : reader_(&reader), first_(first), count_(count) {}
        const XmlUpdateDataReader* reader_;
        std::size_t first_;  // into fieldEnds_
        std::size_t count_;
    };
    // Reads the property "CustomActionData".
    explicit XmlUpdateDataReader(InstallerHandle install);
    explicit XmlUpdateDataReader(WideString text) : text_(std::move(text)) {}

    // False for an empty text, which leaves no sections.
    bool Parse();
    std::size_t SectionCount() const { return sectionEnds_.size(); }
    // The rows of a section, in order; none past the last one.
    std::vector<RowView> SectionRows(std::size_t index) const;
    // The same rows as strings of their own.
    Section GetSection(std::size_t index) const;
    const WideString& Text() const { return text_; }

private:
    RowView RowAt(std::size_t row) const;

    WideString text_;
    // The unescaped fields one after the other; fieldEnds_ holds where each
    // one ends, rowEnds_ where each row's fields end (in fieldEnds_), and
    // sectionEnds_ where each section's rows end (in rowEnds_).
    WideString values_;
    std::vector<std::size_t> fieldEnds_;
    std::vector<std::size_t> rowEnds_;
    std::vector<std::size_t> sectionEnds_;
};

// A field of a row, or the empty text past its end.
const WideString& FieldAt(const XmlUpdateDataReader::Row& row, std::size_t index);
// The value of a row of the property section; empty when there is none.
WideString PropertyOf(const XmlUpdateDataReader& reader, std::u16string_view name);
LogSettings ReadLogSettings(const XmlUpdateDataReader& reader);
