// Layer 6, the module loader: loading and unloading modules, and delivering their
// application messages.
#include "host/AcRxDynamicLinker.h"

#include "host/AcApDocManager.h"
#include "host/Editor.h"
#include "platform/Module.h"
#include "platform/Text.h"

#include <strings.h>
#include <algorithm>

struct AcRxDynamicLinker::App {
    std::string path;
    std::string fileName;  // without folder
    HMODULE module = nullptr;
    AcRxEntryPointFunction entry = nullptr;
    bool unlocked = false;
    bool mdiAware = false;
};

namespace {

std::string fileNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string stem(const std::string& fileName) {
    std::size_t dot = fileName.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

// Every loaded module gets a drawing's kLoadDwgMsg when it opens and its
// kUnloadDwgMsg before it closes, with that drawing current.
class DrawingMessages final : public AcApDocManagerReactor {
public:
    explicit DrawingMessages(AcRxDynamicLinker* linker) : linker_(linker) {}
    void documentCreated(AcApDocument* document) override {
        host::CurrentDocumentScope scope(document);
        linker_->broadcast(AcRx::kLoadDwgMsg);
    }
    void documentToBeDestroyed(AcApDocument* document) override {
        host::CurrentDocumentScope scope(document);
        linker_->broadcast(AcRx::kUnloadDwgMsg);
    }

private:
    AcRxDynamicLinker* linker_;
};

void report(bool printit, std::string* error, const std::string& text) {
    if (error) *error = text;
    if (printit) acutPrintf("\n%s", text.c_str());
}

}  // namespace

ACRX_DEFINE_RXOBJECT_MEMBERS(AcRxDynamicLinker, AcRxObject)

AcRxDynamicLinker* acrxDynamicLinkerPtr() {
    // Neither is ever destroyed: modules are unloaded while the program ends.
    static AcRxDynamicLinker* linker = [] {
        auto* l = new AcRxDynamicLinker;
        acDocManager->addReactor(new DrawingMessages(l));
        return l;
    }();
    return linker;
}

namespace {

// A module finds the loader in the system registry before anything has used it.
[[maybe_unused]] const bool registered = [] {
    acrxSysRegistry()->atPut(ACRX_DYNAMIC_LINKER, acrxDynamicLinker);
    acrxClassDictionary->atPut(AcRxDynamicLinker::desc());
    return true;
}();

}  // namespace

AcRxDynamicLinker::App* AcRxDynamicLinker::findApp(const char* name) const {
    if (!name || !*name) return nullptr;
    std::string wanted = name;
    for (App* app : apps_) {
        if (::strcasecmp(app->path.c_str(), name) == 0 || ::strcasecmp(app->fileName.c_str(), name) == 0 ||
            ::strcasecmp(stem(app->fileName).c_str(), name) == 0)
            return app;
    }
    return nullptr;
}

AcRxDynamicLinker::App* AcRxDynamicLinker::findAppById(void* appId) const {
    auto it = std::find(apps_.begin(), apps_.end(), static_cast<App*>(appId));
    return it == apps_.end() ? nullptr : *it;
}

void* AcRxDynamicLinker::currentApp() const { return host::currentApp(); }

AcRx::AppRetCode AcRxDynamicLinker::sendMessage(void* appId, AcRx::AppMsgCode msg) {
    if (!findAppById(appId)) return AcRx::kRetError;
    return host::sendApplicationMessage(appId, msg);
}

void AcRxDynamicLinker::broadcast(AcRx::AppMsgCode msg) {
    std::vector<App*> apps = apps_;  // a message may load or unload modules
    for (App* app : apps)
        if (findAppById(app)) sendMessage(app, msg);
}

bool AcRxDynamicLinker::loadModule(const char* path, bool printit, std::string* error) {
    if (!path || !*path) {
        report(printit, error, "No module file name given.");
        return false;
    }
    std::string fileName = fileNameOf(path);
    if (findApp(path) || findApp(fileName.c_str())) {
        if (printit) acutPrintf("\n%s is already loaded.", fileName.c_str());
        return true;
    }
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        DWORD code = GetLastError();
        if (code == ERROR_DLL_INIT_FAILED)
            report(printit, error,
                   "Unable to load " + std::string(path) +
                       ": the module refused to start (a companion file it needs may be missing from its folder).");
        else if (code == ERROR_BAD_EXE_FORMAT)
            report(printit, error, "Unable to load " + std::string(path) + ": not a loadable module.");
        else
            report(printit, error, "Unable to load " + std::string(path) + ": file not found.");
        return false;
    }
    auto entry = reinterpret_cast<AcRxEntryPointFunction>(GetProcAddress(module, "acrxEntryPoint"));
    auto version = reinterpret_cast<AcRxGetApiVersionFunction>(GetProcAddress(module, "acrxGetApiVersion"));
    if (!entry || !version) {
        FreeLibrary(module);
        report(printit, error,
               "Unable to load " + std::string(path) + ": it is not an application of this host (" +
                   (entry ? "acrxGetApiVersion" : "acrxEntryPoint") + " missing).");
        return false;
    }
    if (unsigned long v = version(); v != ACRX_API_VERSION) {
        FreeLibrary(module);
        char text[64];
        std::snprintf(text, sizeof text, "0x%08lX", v);
        report(printit, error,
               "Unable to load " + std::string(path) + ": built for interface version " + text +
                   ", this host needs 0x000F0000.");
        return false;
    }
    auto* app = new App{platform::moduleFileName(module), fileName, module, entry};
    apps_.push_back(app);
    host::addApplication(app, fileName, entry);
    AcRx::AppRetCode result = sendMessage(app, AcRx::kInitAppMsg);
    if (result != AcRx::kRetOK) {
        report(printit, error, "Unable to load " + std::string(path) + ": its initialisation failed.");
        unmapApp(app);
        return false;
    }
    for (AcApDocument* document : acDocManager->documents()) {
        host::CurrentDocumentScope scope(document);
        if (findAppById(app)) sendMessage(app, AcRx::kLoadDwgMsg);
    }
    if (printit) acutPrintf("\n%s loaded.", fileName.c_str());
    return true;
}

void AcRxDynamicLinker::unmapApp(App* app) {
    std::erase(apps_, app);
    // Whatever the module left registered would point into unmapped code: the
    // context's hooks remove it while the code is still there.
    host::removeApplication(app);
    HMODULE module = app->module;
    delete app;
    FreeLibrary(module);
}

bool AcRxDynamicLinker::unloadModule(const char* name, bool printit, std::string* error, bool force) {
    App* app = findApp(name);
    if (!app) {
        report(printit, error, std::string(name ? name : "") + " is not loaded.");
        return false;
    }
    if (host::isAppRunning(app)) {
        report(printit, error, "Unable to unload " + app->fileName + " while it is running.");
        return false;
    }
    if (!app->unlocked && !force) {
        report(printit, error, "Unable to unload " + app->fileName + ": the application is locked.");
        return false;
    }
    std::string fileName = app->fileName;
    for (AcApDocument* document : acDocManager->documents()) {
        host::CurrentDocumentScope scope(document);
        sendMessage(app, AcRx::kUnloadDwgMsg);
    }
    sendMessage(app, AcRx::kUnloadAppMsg);
    unmapApp(app);
    if (printit) acutPrintf("\n%s unloaded.", fileName.c_str());
    return true;
}

void AcRxDynamicLinker::unloadAll() {
    while (!apps_.empty()) {
        std::string name = apps_.back()->path;
        unloadModule(name.c_str(), false, nullptr, true);
    }
}

bool AcRxDynamicLinker::registerAppMDIAware(void* appId) {
    App* app = findAppById(appId);
    if (!app) return false;
    app->mdiAware = true;
    return true;
}

bool AcRxDynamicLinker::isAppMDIAware(const char* name) const {
    App* app = findApp(name);
    return app && app->mdiAware;
}

bool AcRxDynamicLinker::unlockApplication(void* appId) {
    App* app = findAppById(appId);
    if (!app) return false;
    app->unlocked = true;
    return true;
}

bool AcRxDynamicLinker::isApplicationLocked(const char* name) const {
    App* app = findApp(name);
    return app && !app->unlocked;
}

std::vector<std::string> AcRxDynamicLinker::loadedModuleNames() const {
    std::vector<std::string> names;
    for (App* app : apps_) names.push_back(app->fileName);
    return names;
}

bool AcRxDynamicLinker::isLoaded(const char* name) const { return findApp(name) != nullptr; }

bool acrxUnlockApplication(void* appId) { return acrxDynamicLinker->unlockApplication(appId); }

bool acrxApplicationIsLocked(const char* moduleName) { return acrxDynamicLinker->isApplicationLocked(moduleName); }
