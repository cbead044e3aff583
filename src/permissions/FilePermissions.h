// The permission rules of one planned XML file, applied after the file was
// written.
#pragma once

#include "custact/XML/src/xml/XmlManager.h"

// True when the file has no rules, or when they were applied or skipped.
bool ApplyFilePermissions(const XmlManager& manager, const XmlFileRecord& file);
