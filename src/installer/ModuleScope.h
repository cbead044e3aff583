// Merge modules: the id of the module whose immediate action is running,
// the action names scheduled for it, and the filter that keeps the file rows
// of other modules (or of the main package) out of its data.
#pragma once

#include "installer/MsiText.h"
#include "installer/RowConditions.h"

// 36 characters that read as a GUID once each "_" is "-".
bool IsValidModuleId(const WideString& text);

// Takes the module id from "CustomActionData", which it clears, and
// publishes it in "QM_CA_MODULE_ID" for its lifetime.
class ModuleIdScope {
public:
    explicit ModuleIdScope(InstallerHandle install);
    ~ModuleIdScope();
    ModuleIdScope(const ModuleIdScope&) = delete;
    ModuleIdScope& operator=(const ModuleIdScope&) = delete;

    const WideString& ModuleId() const { return moduleId_; }
    // "QM_XmlConfig" -> "QM_XmlConfig.<id>" inside a module.
    WideString Decorate(const WideString& baseName) const;
    bool BelongsToOtherModule(const WideString& fileKey) const;

private:
    InstallerHandle install_;
    WideString moduleId_;
};

class ModuleConditionEvaluator : public ConditionEvaluator {
public:
    explicit ModuleConditionEvaluator(InstallerHandle install) : scope_(install) {}
    int Evaluate(const WideString& table, InstallerHandle install, const TableRecord& row, int result) override;
    const ModuleIdScope& Scope() const { return scope_; }

private:
    ModuleIdScope scope_;
};
