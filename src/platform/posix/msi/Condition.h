// The Windows Installer condition language of MsiEvaluateConditionW.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/msi/InstallerContext.h"

namespace platform::posix {

// kMsiConditionTrue or kMsiConditionFalse; kMsiConditionNone for a text of
// nothing but spaces, kMsiConditionError when it does not parse.
//
// Operands are properties (unset reads as empty), "literals", integers,
// %ENVIRONMENT variables and the states ?Component (installed), $Component
// (action), !Feature (installed) and &Feature (action). Binding from the
// tightest: comparisons (= <> < > <= >=, substrings >< << >>, each with an
// optional ~ for case-insensitive text), NOT, AND, OR, XOR, EQV, IMP.
int EvaluateConditionText(const InstallerContext& context, std::u16string_view condition);

}  // namespace platform::posix
