// The registry: keys and typed values under HKEY_CURRENT_USER and HKEY_CLASSES_ROOT,
// spelt as the platform spells it. Each hive is a text file in the registry editor's
// export format under the user's state folder ($CADHOST_HOME, default
// ~/.config/cadhost): user.reg holds HKEY_CURRENT_USER, classes.reg HKEY_CLASSES_ROOT.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

using HKEY = struct HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// The predefined keys. They are always open; closing one is harmless.
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));

// Access rights. A handle opened without KEY_QUERY_VALUE cannot be queried, one
// without KEY_SET_VALUE cannot be written (ERROR_ACCESS_DENIED).
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Key creation.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Key and value names compare without regard to ASCII case; a key's spelling is the
// one it was created with. subKey may be null or empty (a new handle to `key`
// itself). A name holding a line break, an empty path component or a leading
// backslash, and a key more than 512 levels below its hive's root, are refused with
// ERROR_INVALID_PARAMETER, since the hive file could not hold them. Every call returns ERROR_SUCCESS or a system error
// code; a failed open or create leaves *result null and nothing to close.

// Opens an existing key: ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, PHKEY result);

// Opens subKey, creating it and any missing parent keys first. `reserved` must be 0
// and `security` is ignored. *disposition (when given) tells which happened.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM access,
                     void* security, PHKEY result, DWORD* disposition);

// Reads a value (name null or empty: the key's default value). With data null,
// reports the size (and type) only. When the value is longer than *size, fails with
// ERROR_MORE_DATA, setting *size to the length needed and *type to the stored type;
// otherwise copies exactly the stored bytes, leaving the rest of the buffer as it
// was, and sets *size to their count. ERROR_FILE_NOT_FOUND when the value (or the
// key, deleted since it was opened) is absent. `reserved` must be null.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);

// Stores a value of any type with the given bytes, replacing one of the same name.
// The hive file is re-read under an inter-process lock before the change is applied
// and then replaced atomically, so concurrent writers never lose each other's values.
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);

// Removes a value (ERROR_FILE_NOT_FOUND when absent).
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Removes a key that has no subkeys, with its values (ERROR_ACCESS_DENIED when it
// still has subkeys, ERROR_FILE_NOT_FOUND when absent).
LONG RegDeleteKeyA(HKEY key, const char* subKey);

// Removes subKey with all its subkeys and values in one write; with subKey null or
// empty, removes everything below `key` and its values but keeps the key itself.
// ERROR_FILE_NOT_FOUND when subKey is absent.
LONG RegDeleteTreeA(HKEY key, const char* subKey);

// The name of the index-th direct subkey (in order of names, without regard to ASCII
// case), copied with its terminator; *nameSize is the buffer's size in characters
// and becomes the name's length. ERROR_NO_MORE_ITEMS past the last one,
// ERROR_MORE_DATA when the buffer cannot hold the name and its terminator. The
// handle needs KEY_ENUMERATE_SUB_KEYS. Keys have no class and no write time here:
// *classSize (when given) becomes 0 and *lastWriteTime (when given) zero.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, char* keyClass,
                   DWORD* classSize, FILETIME* lastWriteTime);

// Counts and longest lengths of a key's direct subkeys and values (each output may
// be null): subkey and value name lengths in characters without the terminator,
// value data in bytes. The class, security descriptor size and write time are
// empty here. The handle needs KEY_QUERY_VALUE.
LONG RegQueryInfoKeyA(HKEY key, char* keyClass, DWORD* classSize, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLength, DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength,
                      DWORD* maxValueLength, DWORD* securityDescriptorSize, FILETIME* lastWriteTime);

// Releases a handle. A handle that is not open (closed twice, never opened) gives
// ERROR_INVALID_HANDLE and does no harm.
LONG RegCloseKey(HKEY key);

namespace platform {

// Owns one open key and closes it on every way out. close() reports the result of
// closing for callers that act on it; the destructor closes silently.
class RegistryKey {
public:
    RegistryKey() noexcept = default;
    explicit RegistryKey(HKEY key) noexcept : key_(key) {}
    RegistryKey(RegistryKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { close(); }

    HKEY get() const noexcept { return key_; }
    explicit operator bool() const noexcept { return key_ != nullptr; }
    // Hands out the slot for an open or create call (closing what was held).
    HKEY* put() noexcept {
        close();
        return &key_;
    }
    // Closes the key (ERROR_SUCCESS when nothing was held); afterwards nothing is held.
    LONG close() noexcept;

private:
    HKEY key_ = nullptr;
};

// Gathers the registry changes the current thread makes while it is open into one
// write of each hive file they touch, made when the batch is committed (or
// destroyed): registering a component changes dozens of values, and each would
// otherwise rewrite the whole hive. Every call still answers as it would alone, and
// the thread's own queries see its changes at once; other threads and processes see
// them when the batch ends. At the end the changes are applied again to each hive as
// it is on disk then, under its lock, so values others wrote meanwhile are kept. A
// batch opened inside another joins it. Owned by the thread that opened it.
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    // Writes what was changed: ERROR_SUCCESS, or the first write's failure. Only the
    // outermost batch writes; later calls return ERROR_SUCCESS.
    LONG commit();

private:
    bool isOpen_ = true;
};

// The folder holding the hive files: $CADHOST_HOME, else ~/.config/cadhost. Read
// afresh on every call, so a test can point it at a folder of its own.
std::filesystem::path registryHome();
std::filesystem::path hivePath(HKEY predefinedKey);

// What keeps the hive file of HKEY_CURRENT_USER or HKEY_CLASSES_ROOT, as it is now,
// from being read in full, in words for the user. No value when the file is missing
// (an empty hive) or is read in full (lines it could not make sense of aside).
struct HiveProblem {
    // False: nothing of it is read and every call on the hive fails with
    // ERROR_CANTREAD ("not a regular file" for a folder, pipe or device, which is
    // never opened: a pipe would block, /dev/zero never end; "cannot open the file:
    // Permission denied"). True: the rest is read, and the next write keeps the file
    // aside first ("line 3 holds a key more than 512 levels deep").
    bool isReadInPart = false;
    std::string reason;
};
std::optional<HiveProblem> hiveProblem(HKEY predefinedKey);

// A REG_SZ (or REG_EXPAND_SZ) value as text, without its terminator; no value when
// it is absent, of another type, or cannot be read.
std::optional<std::string> queryRegistryString(HKEY key, const char* valueName);
// Stores text as REG_SZ, with its terminator as the platform stores strings.
LONG setRegistryString(HKEY key, const char* valueName, std::string_view text);

// Number of key handles open in this process (shutdown checks and tests).
std::size_t openRegistryKeyCount() noexcept;

// Fault injection for tests: after `skip` more closes of key handles succeed, the
// next `count` fail with `error` (the handle is released all the same). Closing a
// handle touches no file, so the file layer's fault table cannot reach it; every
// other registry failure is a file failure and injected there. Process-wide.
void injectRegistryCloseFault(int skip, int count, LONG error);
void clearRegistryFaults() noexcept;

}  // namespace platform
