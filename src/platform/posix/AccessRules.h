// The access-rule store of the POSIX backend: per file or folder of the
// sandbox, the explicit entries of its access list, kept in one text file
// <root>/access-rules. Entries belong to the file, not to its name: each is
// stored with the file's inode and birth time, so a file that is deleted and
// made again under the same name starts with no entries, as on Windows.
//
// Entries are written in the access-list text that icacls uses in its list
// files: "D:AI(A;OICI;0x001200a9;;;S-1-1-0)(D;;0x00000002;;;S-1-5-32-545)".
#pragma once

#include <string>
#include <vector>

#include "platform/Security.h"

namespace platform::posix {

// False with the last error (file or path not found) when nothing exists there.
bool ReadAccessRules(const std::u16string& windowsPath, std::vector<AccessEntry>* entries);
bool WriteAccessRules(const std::u16string& windowsPath, const std::vector<AccessEntry>& entries);

// "D:AI" and the entries; allowed entries read back as kGrantAccess.
std::u16string FormatAccessList(const std::vector<AccessEntry>& entries);
// Reads what FormatAccessList writes (any list flags after "D:"); false for
// any other text.
bool ParseAccessList(const std::u16string& text, std::vector<AccessEntry>* entries);

// "S-1-" followed by the authority and up to 15 sub-authorities, in decimal;
// the "S" in either case, as ConvertStringSidToSidW accepts it.
bool IsValidSid(const std::u16string& sid);

}  // namespace platform::posix
