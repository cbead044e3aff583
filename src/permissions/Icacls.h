// Saving, restoring and resetting access lists with the Windows tool
// icacls. Every path is passed in its long-path form and in double quotes,
// and every command ends with /C so that icacls goes on past a file it
// cannot process. Each operation is true exactly when icacls exits with 0.
#pragma once

#include "installer/WideString.h"

bool RunIcacls(const WideString& parameters);
// Writes the access list of the object into the list file.
bool SaveAclWithIcacls(const WideString& objectPath, const WideString& filePath);
// Applies the lists of the list file to the files it names inside the folder.
bool RestoreAclWithIcacls(const WideString& folderPath, const WideString& filePath);
// Replaces the object's access list by the one it inherits.
bool ResetFilePermissions(const WideString& objectPath);
