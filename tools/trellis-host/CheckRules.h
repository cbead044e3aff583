// What the checks of trellis-host check share: the package's tables read
// once, the keys and properties they are looked up in, the findings, and
// readers for the two languages in table cells (formatted text and
// conditions) that use the host's own formatter and evaluator.
#pragma once

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "PackageCheck.h"
#include "PackageFile.h"
#include "TrellisWiring.h"

namespace host::check {

using Text = std::u16string;

std::string Utf8(const Text& text);
Text Utf16(const std::string& text);

// The tables the checks read; a table the package lacks reads as empty.
class PackageTables {
public:
    explicit PackageTables(const PackageFile& package);
    bool Has(const std::string& table) const { return tables_.count(table) != 0; }
    const Table& Get(const std::string& table) const;

private:
    std::map<std::string, Table> tables_;
};

class Findings {
public:
    void Error(const std::string& table, const Text& row, const std::string& column, const std::string& message);
    void Warning(const std::string& table, const Text& row, const std::string& column, const std::string& message);
    // An error, unless the same cell has one already (two checks that see
    // the same mistake report it once).
    void ErrorOnce(const std::string& table, const Text& row, const std::string& column, const std::string& message);
    // By table (the Trellis tables first), then by row key; in the order
    // found within one row.
    std::vector<Finding> Sorted() const;

private:
    std::vector<Finding> findings_;
    std::set<std::tuple<std::string, std::string, std::string>> errorCells_;
};

// A formatted text as far as it is known before installation: literal is
// the text with every reference standing as "x" (so that it neither makes
// nor breaks "--"), and the names it reads.
struct FormattedText {
    Text literal;
    std::set<Text> properties;  // [NAME]
    std::set<Text> files;       // [#File] [!File]
    std::set<Text> components;  // [$Component]
};
FormattedText ReadFormatted(const Text& text);

// A condition evaluated with nothing set: kMsiCondition* (Error when it does
// not parse, None when empty), and the components and features it reads.
struct ConditionText {
    int result = 0;
    std::set<Text> components;
    std::set<Text> features;
};
ConditionText ReadCondition(const Text& text);

// The action's row of a sequence table.
struct SequenceRow {
    int sequence = 0;
    Text condition;
};

// The keys that rows of the Trellis tables refer to.
struct PackageIndex {
    explicit PackageIndex(const PackageTables& tables);

    std::set<Text> components, features, files, directories, binaries;
    // Properties something sets: the Property table, the installer, the
    // Directory table, AppSearch, Upgrade, type 51 and 35 actions, locators.
    std::set<Text> properties;
    // Directory rows that only CostFinalize gives a value.
    std::set<Text> costedDirectories;
    std::map<Text, const Row*> customActions;
    std::map<Text, SequenceRow> executeSequence;
    std::map<Text, SequenceRow> uiSequence;
    // The module ids of every row and action name that ends with one.
    std::set<Text> modules;
};

// "" for a key of the package's own rows; the module id for a key that ends
// with "." and one.
Text ScopeOfKey(const Text& key);
// "QM_XmlConfig" -> "QM_XmlConfig.<id>" inside a module, and back.
Text Decorated(const Text& base, const Text& scope);
Text BaseName(const Text& name);

// A column's integer; 0 when empty, as the library reads it.
std::int32_t IntegerCell(const Table& table, const Row& row, const char* column);

// Warnings for references that nothing in the package can fill in.
void CheckReferences(const PackageIndex& index, Findings& findings, const std::string& table, const Text& row,
                     const std::string& column, const FormattedText& text);
// A condition column: an error when it does not parse, a warning when it
// names a component or feature the package lacks.
void CheckConditionCell(const PackageIndex& index, Findings& findings, const std::string& table, const Text& row,
                        const std::string& column, const Text& condition);

// Each loop of parent links once, as the keys on it starting from the
// smallest one.
std::vector<std::vector<Text>> FindParentLoops(const std::map<Text, Text>& parents);
std::string DescribeLoop(const std::vector<Text>& loop);

void CheckXmlTables(const PackageTables& tables, const PackageIndex& index, Findings& findings);
void CheckLocatorTables(const PackageTables& tables, const PackageIndex& index, Findings& findings);
void CheckWiring(const PackageTables& tables, const PackageIndex& index, Findings& findings);

}  // namespace host::check
