#include "platform/ui/VersionInfo.h"

#include "platform/LastError.h"
#include "platform/Module.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kHeader = sizeof(DWORD) + sizeof(VS_FIXEDFILEINFO) + sizeof(DWORD);

DWORD readDword(const unsigned char* p) {
    DWORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool sameAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The resource bytes of a module file, found while the file is loaded for its data.
// The callback sees them only while the module is loaded.
template <class Use>
bool withVersionResource(const char* file, Use use) {
    if (!file || !*file) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return false;
    const auto data = platform::findResourceData(module, MAKEINTRESOURCEA(RT_VERSION_ID), VS_VERSION_INFO);
    const DWORD error = GetLastError();
    bool ok = false;
    if (data && data->size() >= kHeader &&
        readDword(reinterpret_cast<const unsigned char*>(data->data())) == data->size())
        ok = use(*data);
    else if (data)
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    FreeLibrary(module);
    if (!data) SetLastError(error);
    return ok;
}

}  // namespace

DWORD GetFileVersionInfoSizeA(const char* file, DWORD* handle) {
    if (handle) *handle = 0;
    DWORD size = 0;
    withVersionResource(file, [&](std::string_view bytes) {
        size = static_cast<DWORD>(bytes.size());
        return true;
    });
    return size;
}

BOOL GetFileVersionInfoA(const char* file, DWORD, DWORD length, void* data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return withVersionResource(file,
                               [&](std::string_view bytes) {
                                   if (bytes.size() > length) {
                                       SetLastError(ERROR_INSUFFICIENT_BUFFER);
                                       return false;
                                   }
                                   std::memcpy(data, bytes.data(), bytes.size());
                                   return true;
                               })
               ? TRUE
               : FALSE;
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length) {
    if (!block || !subBlock || !buffer || !length) return FALSE;
    const auto* bytes = static_cast<const unsigned char*>(block);
    const DWORD total = readDword(bytes);
    if (total < kHeader) return FALSE;
    const std::string_view query(subBlock);
    if (query == "\\" || query.empty()) {
        *buffer = const_cast<unsigned char*>(bytes + sizeof(DWORD));
        *length = sizeof(VS_FIXEDFILEINFO);
        return TRUE;
    }
    constexpr std::string_view prefix = "\\StringFileInfo\\";
    if (query.size() <= prefix.size() || !sameAsciiCase(query.substr(0, prefix.size()), prefix)) return FALSE;
    const std::string_view rest = query.substr(prefix.size());
    const std::size_t slash = rest.find('\\');
    if (slash == std::string_view::npos) return FALSE;
    const std::string_view wantedBlock = rest.substr(0, slash), wantedName = rest.substr(slash + 1);

    const DWORD count = readDword(bytes + sizeof(DWORD) + sizeof(VS_FIXEDFILEINFO));
    std::size_t at = kHeader;
    // Each text must end inside the block: the resource comes from a file.
    auto nextText = [&](std::string_view& text) {
        const void* end = at < total ? std::memchr(bytes + at, '\0', total - at) : nullptr;
        if (!end) return false;
        const std::size_t n = static_cast<const unsigned char*>(end) - (bytes + at);
        text = std::string_view(reinterpret_cast<const char*>(bytes + at), n);
        at += n + 1;
        return true;
    };
    for (DWORD i = 0; i < count; ++i) {
        std::string_view b, n, v;
        if (!nextText(b) || !nextText(n)) return FALSE;
        const std::size_t valueAt = at;
        if (!nextText(v)) return FALSE;
        if (sameAsciiCase(b, wantedBlock) && sameAsciiCase(n, wantedName)) {
            *buffer = const_cast<unsigned char*>(bytes + valueAt);
            *length = static_cast<UINT>(v.size() + 1);
            return TRUE;
        }
    }
    return FALSE;
}

namespace platform {

VS_FIXEDFILEINFO fixedFileInfo(WORD major, WORD minor, WORD patch, WORD build, DWORD fileType) {
    VS_FIXEDFILEINFO f{};
    f.dwSignature = VS_FFI_SIGNATURE;
    f.dwStrucVersion = VS_FFI_STRUCVERSION;
    f.dwFileVersionMS = f.dwProductVersionMS = (DWORD{major} << 16) | minor;
    f.dwFileVersionLS = f.dwProductVersionLS = (DWORD{patch} << 16) | build;
    f.dwFileFlagsMask = 0x3F;
    f.dwFileOS = VOS__WINDOWS32;
    f.dwFileType = fileType;
    return f;
}

std::vector<unsigned char> buildVersionResource(const VS_FIXEDFILEINFO& fixed,
                                                const std::vector<VersionString>& strings) {
    std::vector<unsigned char> out(kHeader);
    std::memcpy(out.data() + sizeof(DWORD), &fixed, sizeof fixed);
    const DWORD count = static_cast<DWORD>(strings.size());
    std::memcpy(out.data() + sizeof(DWORD) + sizeof fixed, &count, sizeof count);
    for (const VersionString& s : strings)
        for (const std::string* text : {&s.block, &s.name, &s.value}) {
            // A text holding a NUL would end early and shift every later entry.
            const std::string_view t(text->c_str());
            out.insert(out.end(), t.begin(), t.end());
            out.push_back('\0');
        }
    const DWORD total = static_cast<DWORD>(out.size());
    std::memcpy(out.data(), &total, sizeof total);
    return out;
}

}  // namespace platform
