// Helpers for the tests of backups, the backup registry and permissions:
// CustomActionData texts from literal rows, the registry keys below
// HKEY_CURRENT_USER\Software\Norrvik, and whole files as bytes.
#pragma once

#include <string>
#include <vector>

#include "platform/Registry.h"

namespace test {

using ActionRow = std::vector<std::u16string>;
using ActionSection = std::vector<ActionRow>;

// The text the immediate actions write: sections in order, each row's
// fields escaped and terminated.
std::u16string ActionDataText(const std::vector<ActionSection>& sections);

// Deletes a registry key with everything below it.
void DeleteRegistryTree(platform::HKey parent, const std::u16string& name);
// Removes HKEY_CURRENT_USER\Software\Norrvik with everything below it, so
// that each test starts from and leaves an empty backup registry.
void DeleteNorrvikTree();
bool CurrentUserKeyExists(const std::u16string& subkey);
// The REG_SZ value, or "<absent>" when the key or the value is missing.
std::u16string CurrentUserValue(const std::u16string& subkey, const std::u16string& name);
void SetCurrentUserValue(const std::u16string& subkey, const std::u16string& name, const std::u16string& text);

std::string ReadBytes(const std::u16string& path);
void WriteBytes(const std::u16string& path, const std::string& bytes);
bool FileExists(const std::u16string& path);

}  // namespace test
