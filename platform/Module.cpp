// Module loading over dlopen, with the reference counting and the DllMain calls of
// the platform's loader.
#include "platform/Module.h"

#include "platform/Resources.h"
#include "platform/Text.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace {

struct LoadedModule {
    void* library = nullptr;  // the dlopen handle
    std::string path;         // canonical full path
    int references = 0;
    bool isAttached = false;  // DllMain(DLL_PROCESS_ATTACH) has run (or there is none)
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

// The exported name of the entry point with `ordinal`, from the module's ordinal
// table; null when it has no table or no such entry (ordinal 0 names nothing).
const char* ordinalName(void* library, WORD ordinal) {
    if (ordinal == 0) return nullptr;
    auto table = reinterpret_cast<ModuleOrdinalsFunction>(ownSymbol(library, MODULE_ORDINALS_EXPORT));
    if (!table) return nullptr;
    std::size_t count = 0;
    const ModuleOrdinal* entries = table(&count);
    for (std::size_t i = 0; entries && i < count; ++i)
        if (entries[i].ordinal == ordinal && entries[i].name && *entries[i].name) return entries[i].name;
    return nullptr;
}

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

// Drops the record and unmaps the library.
void unload(LoadedModule* module) {
    void* library = module->library;
    loadedModules().erase(module->path);
    ::dlclose(library);
}

std::string& systemFolderSetting() {
    static std::string folder;
    return folder;
}

// The folder this library was loaded from.
std::string platformLibraryFolder() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&GetSystemDirectoryA), &info) || !info.dli_fname) return {};
    char resolved[PATH_MAX];
    if (!::realpath(info.dli_fname, resolved)) return {};
    std::string path = resolved;
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

std::string systemFolder() {
    std::lock_guard lock(loaderMutex());
    return systemFolderSetting().empty() ? platformLibraryFolder() : systemFolderSetting();
}

// Where `path` names a file: a bare name in the system folder when it is there,
// otherwise as given. False when there is no such file.
bool resolveLibraryPath(const char* path, char (&resolved)[PATH_MAX]) {
    if (!std::strchr(path, '/')) {
        std::string folder = systemFolder();
        if (!folder.empty() && ::realpath((folder + "/" + path).c_str(), resolved)) return true;
    }
    return ::realpath(path, resolved) != nullptr;
}

HMODULE load(const char* path, bool shouldAttach) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(loaderMutex());
    char resolved[PATH_MAX];
    if (!resolveLibraryPath(path, resolved)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    auto& modules = loadedModules();
    LoadedModule* module = nullptr;
    if (auto it = modules.find(resolved); it != modules.end()) {
        module = it->second.get();
        ++module->references;
    } else {
        void* library = ::dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            // The file is there (realpath found it), so the loader could not use it.
            SetLastError(ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        auto record = std::make_unique<LoadedModule>();
        record->library = library;
        record->path = resolved;
        record->references = 1;
        module = record.get();
        modules.emplace(resolved, std::move(record));
    }
    if (shouldAttach && !module->isAttached) {
        // Marked first, so that the module loading itself from its DllMain only
        // counts a reference.
        module->isAttached = true;
        if (DllMainFunction dllMain = dllMainOf(module->library);
            dllMain && !dllMain(handleOf(module), DLL_PROCESS_ATTACH, nullptr)) {
            // A refused attach gets no detach, as on the platform; a library mapped
            // before as data stays mapped for those references.
            module->isAttached = false;
            if (--module->references == 0) unload(module);
            SetLastError(ERROR_DLL_INIT_FAILED);
            return nullptr;
        }
    }
    return handleOf(module);
}

// The resource table a module exports, or null.
const ResourceTable* resourceTableOf(HMODULE module) {
    auto tableFunction = reinterpret_cast<ResourceTableFunction>(GetProcAddress(module, RESOURCE_TABLE_EXPORT));
    return tableFunction ? tableFunction() : nullptr;
}

// The data resources of a table; empty for a table from before version 2.
std::pair<const ResourceData*, std::size_t> dataResourcesOf(const ResourceTable* table) {
    if (!table || table->version < 2 || table->tableSize < offsetof(ResourceTable, dataCount) + sizeof(std::size_t) ||
        !table->data)
        return {nullptr, 0};
    return {table->data, table->dataCount};
}

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool sameTypeName(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (asciiUpper(*a) != asciiUpper(*b)) return false;
    return *a == *b;
}

// "#123" as 123; no value for anything else (a name that is no number).
std::optional<unsigned> numberedName(const char* name) {
    if (name[0] != '#' || !name[1]) return std::nullopt;
    unsigned long long value = 0;
    for (const char* p = name + 1; *p; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

bool typeMatches(const ResourceData& entry, const char* type) {
    if (!entry.type) return false;
    if (IS_INTRESOURCE(type)) {
        auto number = numberedName(entry.type);
        return number && *number == static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(type));
    }
    return sameTypeName(entry.type, type);
}

// The entry a resource handle names, when it is one of this module's.
const ResourceData* resourceEntry(HMODULE module, HRSRC resource) {
    if (!module || !resource) return nullptr;
    auto [data, count] = dataResourcesOf(resourceTableOf(module));
    auto address = reinterpret_cast<std::uintptr_t>(resource);
    auto first = reinterpret_cast<std::uintptr_t>(data);
    if (!data || address < first || address >= first + count * sizeof(ResourceData)) return nullptr;
    if ((address - first) % sizeof(ResourceData) != 0) return nullptr;
    return data + (address - first) / sizeof(ResourceData);
}

// The bytes an empty resource hands out, so that its LoadResource is not null.
const unsigned char kNoBytes[1] = {0};

}  // namespace

HMODULE LoadLibraryA(const char* path) { return load(path, true); }

HMODULE LoadLibraryExA(const char* path, HANDLE file, DWORD flags) {
    if (file) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return load(path, (flags & LOAD_LIBRARY_AS_DATAFILE) == 0);
}

BOOL FreeLibrary(HMODULE handle) {
    std::lock_guard lock(loaderMutex());
    LoadedModule* module = findModule(handle);
    if (!module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (--module->references > 0) return 1;
    if (module->isAttached)
        if (DllMainFunction dllMain = dllMainOf(module->library)) dllMain(handle, DLL_PROCESS_DETACH, nullptr);
    unload(module);
    return 1;
}

FARPROC GetProcAddress(HMODULE handle, const char* name) {
    std::lock_guard lock(loaderMutex());
    LoadedModule* module = findModule(handle);
    if (!module || !name) {
        SetLastError(module ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (IS_INTRESOURCE(name)) {
        const auto ordinal = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
        name = ordinalName(module->library, ordinal);
        if (!name) {
            SetLastError(ordinal == 0 ? ERROR_INVALID_PARAMETER : ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
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

UINT GetSystemDirectoryA(char* buffer, UINT size) {
    std::string folder = systemFolder();
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (!buffer || size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
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

HRSRC FindResourceA(HMODULE module, const char* name, const char* type) {
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!module) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    {
        std::lock_guard lock(loaderMutex());
        if (!findModule(module)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    const ResourceTable* table = resourceTableOf(module);
    auto [data, count] = dataResourcesOf(table);
    if (!data) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    std::optional<unsigned> id =
        IS_INTRESOURCE(name) ? static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(name)) : numberedName(name);
    bool isTypeKnown = false;
    for (std::size_t i = 0; i < count; ++i) {
        const ResourceData& entry = data[i];
        if (!typeMatches(entry, type)) continue;
        isTypeKnown = true;
        // An entry claiming bytes it does not point to is no resource.
        if (id && entry.id == *id && (entry.bytes || entry.size == 0))
            return reinterpret_cast<HRSRC>(const_cast<ResourceData*>(&entry));
    }
    SetLastError(isTypeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    const ResourceData* entry = resourceEntry(module, resource);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<unsigned char*>(entry->size ? entry->bytes : kNoBytes);
}

void* LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    const ResourceData* entry = resourceEntry(module, resource);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(entry->size);
}

namespace platform {

std::optional<std::string_view> findResourceData(HMODULE module, const char* type, unsigned id) {
    char name[16];
    std::snprintf(name, sizeof name, "#%u", id);
    HRSRC resource = FindResourceA(module, name, type);
    if (!resource) return std::nullopt;
    const void* bytes = LockResource(LoadResource(module, resource));
    if (!bytes) return std::nullopt;
    return std::string_view(static_cast<const char*>(bytes), SizeofResource(module, resource));
}

std::string moduleFileName(HMODULE handle) {
    if (!handle) return programPath();
    std::lock_guard lock(loaderMutex());
    LoadedModule* module = findModule(handle);
    return module ? module->path : std::string();
}

std::string setSystemFolder(std::string folder) {
    std::lock_guard lock(loaderMutex());
    return std::exchange(systemFolderSetting(), std::move(folder));
}

std::optional<std::string> loadResourceString(HINSTANCE instance, UINT id) {
    const ResourceTable* table = resourceTableOf(instance);
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
