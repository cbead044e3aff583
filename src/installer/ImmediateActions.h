// The immediate actions that read the XML tables and schedule the deferred,
// rollback and commit actions with the rows that apply.
#pragma once

#include <cstdint>

#include "installer/MsiText.h"

std::uint32_t RunXmlInstall(InstallerHandle install);
std::uint32_t RunXmlUninstall(InstallerHandle install);
std::uint32_t RunTestXmlUpdateDataReader(InstallerHandle install);

// Sets the property named like the action to the data, adds the action to
// the script and clears the property again; false at the first call that fails.
bool ScheduleAction(InstallerHandle install, const WideString& action, const WideString& data);
