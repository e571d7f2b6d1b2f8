// The module's automation server: registration of the event handler class and its
// type library, the lock count, and the handler's type information.
#include "module/link/ComServer.h"

#include "module/link/AppEventHandler.h"
#include "platform/ClassRegistry.h"
#include "platform/Module.h"
#include "platform/Registrar.h"
#include "platform/Text.h"

#include <atomic>
#include <mutex>
#include <string>

namespace tabro {
namespace {

constexpr UINT kRegistryScriptId = 1016;

HINSTANCE& comModule() {
    static HINSTANCE module = nullptr;
    return module;
}

std::atomic<LONG>& lockCount() {
    static std::atomic<LONG> count{0};
    return count;
}

struct CachedTypeInfo {
    std::mutex mutex;
    platform::ComPtr<ITypeInfo> info;
};
CachedTypeInfo& cachedTypeInfo() {
    static CachedTypeInfo cached;
    return cached;
}

std::u16string modulePathOf(HINSTANCE module) {
    return platform::toWide(platform::moduleFileName(module)).value_or(std::u16string());
}

std::u16string folderOf(const std::u16string& path) {
    std::size_t slash = path.find_last_of(u'/');
    return slash == std::u16string::npos ? std::u16string(u".") : path.substr(0, slash);
}

// The registry script of the class, with the module's path for %MODULE%.
HRESULT applyRegistryScript(const std::u16string& modulePath) {
    platform::ComPtr<IRegistrar> registrar;
    HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IRegistrar::iid, registrar.putVoid());
    if (FAILED(hr)) return hr;
    if (hr = registrar->AddReplacement(u"MODULE", modulePath.c_str()); FAILED(hr)) return hr;
    return registrar->ResourceRegister(modulePath.c_str(), kRegistryScriptId, u"REGISTRY");
}

// The module's own type library ("TYPELIB" 1, or the .tlb file beside it).
HRESULT loadModuleTypeLib(const std::u16string& modulePath, platform::ComPtr<ITypeLib>& lib) {
    HRESULT hr = LoadTypeLib(modulePath.c_str(), lib.put());
    if (SUCCEEDED(hr)) return hr;
    std::u16string tlb = modulePath;
    std::size_t dot = tlb.find_last_of(u'.');
    if (dot != std::u16string::npos && dot > tlb.find_last_of(u'/') + 1) tlb.resize(dot);
    tlb += u".tlb";
    return LoadTypeLib(tlb.c_str(), lib.put());
}

HRESULT registerTypeLib(const std::u16string& modulePath) {
    platform::ComPtr<ITypeLib> lib;
    if (HRESULT hr = loadModuleTypeLib(modulePath, lib); FAILED(hr)) return hr;
    return RegisterTypeLib(lib.get(), modulePath.c_str(), folderOf(modulePath).c_str());
}

}  // namespace

void initComModule(HINSTANCE module) { comModule() = module; }

bool registerComServer(HINSTANCE module) {
    const std::u16string path = modulePathOf(module);
    if (path.empty()) return false;
    const bool isScriptApplied = SUCCEEDED(applyRegistryScript(path));
    const bool isLibraryRegistered = SUCCEEDED(registerTypeLib(path));
    return isScriptApplied && isLibraryRegistered;
}

void terminateComModule() {
    platform::ComPtr<ITypeInfo> released;
    {
        CachedTypeInfo& cached = cachedTypeInfo();
        std::lock_guard lock(cached.mutex);
        released = std::move(cached.info);
    }
    comModule() = nullptr;
}

void lockModule() noexcept { ++lockCount(); }
void unlockModule() noexcept { --lockCount(); }
LONG moduleLockCount() noexcept { return lockCount().load(); }

HRESULT handlerTypeInfo(platform::ComPtr<ITypeInfo>& info) {
    CachedTypeInfo& cached = cachedTypeInfo();
    {
        std::lock_guard lock(cached.mutex);
        if (cached.info) {
            info = cached.info;
            return S_OK;
        }
    }
    // Loaded without the lock held: loading may map the module, and the system's
    // loader lock is taken the other way round when the module is unmapped.
    platform::ComPtr<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(LIBID_TabroLib, kTabroLibMajor, kTabroLibMinor, kTabroLibLcid, lib.put());
    // A registration that failed at load leaves the module's own description.
    if (FAILED(hr)) hr = loadModuleTypeLib(modulePathOf(comModule()), lib);
    if (FAILED(hr)) return hr;
    platform::ComPtr<ITypeInfo> loaded;
    if (hr = lib->GetTypeInfoOfGuid(IID_IAppEventHandler, loaded.put()); FAILED(hr)) return hr;
    std::lock_guard lock(cached.mutex);
    if (!cached.info) cached.info = std::move(loaded);  // a racing first use keeps the one already kept
    info = cached.info;
    return S_OK;
}

}  // namespace tabro
