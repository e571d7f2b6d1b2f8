// Application message dispatch and the initialisation and unload sequences.
#include "module/base/ArxAppBase.h"

#include "host/AcRxDynamicLinker.h"
#include "platform/Module.h"

#include <clocale>
#include <cstring>

namespace tabro {
namespace {

ArxAppBase*& theApp() {
    static ArxAppBase* app = nullptr;
    return app;
}

// The module's full path, or false when it cannot be had whole.
bool modulePath(HINSTANCE module, char (&path)[MAX_PATH]) {
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    return n != 0 && n < MAX_PATH;
}

}  // namespace

ArxAppBase::ArxAppBase() { theApp() = this; }

ArxAppBase::~ArxAppBase() {
    if (theApp() == this) theApp() = nullptr;
}

ArxAppBase* arxApp() { return theApp(); }

const char* ArxAppBase::moduleFileName() {
    static char name[MAX_PATH];
    char path[MAX_PATH];
    if (!modulePath(moduleHandle, path)) return nullptr;
    const char* separator = std::strrchr(path, '/');
    if (!separator) return nullptr;
    std::strcpy(name, separator);
    return name;
}

const char* ArxAppBase::moduleFolder() {
    static char folder[MAX_PATH];
    char path[MAX_PATH];
    if (!modulePath(moduleHandle, path)) return nullptr;
    char* separator = std::strrchr(path, '/');
    if (!separator) return nullptr;
    *separator = '\0';
    std::strcpy(folder, path);
    return folder;
}

void* ArxAppBase::appId() { return appId_; }

AcRx::AppRetCode ArxAppBase::onInitApp() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onUnloadApp() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onLoadDwg() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onUnloadDwg() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onSave() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onEnd() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onQuit() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onConfig() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onInvokeSubr() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onDependency() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onNoDependency() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onOleUnload() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onPreQuit() { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onInitDialog(void*) { return AcRx::kRetOK; }
AcRx::AppRetCode ArxAppBase::onEndDialog(void*) { return AcRx::kRetOK; }
void ArxAppBase::registerClasses() {}
void ArxAppBase::unregisterClasses() {}
void ArxAppBase::registerCommands() {}
void ArxAppBase::unregisterCommands() {}
void ArxAppBase::initLate() {}
void ArxAppBase::unloadEarly() {}
void ArxAppBase::initAfterCommands() {}

AcRx::AppRetCode ArxAppBase::initSequence(void* pkt) {
    // Texts in the user's code set, numbers always with "." as decimal point.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    acrxUnlockApplication(pkt);
    if (AcRxDynamicLinker* linker = AcRxDynamicLinker::cast(acrxSysRegistry()->at(ACRX_DYNAMIC_LINKER)))
        linker->registerAppMDIAware(pkt);
    registerClasses();
    acrxBuildClassHierarchy();
    registerCommands();
    initAfterCommands();
    initLate();
    return onInitApp();
}

AcRx::AppRetCode ArxAppBase::unloadSequence() {
    unloadEarly();
    unregisterCommands();
    unregisterClasses();
    return onUnloadApp();
}

AcRx::AppRetCode ArxAppBase::dispatch(AcRx::AppMsgCode msg, void* pkt) {
    appId_ = pkt;
    switch (msg) {
    case AcRx::kInitAppMsg:
        return initSequence(pkt);
    case AcRx::kUnloadAppMsg:
        return unloadSequence();
    case AcRx::kLoadDwgMsg:
        return onLoadDwg();
    case AcRx::kUnloadDwgMsg:
        return onUnloadDwg();
    case AcRx::kInvkSubrMsg:
        return onInvokeSubr();
    case AcRx::kCfgMsg:
        return onConfig();
    case AcRx::kEndMsg:
        return onEnd();
    case AcRx::kQuitMsg:
        return onQuit();
    case AcRx::kSaveMsg:
        return onSave();
    case AcRx::kDependencyMsg:
        return onDependency();
    case AcRx::kNoDependencyMsg:
        return onNoDependency();
    case AcRx::kOleUnloadAppMsg:
        return onOleUnload();
    case AcRx::kPreQuitMsg:
        return onPreQuit();
    case AcRx::kInitDialogMsg:
        return onInitDialog(pkt);
    case AcRx::kEndDialogMsg:
        return onEndDialog(pkt);
    default:
        return AcRx::kRetOK;
    }
}

}  // namespace tabro
