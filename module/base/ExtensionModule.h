// The framework extension state: where every resource scope finds the resource
// module. Set when the system maps the module, cleared when it is unmapped.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>

namespace tabro {

// Cleared before anything else runs.
struct ExtensionModuleState {
    std::uint32_t initialised = 0;       // set once the extension state is attached
    HINSTANCE resourceHandle = nullptr;  // what every resource scope pushes
};
ExtensionModuleState& extensionModuleState();

}  // namespace tabro
