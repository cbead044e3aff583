// Fuzzes the CustomActionData text. The input, as little-endian UTF-16 code
// units, is used twice:
//   - as a text to read, which must not crash, must give the rows that
//     splitting at each level and unescaping give, and whose rows must come
//     back unchanged when written again and read again;
//   - as rows to write, split at U+FFFC (field), U+FFFD (row) and U+FFFE
//     (section), which must read back field by field.
#include <cstdint>

#include "FuzzSupport.h"
#include "installer/CustomActionData.h"

namespace {

using Section = XmlUpdateDataReader::Section;

constexpr char16_t kNextField = u'\uFFFC';
constexpr char16_t kNextRow = u'\uFFFD';
constexpr char16_t kNextSection = u'\uFFFE';
constexpr std::size_t kColumns = 12;

const TableSpec& Table() {
    static const TableSpec table = {
        u"T",
        {{u"c0"}, {u"c1"}, {u"c2"}, {u"c3"}, {u"c4"}, {u"c5"}, {u"c6"}, {u"c7"}, {u"c8"}, {u"c9"}, {u"c10"}, {u"c11"}},
        {},
        {}};
    return table;
}

// The sections as the immediate actions write them: plain columns, no
// conditions, no formatting.
std::u16string Write(const std::vector<Section>& sections) {
    std::u16string text;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        std::vector<TableRecord> records;
        for (const auto& row : sections[s]) {
            TableRecord record;
            for (std::size_t f = 0; f < row.size(); ++f) record.Set(Table().columns[f].name, row[f]);
            records.push_back(record);
        }
        if (s > 0) text.push_back(kSectionSeparator);
        AppendTableSection(text, 0, Table(), records, RowMode::Install, nullptr);
    }
    return text;
}

std::vector<Section> ReadAll(const std::u16string& text) {
    XmlUpdateDataReader reader(text);
    std::vector<Section> sections;
    if (!reader.Parse()) return sections;
    for (std::size_t s = 0; s < reader.SectionCount(); ++s) sections.push_back(reader.GetSection(s));
    // Past the end: empty, never a crash.
    if (!reader.GetSection(reader.SectionCount()).empty()) fuzz::Fail("a section past the end has rows");
    return sections;
}

// The rows by their plain definition: the text split at each level, then
// each field unescaped. The reader does all of it in one pass.
std::vector<Section> ReadByDefinition(const std::u16string& text) {
    std::vector<Section> sections;
    if (text.empty()) return sections;
    for (const std::u16string& sectionText : SplitUnescaped(text, kSectionSeparator)) {
        Section& section = sections.emplace_back();
        if (sectionText.empty()) continue;
        for (const std::u16string& rowText : SplitUnescaped(sectionText, kRowSeparator)) {
            auto& row = section.emplace_back();
            if (rowText.empty()) continue;
            for (const std::u16string& field : SplitUnescaped(rowText, kFieldSeparator))
                row.push_back(UnescapeField(field));
        }
    }
    return sections;
}

// Rows that cannot be written as they are: more fields than columns, or
// none (a section of one such row would read as a section of none).
bool Writable(const std::vector<Section>& sections) {
    for (const Section& section : sections) {
        for (const auto& row : section) {
            if (row.empty() || row.size() > kColumns) return false;
        }
    }
    return true;
}

// Text that has no sections reads as none; otherwise as written.
void ExpectRoundTrip(const std::vector<Section>& sections, const char* what) {
    const std::vector<Section> back = ReadAll(Write(sections));
    const bool nothing = sections.empty() || (sections.size() == 1 && sections[0].empty());
    if (nothing ? !back.empty() : back != sections) fuzz::Fail(std::string(what) + " did not read back as written");
}

std::vector<Section> SplitRows(const std::u16string& units) {
    std::vector<Section> sections(1);
    std::u16string* field = nullptr;
    for (char16_t c : units) {
        if (c == kNextSection) {
            sections.emplace_back();
            field = nullptr;
        } else if (c == kNextRow || field == nullptr) {
            sections.back().emplace_back(1);
            field = &sections.back().back().back();
            if (c != kNextRow) field->push_back(c);
        } else if (c == kNextField) {
            sections.back().back().emplace_back();
            field = &sections.back().back().back();
        } else {
            field->push_back(c);
        }
    }
    return sections;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string units = fuzz::Utf16Units(data, size);

    const std::vector<Section> read = ReadAll(units);
    if (read != ReadByDefinition(units)) fuzz::Fail("the reader split the text otherwise than its definition");
    for (const Section& section : read) {
        for (const auto& row : section) {
            if (!FieldAt(row, row.size()).empty()) fuzz::Fail("a field past the end of a row is not empty");
        }
    }
    if (Writable(read)) ExpectRoundTrip(read, "rows read from any text");

    const std::vector<Section> rows = SplitRows(units);
    if (Writable(rows)) ExpectRoundTrip(rows, "rows");
    return 0;
}
