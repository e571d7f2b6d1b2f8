// The module's own resource table: "TYPELIB" 1 and "REGISTRY" 1016. The module
// exports it under the resource module's entry name, so the system finds them in
// the module as it would in any library.
#pragma once

#include "platform/Resources.h"

namespace tabro {

const ResourceTable* comServerResources();

}  // namespace tabro
