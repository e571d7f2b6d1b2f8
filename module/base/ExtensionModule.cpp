#include "module/base/ExtensionModule.h"

namespace tabro {

ExtensionModuleState& extensionModuleState() {
    static ExtensionModuleState state{};
    return state;
}

}  // namespace tabro
