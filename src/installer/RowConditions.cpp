#include "installer/RowConditions.h"

#include "installer/Logger.h"
#include "platform/Msi.h"

WideString ComponentConditionText(const WideString& component, RowMode mode) {
    const WideString& k = component;
    if (mode == RowMode::Install)
        return u"((?" + k + u"=2) AND ($" + k + u"=3))" + u" OR " + u"(?" + k + u" = $" + k + u")";
    return u"((?" + k + u"=3) AND ($" + k + u"=2))";
}

bool RowPassesConditions(InstallerHandle install, const WideString& table, const RowConditionColumns& columns,
                         const TableRecord& row, RowMode mode, ConditionEvaluator* evaluator) {
    const char16_t* conditionColumn =
        mode == RowMode::Install ? columns.installCondition : columns.uninstallCondition;
    if (conditionColumn != nullptr) {
        const WideString& condition = row.Get(conditionColumn);
        // An empty condition is MSICONDITION_NONE, which does not keep the row.
        if (platform::MsiEvaluateConditionW(install, condition.c_str()) != platform::kMsiConditionTrue) {
            LogIfEnabled(u"Evaluate Condition: [" + condition + u"] = FALSE. Skipping row...");
            return false;
        }
    }
    if (columns.component != nullptr) {
        const WideString condition = ComponentConditionText(row.Get(columns.component), mode);
        int result = platform::MsiEvaluateConditionW(install, condition.c_str());
        if (evaluator != nullptr) {
            LogIfEnabled(u"Using custom evaluator for condition: [" + condition + u"]...");
            result = evaluator->Evaluate(table, install, row, result);
        }
        if (result != platform::kMsiConditionTrue) {
            LogIfEnabled(u"Component Condition: [" + condition + u"] was evaluated to FALSE. Skipping row...");
            return false;
        }
    }
    return true;
}
