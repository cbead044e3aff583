// CostFinalize: where the directories go and which features and components
// the run installs or removes, worked out by the installer stand-in's
// package model and handed to the session; the log shows both.
#include <cstdlib>

#include "HostSupport.h"
#include "Installation.h"
#include "platform/Msi.h"
#include "platform/Strings.h"

namespace host {

namespace {

std::u16string StateName(int state) {
    switch (state) {
    case platform::posix::kInstallStateAbsent: return u"Absent";
    case platform::posix::kInstallStateLocal: return u"Local";
    case platform::posix::kInstallStateSource: return u"Source";
    case platform::posix::kInstallStateAdvertised: return u"Advertise";
    default: return u"Null";
    }
}

}  // namespace

void Installation::Cost() {
    if (!tablesRead_) {
        tables_ = platform::posix::ReadPackageTables(session_);
        tablesRead_ = true;
    }
    // Directories already given a place keep it; the rest are worked out.
    fixedDirectories_.clear();
    for (const platform::posix::DirectoryRow& row : tables_.directories) {
        const std::u16string value = session_.GetProperty(row.directory);
        if (!value.empty()) fixedDirectories_[row.directory] = value;
    }
    ResolveAndApplyDirectories();

    platform::posix::SelectionRequest request;
    request.installLevel = std::atoi(strings::ToUtf8(session_.GetProperty(u"INSTALLLEVEL")).c_str());
    request.addLocal = session_.GetProperty(u"ADDLOCAL");
    for (const char16_t* alsoLocal : {u"ADDSOURCE", u"ADDDEFAULT"}) {
        const std::u16string more = session_.GetProperty(alsoLocal);
        if (!more.empty()) request.addLocal += (request.addLocal.empty() ? u"" : u",") + more;
    }
    request.remove = session_.GetProperty(u"REMOVE");
    request.reinstall = session_.GetProperty(u"REINSTALL");
    if (!request.reinstall.empty()) {
        const std::u16string mode = session_.GetProperty(u"REINSTALLMODE");
        log_.Engine(u"REINSTALL=" + request.reinstall + u" REINSTALLMODE=" + (mode.empty() ? u"(omus)" : mode) +
                    u": the installed features named are installed again; the mode only says which files and "
                    u"registry entries are written again, and trellis-host writes none");
    }
    if (isInstalled_) {
        request.installedFeatures.insert(installed_.features.begin(), installed_.features.end());
        request.installedComponents.insert(installed_.components.begin(), installed_.components.end());
    }
    selection_ = platform::posix::SelectFeatures(tables_, request, [this](const std::u16string& condition) {
        return platform::MsiEvaluateConditionW(session_.Handle(), condition.c_str());
    });
    std::map<std::u16string, std::u16string> directories;
    for (const platform::posix::DirectoryRow& row : tables_.directories) {
        const std::u16string path = session_.GetProperty(row.directory);
        if (!path.empty()) directories[row.directory] = path;
    }
    platform::posix::ApplyToSession(tables_, directories, selection_, &session_);
    for (const auto& [feature, state] : selection_.features) {
        const std::u16string action =
            selection_.reinstalled.count(feature) != 0 ? u"Reinstall" : StateName(state.action);
        log_.Engine(u"Feature: " + feature + u"; Installed: " + StateName(state.installed) + u"; Request: " + action +
                    u"; Action: " + action);
    }
    for (const auto& [component, state] : selection_.components) {
        log_.Engine(u"Component: " + component + u"; Installed: " + StateName(state.installed) + u"; Request: " +
                    StateName(state.action) + u"; Action: " + StateName(state.action));
    }
    costed_ = true;
}

void Installation::ResolveAndApplyDirectories() {
    std::vector<std::u16string> problems;
    const auto directories = platform::posix::ResolveDirectories(
        tables_.directories,
        [this](const std::u16string& name) {
            if (name == u"ROOTDRIVE") return session_.GetProperty(name);
            const auto it = fixedDirectories_.find(name);
            return it == fixedDirectories_.end() ? std::u16string() : it->second;
        },
        &problems);
    for (const std::u16string& problem : problems) log_.Engine(u"Error: " + problem);
    for (const auto& [directory, path] : directories) {
        session_.SetProperty(directory, path);
        log_.Engine(u"Dir (target): Key: " + directory + u"\t, Object: " + path);
    }
    if (costed_) platform::posix::ApplyToSession(tables_, directories, selection_, &session_);
}

}  // namespace host
