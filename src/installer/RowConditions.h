// Whether a table row applies to the running installation: its condition
// column and its component's states, both evaluated by Windows Installer.
#pragma once

#include "installer/MsiTableReader.h"
#include "installer/MsiText.h"

// Gets the last word on the component test of a row (the merge-module filter
// is one). Receives the result Windows Installer gave and returns the one to
// use: 1 (MSICONDITION_TRUE) keeps the row.
class ConditionEvaluator {
public:
    virtual ~ConditionEvaluator() = default;
    virtual int Evaluate(const WideString& table, InstallerHandle install, const TableRecord& row, int result) = 0;
};

enum class RowMode { Install, Uninstall };

// The columns of a table that decide whether a row is kept; null for none.
struct RowConditionColumns {
    const char16_t* installCondition = nullptr;
    const char16_t* uninstallCondition = nullptr;
    const char16_t* component = nullptr;
};

// The condition text that tests a component's transition: in install mode
// absent -> local or unchanged, in uninstall mode local -> absent.
WideString ComponentConditionText(const WideString& component, RowMode mode);

// Evaluates the row's condition column, then its component condition (with
// the evaluator's last word); logs why a row is skipped.
bool RowPassesConditions(InstallerHandle install, const WideString& table, const RowConditionColumns& columns,
                         const TableRecord& row, RowMode mode, ConditionEvaluator* evaluator);
