#include "module/base/VersionResource.h"

#include "platform/ui/VersionInfo.h"

#include <string>
#include <vector>

#if !defined(TABRO_VERSION_MAJOR) || !defined(TABRO_VERSION_MINOR) || !defined(TABRO_VERSION_PATCH) || \
    !defined(TABRO_VERSION_BUILD)
#error "the build passes the project's version as TABRO_VERSION_MAJOR/MINOR/PATCH/BUILD"
#endif

namespace tabro {

VersionNumbers moduleVersionNumbers() {
    return {TABRO_VERSION_MAJOR, TABRO_VERSION_MINOR, TABRO_VERSION_PATCH, TABRO_VERSION_BUILD};
}

std::string_view moduleVersionResource() {
    static const std::vector<unsigned char> bytes = [] {
        const VersionNumbers v = moduleVersionNumbers();
        const std::string text = std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                                 std::to_string(v.patch) + "." + std::to_string(v.build);
        return platform::buildVersionResource(platform::fixedFileInfo(v.major, v.minor, v.patch, v.build),
                                              {{"040904b0", "FileDescription", "Tablora add-in module"},
                                               {"040904b0", "FileVersion", text},
                                               {"040904b0", "ProductName", "Tablora"},
                                               {"040904b0", "ProductVersion", text}});
    }();
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace tabro
