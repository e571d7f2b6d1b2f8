// Layer 5, the application context: known applications, the running stack and the
// unload hooks.
#include "host/ApplicationContext.h"

#include "host/Editor.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace host {
namespace {

struct Application {
    void* id;
    std::string name;
    AppEntryPoint entry;
};

struct Context {
    std::vector<Application> applications;
    std::vector<void*> running;  // entry points on the call stack, innermost last
    std::vector<std::pair<int, std::function<void(void*)>>> unloadHooks;
    int lastHookId = 0;
};

// Never destroyed: modules are unloaded while the program ends, after other statics
// may have gone.
Context& context() {
    static Context* instance = new Context;
    return *instance;
}

Application* find(void* appId) {
    auto& applications = context().applications;
    auto it =
        std::find_if(applications.begin(), applications.end(), [&](const Application& a) { return a.id == appId; });
    return it == applications.end() ? nullptr : &*it;
}

// Marks an application's entry point as running for the lifetime of the scope.
class RunningScope {
public:
    explicit RunningScope(void* appId) { context().running.push_back(appId); }
    ~RunningScope() { context().running.pop_back(); }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;
};

}  // namespace

void addApplication(void* appId, std::string name, AppEntryPoint entry) {
    if (Application* known = find(appId)) {
        known->name = std::move(name);
        known->entry = entry;
        return;
    }
    context().applications.push_back(Application{appId, std::move(name), entry});
}

void removeApplication(void* appId) {
    if (!find(appId)) return;
    auto hooks = context().unloadHooks;  // a hook may add or remove hooks
    for (auto& [id, hook] : hooks) hook(appId);
    std::erase_if(context().applications, [&](const Application& a) { return a.id == appId; });
}

bool isApplication(void* appId) { return find(appId) != nullptr; }

AcRx::AppRetCode sendApplicationMessage(void* appId, AcRx::AppMsgCode msg) {
    Application* known = find(appId);
    if (!known || !known->entry) return AcRx::kRetError;
    // Copied: the entry point may load or unload applications.
    Application application = *known;
    RunningScope running(appId);
    try {
        return application.entry(msg, appId);
    } catch (...) {
        acutPrintf("\n%s: unhandled exception on application message %d.", application.name.c_str(), msg);
        return AcRx::kRetError;
    }
}

void* currentApp() { return context().running.empty() ? nullptr : context().running.back(); }

bool isAppRunning(void* appId) {
    const auto& running = context().running;
    return std::find(running.begin(), running.end(), appId) != running.end();
}

int addAppUnloadHook(std::function<void(void* appId)> hook) {
    context().unloadHooks.emplace_back(++context().lastHookId, std::move(hook));
    return context().lastHookId;
}

void removeAppUnloadHook(int id) {
    std::erase_if(context().unloadHooks, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace host
