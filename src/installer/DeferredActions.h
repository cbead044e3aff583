// The actions of the installation script: the deferred install and
// uninstall actions, the rollback action and the commit action. Each
// rebuilds the planned XML changes from its CustomActionData and runs one
// operation over them.
#pragma once

#include <cstdint>

#include "installer/MsiText.h"

// The result of the install run: 0, or 1603 so that the installer rolls back.
std::uint32_t RunXmlConfig(InstallerHandle install);
// These three never stop an uninstallation, a rollback or a commit: always 0.
std::uint32_t RunXmlRemove(InstallerHandle install);
std::uint32_t RunXmlRollback(InstallerHandle install);
std::uint32_t RunXmlCommit(InstallerHandle install);
