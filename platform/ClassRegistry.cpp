// The class registry and the running-object table, once per process.
#include "platform/ClassRegistry.h"

#include <map>
#include <mutex>
#include <vector>

namespace platform {
namespace {

constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = 0x000401E7;

struct ClassEntry {
    CLSID clsid;
    std::u16string progId;
    ClassFactory factory;
};

struct RunningEntry {
    DWORD registration;
    CLSID clsid;
    IUnknown* object;  // one reference owned unless isWeak
    bool isWeak;
};

struct Registry {
    std::mutex mutex;
    std::vector<ClassEntry> classes;
    std::vector<RunningEntry> running;  // in registration order
    DWORD nextRegistration = 1;
};

// Never destroyed: a server may revoke itself while the process exits.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameProgId(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

}  // namespace

HRESULT registerServerClass(REFCLSID clsid, const std::u16string& progId, ClassFactory factory) {
    if (!factory) return E_INVALIDARG;
    ClassFactory replaced;  // destroyed outside the lock
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& entry : r.classes) {
        if (entry.clsid == clsid) {
            replaced = std::move(entry.factory);
            entry.factory = std::move(factory);
            entry.progId = progId;
            return S_OK;
        }
    }
    r.classes.push_back({clsid, progId, std::move(factory)});
    return S_OK;
}

HRESULT revokeServerClass(REFCLSID clsid) {
    ClassFactory removed;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.classes.begin(); it != r.classes.end(); ++it) {
        if (it->clsid == clsid) {
            removed = std::move(it->factory);
            r.classes.erase(it);
            return S_OK;
        }
    }
    return REGDB_E_CLASSNOTREG;
}

}  // namespace platform

using platform::registry;

HRESULT CLSIDFromProgID(const OLECHAR* progId, CLSID* clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& entry : r.classes) {
        if (platform::sameProgId(entry.progId, progId)) {
            *clsid = entry.clsid;
            return S_OK;
        }
    }
    return CO_E_CLASSSTRING;
}

HRESULT CLSIDFromString(const OLECHAR* text, CLSID* clsid) {
    if (!text || !clsid) return E_INVALIDARG;
    std::string narrow;
    for (const OLECHAR* p = text; *p; ++p) {
        if (*p > 0x7F || narrow.size() > 64) return CO_E_CLASSSTRING;
        narrow += static_cast<char>(*p);
    }
    auto guid = platform::guidFromString(narrow);
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    platform::ClassFactory factory;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        for (auto& entry : r.classes)
            if (entry.clsid == clsid) factory = entry.factory;
    }
    if (!factory) return REGDB_E_CLASSNOTREG;
    // Outside the lock: a factory may itself register or look up classes.
    HRESULT hr = factory(riid, object);
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

HRESULT OleRun(IUnknown* object) {
    if (!object) return E_INVALIDARG;
    platform::ComPtr<IRunnableObject> runnable;
    if (FAILED(object->QueryInterface(IRunnableObject::iid, runnable.putVoid()))) return S_OK;
    return runnable->Run();
}

HRESULT GetActiveObject(REFCLSID clsid, void*, IUnknown** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& entry : r.running) {
        if (entry.clsid == clsid) {
            entry.object->AddRef();
            *object = entry.object;
            return S_OK;
        }
    }
    return MK_E_UNAVAILABLE;
}

HRESULT RegisterActiveObject(IUnknown* object, REFCLSID clsid, DWORD flags, DWORD* registration) {
    if (!object || !registration) return E_INVALIDARG;
    bool isWeak = (flags & ACTIVEOBJECT_WEAK) != 0;
    if (!isWeak) object->AddRef();
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    bool isAlreadyRegistered = false;
    for (auto& entry : r.running) isAlreadyRegistered = isAlreadyRegistered || entry.clsid == clsid;
    *registration = r.nextRegistration++;
    r.running.push_back({*registration, clsid, object, isWeak});
    // The first registration of a class keeps answering GetActiveObject.
    return isAlreadyRegistered ? platform::MK_S_MONIKERALREADYREGISTERED : S_OK;
}

HRESULT RevokeActiveObject(DWORD registration, void*) {
    IUnknown* release = nullptr;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.running.begin();
        while (it != r.running.end() && it->registration != registration) ++it;
        if (it == r.running.end()) return E_INVALIDARG;
        if (!it->isWeak) release = it->object;
        r.running.erase(it);
    }
    // Outside the lock: the object's destructor may revoke or look up other entries.
    if (release) release->Release();
    return S_OK;
}
