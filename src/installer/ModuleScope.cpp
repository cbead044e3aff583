#include "installer/ModuleScope.h"

#include "installer/Logger.h"
#include "platform/Msi.h"
#include "platform/System.h"

namespace {

constexpr std::size_t kModuleIdLength = 36;

}  // namespace

bool IsValidModuleId(const WideString& text) {
    if (text.size() != kModuleIdLength) return false;
    WideString braced = u"{" + text + u"}";
    for (char16_t& c : braced)
        if (c == u'_') c = u'-';
    platform::Guid guid;
    return platform::CLSIDFromString(braced, &guid);
}

ModuleIdScope::ModuleIdScope(InstallerHandle install) : install_(install) {
    moduleId_ = GetInstallerProperty(install, u"CustomActionData");
    // A property set by a type 51 action stays set for the whole session:
    // cleared, it cannot hand this module's id to a later action of the
    // main package (or of another module) that reads it too.
    platform::MsiSetPropertyW(install_, u"CustomActionData", u"");
    // A package may keep whatever it hands over here out of the log.
    const bool hidden =
        platform::MsiEvaluateConditionW(install_, u"QmHideCustomActionData") == platform::kMsiConditionTrue;
    const WideString shown = hidden && !moduleId_.empty() ? WideString(kHiddenValueMask) : moduleId_;
    LogIfEnabled(u"CustomActionData = [" + shown + u"]");
    if (!moduleId_.empty() && !IsValidModuleId(moduleId_)) {
        LogIfEnabled(u"Ignoring invalid MSM ModuleID = [" + shown + u"]");
        moduleId_.clear();
    }
    LogIfEnabled(u"Using MSM ModuleID = [" + moduleId_ + u"]");
    platform::MsiSetPropertyW(install_, u"QM_CA_MODULE_ID", moduleId_.c_str());
}

ModuleIdScope::~ModuleIdScope() { platform::MsiSetPropertyW(install_, u"QM_CA_MODULE_ID", u""); }

WideString ModuleIdScope::Decorate(const WideString& baseName) const {
    if (baseName.empty() || moduleId_.empty() || strings::EndsWith(baseName, moduleId_)) return baseName;
    return baseName + u"." + moduleId_;
}

bool ModuleIdScope::BelongsToOtherModule(const WideString& fileKey) const {
    if (!moduleId_.empty()) {
        if (strings::EndsWith(fileKey, moduleId_)) return false;
        LogIfEnabled(u"Skipping ROW: [" + fileKey + u"] because it doesn't belong to the current Module[" + moduleId_ +
                u"]");
        return true;
    }
    if (fileKey.size() < kModuleIdLength + 2) return false;
    const std::size_t dot = fileKey.rfind(u'.');
    if (dot == WideString::npos || !IsValidModuleId(fileKey.substr(dot + 1))) return false;
    LogIfEnabled(u"Skipping ROW: [" + fileKey + u"] because it doesn't belong to the main MSI.");
    return true;
}

int ModuleConditionEvaluator::Evaluate(const WideString& table, InstallerHandle, const TableRecord& row,
                                       int result) {
    if (table != u"QM_XmlFile" || result != platform::kMsiConditionTrue) return result;
    const WideString& key = row.Get(u"XmlFile");
    LogIfEnabled(u"Evaluating XML file: [" + key + u"] for processing...");
    return scope_.BelongsToOtherModule(key) ? platform::kMsiConditionFalse : platform::kMsiConditionTrue;
}
