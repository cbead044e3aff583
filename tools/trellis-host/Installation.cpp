#include "Installation.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "HostSupport.h"
#include "platform/Files.h"
#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/System.h"
#include "platform/posix/msi/MsiInternal.h"

namespace host {

namespace {

using strings::FromUtf8;
using strings::ToUtf8;

// Windows Installer's answer for a product that is not installed.
constexpr std::uint32_t kErrorUnknownProduct = 1605;

// Standard actions: the ones the model needs do something, the others
// (files, registry, shortcuts, services...) are not carried out here.
const std::set<std::u16string>& StandardActions() {
    static const std::set<std::u16string> actions = {
        u"AllocateRegistrySpace", u"AppSearch", u"BindImage", u"CCPSearch", u"CostFinalize", u"CostInitialize",
        u"CreateFolders", u"CreateShortcuts", u"DeleteServices", u"DisableRollback", u"DuplicateFiles",
        u"ExecuteAction", u"FileCost", u"FindRelatedProducts", u"ForceReboot", u"InstallAdminPackage",
        u"InstallExecute", u"InstallExecuteAgain", u"InstallFiles", u"InstallFinalize", u"InstallInitialize",
        u"InstallODBC", u"InstallServices", u"InstallSFPCatalogFile", u"InstallValidate", u"IsolateComponents",
        u"LaunchConditions", u"MigrateFeatureStates", u"MoveFiles", u"MsiConfigureServices",
        u"MsiPublishAssemblies", u"MsiUnpublishAssemblies", u"PatchFiles", u"ProcessComponents",
        u"PublishComponents", u"PublishFeatures", u"PublishProduct", u"RegisterClassInfo",
        u"RegisterComPlus", u"RegisterExtensionInfo", u"RegisterFonts", u"RegisterMIMEInfo",
        u"RegisterProduct", u"RegisterProgIdInfo", u"RegisterTypeLibraries", u"RegisterUser",
        u"RemoveDuplicateFiles", u"RemoveEnvironmentStrings", u"RemoveExistingProducts", u"RemoveFiles",
        u"RemoveFolders", u"RemoveIniValues", u"RemoveODBC", u"RemoveRegistryValues", u"RemoveShortcuts",
        u"ResolveSource", u"RMCCPSearch", u"ScheduleReboot", u"SelfRegModules", u"SelfUnregModules",
        u"SetODBCFolders", u"StartServices", u"StopServices", u"UnpublishComponents", u"UnpublishFeatures",
        u"UnregisterClassInfo", u"UnregisterComPlus", u"UnregisterExtensionInfo", u"UnregisterFonts",
        u"UnregisterMIMEInfo", u"UnregisterProgIdInfo", u"UnregisterTypeLibraries", u"ValidateProductID",
        u"WriteEnvironmentStrings", u"WriteIniValues", u"WriteRegistryValues",
    };
    return actions;
}

std::u16string UserName() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr) {
        return FromUtf8(entry->pw_name);
    }
    return u"User";
}

}  // namespace

// A custom-action library calls platform::Msi* and expects this process's
// installer session behind the handle it is given. The library carries its
// own copy of the stand-in, but trellis-host is linked with -rdynamic, so the
// dynamic linker binds the library's calls to these functions here instead.
// Taking their addresses makes sure every one of them is linked in.
extern const void* const kInstallerFunctions[];
__attribute__((used)) const void* const kInstallerFunctions[] = {
    reinterpret_cast<const void*>(&platform::MsiGetPropertyW),
    reinterpret_cast<const void*>(&platform::MsiSetPropertyW),
    reinterpret_cast<const void*>(&platform::MsiDoActionW),
    reinterpret_cast<const void*>(&platform::MsiEvaluateConditionW),
    reinterpret_cast<const void*>(&platform::MsiGetMode),
    reinterpret_cast<const void*>(&platform::MsiFormatRecordW),
    reinterpret_cast<const void*>(&platform::MsiGetDatabaseState),
    reinterpret_cast<const void*>(&platform::MsiGetActiveDatabase),
    reinterpret_cast<const void*>(&platform::MsiDatabaseOpenViewW),
    reinterpret_cast<const void*>(&platform::MsiViewExecute),
    reinterpret_cast<const void*>(&platform::MsiViewFetch),
    reinterpret_cast<const void*>(&platform::MsiViewGetColumnInfo),
    reinterpret_cast<const void*>(&platform::MsiViewClose),
    reinterpret_cast<const void*>(&platform::MsiCloseHandle),
    reinterpret_cast<const void*>(&platform::MsiCreateRecord),
    reinterpret_cast<const void*>(&platform::MsiRecordGetFieldCount),
    reinterpret_cast<const void*>(&platform::MsiRecordGetStringW),
    reinterpret_cast<const void*>(&platform::MsiRecordGetInteger),
    reinterpret_cast<const void*>(&platform::MsiRecordSetStringW),
    reinterpret_cast<const void*>(&platform::MsiRecordSetInteger),
    reinterpret_cast<const void*>(&platform::MsiRecordReadStream),
    reinterpret_cast<const void*>(&platform::MsiProcessMessage),
};

// Tells the progress display which action runs, and when a nested one
// (from MsiDoActionW) ends, that the outer one runs again.
Installation::Running::Running(Installation* installation, const std::u16string& action)
    : installation_(installation) {
    installation_->running_.push_back(action);
    if (installation_->onAction_) installation_->onAction_(action);
}

Installation::Running::~Running() {
    installation_->running_.pop_back();
    if (installation_->onAction_ && !installation_->running_.empty()) {
        installation_->onAction_(installation_->running_.back());
    }
}

Installation::Installation(Options options, const InstallLog& log, std::string libraryPath)
    : options_(std::move(options)), log_(log), libraryPath_(std::move(libraryPath)), store_(options_.root) {
    // The session writes the messages of custom actions (INFO lines and the
    // like) into the same log.
    if (log_.Enabled()) session_.SetLogFile(log_.Path());
    session_.RecordMessages(false);
    session_.doAction = [this](platform::posix::InstallerSession&, const std::u16string& action) {
        return DoActionHook(action);
    };
}

Installation::~Installation() {
    // The library stays loaded: objects it made may still be referenced by
    // the stand-in's handle table until the process ends.
    session_.doAction = nullptr;
}

bool Installation::Open(std::string* error) {
    // Command-line properties come first, so that the Property table does
    // not overwrite them.
    for (const auto& [name, value] : options_.properties) session_.SetProperty(name, value);
    if (!session_.OpenDatabase(options_.package)) {
        *error = "cannot read the package " + options_.package;
        return false;
    }
    if (session_.GetProperty(u"ProductCode").empty()) {
        *error = "the package " + options_.package + " has no ProductCode property";
        return false;
    }
    for (const msi::Record& row :
         Rows(session_, u"SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`")) {
        CustomActionRow action{Text(row, 1), Integer(row, 2, 0), Text(row, 3), Text(row, 4)};
        customActions_[action.action] = action;
    }
    for (const msi::Record& row : Rows(session_, u"SELECT `Action` FROM `InstallExecuteSequence`")) {
        sequence_.push_back(Text(row, 1));
    }
    return true;
}

bool Installation::KnowsAction(const std::u16string& action) const {
    return customActions_.count(action) != 0 || StandardActions().count(action) != 0 ||
           std::find(sequence_.begin(), sequence_.end(), action) != sequence_.end();
}

std::u16string Installation::Format(const std::u16string& text) const {
    return platform::posix::FormatRecordText(session_, {text});
}

bool Installation::IsHidden(const std::u16string& property) const {
    for (const std::u16string& name : platform::posix::SplitList(session_.GetProperty(u"MsiHiddenProperties"), u';')) {
        if (name == property) return true;
    }
    return false;
}

std::u16string Installation::Shown(const std::u16string& property, const std::u16string& value) const {
    return IsHidden(property) ? std::u16string(kHiddenValue) : value;
}

void Installation::StartSession() {
    std::set<std::u16string> given;
    for (const auto& property : options_.properties) given.insert(property.first);
    const auto setDefault = [&](const std::u16string& name, const std::u16string& value) {
        if (given.count(name) == 0) session_.SetProperty(name, value);
    };

    const bool perMachine = !session_.GetProperty(u"ALLUSERS").empty();
    for (const auto& [name, value] : platform::posix::StandardProperties(UserName(), perMachine)) {
        // A package may choose its ROOTDRIVE; the system folders are the machine's.
        if (name == u"ROOTDRIVE" && !session_.GetProperty(name).empty()) continue;
        setDefault(name, value);
    }
    setDefault(u"UILevel", u"2");
    setDefault(u"UserSID", platform::GetProcessUserSid());
    char* absolute = ::realpath(options_.package.c_str(), nullptr);
    const std::u16string package = FromUtf8(absolute != nullptr ? absolute : options_.package);
    std::free(absolute);
    setDefault(u"OriginalDatabase", package);
    setDefault(u"DATABASE", package);
    if (session_.GetProperty(u"INSTALLLEVEL").empty()) session_.SetProperty(u"INSTALLLEVEL", u"1");
    if (!session_.GetProperty(u"DISABLEROLLBACK").empty()) session_.SetProperty(u"RollbackDisabled", u"1");

    isInstalled_ = store_.Find(session_.GetProperty(u"ProductCode"), &installed_);
    if (isInstalled_) {
        setDefault(u"Installed", u"1");
        setDefault(u"ProductState", u"5");
    } else {
        setDefault(u"ProductState", u"-1");
    }
    if (options_.uninstall && session_.GetProperty(u"REMOVE").empty()) session_.SetProperty(u"REMOVE", u"ALL");
    for (const char16_t* name : {u"ADDLOCAL", u"REMOVE", u"ADDSOURCE", u"ADDDEFAULT", u"REINSTALL", u"ADVERTISE"}) {
        if (!session_.GetProperty(name).empty()) session_.SetProperty(u"Preselected", u"1");
    }
}

std::uint32_t Installation::Run() {
    log_.Line(u"=== Verbose logging started: " + InstallLog::DateAndClock() +
              u"  Build type: trellis-host  Calling process: trellis-host ===");
    std::u16string commandLine;
    for (const auto& [name, value] : options_.properties) {
        commandLine += (commandLine.empty() ? u"" : u" ") + name + u"=\"" + Shown(name, value) + u"\"";
    }
    log_.Engine(u"******* RunEngine:\n           ******* Product: " + FromUtf8(options_.package) +
                u"\n           ******* Action: \n           ******* CommandLine: " + commandLine);
    log_.Engine(u"Sandbox root: " + FromUtf8(options_.root) + u" (drive C: is " + FromUtf8(options_.root) +
                u"/C); custom-action library: " + FromUtf8(libraryPath_));
    StartSession();
    log_.Engine(isInstalled_ ? u"Product " + session_.GetProperty(u"ProductCode") + u" is installed"
                             : u"Product " + session_.GetProperty(u"ProductCode") + u" is not installed");
    if (options_.uninstall && !isInstalled_) {
        log_.Engine(u"Error 1605. This action is only valid for products that are currently installed.");
        LogEnd(kErrorUnknownProduct);
        return kErrorUnknownProduct;
    }
    const std::uint32_t result = RunSequence();
    LogEnd(result);
    return result;
}

std::uint32_t Installation::RunSequence() {
    struct Row {
        std::u16string action;
        std::u16string condition;
        int sequence;
    };
    std::vector<Row> rows;
    for (const msi::Record& record : Rows(
             session_, u"SELECT `Action`, `Condition`, `Sequence` FROM `InstallExecuteSequence` ORDER BY `Sequence`")) {
        rows.push_back({Text(record, 1), Text(record, 2), Integer(record, 3, 0)});
    }
    // Whether a row's condition lets it run; an error ends the installation.
    const auto admitted = [&](const Row& row, bool* error) {
        *error = false;
        if (row.condition.empty()) return true;
        const int result = platform::MsiEvaluateConditionW(session_.Handle(), row.condition.c_str());
        if (result == platform::kMsiConditionFalse) {
            log_.Engine(u"Skipping action: " + row.action + u" (condition is false)");
            return false;
        }
        if (result == platform::kMsiConditionError) {
            log_.Engine(u"Error: the condition of action " + row.action + u" cannot be evaluated: " + row.condition);
            *error = true;
            return false;
        }
        return true;
    };

    log_.ActionStart(u"INSTALL");
    std::uint32_t result = platform::kErrorSuccess;
    for (const Row& row : rows) {
        if (row.sequence <= 0) continue;
        bool error = false;
        if (!admitted(row, &error)) {
            if (!error) continue;
            result = platform::kErrorInstallFailure;
            break;
        }
        const std::uint32_t rc = RunAction(row.action, false);
        if (IsFailure(rc)) {
            result = rc;
            break;
        }
        if (rc == platform::kErrorNoMoreItems) {
            log_.Engine(u"Skipping the remaining actions: " + row.action + u" asked for it");
            break;
        }
    }
    // The script runs at the end of the sequence even without InstallFinalize.
    if (result == platform::kErrorSuccess && scriptOpen_) result = FinishScript();
    if (result != platform::kErrorSuccess) Rollback();

    // The rows numbered -1, -2 and -3 run at the end of a successful, a
    // cancelled and a failed installation.
    const int terminal = result == platform::kErrorSuccess        ? -1
                         : result == platform::kErrorInstallUserExit ? -2
                                                                     : -3;
    for (const Row& row : rows) {
        bool error = false;
        if (row.sequence == terminal && admitted(row, &error)) RunAction(row.action, false);
    }
    log_.ActionEnded(u"INSTALL", result);
    return result;
}

std::uint32_t Installation::RunAction(const std::u16string& action, bool fromCustomAction) {
    log_.Engine(u"Doing action: " + action);
    log_.ActionStart(action);
    Running running(this, action);

    const auto custom = customActions_.find(action);
    const bool deferred = custom != customActions_.end() && (custom->second.type & kTypeInScript) != 0;
    std::uint32_t rc = platform::kErrorSuccess;
    // A deferred action met in the sequence fails where it runs, in the script.
    if (action == options_.failAt && (fromCustomAction || !deferred)) {
        log_.Engine(u"Action " + action + u" fails: --fail-at names it");
        rc = platform::kErrorInstallFailure;
    } else if (custom != customActions_.end()) {
        rc = deferred ? ScheduleAction(custom->second) : Execute(custom->second);
    } else if (StandardActions().count(action) != 0) {
        rc = RunStandardAction(action);
    } else {
        log_.Engine(u"Action not found: " + action);
        rc = platform::kErrorFunctionNotCalled;
    }
    // A deferred action met here was only scheduled; it fails after it ran in the script.
    if (rc == platform::kErrorSuccess && action == options_.failAfter && !deferred) {
        log_.Engine(u"Action " + action + u" ran and now fails: --fail-after names it");
        rc = platform::kErrorInstallFailure;
    }
    log_.ActionEnded(action, rc);
    return rc;
}

std::uint32_t Installation::DoActionHook(const std::u16string& action) {
    if (inScript_) {
        log_.Engine(u"MsiDoAction(" + action + u") is not available to deferred, rollback and commit actions");
        return platform::kErrorInvalidHandleState;
    }
    const std::uint32_t rc = RunAction(action, true);
    return rc == platform::kErrorNoMoreItems ? platform::kErrorSuccess : rc;
}

std::uint32_t Installation::RunStandardAction(const std::u16string& action) {
    if (action == u"CostInitialize") {
        tables_ = platform::posix::ReadPackageTables(session_);
        tablesRead_ = true;
    } else if (action == u"CostFinalize") {
        Cost();
    } else if (action == u"InstallInitialize") {
        scriptOpen_ = true;
        script_.clear();
        executed_ = 0;
    } else if (action == u"CreateFolders" || action == u"InstallFiles") {
        ScheduleFolders();
    } else if (action == u"InstallExecute" || action == u"InstallExecuteAgain") {
        if (scriptOpen_) return ExecuteScript();
    } else if (action == u"InstallFinalize") {
        return FinishScript();
    } else if (action == u"FindRelatedProducts") {
        FindRelatedProducts();
    } else if (action == u"RemoveExistingProducts") {
        return RemoveExistingProducts();
    } else if (action == u"DisableRollback") {
        session_.SetProperty(u"RollbackDisabled", u"1");
    } else {
        log_.Engine(action + u": nothing to do on Linux (files, registry and the like are not installed)");
    }
    return platform::kErrorSuccess;
}

std::uint32_t Installation::ScheduleAction(const CustomActionRow& row) {
    if (!scriptOpen_) {
        log_.Engine(u"Error 2762. Cannot schedule " + row.action +
                    u": deferred actions belong between InstallInitialize and InstallFinalize.");
        return platform::kErrorInstallFailure;
    }
    ScriptOp op{row, session_.GetProperty(row.action), {}};
    op.hideData = (row.type & kTypeHideTarget) != 0 || IsHidden(row.action);
    // The data may run to megabytes: its log line is built only for a log.
    if (log_.Enabled()) {
        const Script script = ScriptOf(row.type);
        const char16_t* kind =
            script == Script::Rollback ? u"rollback" : script == Script::Commit ? u"commit" : u"deferred";
        log_.Engine(u"Scheduling " + std::u16string(kind) + u" action " + row.action + u" with CustomActionData " +
                    (op.hideData ? std::u16string(kHiddenValue) : op.data));
    }
    script_.push_back(std::move(op));
    return platform::kErrorSuccess;
}

std::uint32_t Installation::Execute(const CustomActionRow& row) {
    std::uint32_t rc = platform::kErrorSuccess;
    switch (row.type & kTypeBaseMask) {
    case kTypeDllBinary:
    case kTypeDllFile:
        rc = CallEntryPoint(row);
        break;
    case kTypeSetProperty: {
        const std::u16string value = Format(row.target);
        log_.Engine(u"PROPERTY CHANGE: Setting " + row.source + u" property. Its value is '" +
                    Shown(row.source, value) + u"'.");
        session_.SetProperty(row.source, value);
        break;
    }
    case kTypeSetDirectory: {
        const std::u16string value = platform::posix::WithBackslash(Format(row.target));
        log_.Engine(u"Directory " + row.source + u" set to '" + value + u"'");
        fixedDirectories_[row.source] = value;
        session_.SetProperty(row.source, value);
        if (costed_) ResolveAndApplyDirectories();
        break;
    }
    case kTypeError:
        log_.Engine(u"Error: " + Format(row.target));
        rc = platform::kErrorInstallFailure;
        break;
    default:
        log_.Engine(u"Custom action " + row.action + u" has type " + Number(row.type) +
                    u", which trellis-host does not run; it counts as succeeded");
        break;
    }
    switch (rc) {
    case platform::kErrorSuccess:
    case platform::kErrorNoMoreItems:
    case platform::kErrorFunctionNotCalled:
        return rc;
    default:
        log_.Engine(u"Custom action " + row.action + u" returned error code " + Number(rc));
        if ((row.type & kTypeContinue) != 0) {
            log_.Engine(u"The type of " + row.action + u" says to ignore its result");
            return platform::kErrorSuccess;
        }
        // Any result but the documented ones is a failure.
        return rc == platform::kErrorInstallUserExit ? rc : platform::kErrorInstallFailure;
    }
}

// The library for a custom action's Binary row, loaded once per path.
void* Installation::LoadLibraryFor(const std::u16string& source, std::string* path) {
    const auto mapped = options_.binaryLibraries.find(source);
    *path = mapped != options_.binaryLibraries.end() ? mapped->second : libraryPath_;
    const auto loaded = libraries_.find(*path);
    if (loaded != libraries_.end()) return loaded->second;
    void* library = ::dlopen(path->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        log_.Engine(u"Cannot load " + FromUtf8(*path) + u": " + FromUtf8(reason != nullptr ? reason : ""));
    }
    libraries_[*path] = library;
    return library;
}

std::uint32_t Installation::CallEntryPoint(const CustomActionRow& row) {
    std::string path;
    void* library = LoadLibraryFor(row.source, &path);
    const std::u16string where = u" (action " + row.action + u", entry point " + row.target + u", library " +
                                 FromUtf8(path) + u")";
    if (library == nullptr) {
        log_.Engine(u"Error 1723. A DLL required for this install to complete could not be run." + where);
        return platform::kErrorInstallFailure;
    }
    void* symbol = ::dlsym(library, ToUtf8(row.target).c_str());
    if (symbol == nullptr) {
        log_.Engine(u"Error 1723. The library has no such entry point." + where);
        return platform::kErrorInstallFailure;
    }
    log_.Engine(u"Invoking custom action " + row.action + u": entry point " + row.target);
    using EntryPoint = std::uint32_t (*)(std::uint32_t);
    return reinterpret_cast<EntryPoint>(symbol)(session_.Handle());
}

void Installation::LogEnd(std::uint32_t result) {
    const std::u16string name = session_.GetProperty(u"ProductName");
    const bool removal = session_.GetProperty(u"REMOVE") == u"ALL";
    const std::u16string what = removal ? u"Removal" : u"Installation";
    log_.Engine(u"Product: " + name + u" -- " + what +
                (result == platform::kErrorSuccess ? u" completed successfully." : u" failed."));
    log_.Engine(std::u16string(u"Windows Installer ") + (removal ? u"removed" : u"installed") +
                u" the product. Product Name: " + name + u". Product Version: " +
                session_.GetProperty(u"ProductVersion") + u". Product Language: " +
                session_.GetProperty(u"ProductLanguage") + u". Manufacturer: " +
                session_.GetProperty(u"Manufacturer") + u". " + what + u" success or error status: " +
                Number(result) + u".");
    for (const auto& [property, value] : session_.Properties()) {
        log_.Line(u"Property(S): " + property + u" = " + Shown(property, value));
    }
    log_.Engine(u"MainEngineThread is returning " + Number(result));
    log_.Line(u"=== Verbose logging stopped: " + InstallLog::DateAndClock() + u" ===");
}

}  // namespace host
