// Layer 5b, on the application context: command registration and lookup.
#include "host/AcEdCommandStack.h"

#include "host/ApplicationContext.h"

#include <strings.h>
#include <algorithm>

namespace {

bool sameName(const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; }

}  // namespace

ACRX_DEFINE_RXOBJECT_MEMBERS(AcEdCommandStack, AcRxObject)

AcEdCommandStack* acedRegCmdsPtr() {
    static AcEdCommandStack* stack = [] {
        auto* s = new AcEdCommandStack;
        host::addAppUnloadHook([s](void* appId) { s->removeCommandsOf(appId); });
        return s;
    }();
    return stack;
}

namespace {

// A module finds the stack in the system registry before anything has used it.
[[maybe_unused]] const bool registered = [] {
    acrxSysRegistry()->atPut(ACRX_COMMAND_DOCK, acedRegCmds);
    acrxClassDictionary->atPut(AcEdCommandStack::desc());
    return true;
}();

}  // namespace

Acad::ErrorStatus AcEdCommandStack::addCommand(const char* group, const char* globalName, const char* localName,
                                               int flags, AcRxFunctionPtr function, void*, int, HINSTANCE, void*) {
    if (!group || !*group || !globalName || !*globalName || !function) return Acad::eInvalidInput;
    if (!localName || !*localName) localName = globalName;
    for (const AcEdCommand& c : commands_) {
        if (!sameName(c.group, group)) continue;
        if (sameName(c.globalName, globalName) || sameName(c.localName, localName)) return Acad::eDuplicateKey;
    }
    commands_.push_back({group, globalName, localName, flags, function, host::currentApp()});
    return Acad::eOk;
}

Acad::ErrorStatus AcEdCommandStack::removeGroup(const char* group) {
    if (!group) return Acad::eInvalidInput;
    auto removed = std::erase_if(commands_, [&](const AcEdCommand& c) { return sameName(c.group, group); });
    return removed ? Acad::eOk : Acad::eKeyNotFound;
}

Acad::ErrorStatus AcEdCommandStack::removeCmd(const char* group, const char* globalName) {
    if (!group || !globalName) return Acad::eInvalidInput;
    auto removed = std::erase_if(commands_, [&](const AcEdCommand& c) {
        return sameName(c.group, group) && sameName(c.globalName, globalName);
    });
    return removed ? Acad::eOk : Acad::eKeyNotFound;
}

const AcEdCommand* AcEdCommandStack::lookupGlobalCmd(const char* globalName) const {
    if (!globalName) return nullptr;
    for (auto it = commands_.rbegin(); it != commands_.rend(); ++it)
        if (sameName(it->globalName, globalName)) return &*it;
    return nullptr;
}

const AcEdCommand* AcEdCommandStack::lookupLocalCmd(const char* localName) const {
    if (!localName) return nullptr;
    for (auto it = commands_.rbegin(); it != commands_.rend(); ++it)
        if (sameName(it->localName, localName)) return &*it;
    return nullptr;
}

const AcEdCommand* AcEdCommandStack::lookup(const char* name) const {
    if (!name || !*name) return nullptr;
    if (name[0] == '_') return lookupGlobalCmd(name + 1);
    if (const AcEdCommand* c = lookupLocalCmd(name)) return c;
    return lookupGlobalCmd(name);
}

std::vector<AcEdCommand> AcEdCommandStack::commandsOfGroup(const char* group) const {
    std::vector<AcEdCommand> result;
    for (const AcEdCommand& c : commands_)
        if (group && sameName(c.group, group)) result.push_back(c);
    return result;
}

bool AcEdCommandStack::hasGroup(const char* group) const { return !commandsOfGroup(group).empty(); }

int AcEdCommandStack::removeCommandsOf(void* appId) {
    if (!appId) return 0;
    return static_cast<int>(std::erase_if(commands_, [&](const AcEdCommand& c) { return c.appId == appId; }));
}
