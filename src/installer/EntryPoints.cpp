// The exported custom-action entry points: thin wrappers, so that the
// engine's own functions stay callable from tests.
#include "installer/EntryPoints.h"

#include "installer/ImmediateActions.h"

TRELLIS_ENTRY OnXmlInstall(std::uint32_t install) { return RunXmlInstall(install); }

TRELLIS_ENTRY OnXmlUninstall(std::uint32_t install) { return RunXmlUninstall(install); }

TRELLIS_ENTRY TestXmlUpdateDataReader(std::uint32_t install) { return RunTestXmlUpdateDataReader(install); }
