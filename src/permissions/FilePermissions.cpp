#include "permissions/FilePermissions.h"

bool ApplyFilePermissions(const XmlManager& manager, const XmlFileRecord& file) {
    const auto set = manager.permissions.find(&file);
    return set == manager.permissions.end() || ApplyPermissionRules(set->second) == 0;
}
