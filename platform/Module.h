// Shared-library loading with the platform's module calls: load, find a symbol, the
// module's own path, and string resources of a loaded resource module. Paths use "/"
// as separator on this platform.
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>

// Notification reasons passed to a module's DllMain.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr DWORD MAX_PATH = 260;

using FARPROC = void (*)();
// The optional mapping entry a module may export as "DllMain" (C linkage).
using DllMainFunction = BOOL (*)(HINSTANCE instance, DWORD reason, void* reserved);

// Maps the library at `path`. Loading a library that is already loaded through this
// call returns the same handle and counts one more reference; DllMain (if exported)
// runs with DLL_PROCESS_ATTACH on the first load only. Null on failure, with
// GetLastError():
//   ERROR_INVALID_PARAMETER  null or empty path
//   ERROR_MOD_NOT_FOUND      the file is missing
//   ERROR_BAD_EXE_FORMAT     the file is not a loadable library (or one it needs is missing)
//   ERROR_DLL_INIT_FAILED    its DllMain answered FALSE (it is unmapped again)
HMODULE LoadLibraryA(const char* path);

// Drops one reference; the last one calls DllMain(DLL_PROCESS_DETACH) and unmaps.
// FALSE with ERROR_INVALID_HANDLE for a handle this call did not give out.
BOOL FreeLibrary(HMODULE module);

// The exported symbol `name`; null with ERROR_PROC_NOT_FOUND when there is none, or
// ERROR_INVALID_HANDLE for an unknown handle.
FARPROC GetProcAddress(HMODULE module, const char* name);

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

namespace platform {

// The whole string resource, converted to the multibyte code set; no value when the
// module has no such string.
std::optional<std::string> loadResourceString(HINSTANCE instance, UINT id);

// The full path of a module as std::string; empty for an unknown handle.
std::string moduleFileName(HMODULE module);

}  // namespace platform
