#include "CheckRules.h"

#include <algorithm>

#include "custact/XML/src/xml/XmlUpdateData.h"
#include "installer/ModuleScope.h"
#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/posix/msi/Condition.h"
#include "platform/posix/msi/FormatRecord.h"
#include "platform/posix/msi/PackageModel.h"

namespace host::check {

namespace {

// The tables the checks read. Binary only by name: its streams are not needed.
const char* const kTablesRead[] = {
    "QM_XmlFile", "QM_XmlElement", "QM_XmlAttribute", "QM_LockPermissions", "QM_XmlLocatorElement",
    "QM_XmlLocator", "CustomAction", "InstallExecuteSequence", "InstallUISequence", "Error", "Component",
    "Feature", "File", "Directory", "Property", "AppSearch", "Upgrade"};

// Findings are listed in this order of tables; others follow by name.
const char* const kTableOrder[] = {"QM_XmlFile", "QM_XmlElement", "QM_XmlAttribute", "QM_LockPermissions",
                                   "QM_XmlLocatorElement", "QM_XmlLocator", "CustomAction",
                                   "InstallExecuteSequence", "InstallUISequence", "Binary", "Error"};

// Properties Windows Installer sets itself (the folders come from the
// package model), or that an installation is commonly given.
const char16_t* const kInstallerProperties[] = {
    u"ProductCode", u"ProductName", u"ProductVersion", u"ProductLanguage", u"Manufacturer", u"UpgradeCode",
    u"PackageCode", u"ProductState", u"Installed", u"Preselected", u"REMOVE", u"ADDLOCAL", u"ADDSOURCE",
    u"ADDDEFAULT", u"REINSTALL", u"REINSTALLMODE", u"INSTALLLEVEL", u"ALLUSERS", u"MSIINSTALLPERUSER",
    u"TARGETDIR", u"SourceDir", u"SOURCEDIR", u"OriginalDatabase", u"DATABASE", u"ComputerName", u"LogonUser",
    u"UserSID", u"USERNAME", u"COMPANYNAME", u"UserLanguageID", u"SystemLanguageID", u"VersionNT", u"VersionNT64",
    u"WindowsBuild", u"ServicePackLevel", u"VersionMsi", u"VersionDatabase", u"Intel", u"Msix64",
    u"MsiNTProductType", u"Privileged", u"AdminUser", u"Date", u"Time", u"PhysicalMemory", u"UILevel",
    u"UPGRADINGPRODUCTCODE", u"OLDPRODUCTS", u"CostingComplete", u"OutOfDiskSpace", u"ARPINSTALLLOCATION",
    u"CustomActionData", u"QM_CA_MODULE_ID"};

// Every reference reads as "x" and is written down. (The values are filled
// with assign(1, u'x'): assigning the literal through the pointer makes
// GCC 12 at -O3 warn of an overlapping copy that cannot happen.)
class RecordingContext : public platform::posix::InstallerContext {
public:
    RecordingContext(FormattedText* text, ConditionText* condition) : text_(text), condition_(condition) {}

    std::u16string Property(const std::u16string& name) const override {
        if (text_ != nullptr) text_->properties.insert(name);
        return u"x";
    }
    bool Environment(const std::u16string&, std::u16string* value) const override {
        value->assign(1, u'x');
        return true;
    }
    bool ComponentState(const std::u16string& component, platform::posix::ItemState*) const override {
        if (condition_ != nullptr) condition_->components.insert(component);
        return false;
    }
    bool FeatureState(const std::u16string& feature, platform::posix::ItemState*) const override {
        if (condition_ != nullptr) condition_->features.insert(feature);
        return false;
    }
    bool FilePath(const std::u16string& fileKey, bool, std::u16string* path) const override {
        if (text_ != nullptr) text_->files.insert(fileKey);
        path->assign(1, u'x');
        return true;
    }
    bool ComponentDirectory(const std::u16string& component, std::u16string* path) const override {
        if (text_ != nullptr) text_->components.insert(component);
        path->assign(1, u'x');
        return true;
    }

private:
    FormattedText* text_;
    ConditionText* condition_;
};

std::map<Text, SequenceRow> ReadSequence(const Table& table) {
    std::map<Text, SequenceRow> rows;
    for (const Row& row : table.rows) {
        rows[table.Text(row, "Action")] = {IntegerCell(table, row, "Sequence"), table.Text(row, "Condition")};
    }
    return rows;
}

void AddColumn(std::set<Text>& to, const Table& table, const char* column) {
    for (const Row& row : table.rows) {
        if (!table.Text(row, column).empty()) to.insert(table.Text(row, column));
    }
}

bool IsTrellisActionName(const Text& base) {
    if (base == LocatorAction().name) return true;
    for (const TrellisAction& action : XmlActions()) {
        if (base == action.name) return true;
    }
    return false;
}

int TableRank(const std::string& table) {
    const auto begin = std::begin(kTableOrder), end = std::end(kTableOrder);
    return static_cast<int>(std::find(begin, end, table) - begin);
}

}  // namespace

std::string Utf8(const Text& text) { return strings::ToUtf8(text); }
Text Utf16(const std::string& text) { return strings::FromUtf8(text); }

PackageTables::PackageTables(const PackageFile& package) {
    for (const char* name : kTablesRead) {
        Table table;
        if (package.Read(name, &table)) tables_[name] = std::move(table);
    }
    Table binary;
    if (package.HasTable("Binary") && package.Query("SELECT `Name` FROM `Binary`", {}, &binary, nullptr)) {
        binary.name = "Binary";
        tables_["Binary"] = std::move(binary);
    }
}

const Table& PackageTables::Get(const std::string& table) const {
    static const Table kEmpty;
    const auto found = tables_.find(table);
    return found == tables_.end() ? kEmpty : found->second;
}

void Findings::Error(const std::string& table, const Text& row, const std::string& column,
                     const std::string& message) {
    findings_.push_back({true, table, Utf8(row), column, message});
    errorCells_.emplace(table, findings_.back().row, column);
}

void Findings::Warning(const std::string& table, const Text& row, const std::string& column,
                       const std::string& message) {
    findings_.push_back({false, table, Utf8(row), column, message});
}

void Findings::ErrorOnce(const std::string& table, const Text& row, const std::string& column,
                         const std::string& message) {
    if (errorCells_.count({table, Utf8(row), column}) == 0) Error(table, row, column, message);
}

std::vector<Finding> Findings::Sorted() const {
    std::vector<Finding> sorted = findings_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Finding& a, const Finding& b) {
        const int ra = TableRank(a.table), rb = TableRank(b.table);
        if (ra != rb) return ra < rb;
        if (a.table != b.table) return a.table < b.table;
        return a.row < b.row;
    });
    return sorted;
}

FormattedText ReadFormatted(const Text& text) {
    FormattedText out;
    if (text.empty()) return out;
    RecordingContext context(&out, nullptr);
    out.literal = platform::posix::FormatRecordFields(&context, {text});
    // [[NAME]] reads the property that NAME's value names: not a name of its own.
    if (text.find(u"[[") != Text::npos) out.properties.erase(u"x");
    return out;
}

ConditionText ReadCondition(const Text& text) {
    ConditionText out;
    RecordingContext context(nullptr, &out);
    out.result = platform::posix::EvaluateConditionText(context, text);
    return out;
}

PackageIndex::PackageIndex(const PackageTables& tables) {
    AddColumn(components, tables.Get("Component"), "Component");
    AddColumn(features, tables.Get("Feature"), "Feature");
    AddColumn(files, tables.Get("File"), "File");
    AddColumn(directories, tables.Get("Directory"), "Directory");
    AddColumn(binaries, tables.Get("Binary"), "Name");

    AddColumn(properties, tables.Get("Property"), "Property");
    for (const auto& [name, value] : platform::posix::StandardProperties(u"User", true)) properties.insert(name);
    for (const char16_t* name : kInstallerProperties) properties.insert(name);
    for (const Text& directory : directories) {
        if (properties.count(directory) == 0) costedDirectories.insert(directory);
    }
    properties.insert(directories.begin(), directories.end());
    AddColumn(properties, tables.Get("AppSearch"), "Property");
    AddColumn(properties, tables.Get("Upgrade"), "ActionProperty");
    AddColumn(properties, tables.Get("QM_XmlLocator"), "Property");

    const Table& actions = tables.Get("CustomAction");
    for (const Row& row : actions.rows) {
        const Text& name = actions.Text(row, "Action");
        customActions[name] = &row;
        const int base = IntegerCell(actions, row, "Type") & 0x3F;
        if (base == 51 || base == 35) properties.insert(actions.Text(row, "Source"));
        const Text scope = ScopeOfKey(name);
        if (!scope.empty() && IsTrellisActionName(BaseName(name))) modules.insert(scope);
    }
    executeSequence = ReadSequence(tables.Get("InstallExecuteSequence"));
    uiSequence = ReadSequence(tables.Get("InstallUISequence"));
    for (const auto& [table, key] :
         {std::pair{"QM_XmlFile", "XmlFile"}, std::pair{"QM_XmlLocatorElement", "XmlElement"}}) {
        const Table& t = tables.Get(table);
        for (const Row& row : t.rows) {
            const Text scope = ScopeOfKey(t.Text(row, key));
            if (!scope.empty()) modules.insert(scope);
        }
    }
}

Text ScopeOfKey(const Text& key) {
    const std::size_t dot = key.rfind(u'.');
    if (dot == Text::npos) return Text();
    const Text suffix = key.substr(dot + 1);
    return IsValidModuleId(suffix) ? suffix : Text();
}

Text Decorated(const Text& base, const Text& scope) { return scope.empty() ? base : base + u"." + scope; }

Text BaseName(const Text& name) {
    const Text scope = ScopeOfKey(name);
    return scope.empty() ? name : name.substr(0, name.size() - scope.size() - 1);
}

std::int32_t IntegerCell(const Table& table, const Row& row, const char* column) {
    return ToRecordInteger(table.Text(row, column));
}

void CheckReferences(const PackageIndex& index, Findings& findings, const std::string& table, const Text& row,
                     const std::string& column, const FormattedText& text) {
    for (const Text& property : text.properties) {
        if (index.properties.count(property) == 0) {
            findings.Warning(table, row, column,
                             "reads [" + Utf8(property) +
                                 "], a property that nothing in the package sets (it is empty unless the "
                                 "command line gives it)");
        }
    }
    for (const Text& file : text.files) {
        if (index.files.count(file) == 0)
            findings.Warning(table, row, column, "reads [#" + Utf8(file) + "], but the File table has no such row");
    }
    for (const Text& component : text.components) {
        if (index.components.count(component) == 0) {
            findings.Warning(table, row, column,
                             "reads [$" + Utf8(component) + "], but the Component table has no such row");
        }
    }
}

void CheckConditionCell(const PackageIndex& index, Findings& findings, const std::string& table, const Text& row,
                        const std::string& column, const Text& condition) {
    const ConditionText read = ReadCondition(condition);
    if (read.result == platform::kMsiConditionError) {
        findings.Error(table, row, column, "is not a condition Windows Installer can evaluate: " + Utf8(condition));
        return;
    }
    for (const Text& component : read.components) {
        if (index.components.count(component) == 0)
            findings.Warning(table, row, column,
                             "names the component " + Utf8(component) + ", which the package lacks");
    }
    for (const Text& feature : read.features) {
        if (index.features.count(feature) == 0)
            findings.Warning(table, row, column, "names the feature " + Utf8(feature) + ", which the package lacks");
    }
}

std::vector<std::vector<Text>> FindParentLoops(const std::map<Text, Text>& parents) {
    enum State { kNew, kOnPath, kDone };
    std::map<Text, State> state;
    std::vector<std::vector<Text>> loops;
    for (const auto& entry : parents) {
        std::vector<Text> path;
        Text at = entry.first;
        bool looped = false;
        for (;;) {
            const auto row = parents.find(at);
            if (row == parents.end()) break;
            State& seen = state[at];
            looped = seen == kOnPath;
            if (seen != kNew) break;
            seen = kOnPath;
            path.push_back(at);
            if (row->second.empty()) break;
            at = row->second;
        }
        if (looped) {
            std::vector<Text> loop(std::find(path.begin(), path.end(), at), path.end());
            std::rotate(loop.begin(), std::min_element(loop.begin(), loop.end()), loop.end());
            loops.push_back(std::move(loop));
        }
        for (const Text& key : path) state[key] = kDone;
    }
    return loops;
}

std::string DescribeLoop(const std::vector<Text>& loop) {
    std::string text;
    for (const Text& key : loop) text += Utf8(key) + " -> ";
    return text + Utf8(loop.front());
}

}  // namespace host::check
