// One run of a package's InstallExecuteSequence over the POSIX installer
// stand-in, the way msiexec /qn runs it on Windows:
//
//   - the rows are walked in Sequence order, each one's condition evaluated;
//   - standard actions do what the package model needs (CostFinalize
//     resolves directories and selects features; InstallInitialize opens the
//     script; CreateFolders and InstallFiles create the folders of the
//     components being installed, without files; InstallExecute and
//     InstallFinalize run the script) and nothing else;
//   - custom actions of type 1 (and 17) call the entry point named by their
//     Target in the Linux build of the library; types 51, 35 and 19 set a
//     property, set a directory and fail with a message;
//   - deferred, rollback and commit custom actions (0x400, 0x400|0x100,
//     0x400|0x200), from the sequence or from MsiDoActionW, go into the
//     script with the value of the property named like them as their
//     CustomActionData. A failure rolls back the rollback actions the script
//     had reached, newest first; success runs the commit actions;
//   - RemoveExistingProducts removes the products that FindRelatedProducts
//     found by running their own uninstall sequences from the packages the
//     root keeps for them. Between InstallInitialize and InstallFinalize a
//     removal joins this installation's transaction: its rollback actions
//     run if this installation fails later, and the product is forgotten
//     only when this installation succeeds.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Arguments.h"
#include "InstallLog.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/PackageModel.h"
#include "platform/posix/msi/ProductStore.h"

namespace host {

struct CustomActionRow {
    std::u16string action;
    int type = 0;
    std::u16string source;
    std::u16string target;
};

class Installation {
public:
    // libraryPath: the custom-action library whose entry points type 1 actions
    // call, unless options.binaryLibraries names one for the action's Binary row.
    Installation(Options options, const InstallLog& log, std::string libraryPath);
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    // Opens the package and reads the tables the run needs; false, with a
    // reason, when it cannot be read.
    bool Open(std::string* error);
    // Whether the package knows an action of this name (for --fail-at).
    bool KnowsAction(const std::u16string& action) const;
    // Called with each action's name as it starts.
    void OnAction(std::function<void(const std::u16string&)> callback) { onAction_ = std::move(callback); }

    // 0 on success, else the Windows result: 1602, 1603, or 1605 when an
    // uninstall names a product that is not installed.
    std::uint32_t Run();

private:
    enum class Script { Deferred, Rollback, Commit };
    // A custom action with its data, or (folders not empty) the creation of
    // the folders of the components being installed. owner: the removal of
    // an older product whose rollback or commit action this is; null for
    // this installation's own.
    struct ScriptOp {
        CustomActionRow action;
        std::u16string data;
        std::vector<std::u16string> folders;
        Installation* owner = nullptr;
        // The log shows "**********" for the data: the action's type carries
        // 8192 (hide target), or MsiHiddenProperties names the action.
        bool hideData = false;
    };

    class Running {
    public:
        Running(Installation* installation, const std::u16string& action);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        Installation* installation_;
    };

    void StartSession();
    std::uint32_t RunSequence();
    std::uint32_t RunAction(const std::u16string& action, bool fromCustomAction);
    std::uint32_t DoActionHook(const std::u16string& action);
    std::uint32_t RunStandardAction(const std::u16string& action);
    std::uint32_t ScheduleAction(const CustomActionRow& row);
    std::uint32_t Execute(const CustomActionRow& row);
    std::uint32_t CallEntryPoint(const CustomActionRow& row);
    void* LoadLibraryFor(const std::u16string& source, std::string* path);
    // Takes the operation, whose data becomes the action's CustomActionData.
    std::uint32_t RunScriptOp(ScriptOp op, Script script);
    std::uint32_t ExecuteScript();
    std::uint32_t FinishScript();
    void Rollback();
    void Commit();
    void Cost();
    void ScheduleFolders();
    static void CreateFolders(const std::vector<std::u16string>& folders);
    void ResolveAndApplyDirectories();
    void Register();
    void FindRelatedProducts();
    std::uint32_t RemoveExistingProducts();
    std::uint32_t RemoveProduct(const std::u16string& productCode, const std::u16string& remove);
    void LogEnd(std::uint32_t result);
    std::u16string Format(const std::u16string& text) const;
    // Whether MsiHiddenProperties names the property, whose value the log
    // then shows as "**********".
    bool IsHidden(const std::u16string& property) const;
    std::u16string Shown(const std::u16string& property, const std::u16string& value) const;
    std::u16string OpText(const char16_t* op, const ScriptOp& scriptOp) const;
    static Script ScriptOf(int type);

    const Options options_;
    const InstallLog& log_;
    std::string libraryPath_;
    std::map<std::string, void*> libraries_;  // by path; null when it could not be loaded
    std::function<void(const std::u16string&)> onAction_;
    std::vector<std::u16string> running_;  // the actions running, innermost last

    platform::posix::InstallerSession session_;
    platform::posix::ProductStore store_;
    std::map<std::u16string, CustomActionRow> customActions_;
    std::vector<std::u16string> sequence_;  // for KnowsAction

    platform::posix::InstalledProduct installed_;
    bool isInstalled_ = false;

    platform::posix::PackageTables tables_;
    bool tablesRead_ = false;
    platform::posix::Selection selection_;
    bool costed_ = false;
    // Directories whose place was given rather than worked out: by a
    // property set before CostFinalize, or later by a type 35 action.
    std::map<std::u16string, std::u16string> fixedDirectories_;

    bool scriptOpen_ = false;
    std::vector<ScriptOp> script_;
    std::size_t executed_ = 0;
    std::vector<ScriptOp> rollback_;
    std::vector<ScriptOp> commit_;
    bool inScript_ = false;

    // A removal run by RemoveExistingProducts inside another installation's
    // transaction: it leaves its rollback and commit actions, and forgetting
    // the product, to that installation.
    bool joinsParent_ = false;
    // The removals that joined this installation's transaction.
    std::vector<std::unique_ptr<Installation>> removals_;
};

}  // namespace host
