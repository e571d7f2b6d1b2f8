// The module's own resource table: "TYPELIB" 1, "REGISTRY" 1016 and RT_VERSION 1. The module
// exports it under the resource module's entry name, so the system finds them in
// the module as it would in any library.
#pragma once

#include "platform/Resources.h"

namespace tabro {

const ResourceTable* comServerResources();

}  // namespace tabro
