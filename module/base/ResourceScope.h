// Makes the resource module current for the scope's lifetime: pushes its handle on
// the host's resource stack on entry and pops it on every way out. Scopes nest.
#pragma once

#include "host/AcApDocManager.h"
#include "module/base/ExtensionModule.h"

namespace tabro {

class ResourceScope {
public:
    ResourceScope() { acDocManager->pushResourceHandle(extensionModuleState().resourceHandle); }
    ~ResourceScope() { acDocManager->popResourceHandle(); }
    ResourceScope(const ResourceScope&) = delete;
    ResourceScope& operator=(const ResourceScope&) = delete;
};

}  // namespace tabro
