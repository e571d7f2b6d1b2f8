// Layer 6, the module loader: maps a module, checks its entry points and interface
// version, enters it in the application context and delivers its application
// messages, the drawing messages as documents come and go included. Removing what a
// module left registered is the context's subscribers' business.
#pragma once

#include "host/AcRx.h"
#include "host/ApplicationContext.h"
#include "platform/WinTypes.h"

#include <string>
#include <vector>

// The interface version this host speaks; a module must answer it exactly.
constexpr unsigned long ACRX_API_VERSION = 0x000F0000;

using AcRxEntryPointFunction = host::AppEntryPoint;
using AcRxGetApiVersionFunction = unsigned long (*)();

class AcRxDynamicLinker : public AcRxObject {
public:
    ACRX_DECLARE_RXOBJECT_MEMBERS(AcRxDynamicLinker)

    // Maps the module at `path`, checks acrxEntryPoint and acrxGetApiVersion, sends
    // kInitAppMsg and then kLoadDwgMsg for each open document (each document current
    // while it gets its message). A module already loaded is not loaded twice (true).
    // On failure nothing stays mapped and `error` (if given) says why; with `printit`
    // the outcome is also printed on the command line.
    bool loadModule(const char* path, bool printit, std::string* error = nullptr);
    // Sends kUnloadDwgMsg for each open document, then kUnloadAppMsg, removes the
    // module from the application context (whose hooks remove the commands and
    // AutoLISP functions it left registered) and unmaps it.
    // `name` is the module's file name with or without its extension, or its path,
    // in any letter case. A locked application is refused unless `force` (the host
    // shutting down).
    bool unloadModule(const char* name, bool printit, std::string* error = nullptr, bool force = false);
    // Unloads every module, latest first (used when the host ends).
    void unloadAll();

    bool registerAppMDIAware(void* appId);
    bool isAppMDIAware(const char* name) const;
    bool unlockApplication(void* appId);
    bool isApplicationLocked(const char* name) const;

    // File names of the loaded modules, in load order.
    std::vector<std::string> loadedModuleNames() const;
    bool isLoaded(const char* name) const;
    // The application id (the pkt of its messages) of a loaded module; null if none.
    void* appIdOf(const char* name) const { return findApp(name); }
    // Delivers one application message to a loaded module (kRetError when unknown).
    AcRx::AppRetCode sendMessage(void* appId, AcRx::AppMsgCode msg);
    // Sends msg to every loaded module, in load order.
    void broadcast(AcRx::AppMsgCode msg);

    // The application whose entry point is running now (null outside of one); what
    // a module registers while handling a message is recorded as that module's.
    // The application context's host::currentApp().
    void* currentApp() const;

    struct App;

private:
    App* findApp(const char* name) const;
    App* findAppById(void* appId) const;
    void unmapApp(App* app);

    std::vector<App*> apps_;
};

AcRxDynamicLinker* acrxDynamicLinkerPtr();
#define acrxDynamicLinker acrxDynamicLinkerPtr()
