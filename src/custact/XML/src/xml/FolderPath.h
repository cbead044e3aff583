// Creating the folders of a file that is built from scratch.
#pragma once

#include <vector>

#include "installer/WideString.h"

// Creates every missing folder on the way to the file (the file itself is
// not created) and returns the folders it created, outermost first. A walk
// that fails part-way removes again the folders that it created, so a
// failed build leaves no empty folders behind.
std::vector<WideString> CreateFolderPath(const WideString& filePath);
// Removes the folders a walk created, deepest first, each only while empty.
void RemoveCreatedFolders(const std::vector<WideString>& folders);
