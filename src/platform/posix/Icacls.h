// The POSIX backend's stand-in for the Windows tool icacls, run in-process
// when the process "icacls" is started. It knows the three commands this
// library gives, over the entries of the access-rule store (AccessRules.h):
//
//   "<file>" /save "<list file>" [/C] [/Q] [/L]
//   "<folder>" /restore "<list file>" [/C] [/Q] [/L]
//   "<file>" /reset [/C] [/Q] [/L]
//
// The list file is what icacls writes: UTF-16LE without byte order mark, per
// file a line with its name and a line with its access list. /restore reads
// it back in UTF-16LE (with or without the mark) or UTF-8, and applies each
// list to the named file inside the folder.
//
// Exit codes follow icacls: 0 when every file was processed; otherwise the
// Windows error code of the last failure (2 for a missing file, 1336 for a
// list it cannot read). Without /C the first failure ends the run; with it
// the run goes on. A command line it does not understand gives 87.
#pragma once

#include <cstdint>
#include <string>

namespace platform::posix {

std::uint32_t RunIcaclsStandIn(const std::u16string& parameters);

}  // namespace platform::posix
