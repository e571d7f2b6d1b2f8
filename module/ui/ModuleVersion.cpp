#include "module/ui/ModuleVersion.h"

#include "platform/Module.h"
#include "platform/ui/Gdi.h"
#include "platform/ui/VersionInfo.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace tabro::ui {

namespace {

std::string versionText(DWORD mostSignificant, DWORD leastSignificant) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{HIWORD(mostSignificant)},
                  unsigned{LOWORD(mostSignificant)}, unsigned{HIWORD(leastSignificant)},
                  unsigned{LOWORD(leastSignificant)});
    return text;
}

}  // namespace

void getModuleVersionString(ModuleVersion& version, HMODULE module, const char* key, const char* name) {
    if (!module) return;
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    // A cut path would name another file.
    if (length == 0 || length >= MAX_PATH) return;

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return;
    std::vector<unsigned char> block;
    try {
        block.resize(size);
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!GetFileVersionInfoA(path, handle, size, block.data())) return;

    void* value = nullptr;
    UINT valueLength = 0;
    if (VerQueryValueA(block.data(), "\\", &value, &valueLength) && valueLength >= sizeof(VS_FIXEDFILEINFO)) {
        VS_FIXEDFILEINFO fixed;
        std::memcpy(&fixed, value, sizeof fixed);
        version.productVersion = versionText(fixed.dwProductVersionMS, fixed.dwProductVersionLS);
        version.fileVersion = versionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS);
    }
    // Both parts name the value; a query with one missing names none.
    if (key && name) {
        const std::string query = std::string("\\StringFileInfo\\") + key + "\\" + name;
        if (VerQueryValueA(block.data(), query.c_str(), &value, &valueLength) && valueLength > 0)
            version.stringValue.assign(static_cast<const char*>(value), valueLength - 1);
    }
}

}  // namespace tabro::ui
