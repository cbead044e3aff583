// The folder that stands for the Windows machine in the POSIX backend.
//
// Drive C: is <root>/C, \\server\share is <root>/UNC/server/share, and the
// registry stand-in lives in <root>/registry. The root is the last value given
// to SetSandboxRoot, else the environment variable TRELLIS_SANDBOX_ROOT, else
// "trellis-sandbox" under the system's temporary folder.
#pragma once

#include <string>

namespace platform::posix {

std::string SandboxRoot();
void SetSandboxRoot(const std::string& root);

// Maps a Windows path (drive, UNC, \\?\ and \\?\UNC\ forms) to its place under
// the root; a relative path stays relative, with "/" for "\". False for a path
// that cannot be mapped, such as one with a drive but no backslash ("C:x"),
// a device path ("\\.\x") or a name with characters Windows refuses.
// Names that exist on disk are found without regard to case, as on Windows
// (an exact match wins); "." and ".." are folded away; the root and the
// drive's folder are created when missing.
bool MapWindowsPath(const std::u16string& windowsPath, std::string* posixPath);

}  // namespace platform::posix
