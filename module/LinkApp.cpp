// The application object's overrides: the link timer, the AutoLISP function,
// command registration.
#include "module/LinkApp.h"

#include "host/AcEdCommandStack.h"
#include "host/AutoLisp.h"
#include "host/Editor.h"
#include "module/base/RegistryReports.h"
#include "module/base/ResourceScope.h"
#include "module/cmd/cmdinit.h"
#include "module/cmd/cmdtabro.h"
#include "module/export/Export.h"
#include "module/import/RegisterRows.h"
#include "module/link/LinkTimer.h"
#include "module/settings/Settings.h"
#include "platform/Event.h"
#include "platform/Timer.h"

namespace tabro {
namespace {

constexpr const char* kCommandGroup = "Tablora";

// The class object of the command stack, looked up once and kept while the module
// is loaded, to check that what the registry holds is a command stack.
const AcRxClass* commandStackClass() {
    static const AcRxClass* cls = acrxClassDictionary->at("AcEdCommandStack");
    return cls;
}

AcEdCommandStack* hostCommandStack() {
    AcRxObject* found = acrxSysRegistry()->at(ACRX_COMMAND_DOCK);
    const AcRxClass* cls = commandStackClass();
    if (!found || !cls || !found->isKindOf(cls)) return nullptr;
    return static_cast<AcEdCommandStack*>(found);
}

}  // namespace

const LispFunctionEntry kLispFunctions[] = {
    {"init_tabro", loadMenuIfMissing, false},
};
const int kLispFunctionCount = static_cast<int>(std::size(kLispFunctions));

LinkApp* linkApp() {
    static LinkApp app;
    return &app;
}

LinkHandles* linkHandles() { return linkApp(); }

LinkApp::~LinkApp() = default;

AcRx::AppRetCode LinkApp::onInitApp() {
    ResourceScope scope;
    timerId = SetTimer(nullptr, 0, 1000, linkTimerProc);
    // The registration made while the module was mapped has met a broken classes.reg
    // by now: said once, up front. A broken user.reg is told of by the first command,
    // which reads it anyway; a large one is not read here for nothing.
    reportRegistryFileProblem(HKEY_CLASSES_ROOT);
    return AcRx::kRetOK;
}

AcRx::AppRetCode LinkApp::onUnloadApp() {
    // Options that could not be saved hold while the module is loaded, and a loaded
    // module tells of a broken registry file once.
    dropSessionSettings();
    endRun();
    registerRows().clear();
    forgetRegisterSheets();
    forgetRegistryFileReports();
    if (timerId != 0) {
        KillTimer(nullptr, timerId);
        timerId = 0;
    }
    if (linkThread) {
        // The proxy is released while its owner thread can still serve the release.
        linkHandler.reset();
        SetEvent(linkStop.get());
        WaitForSingleObject(linkThread.get(), INFINITE);
        linkThread.reset();
        linkStarted.reset();
        linkStop.reset();
    }
    return AcRx::kRetOK;
}

AcRx::AppRetCode LinkApp::onLoadDwg() {
    for (int code = 0; code < kLispFunctionCount; ++code) {
        if (acedDefun(kLispFunctions[code].name, static_cast<short>(code)) != RTNORM) break;
        if (kLispFunctions[code].registerForDirectCall) acedRegFunc(kLispFunctions[code].function, code);
    }
    ads_queueexpr("(init_tabro)");
    return AcRx::kRetOK;
}

AcRx::AppRetCode LinkApp::onUnloadDwg() {
    acedUndef("init_tabro", 0);
    return AcRx::kRetOK;
}

AcRx::AppRetCode LinkApp::onInvokeSubr() {
    int code = acedGetFunCode();
    if (code >= 0 && code < kLispFunctionCount)
        kLispFunctions[code].function();
    else
        acdbFail("Received nonexistent function code.");
    return AcRx::kRetOK;
}

void LinkApp::registerCommands() {
    AcEdCommandStack* stack = hostCommandStack();
    if (!stack) return;
    stack->addCommand(kCommandGroup, "tabro", "tabro", ACRX_CMD_MODAL, tabroCommand);
    stack->addCommand(kCommandGroup, "tbtest", "tbtest", ACRX_CMD_MODAL, tbtestCommand);
}

void LinkApp::unregisterCommands() {
    if (AcEdCommandStack* stack = hostCommandStack()) stack->removeGroup(kCommandGroup);
}

}  // namespace tabro
