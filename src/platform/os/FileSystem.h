// Path and file helpers shared by the file transactions, the permission
// rules and the locators. Backslash is the only separator these know.
#pragma once

#include <cstdint>
#include <string>

#include "installer/WideString.h"

// The "\\?\" or "\\?\UNC\" form for paths of 248 characters or more.
WideString ToLongPath(const WideString& path);
WideString StripLongPathPrefix(const WideString& path);
// Drops trailing backslashes and collapses runs of them; a UNC path keeps
// its leading pair.
WideString NormalizeBackslashes(const WideString& path);
// The text before the last backslash ("" for "\x", "x" and "\\server").
WideString GetParentPath(const WideString& path);
// The text after the last backslash, else after the last ">", else all.
WideString GetFileNamePart(const WideString& path);
// Only rooted paths (a leading backslash or a ":") are looked up.
bool PathExists(const WideString& path);

// "<code>-<the system's text>", without the text's line end.
WideString SystemErrorText(std::uint32_t error);

// Never throw; a failure is logged with the system's text and gives false.
bool DeleteFileLogged(const WideString& path);
// Deletes a file this library made (a backup, a temporary file): a
// read-only attribute does not keep it, and a file that is gone already
// counts as deleted.
bool DeleteOwnFile(const WideString& path);
bool DeleteDirectoryLogged(const WideString& path);

// The temporary folder, without a trailing backslash, computed once per
// process. LocalSystem gets a folder that only it and Administrators reach.
const WideString& GetSecureTempFolder();
// The same folder, computed afresh (GetSecureTempFolder caches this).
WideString ComputeSecureTempFolder();
// A new, empty, uniquely named file in the secure temporary folder; "" on failure.
WideString CreateTempFile();

// Reads a regular file whole, never through a link at its last component
// (File::OpenRegularForRead); false with the last error set.
bool ReadWholeFile(const WideString& path, std::string* bytes);
// Creates or replaces the file in one step (AtomicFile.h).
bool WriteWholeFile(const WideString& path, const std::string& bytes);
