// Shared-library loading with the platform's module calls: load, find a symbol, the
// module's own path, and the string and data resources of a loaded module that
// exports a resource table (platform/Resources.h). Paths use "/" as separator on
// this platform.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Notification reasons passed to a module's DllMain.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr DWORD MAX_PATH = 260;

// LoadLibraryExA: map the library for its resources only, without running DllMain.
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;

using FARPROC = void (*)();
using HRSRC = struct HRSRC__*;
using HGLOBAL = void*;
// The optional mapping entry a module may export as "DllMain" (C linkage).
using DllMainFunction = BOOL (*)(HINSTANCE instance, DWORD reason, void* reserved);

// Maps the library at `path`. A bare file name (no "/") is looked for in the system
// folder (GetSystemDirectoryA) first and then as given, relative to the current
// folder, as the platform finds its own components by name. Loading a library that is already loaded through this
// call returns the same handle and counts one more reference; DllMain (if exported)
// runs with DLL_PROCESS_ATTACH on the first load only. Null on failure, with
// GetLastError():
//   ERROR_INVALID_PARAMETER  null or empty path
//   ERROR_MOD_NOT_FOUND      the file is missing
//   ERROR_BAD_EXE_FORMAT     the file is not a loadable library (or one it needs is missing)
//   ERROR_DLL_INIT_FAILED    its DllMain answered FALSE (it is unmapped again)
HMODULE LoadLibraryA(const char* path);

// As LoadLibraryA. With LOAD_LIBRARY_AS_DATAFILE a library not loaded yet is mapped
// without calling its DllMain (a later LoadLibraryA of it then attaches it); one
// that is loaded already just gains a reference. `file` must be null; other flags
// are accepted and ignored.
HMODULE LoadLibraryExA(const char* path, HANDLE file, DWORD flags);

// Drops one reference; the last one calls DllMain(DLL_PROCESS_DETACH) (when it was
// attached) and unmaps.
// FALSE with ERROR_INVALID_HANDLE for a handle this call did not give out.
BOOL FreeLibrary(HMODULE module);

// The exported symbol `name`; null with ERROR_PROC_NOT_FOUND when there is none, or
// ERROR_INVALID_HANDLE for an unknown handle. A `name` made by MAKEINTRESOURCEA(n)
// asks for the entry point with ordinal n in the module's ordinal table (below);
// a module without one, or without that ordinal, gives ERROR_PROC_NOT_FOUND, and
// ordinal 0 ERROR_INVALID_PARAMETER.
FARPROC GetProcAddress(HMODULE module, const char* name);

// The folder of the platform's own components (libraries loaded by bare name): the
// folder the platform library itself was loaded from, unless a test moved it
// (platform::setSystemFolder). Copied and terminated as GetModuleFileNameA does:
// the length without the terminator; the size needed (terminator included) when the
// buffer is too small; 0 when there is none.
UINT GetSystemDirectoryA(char* buffer, UINT size);

// Full path of the module (a null handle means the running program) copied into
// `buffer`, truncated to size - 1 characters and terminated. Returns the number of
// characters copied without the terminator; on truncation returns `size` and sets
// ERROR_INSUFFICIENT_BUFFER; 0 with ERROR_INVALID_HANDLE for an unknown handle.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);

// String resource `id` of a loaded resource module (platform/Resources.h) in the
// multibyte code set, truncated to size - 1 bytes (never inside a character) and
// terminated. Returns the bytes copied without the terminator; 0 when the module
// has no such string (ERROR_RESOURCE_NAME_NOT_FOUND), is no resource module, or
// `buffer`/`size` are unusable (ERROR_INVALID_PARAMETER).
int LoadStringA(HINSTANCE instance, UINT id, char* buffer, int size);

extern "C" {
// One entry point a module gives a number to, as a module definition file's
// "name @ordinal" line does: callers that know the entry point only by its number
// (GetProcAddress with MAKEINTRESOURCEA) find it through this table.
struct ModuleOrdinal {
    WORD ordinal;
    const char* name;  // the entry point's exported name
};
// Exported by a module with ordinals, under MODULE_ORDINALS_EXPORT: its table and
// its length.
using ModuleOrdinalsFunction = const ModuleOrdinal* (*)(std::size_t* count);
}
constexpr const char* MODULE_ORDINALS_EXPORT = "ModuleOrdinals";

// A resource name or type given by number, as the platform's macro makes it: the
// number in the low word of a pointer no string can have.
inline char* MAKEINTRESOURCEA(WORD id) { return reinterpret_cast<char*>(static_cast<std::uintptr_t>(id)); }
inline bool IS_INTRESOURCE(const void* name) { return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0; }

// The data resource `name` of type `type` in a loaded module. name is
// MAKEINTRESOURCEA(n) or "#n" (decimal); type a name such as "TYPELIB" (compared
// without regard to ASCII case), or a number, which matches the type "#n". Null on
// failure, with GetLastError():
//   ERROR_INVALID_HANDLE           unknown module handle
//   ERROR_INVALID_PARAMETER        null name or type
//   ERROR_RESOURCE_DATA_NOT_FOUND  the module has no resource table, or one from
//                                  before data resources (version 1); the program
//                                  itself (null handle) has none
//   ERROR_RESOURCE_TYPE_NOT_FOUND  no resource of that type
//   ERROR_RESOURCE_NAME_NOT_FOUND  that type, but no resource of that name (a name
//                                  that is no number names none)
// The handle stays valid while the module is loaded.
HRSRC FindResourceA(HMODULE module, const char* name, const char* type);
// The resource's bytes (never null for a resource FindResourceA gave for this module,
// even an empty one); null with ERROR_INVALID_HANDLE for anything else.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
// The first byte of what LoadResource gave; resources need no unlocking.
void* LockResource(HGLOBAL data);
// The resource's size in bytes; 0 with ERROR_INVALID_HANDLE for a handle that is
// not a resource of this module.
DWORD SizeofResource(HMODULE module, HRSRC resource);

namespace platform {

// The bytes of data resource `id` of `type` in a loaded module; no value when the
// module has none (for any of FindResourceA's reasons). The view lives as long as
// the module stays loaded.
std::optional<std::string_view> findResourceData(HMODULE module, const char* type, unsigned id);

// The whole string resource, converted to the multibyte code set; no value when the
// module has no such string.
std::optional<std::string> loadResourceString(HINSTANCE instance, UINT id);

// The full path of a module as std::string; empty for an unknown handle.
std::string moduleFileName(HMODULE module);

// Makes `folder` the system folder (an empty one: the platform library's own again)
// and returns the previous setting. Tests point it at a folder of their own to
// stand in other components, or none.
std::string setSystemFolder(std::string folder);

}  // namespace platform
