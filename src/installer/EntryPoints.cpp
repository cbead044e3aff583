// The exported custom-action entry points: thin wrappers, so that the
// engine's own functions stay callable from tests.
//
// Nothing may cross the C boundary: every entry point runs behind a last
// resort that catches what got past the action's own handling (an exception
// thrown while an error was being logged or reported, std::bad_alloc, ...).
// The action then ends with the result its own failures give: 1603 for the
// two immediate actions and the installation, 0 for the others.
#include "installer/EntryPoints.h"

#include "installer/DeferredActions.h"
#include "installer/Exception.h"
#include "installer/ImmediateActions.h"
#include "installer/LocatorAction.h"
#include "platform/Msi.h"

namespace {

using Run = std::uint32_t (*)(InstallerHandle);

// Tells the installer what happened, if that still works. Called inside
// the catch block.
void ReportEscaped(std::uint32_t install) noexcept {
    try {
        Exception(TRELLIS_HERE, u"Unexpected failure: " + DescribeCurrentException()).SendToInstaller(install);
    } catch (...) {
        // Not even that: the result alone has to say it.
    }
}

std::uint32_t Guarded(std::uint32_t install, Run run, std::uint32_t onFailure) noexcept {
    try {
        return run(install);
    } catch (...) {
        ReportEscaped(install);
        return onFailure;
    }
}

constexpr std::uint32_t kFails = platform::kErrorInstallFailure;
constexpr std::uint32_t kGoesOn = platform::kErrorSuccess;

}  // namespace

TRELLIS_ENTRY OnXmlInstall(std::uint32_t install) { return Guarded(install, RunXmlInstall, kFails); }

TRELLIS_ENTRY OnXmlUninstall(std::uint32_t install) { return Guarded(install, RunXmlUninstall, kFails); }

TRELLIS_ENTRY TestXmlUpdateDataReader(std::uint32_t install) {
    return Guarded(install, RunTestXmlUpdateDataReader, kGoesOn);
}

TRELLIS_ENTRY OnXmlConfig(std::uint32_t install) { return Guarded(install, RunXmlConfig, kFails); }

TRELLIS_ENTRY OnXmlRemove(std::uint32_t install) { return Guarded(install, RunXmlRemove, kGoesOn); }

TRELLIS_ENTRY OnXmlRollback(std::uint32_t install) { return Guarded(install, RunXmlRollback, kGoesOn); }

TRELLIS_ENTRY OnXmlCommit(std::uint32_t install) { return Guarded(install, RunXmlCommit, kGoesOn); }

TRELLIS_ENTRY OnXmlLocator(std::uint32_t install) { return Guarded(install, RunXmlLocator, kGoesOn); }
