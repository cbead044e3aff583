// The checks of how a package runs Trellis: the table definitions, the
// custom actions of the package itself and of every merge module merged
// into it (their names end with the module id), the sequence, the Binary
// row, and the Error rows that give the library's messages their wording.
#include <algorithm>

#include "CheckRules.h"
#include "TrellisWiring.h"

namespace host::check {

namespace {

const char* const kErrorMeanings[] = {
    "that the XML parser could not be started",       "that a file could not be opened",
    "that a file could not be read",                  "that a file is not well-formed XML",
    "that a file's encoding cannot be handled",       "that a file could not be created or measured",
    "that a file could not be written",               "that a file's root element is not the package's",
    "that a row cannot be written into its file",     "that a file cannot be changed in place"};
static_assert(std::size(kErrorMeanings) == kLastTrellisError - kFirstTrellisError + 1);

constexpr int kCustomActionBaseType = 0x3F;
constexpr int kSetPropertyType = 51;

void CheckDefinitions(const PackageTables& tables, Findings& findings) {
    for (const IdtText& idt : TrellisTableDefinitions()) {
        if (!tables.Has(idt.table)) continue;
        IdtHeader header;
        ParseIdtHeader(idt.text, &header);
        const Table& table = tables.Get(idt.table);
        for (const std::string& column : header.columns) {
            if (table.Column(column) < 0)
                findings.Error(idt.table, Text(), column, "is missing from the table, and Trellis reads it");
        }
    }
}

class WiringCheck {
public:
    WiringCheck(const PackageTables& tables, const PackageIndex& index, Findings& findings)
        : tables_(tables), index_(index), findings_(findings), actions_(tables.Get("CustomAction")) {
        std::set<Text> scopes = index.modules;
        scopes.insert(Text());
        for (const Text& scope : scopes) {
            if (HasRows("QM_XmlFile", scope) || HasAnyAction(scope)) xmlScopes_.insert(scope);
            const bool locatorAction = index.customActions.count(Decorated(LocatorAction().name, scope)) != 0;
            if (HasRows("QM_XmlLocatorElement", scope) || locatorAction) locatorScopes_.insert(scope);
        }
        // A package with no Trellis parts at all lacks all of them.
        if (xmlScopes_.empty() && locatorScopes_.empty()) xmlScopes_.insert(Text());
        for (const auto& [action, row] : index.executeSequence) ordered_.emplace_back(row.sequence, action);
        std::sort(ordered_.begin(), ordered_.end());
    }

    void Run() {
        for (const Text& scope : xmlScopes_) {
            for (const TrellisAction& action : XmlActions()) CheckAction(action, scope);
        }
        for (const Text& scope : locatorScopes_) {
            CheckAction(LocatorAction(), scope);
            if (!HasRows("QM_XmlLocatorElement", scope)) {
                findings_.Warning("CustomAction", Decorated(LocatorAction().name, scope), "Action",
                                  "has no QM_XmlLocatorElement rows to read");
            }
        }
        if (!xmlScopes_.empty()) CheckErrorRows();
    }

private:
    // Rows of QM_XmlFile or QM_XmlLocatorElement whose key belongs to the scope.
    bool HasRows(const char* table, const Text& scope) const {
        const Table& t = tables_.Get(table);
        const char* key = t.name == "QM_XmlFile" ? "XmlFile" : "XmlElement";
        return std::any_of(t.rows.begin(), t.rows.end(),
                           [&](const Row& row) { return ScopeOfKey(t.Text(row, key)) == scope; });
    }

    bool HasAnyAction(const Text& scope) const {
        return std::any_of(XmlActions().begin(), XmlActions().end(), [&](const TrellisAction& action) {
            return index_.customActions.count(Decorated(action.name, scope)) != 0;
        });
    }

    static std::string ModuleText(const Text& scope) {
        return scope.empty() ? std::string() : " (of the merge module " + Utf8(scope) + ")";
    }

    void CheckAction(const TrellisAction& action, const Text& scope) {
        const Text name = Decorated(action.name, scope);
        const auto found = index_.customActions.find(name);
        if (found == index_.customActions.end()) {
            findings_.Error("CustomAction", name, "Action",
                            std::string("is missing: ") + action.role + ModuleText(scope));
            return;
        }
        const Row& row = *found->second;
        const int type = IntegerCell(actions_, row, "Type");
        const bool locator = action.name == LocatorAction().name;
        if (type != action.type && !(locator && type == kLocatorActionQuietType)) {
            findings_.Error("CustomAction", name, "Type",
                            "is " + std::to_string(type) + "; " + Utf8(action.name) + " must be " +
                                std::to_string(action.type) + (locator ? " or 65" : ""));
        }
        const Text& target = actions_.Text(row, "Target");
        if (target != action.target) {
            findings_.Error("CustomAction", name, "Target",
                            "is '" + Utf8(target) + "'; " + Utf8(action.name) + " calls the entry point " +
                                Utf8(action.target));
        }
        const Text& source = actions_.Text(row, "Source");
        if (index_.binaries.count(source) == 0)
            findings_.Error("CustomAction", name, "Source", "names no Binary row: " + Utf8(source));
        if (action.immediate) {
            CheckSequenced(action, name, scope);
        } else if (index_.executeSequence.count(name) != 0) {
            findings_.Warning("InstallExecuteSequence", name, "Action",
                              "runs the action from the sequence, without the data the immediate action hands "
                              "it, so it does nothing; the immediate actions schedule it themselves");
        }
    }

    void CheckSequenced(const TrellisAction& action, const Text& name, const Text& scope) {
        const auto row = index_.executeSequence.find(name);
        if (row == index_.executeSequence.end()) {
            findings_.Error("InstallExecuteSequence", name, "Action",
                            "is missing: an immediate action runs only from the sequence, so " + Utf8(action.target) +
                                " is never called");
            return;
        }
        const SequenceRow& sequenced = row->second;
        if (!sequenced.condition.empty()) {
            CheckConditionCell(index_, findings_, "InstallExecuteSequence", name, "Condition", sequenced.condition);
        } else if (action.name != LocatorAction().name) {
            findings_.Warning("InstallExecuteSequence", name, "Condition",
                              std::string("is empty, so it runs at every installation and uninstallation (") +
                                  (action.name == Text(u"QM_XmlInstall") ? "NOT REMOVE~=\"ALL\"" : "REMOVE~=\"ALL\"") +
                                  " limits it to its own)");
        }
        if (action.name != LocatorAction().name) CheckInsideScript(name, sequenced.sequence);
        CheckModuleId(name, sequenced.sequence, scope);
    }

    // Deferred actions can be scheduled only while the script is open.
    void CheckInsideScript(const Text& name, int sequence) {
        const auto first = index_.executeSequence.find(u"InstallInitialize");
        const auto last = index_.executeSequence.find(u"InstallFinalize");
        if (first == index_.executeSequence.end() || last == index_.executeSequence.end()) return;
        if (sequence > first->second.sequence && sequence < last->second.sequence) return;
        findings_.Error("InstallExecuteSequence", name, "Sequence",
                        "is " + std::to_string(sequence) + ", outside InstallInitialize (" +
                            std::to_string(first->second.sequence) + ") to InstallFinalize (" +
                            std::to_string(last->second.sequence) + "), where it cannot schedule the deferred actions");
    }

    // The immediate action reads its module id from CustomActionData, which
    // the nearest type 51 action before it sets; an immediate action of the
    // package itself must find it empty (an earlier immediate action clears it).
    void CheckModuleId(const Text& name, int sequence, const Text& scope) {
        const Text* setter = nullptr;
        Text setsTo;
        for (auto at = ordered_.rbegin(); at != ordered_.rend(); ++at) {
            if (at->first >= sequence || at->second == name) continue;
            const auto action = index_.customActions.find(at->second);
            if (action == index_.customActions.end()) continue;
            const Row& row = *action->second;
            const int type = IntegerCell(actions_, row, "Type") & kCustomActionBaseType;
            if (type == kSetPropertyType && actions_.Text(row, "Source") == u"CustomActionData") {
                setter = &at->second;
                setsTo = actions_.Text(row, "Target");
                break;
            }
            const Text base = BaseName(at->second);
            if (base == u"QM_XmlInstall" || base == u"QM_XmlUninstall" || base == LocatorAction().name) break;
        }
        if (scope.empty()) {
            if (setter != nullptr && !setsTo.empty()) {
                findings_.Error("InstallExecuteSequence", name, "Sequence",
                                "comes after " + Utf8(*setter) + ", which sets CustomActionData to '" + Utf8(setsTo) +
                                    "', so the package's own action would act for that module");
            }
            return;
        }
        if (setter == nullptr) {
            findings_.Error("InstallExecuteSequence", name, "Sequence",
                            "has no type 51 action just before it that sets CustomActionData to the module id " +
                                Utf8(scope));
        } else if (setsTo != scope) {
            findings_.Error("InstallExecuteSequence", name, "Sequence",
                            "comes after " + Utf8(*setter) + ", which sets CustomActionData to '" + Utf8(setsTo) +
                                "', not to the module id " + Utf8(scope));
        }
    }

    void CheckErrorRows() {
        const Table& errors = tables_.Get("Error");
        std::map<int, Text> messages;
        for (const Row& row : errors.rows) messages[IntegerCell(errors, row, "Error")] = errors.Text(row, "Message");
        for (int number = kFirstTrellisError; number <= kLastTrellisError; ++number) {
            const auto found = messages.find(number);
            const std::string meaning = kErrorMeanings[number - kFirstTrellisError];
            const Text key = Utf16(std::to_string(number));
            if (found == messages.end()) {
                findings_.Error("Error", key, "Error", "is missing; Trellis uses it to report " + meaning);
            } else if (found->second.empty()) {
                findings_.Error("Error", key, "Message", "is empty; Trellis uses it to report " + meaning);
            }
        }
    }

    const PackageTables& tables_;
    const PackageIndex& index_;
    Findings& findings_;
    const Table& actions_;
    std::set<Text> xmlScopes_;
    std::set<Text> locatorScopes_;
    std::vector<std::pair<int, Text>> ordered_;  // InstallExecuteSequence by Sequence
};

}  // namespace

void CheckWiring(const PackageTables& tables, const PackageIndex& index, Findings& findings) {
    CheckDefinitions(tables, findings);
    WiringCheck(tables, index, findings).Run();
}

}  // namespace host::check
