// The immediate action that runs the XML locators of the package (or of the
// merge module whose id it is handed) and sets their properties.
#pragma once

#include <cstdint>

#include "installer/MsiText.h"

// Always 0: a file that cannot be searched never stops an installation.
std::uint32_t RunXmlLocator(InstallerHandle install);
