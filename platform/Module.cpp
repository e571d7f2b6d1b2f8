// Module loading over dlopen, with the reference counting and the DllMain calls of
// the platform's loader.
#include "platform/Module.h"

#include "platform/Resources.h"
#include "platform/Text.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct LoadedModule {
    void* library = nullptr;  // the dlopen handle
    std::string path;         // canonical full path
    int references = 0;
};

// The loader lock. Recursive because a module's DllMain loads its companions.
std::recursive_mutex& loaderMutex() {
    static std::recursive_mutex m;
    return m;
}

// Handles given out, by canonical path. The handle is the record's address.
std::map<std::string, std::unique_ptr<LoadedModule>>& loadedModules() {
    static std::map<std::string, std::unique_ptr<LoadedModule>> modules;
    return modules;
}

HMODULE handleOf(LoadedModule* m) { return reinterpret_cast<HMODULE>(m); }

LoadedModule* findModule(HMODULE handle) {
    for (auto& [path, module] : loadedModules())
        if (handleOf(module.get()) == handle) return module.get();
    return nullptr;
}

std::string programPath() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// dlsym also searches the library's dependencies; the platform's lookup sees only
// the module's own exports, so a symbol found elsewhere does not count.
void* ownSymbol(void* library, const char* name) {
    void* symbol = ::dlsym(library, name);
    if (!symbol) return nullptr;
    link_map* map = nullptr;
    Dl_info info{};
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !::dladdr(symbol, &info)) return nullptr;
    return reinterpret_cast<ElfW(Addr)>(info.dli_fbase) == map->l_addr ? symbol : nullptr;
}

DllMainFunction dllMainOf(void* library) { return reinterpret_cast<DllMainFunction>(ownSymbol(library, "DllMain")); }

// Longest prefix of `text` of at most `limit` bytes that ends on a character boundary
// of the locale's code set.
std::size_t fittingPrefix(const std::string& text, std::size_t limit) {
    std::mbstate_t state{};
    std::size_t used = 0;
    while (used < text.size()) {
        std::size_t n = std::mbrlen(text.data() + used, text.size() - used, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) n = 1;
        if (used + n > limit) break;
        used += n;
    }
    return used;
}

}  // namespace

HMODULE LoadLibraryA(const char* path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(loaderMutex());
    char resolved[PATH_MAX];
    if (!::realpath(path, resolved)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    auto& modules = loadedModules();
    if (auto it = modules.find(resolved); it != modules.end()) {
        ++it->second->references;
        return handleOf(it->second.get());
    }
    void* library = ::dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        // The file is there (realpath found it), so the loader could not use it.
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    auto module = std::make_unique<LoadedModule>();
    module->library = library;
    module->path = resolved;
    module->references = 1;
    LoadedModule* raw = module.get();
    modules.emplace(resolved, std::move(module));
    if (DllMainFunction dllMain = dllMainOf(library)) {
        if (!dllMain(handleOf(raw), DLL_PROCESS_ATTACH, nullptr)) {
            // A refused attach gets no detach, as on the platform.
            modules.erase(resolved);
            ::dlclose(library);
            SetLastError(ERROR_DLL_INIT_FAILED);
            return nullptr;
        }
    }
    return handleOf(raw);
}

BOOL FreeLibrary(HMODULE handle) {
    std::lock_guard lock(loaderMutex());
    LoadedModule* module = findModule(handle);
    if (!module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (--module->references > 0) return 1;
    void* library = module->library;
    std::string path = module->path;
    if (DllMainFunction dllMain = dllMainOf(library)) dllMain(handle, DLL_PROCESS_DETACH, nullptr);
    loadedModules().erase(path);
    ::dlclose(library);
    return 1;
}

FARPROC GetProcAddress(HMODULE handle, const char* name) {
    std::lock_guard lock(loaderMutex());
    LoadedModule* module = findModule(handle);
    if (!module || !name) {
        SetLastError(module ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = ownSymbol(module->library, name);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameA(HMODULE handle, char* buffer, DWORD size) {
    std::string path = platform::moduleFileName(handle);
    if (path.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

int LoadStringA(HINSTANCE instance, UINT id, char* buffer, int size) {
    if (!buffer || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    std::optional<std::string> text = platform::loadResourceString(instance, id);
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    std::size_t n = fittingPrefix(*text, static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text->data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

namespace platform {

std::string moduleFileName(HMODULE handle) {
    if (!handle) return programPath();
    std::lock_guard lock(loaderMutex());
    LoadedModule* module = findModule(handle);
    return module ? module->path : std::string();
}

std::optional<std::string> loadResourceString(HINSTANCE instance, UINT id) {
    auto tableFunction = reinterpret_cast<ResourceTableFunction>(GetProcAddress(instance, RESOURCE_TABLE_EXPORT));
    if (!tableFunction) return std::nullopt;
    const ResourceTable* table = tableFunction();
    // A table from a build that does not know the strings fields is no string table.
    if (!table || table->tableSize < offsetof(ResourceTable, stringCount) + sizeof(std::size_t)) return std::nullopt;
    for (std::size_t i = 0; i < table->stringCount; ++i) {
        const ResourceString& entry = table->strings[i];
        if (entry.id != id || !entry.text) continue;
        std::optional<std::u16string> wide = utf8ToWide(entry.text);
        if (!wide) return std::nullopt;
        return toMultiByte(*wide);
    }
    return std::nullopt;
}

}  // namespace platform
