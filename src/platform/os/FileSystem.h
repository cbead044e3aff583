// Path and file helpers shared by the file transactions, the permission
// rules and the locators. Backslash is the only separator these know.
#pragma once

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

// Never throw; a failure is logged with the system's text and gives false.
bool DeleteFileLogged(const WideString& path);
bool DeleteDirectoryLogged(const WideString& path);
// Deletes a folder with everything below it (reparse points are removed,
// not entered).
bool DeleteDirectoryTree(const WideString& path);
// Deletes every file in the folder that the "*" pattern of the last part
// matches; subfolders are left.
bool DeleteMatchingFiles(const WideString& pattern);

// The temporary folder, without a trailing backslash, computed once per
// process. LocalSystem gets a folder that only it and Administrators reach.
const WideString& GetSecureTempFolder();
// The same folder, computed afresh (GetSecureTempFolder caches this).
WideString ComputeSecureTempFolder();
// A new, empty, uniquely named file in the secure temporary folder; "" on failure.
WideString CreateTempFile();

bool ReadWholeFile(const WideString& path, std::string* bytes);
bool WriteWholeFile(const WideString& path, const std::string& bytes);
