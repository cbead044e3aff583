// Windows Installer formatted text, as MsiFormatRecordW expands it.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/msi/InstallerContext.h"

namespace platform::posix {

// The text of a record: fields[0] is the template, fields[1..n] the values
// (a null field is empty). An empty template stands for "1: [1] 2: [2] ...".
//
// With a context: [n] is field n, whose value is expanded again without
// fields; [Name] a property, [%NAME] an environment variable, [#File] and
// [!File] a file's long and short path, [$Component] its directory, [\x] the
// character x, [~] a NUL. Brackets resolve from the inside out, so [[Name]]
// reads the property named by Name's value. {text} keeps its braces unless
// it holds a property or field reference: then the braces go when all of
// them are set and the whole group goes when one is not. {{text}} (text for
// the log only) is left out. Brackets and braces without a partner stay.
//
// Without a context (no installer handle) only [n] is substituted and
// everything else in brackets stays as it is.
std::u16string FormatRecordFields(const InstallerContext* context, const std::vector<std::u16string>& fields);

}  // namespace platform::posix
