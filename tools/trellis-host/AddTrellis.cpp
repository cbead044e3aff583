#include "AddTrellis.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include "CheckRules.h"
#include "PackageFile.h"
#include "TrellisWiring.h"
#include "platform/Strings.h"

namespace host {

namespace {

namespace fs = std::filesystem;
using strings::FromUtf8;
using strings::ToUtf8;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kLastSequence = 32767;  // Sequence is a short

enum class Locator { None, AfterAppSearch, AfterCostFinalize };

// The standard tables Trellis rows go into, when the package lacks them.
const std::pair<const char*, const char*> kStandardTables[] = {
    {"Binary", "CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)"},
    {"CustomAction",
     "CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), "
     "`Target` CHAR(255) PRIMARY KEY `Action`)"},
    {"Error", "CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)"},
};

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    bytes->resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    return static_cast<bool>(in.read(bytes->data(), static_cast<std::streamsize>(bytes->size())));
}

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

std::string Plural(std::size_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// The rows of the .idt files of a folder, each file one of the Trellis tables.
bool ReadTableFolder(const std::string& folder, std::vector<IdtTable>* tables, std::string* error) {
    std::error_code code;
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder, code)) {
        if (entry.path().extension() == ".idt") files.push_back(entry.path().string());
    }
    if (code) {
        *error = "cannot read the folder " + folder + ": " + code.message();
        return false;
    }
    std::sort(files.begin(), files.end());
    std::set<std::string> seen;
    for (const std::string& file : files) {
        std::string text;
        IdtTable table;
        IdtHeader wanted;
        if (!ReadWholeFile(file, &text)) {
            *error = "cannot read " + file;
            return false;
        }
        if (!ParseIdt(text, &table, error)) {
            *error = "cannot read the table in " + file + ": " + *error;
            return false;
        }
        const IdtHeader& header = table.header;
        const IdtText* definition = FindTrellisTable(header.table);
        if (definition == nullptr) {
            *error = file + " holds the table " + header.table + ", which is not one of the Trellis tables";
            return false;
        }
        ParseIdtHeader(definition->text, &wanted);
        if (header.columns != wanted.columns || header.keys != wanted.keys) {
            *error = file + " has the columns " + Join(header.columns) + " (keys " + Join(header.keys) + "); " +
                     header.table + " has " + Join(wanted.columns) + " (keys " + Join(wanted.keys) + ")";
            return false;
        }
        if (!seen.insert(header.table).second) {
            *error = file + " holds " + header.table + " a second time";
            return false;
        }
        tables->push_back(std::move(table));
    }
    return true;
}

// The changes, made in memory on the package opened for change.
class PackageWiring {
public:
    PackageWiring(PackageFile& package, std::vector<std::string>& changes) : package_(package), changes_(changes) {}

    bool CreateTables(std::string* error) {
        for (const IdtText& idt : TrellisTableDefinitions()) {
            IdtHeader wanted;
            ParseIdtHeader(idt.text, &wanted);
            Table existing;
            if (package_.Read(idt.table, &existing)) {
                if (existing.columns != wanted.columns) {
                    *error = "the package's table " + std::string(idt.table) + " has the columns " +
                             Join(existing.columns) + ", not " + Join(wanted.columns);
                    return false;
                }
                continue;
            }
            if (!package_.Execute(CreateTableSql(wanted), {}, error)) {
                *error = "cannot create the table " + std::string(idt.table) + ": " + *error;
                return false;
            }
            changes_.push_back(std::string(idt.table) + ": table created");
        }
        for (const auto& [table, create] : kStandardTables) {
            if (package_.HasTable(table)) continue;
            if (!package_.Execute(create, {}, error)) return false;
            changes_.push_back(std::string(table) + ": table created");
        }
        return true;
    }

    enum class Existing { Replace, Keep, FillEmpty };

    // Adds the rows whose key the table lacks; a row whose key it has is
    // replaced when it differs (Replace), never (Keep), or when the
    // existing row's last column is empty (FillEmpty).
    bool MergeRows(const IdtTable& incoming, Existing policy, std::string* error) {
        const std::string& name = incoming.header.table;
        const std::vector<std::string>& columns = incoming.header.columns;
        Table existing;
        if (!package_.Read(name, &existing, error)) return false;
        std::map<std::u16string, const Row*> byKey;
        for (const Row& row : existing.rows) byKey[KeyOf(existing.columns, row, existing.keys)] = &row;
        std::size_t added = 0, replaced = 0;
        for (const Row& row : incoming.rows) {
            const auto found = byKey.find(KeyOf(columns, row, existing.keys));
            if (found != byKey.end()) {
                const Row same = Reordered(existing, *found->second, columns);
                const bool replace = policy == Existing::Replace ? same != row
                                     : policy == Existing::FillEmpty ? same.back() == Cell()
                                                                     : false;
                if (!replace) continue;
                if (!DeleteRow(existing, *found->second, error)) return false;
                ++replaced;
            } else {
                ++added;
            }
            if (!Insert(name, columns, row, error)) return false;
        }
        if (added > 0) changes_.push_back(name + ": " + Plural(added, "row") + " added");
        if (replaced > 0) changes_.push_back(name + ": " + Plural(replaced, "row") + " replaced");
        return true;
    }

    bool PutBinary(const std::string& bytes, std::string* error) {
        const Row name = {Cell::Of(kTrellisBinary)};
        Table found;
        if (!package_.Query("SELECT `Name`, `Data` FROM `Binary` WHERE `Name` = ?", name, &found, error)) return false;
        if (!found.rows.empty()) {
            if (found.rows[0][1].bytes == bytes) return true;
            if (!package_.Execute("DELETE FROM `Binary` WHERE `Name` = ?", name, error)) return false;
        }
        if (!Insert("Binary", {"Name", "Data"}, {name[0], Cell::Stream(bytes)}, error)) return false;
        changes_.push_back(std::string("Binary: TrellisDll ") +
                           (found.rows.empty() ? "added" : "replaced by the new DLL"));
        return true;
    }

    bool PutActions(Locator locator, std::string* error) {
        std::vector<TrellisAction> actions = XmlActions();
        if (locator != Locator::None) actions.push_back(LocatorAction());
        for (const TrellisAction& action : actions) {
            const Row key = {Cell::Of(action.name)};
            Table found;
            if (!package_.Query("SELECT `Type`, `Source`, `Target` FROM `CustomAction` WHERE `Action` = ?", key,
                                &found, error)) {
                return false;
            }
            if (!found.rows.empty()) {
                const Row& row = found.rows[0];
                const bool typeOk = row[0].integer == action.type ||
                                    (action.name == LocatorAction().name && row[0].integer == kLocatorActionQuietType);
                if (typeOk && row[1].text == kTrellisBinary && row[2].text == action.target) continue;
                if (!package_.Execute("DELETE FROM `CustomAction` WHERE `Action` = ?", key, error)) return false;
            }
            const Row row = {key[0], Cell::Of(action.type), Cell::Of(kTrellisBinary), Cell::Of(action.target)};
            if (!Insert("CustomAction", {"Action", "Type", "Source", "Target"}, row, error)) return false;
            changes_.push_back("CustomAction: " + ToUtf8(action.name) +
                               (found.rows.empty() ? " added" : " set to the type, source and target Trellis needs"));
        }
        return true;
    }

    bool Sequence(Locator locator, std::string* error) {
        Table execute;
        if (!package_.Read("InstallExecuteSequence", &execute)) {
            *error = "the package has no InstallExecuteSequence to run Trellis from";
            return false;
        }
        SequenceNumbers numbers(execute);
        if (!numbers.Has(u"QM_XmlInstall")) {
            if (!numbers.Has(u"InstallFiles")) return NoAnchor("QM_XmlInstall", "after", "InstallFiles", error);
            const auto at = numbers.After(u"InstallFiles", numbers.Of(u"InstallFinalize", kLastSequence + 1));
            if (!at) {
                return NoPlace("InstallExecuteSequence", "QM_XmlInstall",
                               "after InstallFiles and before InstallFinalize", error);
            }
            if (!AddToSequence("InstallExecuteSequence", u"QM_XmlInstall", u"NOT REMOVE~=\"ALL\"", *at, error))
                return false;
            numbers.Use(*at);
        }
        if (!numbers.Has(u"QM_XmlUninstall")) {
            if (!numbers.Has(u"RemoveFiles")) return NoAnchor("QM_XmlUninstall", "before", "RemoveFiles", error);
            const auto at = numbers.Before(u"RemoveFiles", numbers.Of(u"InstallInitialize", 0));
            if (!at) {
                return NoPlace("InstallExecuteSequence", "QM_XmlUninstall",
                               "after InstallInitialize and before RemoveFiles", error);
            }
            if (!AddToSequence("InstallExecuteSequence", u"QM_XmlUninstall", u"REMOVE~=\"ALL\"", *at, error))
                return false;
        }
        if (locator == Locator::None) return true;
        for (const char* name : {"InstallExecuteSequence", "InstallUISequence"}) {
            Table table;
            if (!package_.Read(name, &table)) continue;
            SequenceNumbers sequence(table);
            if (sequence.Has(LocatorAction().name)) continue;
            const auto at = LocatorPlace(sequence, locator);
            if (!at) return NoPlace(name, "QM_XmlLocator", "after AppSearch or CostFinalize", error);
            if (!AddToSequence(name, LocatorAction().name, u"", *at, error)) return false;
        }
        return true;
    }

private:
    // The sequence numbers of one sequence table.
    class SequenceNumbers {
    public:
        explicit SequenceNumbers(const Table& table) {
            for (const Row& row : table.rows) {
                const Cell& sequence = row[static_cast<std::size_t>(table.Column("Sequence"))];
                if (sequence.kind == Cell::Kind::Integer) {
                    actions_[table.Text(row, "Action")] = sequence.integer;
                    used_.insert(sequence.integer);
                } else {
                    actions_[table.Text(row, "Action")] = -1;
                }
            }
        }
        bool Has(const std::u16string& action) const { return actions_.count(action) != 0; }
        void Use(int sequence) { used_.insert(sequence); }
        int Of(const std::u16string& action, int fallback) const {
            const auto found = actions_.find(action);
            return found == actions_.end() || found->second < 0 ? fallback : found->second;
        }
        // The first free number after the action's, below limit.
        std::optional<int> After(const std::u16string& action, int limit) const {
            const int from = Of(action, -1);
            if (from < 0) return std::nullopt;
            for (int n = from + 1; n < limit && n <= kLastSequence; ++n) {
                if (used_.count(n) == 0) return n;
            }
            return std::nullopt;
        }
        // The last free number before the action's, above floor.
        std::optional<int> Before(const std::u16string& action, int floor) const {
            const int to = Of(action, -1);
            if (to < 0) return std::nullopt;
            for (int n = to - 1; n > floor && n > 0; --n) {
                if (used_.count(n) == 0) return n;
            }
            return std::nullopt;
        }

    private:
        std::map<std::u16string, int> actions_;
        std::set<int> used_;
    };

    // After CostFinalize when it must be; else after AppSearch (and before
    // LaunchConditions), or just before LaunchConditions, or just before
    // CostInitialize.
    static std::optional<int> LocatorPlace(const SequenceNumbers& sequence, Locator locator) {
        if (locator == Locator::AfterCostFinalize && sequence.Has(u"CostFinalize"))
            return sequence.After(u"CostFinalize", kLastSequence + 1);
        if (sequence.Has(u"AppSearch")) {
            const int launch = sequence.Of(u"LaunchConditions", -1);
            const int appSearch = sequence.Of(u"AppSearch", -1);
            return sequence.After(u"AppSearch", launch > appSearch ? launch : kLastSequence + 1);
        }
        if (sequence.Has(u"LaunchConditions")) return sequence.Before(u"LaunchConditions", 0);
        return sequence.Before(u"CostInitialize", 0);
    }

    static bool NoAnchor(const char* action, const char* relation, const char* anchor, std::string* error) {
        *error = std::string("InstallExecuteSequence has no ") + anchor + ", and " + action + " goes " + relation +
                 " it";
        return false;
    }

    static bool NoPlace(const char* table, const char* action, const char* where, std::string* error) {
        *error = std::string(table) + " has no free place for " + action + " " + where;
        return false;
    }

    bool AddToSequence(const char* table, const std::u16string& action, const std::u16string& condition, int at,
                       std::string* error) {
        const Row row = {Cell::Of(action), condition.empty() ? Cell() : Cell::Of(condition), Cell::Of(at)};
        if (!Insert(table, {"Action", "Condition", "Sequence"}, row, error)) return false;
        changes_.push_back(std::string(table) + ": " + ToUtf8(action) + " added at " + std::to_string(at));
        return true;
    }

    static std::u16string KeyOf(const std::vector<std::string>& columns, const Row& row,
                                const std::vector<std::string>& keys) {
        std::u16string key;
        for (const std::string& column : keys) {
            const auto at = std::find(columns.begin(), columns.end(), column);
            if (at != columns.end()) key += row[static_cast<std::size_t>(at - columns.begin())].text;
            key += u'\x01';
        }
        return key;
    }

    static Row Reordered(const Table& table, const Row& row, const std::vector<std::string>& columns) {
        Row out;
        for (const std::string& column : columns) {
            const int at = table.Column(column);
            out.push_back(at < 0 ? Cell() : row[static_cast<std::size_t>(at)]);
        }
        return out;
    }

    bool DeleteRow(const Table& table, const Row& row, std::string* error) {
        std::string sql = "DELETE FROM " + Quoted(table.name) + " WHERE ";
        Row keys;
        for (const std::string& column : table.keys) {
            sql += (keys.empty() ? "" : " AND ") + Quoted(column) + " = ?";
            keys.push_back(row[static_cast<std::size_t>(table.Column(column))]);
        }
        return package_.Execute(sql, keys, error);
    }

    bool Insert(const std::string& table, const std::vector<std::string>& columns, const Row& row,
                std::string* error) {
        std::string names, markers;
        for (const std::string& column : columns) {
            names += (names.empty() ? "" : ", ") + Quoted(column);
            markers += markers.empty() ? "?" : ", ?";
        }
        if (package_.Execute("INSERT INTO " + Quoted(table) + " (" + names + ") VALUES (" + markers + ")", row, error))
            return true;
        *error = "cannot add a row to " + table + ": " + *error;
        return false;
    }

    PackageFile& package_;
    std::vector<std::string>& changes_;
};

// Whether the package's own locator rows need QM_XmlLocator, and where: a
// file under a folder of the Directory table is known only after CostFinalize.
Locator LocatorNeeds(const PackageFile& package) {
    const check::PackageTables tables(package);
    const check::PackageIndex index(tables);
    const Table& elements = tables.Get("QM_XmlLocatorElement");
    Locator needs = Locator::None;
    for (const Row& row : elements.rows) {
        if (!check::ScopeOfKey(elements.Text(row, "XmlElement")).empty()) continue;
        needs = Locator::AfterAppSearch;
        if (!elements.Text(row, "ParentElement").empty()) continue;
        for (const std::u16string& property : check::ReadFormatted(elements.Text(row, "XmlFile")).properties) {
            if (index.costedDirectories.count(property) != 0) return Locator::AfterCostFinalize;
        }
    }
    return needs;
}

// Writes the changed database next to the package and moves it into place.
bool Replace(PackageFile& package, const std::string& temporary, const std::string& target, std::string* error) {
    struct stat info{};
    if (!package.Commit(error)) return false;
    if (::stat(target.c_str(), &info) == 0) ::chmod(temporary.c_str(), info.st_mode & 07777);
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        *error = "cannot replace " + target + " by the changed package";
        return false;
    }
    return true;
}

}  // namespace

bool AddTrellis(const AddOptions& options, std::vector<std::string>* changes, std::string* error) {
    changes->clear();
    std::string dll;
    if (!ReadWholeFile(options.dll, &dll) || dll.empty() || fs::is_directory(options.dll)) {
        *error = "cannot read the DLL " + options.dll;
        return false;
    }
    const std::string notPackage = WhyNotAPackage(options.package);
    if (!notPackage.empty()) {
        *error = "cannot read the package " + options.package + ": " + notPackage;
        return false;
    }
    std::vector<IdtTable> rows;
    if (!options.tables.empty() && !ReadTableFolder(options.tables, &rows, error)) return false;
    IdtTable errors;
    if (!ParseIdt(DefaultErrorTableText(), &errors, error)) return false;

    // The package keeps its bytes until the changed copy is complete.
    const fs::path target = fs::weakly_canonical(options.package);
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".trellis-XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        *error = "cannot create a file beside " + options.package;
        return false;
    }
    ::close(fd);
    bool ok = false;
    {
        std::unique_ptr<PackageFile> package = PackageFile::OpenForChange(target.string(), temporary, error);
        if (package) {
            PackageWiring wiring(*package, *changes);
            ok = wiring.CreateTables(error);
            for (const IdtTable& table : rows)
                ok = ok && wiring.MergeRows(table, PackageWiring::Existing::Replace, error);
            const Locator locator = ok ? LocatorNeeds(*package) : Locator::None;
            ok = ok && wiring.PutBinary(dll, error) && wiring.PutActions(locator, error) &&
                 wiring.Sequence(locator, error) && wiring.MergeRows(errors, PackageWiring::Existing::FillEmpty, error);
            ok = ok && (changes->empty() || Replace(*package, temporary, target.string(), error));
        } else {
            *error = "cannot read the package " + options.package + ": " + *error;
        }
    }
    if (!ok || changes->empty()) ::unlink(temporary.c_str());
    if (!ok) changes->clear();
    return ok;
}

std::string PackageToolsUsage() {
    return "       trellis-host check PACKAGE.msi\n"
           "       trellis-host add PACKAGE.msi --dll PATH [--tables DIR]\n";
}

int RunAddCommand(const std::vector<std::string>& args) {
    AddOptions options;
    const auto usage = [](const std::string& message) {
        std::cerr << "trellis-host: " << message << " (trellis-host --help shows the usage)\n";
        return kExitUsage;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << "usage: trellis-host add PACKAGE.msi --dll PATH [--tables DIR]\n";
            return 0;
        }
        if (arg == "--dll" || arg == "--tables") {
            if (!inlineValue) {
                if (i + 1 >= args.size()) return usage(arg + " needs a path");
                value = args[++i];
            }
            if (value.empty()) return usage(arg + " needs a path");
            (arg == "--dll" ? options.dll : options.tables) = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option " + args[i] + " for add");
        } else if (options.package.empty()) {
            options.package = arg;
        } else {
            return usage("add takes one package, not '" + options.package + "' and '" + arg + "'");
        }
    }
    if (options.package.empty()) return usage("add needs a package");
    if (options.dll.empty()) return usage("add needs --dll PATH, the Trellis DLL to put into the package");
    if (!options.tables.empty() && !fs::is_directory(options.tables))
        return usage("--tables names " + options.tables + ", which is not a folder");

    std::vector<std::string> changes;
    std::string error;
    if (!AddTrellis(options, &changes, &error)) {
        std::cerr << "trellis-host: " << error << "; " << options.package << " is unchanged\n";
        return kExitFailed;
    }
    if (changes.empty()) std::cout << options.package << " uses Trellis already; nothing changed\n";
    for (const std::string& change : changes) std::cout << change << "\n";
    return 0;
}

}  // namespace host
