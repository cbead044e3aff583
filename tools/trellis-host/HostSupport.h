// What the parts of trellis-host share: custom action types, reading the
// package's rows, and the texts a log line is made of.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace host {

namespace msi = platform::posix::msi;

// Custom action type bits.
constexpr int kTypeBaseMask = 0x3F;
constexpr int kTypeDllBinary = 1;
constexpr int kTypeDllFile = 17;
constexpr int kTypeError = 19;
constexpr int kTypeSetDirectory = 35;
constexpr int kTypeSetProperty = 51;
constexpr int kTypeContinue = 0x40;
constexpr int kTypeRollback = 0x100;
constexpr int kTypeCommit = 0x200;
constexpr int kTypeInScript = 0x400;
constexpr int kTypeHideTarget = 0x2000;

// What the log shows for a value it hides.
constexpr char16_t kHiddenValue[] = u"**********";

using msi::Integer;
using msi::Rows;
using msi::Text;

inline std::u16string Number(long value) { return strings::FromUtf8(std::to_string(value)); }

// Results that end an installation: a failure or a cancel.
inline bool IsFailure(std::uint32_t result) {
    return result == platform::kErrorInstallFailure || result == platform::kErrorInstallUserExit;
}

}  // namespace host
