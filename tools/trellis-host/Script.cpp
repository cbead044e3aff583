// The installation script: running its operations, the rollback actions
// when it fails and the commit actions when it succeeds, and the folders the
// script creates.
#include <map>
#include <set>
#include <utility>

#include "HostSupport.h"
#include "Installation.h"
#include "platform/Files.h"
#include "platform/Msi.h"

namespace host {

Installation::Script Installation::ScriptOf(int type) {
    if ((type & kTypeInScript) == 0) return Script::Deferred;
    if ((type & (kTypeRollback | kTypeCommit)) == kTypeRollback) return Script::Rollback;
    if ((type & (kTypeRollback | kTypeCommit)) == kTypeCommit) return Script::Commit;
    return Script::Deferred;
}

std::u16string Installation::OpText(const char16_t* op, const ScriptOp& scriptOp) const {
    const CustomActionRow& row = scriptOp.action;
    return std::u16string(op) + u"(Action=" + row.action + u",ActionType=" + Number(row.type) + u",Source=" +
           row.source + u",Target=" + row.target + u",CustomActionData=" +
           (scriptOp.hideData ? std::u16string(kHiddenValue) : scriptOp.data) + u")";
}

std::uint32_t Installation::RunScriptOp(ScriptOp op, Script script) {
    const char16_t* name = script == Script::Rollback ? u"CustomActionRollback"
                           : script == Script::Commit ? u"CustomActionCommit"
                                                      : u"CustomActionSchedule";
    if (log_.Enabled()) log_.Engine(u"Executing op: " + OpText(name, op));
    Running running(this, op.action.action);
    if (op.action.action == options_.failAt) {
        log_.Engine(u"Action " + op.action.action + u" fails: --fail-at names it");
        return platform::kErrorInstallFailure;
    }
    // Deferred actions see only these properties, as on Windows.
    std::map<std::u16string, std::u16string> saved = session_.TakeProperties();
    const auto valueOf = [&](const char16_t* property) {
        const auto it = saved.find(property);
        return it == saved.end() ? std::u16string() : it->second;
    };
    session_.SetProperty(u"CustomActionData", std::move(op.data));
    session_.SetProperty(u"ProductCode", valueOf(u"ProductCode"));
    session_.SetProperty(u"UserSID", valueOf(u"UserSID"));
    const int mode = script == Script::Rollback ? platform::kMsiRunModeRollback
                     : script == Script::Commit ? platform::kMsiRunModeCommit
                                                : platform::kMsiRunModeScheduled;
    session_.SetMode(mode, true);
    inScript_ = true;
    std::uint32_t rc = Execute(op.action);
    if (rc == platform::kErrorSuccess && op.action.action == options_.failAfter) {
        log_.Engine(u"Action " + op.action.action + u" ran and now fails: --fail-after names it");
        rc = platform::kErrorInstallFailure;
    }
    inScript_ = false;
    session_.SetMode(mode, false);
    // The properties from before come back in place of what the action set.
    session_.RestoreProperties(std::move(saved));
    return rc;
}

std::uint32_t Installation::ExecuteScript() {
    const bool rollbackDisabled = !session_.GetProperty(u"RollbackDisabled").empty();
    while (executed_ < script_.size()) {
        // Each operation runs once, so it is moved out of the script rather
        // than copied with its data.
        ScriptOp op = std::move(script_[executed_++]);
        if (!op.folders.empty()) {
            for (const std::u16string& folder : op.folders) {
                log_.Engine(u"Executing op: FolderCreate(Folder=" + folder + u")");
            }
            CreateFolders(op.folders);
            continue;
        }
        switch (ScriptOf(op.action.type)) {
        case Script::Rollback:
        case Script::Commit:
            if (log_.Enabled()) log_.Engine(u"Executing op: " + OpText(u"CustomActionSchedule", op));
            if (rollbackDisabled) {
                log_.Engine(u"Rollback is disabled: " + op.action.action + u" will not run");
            } else {
                (ScriptOf(op.action.type) == Script::Rollback ? rollback_ : commit_).push_back(std::move(op));
            }
            break;
        case Script::Deferred: {
            const std::uint32_t rc = RunScriptOp(std::move(op), Script::Deferred);
            if (IsFailure(rc)) return rc;
            break;
        }
        }
    }
    return platform::kErrorSuccess;
}

std::uint32_t Installation::FinishScript() {
    if (!scriptOpen_) return platform::kErrorSuccess;
    scriptOpen_ = false;
    log_.Engine(u"Running the installation script: " + Number(static_cast<long>(script_.size() - executed_)) +
                u" operation(s) to go");
    std::uint32_t rc = ExecuteScript();
    if (rc != platform::kErrorSuccess) return rc;
    // The installation that this removal joined commits or rolls back for it.
    if (joinsParent_) return platform::kErrorSuccess;
    if (!commit_.empty()) log_.Engine(u"Running the commit actions");
    // Each commit action runs once: it takes its operation (a failure below
    // leads to Rollback, which drops the commit actions unread).
    for (ScriptOp& op : commit_) {
        Installation* runner = op.owner != nullptr ? op.owner : this;
        rc = runner->RunScriptOp(std::move(op), Script::Commit);
        // A failing commit action rolls back what the rollback script holds.
        if (IsFailure(rc)) return rc;
    }
    commit_.clear();
    rollback_.clear();
    for (const auto& removal : removals_) removal->Register();
    Register();
    return platform::kErrorSuccess;
}

// The folders of the components being installed, and of their CreateFolder
// rows, come into being where the script reaches this point.
void Installation::ScheduleFolders() {
    if (!costed_ || !scriptOpen_) return;
    std::map<std::u16string, std::u16string> directoryOf;
    for (const platform::posix::ComponentRow& row : tables_.components) directoryOf[row.component] = row.directory;
    std::vector<std::pair<std::u16string, std::u16string>> pairs;  // component, directory
    for (const auto& [component, directory] : directoryOf) pairs.emplace_back(component, directory);
    for (const msi::Record& row : Rows(session_, u"SELECT `Component_`, `Directory_` FROM `CreateFolder`")) {
        pairs.emplace_back(Text(row, 1), Text(row, 2));
    }
    std::set<std::u16string> folders;
    for (const auto& [component, directory] : pairs) {
        const auto state = selection_.components.find(component);
        if (state == selection_.components.end() || state->second.action != platform::posix::kInstallStateLocal) continue;
        const std::u16string path = session_.GetProperty(directory);
        if (!path.empty()) folders.insert(path);
    }
    if (folders.empty()) return;
    ScriptOp op;
    op.folders.assign(folders.begin(), folders.end());
    script_.push_back(op);
}

void Installation::CreateFolders(const std::vector<std::u16string>& folders) {
    for (const std::u16string& folder : folders) {
        // Each missing level in turn, from the drive down.
        for (std::size_t at = folder.find(u'\\', 3); at != std::u16string::npos; at = folder.find(u'\\', at + 1)) {
            const std::u16string level = folder.substr(0, at);
            if (platform::GetFileAttributesW(level) == platform::kInvalidFileAttributes) {
                platform::CreateDirectoryW(level);
            }
        }
    }
}

void Installation::Rollback() {
    commit_.clear();
    if (rollback_.empty()) return;
    log_.Engine(u"Rolling back: " + Number(static_cast<long>(rollback_.size())) +
                u" rollback action(s), the last scheduled first");
    for (auto it = rollback_.rbegin(); it != rollback_.rend(); ++it) {
        log_.Line(u"Rollback: " + it->action.action);
        const std::uint32_t rc = (it->owner != nullptr ? it->owner : this)->RunScriptOp(*it, Script::Rollback);
        if (IsFailure(rc)) log_.Engine(u"Rollback action " + it->action.action + u" failed; the rollback goes on");
    }
    rollback_.clear();
}

}  // namespace host
