// What the module sets up when the system maps it and takes down when it is
// unmapped: the resource module first of all, the framework extension state and the
// automation server.
#pragma once

#include "module/base/ExtensionModule.h"
#include "platform/WinTypes.h"

namespace tabro {

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
