// The exported custom-action entry points: thin wrappers, so that the
// engine's own functions stay callable from tests.
#include "installer/EntryPoints.h"

#include "installer/DeferredActions.h"
#include "installer/ImmediateActions.h"
#include "installer/LocatorAction.h"

TRELLIS_ENTRY OnXmlInstall(std::uint32_t install) { return RunXmlInstall(install); }

TRELLIS_ENTRY OnXmlUninstall(std::uint32_t install) { return RunXmlUninstall(install); }

TRELLIS_ENTRY TestXmlUpdateDataReader(std::uint32_t install) { return RunTestXmlUpdateDataReader(install); }

TRELLIS_ENTRY OnXmlConfig(std::uint32_t install) { return RunXmlConfig(install); }

TRELLIS_ENTRY OnXmlRemove(std::uint32_t install) { return RunXmlRemove(install); }

TRELLIS_ENTRY OnXmlRollback(std::uint32_t install) { return RunXmlRollback(install); }

TRELLIS_ENTRY OnXmlCommit(std::uint32_t install) { return RunXmlCommit(install); }

TRELLIS_ENTRY OnXmlLocator(std::uint32_t install) { return RunXmlLocator(install); }
