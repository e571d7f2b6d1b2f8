// Loading texts from the resource module.
#include "module/ResourceStrings.h"

#include "module/ResourceScope.h"
#include "platform/Module.h"

namespace tabro {

std::string ResourceStrings::load(UINT id) {
    ResourceScope scope;
    HINSTANCE resources = acDocManager->curResourceHandle();
    if (!resources) return {};
    return platform::loadResourceString(resources, id).value_or(std::string());
}

ResourceStrings& resourceStrings() {
    static ResourceStrings strings;
    return strings;
}

}  // namespace tabro
