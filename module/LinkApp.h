// The module's one application object: answers the host's application messages,
// owns the link timer and the link thread's handles. Main thread only.
#pragma once

#include "module/base/ArxAppBase.h"
#include "module/link/LinkHandles.h"

namespace tabro {

class LinkApp : public ArxAppBase, public LinkHandles {
public:
    LinkApp() = default;
    ~LinkApp() override;

    AcRx::AppRetCode onInitApp() override;
    AcRx::AppRetCode onUnloadApp() override;
    AcRx::AppRetCode onLoadDwg() override;
    AcRx::AppRetCode onUnloadDwg() override;
    AcRx::AppRetCode onInvokeSubr() override;
    void registerCommands() override;
    void unregisterCommands() override;

    // moduleHandle, appId and helpLibrary live in the application base, whose own
    // operations and the dialogs need them; the link's handles in LinkHandles.
    HINSTANCE resourceHandle = nullptr;  // the loaded resource module
};

LinkApp* linkApp();

// The module's AutoLISP functions, in code order (code = position).
struct LispFunctionEntry {
    const char* name;
    int (*function)();
    bool registerForDirectCall;  // acedRegFunc as well
};
extern const LispFunctionEntry kLispFunctions[];
extern const int kLispFunctionCount;

}  // namespace tabro
