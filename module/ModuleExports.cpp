// The module's exported entry points: the host's application messages and
// interface version, and the system's mapping notifications.
#include "host/AcRx.h"
#include "module/LinkApp.h"
#include "module/ModuleState.h"
#include "module/link/ComServer.h"
#include "module/link/ComServerResources.h"
#include "platform/Module.h"

#define TABRO_EXPORT extern "C" __attribute__((visibility("default")))

TABRO_EXPORT AcRx::AppRetCode acrxEntryPoint(AcRx::AppMsgCode msg, void* pkt) {
    return tabro::linkApp()->dispatch(msg, pkt);
}

TABRO_EXPORT unsigned long acrxGetApiVersion() { return 0x000F0000; }

TABRO_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return tabro::mapModule(instance);
    case DLL_PROCESS_DETACH:
        tabro::unmapModule();
        return 1;
    default:
        return 1;  // thread notifications need nothing
    }
}

// The automation server's resources (its type library and registry script).
TABRO_EXPORT const ResourceTable* ResourceModuleTable() { return tabro::comServerResources(); }

// The module may go once none of its objects is alive.
TABRO_EXPORT HRESULT DllCanUnloadNow() { return tabro::moduleLockCount() == 0 ? S_OK : S_FALSE; }
