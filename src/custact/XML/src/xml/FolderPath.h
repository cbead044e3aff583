// Creating the folders of a file that is built from scratch.
#pragma once

#include "installer/WideString.h"

// Creates every missing folder on the way to the file (the file itself is
// not created). A walk that fails part-way removes again the folders that
// it created, so a failed build leaves no empty folders behind.
void CreateFolderPath(const WideString& filePath);
