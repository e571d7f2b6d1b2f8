// Version resources: the fixed file information (numbers) and string values of a
// module, read the platform's way from the module's file. The resource is data
// resource RT_VERSION ("#16") number VS_VERSION_INFO (1) of the module's resource
// table, in the layout buildVersionResource writes:
//   DWORD  total size in bytes, this field included
//   VS_FIXEDFILEINFO (52 bytes, this machine's byte order)
//   DWORD  number of string entries, then per entry three NUL-terminated texts:
//          block ("040904b0": language and code page), name, value
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <vector>

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;
constexpr DWORD VS_FFI_STRUCVERSION = 0x00010000;
constexpr DWORD VOS__WINDOWS32 = 0x00000004;
constexpr DWORD VFT_DLL = 0x00000002;
constexpr WORD VS_VERSION_INFO = 1;
constexpr WORD RT_VERSION_ID = 16;

// The size of the version resource of the module file `file` (loaded for its data
// only); 0 when it has none (ERROR_RESOURCE_DATA_NOT_FOUND and the other reasons of
// FindResourceA) or cannot be loaded. *handle is set to 0.
DWORD GetFileVersionInfoSizeA(const char* file, DWORD* handle);
// Copies the resource into `data` (at most `length` bytes). FALSE when there is none
// or `length` is smaller than the size GetFileVersionInfoSizeA gave.
BOOL GetFileVersionInfoA(const char* file, DWORD handle, DWORD length, void* data);
// "\" gives the VS_FIXEDFILEINFO; "\StringFileInfo\<block>\<name>" a string value
// (length in characters with the terminator; block and name compare without regard
// to ASCII case). FALSE when there is no such value or the block is malformed.
BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length);

namespace platform {

struct VersionString {
    std::string block;
    std::string name;
    std::string value;
};

// Version numbers as the fixed information holds them: major.minor in the most
// significant DWORD, patch.build in the least.
VS_FIXEDFILEINFO fixedFileInfo(WORD major, WORD minor, WORD patch, WORD build, DWORD fileType = VFT_DLL);

// The bytes of a version resource in the layout above.
std::vector<unsigned char> buildVersionResource(const VS_FIXEDFILEINFO& fixed,
                                                const std::vector<VersionString>& strings);

}  // namespace platform
