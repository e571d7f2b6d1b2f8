// What the module sets up when the system maps it and takes down when it is
// unmapped: the resource module first of all, the framework extension state and the
// automation server.
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

// The file name of the resource module, looked for in the module's own folder.
inline constexpr const char* kResourceModuleName = "tabrores.so";

// The mapping sequence: records `self`, loads the resource module from the module's
// folder (FALSE at once when it cannot be loaded: the module must not start without
// its texts), attaches the extension state, initialises and registers the
// automation server (failures there are ignored). TRUE when the module may run.
BOOL mapModule(HINSTANCE self);
// The unmapping sequence: detaches the extension state, frees the resource module,
// terminates the automation server.
void unmapModule();

}  // namespace tabro
