// The module's mapping and unmapping sequences.
#include "module/ModuleState.h"

#include "module/LinkApp.h"
#include "module/link/ComServer.h"
#include "platform/Module.h"

#include <string>

namespace tabro {

BOOL mapModule(HINSTANCE self) {
    LinkApp& app = *linkApp();
    app.moduleHandle = self;
    const char* folder = app.moduleFolder();
    if (!folder) return 0;
    std::string path = std::string(folder) + "/" + kResourceModuleName;
    HMODULE resources = LoadLibraryA(path.c_str());
    if (!resources) return 0;
    app.resourceHandle = resources;
    ExtensionModuleState& state = extensionModuleState();
    if (!state.initialised) {
        // The framework's extension module amounts here to knowing where resources
        // come from; attaching cannot fail.
        state.initialised = 1;
        state.resourceHandle = resources;
    }
    initComModule(self);
    registerComServer(self);  // result deliberately ignored: the module runs without it
    return 1;
}

void unmapModule() {
    ExtensionModuleState& state = extensionModuleState();
    if (state.initialised) {
        state.initialised = 0;
        state.resourceHandle = nullptr;
    }
    LinkApp& app = *linkApp();
    if (app.resourceHandle) {
        FreeLibrary(app.resourceHandle);
        app.resourceHandle = nullptr;
    }
    terminateComModule();
}

}  // namespace tabro
