// The module's one application object: answers the host's application messages,
// owns the link timer and the link thread's handles. Main thread only.
#pragma once

#include "module/ArxAppBase.h"
#include "platform/Dispatch.h"
#include "platform/Handle.h"
#include "platform/Unknown.h"

namespace tabro {

class LinkApp : public ArxAppBase {
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

    // moduleHandle and appId live in the base, whose own operations need them.
    HINSTANCE resourceHandle = nullptr;       // the loaded resource module
    platform::ComPtr<IDispatch> linkHandler;  // main-thread proxy of the link's event handler
    platform::UniqueHandle linkThread;        // the link thread, once created
    platform::UniqueHandle linkStarted;       // set by the link thread when its handler is ready
    platform::UniqueHandle linkStop;          // tells the link thread to end
    HINSTANCE helpLibrary = nullptr;          // the help library, loaded on first use
    UINT_PTR timerId = 0;                     // the link timer; 0 = none
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
