// Loading texts from the resource module.
#include "module/base/ResourceStrings.h"

#include "module/base/ResourceScope.h"
#include "platform/Module.h"

#include <cstdarg>
#include <cstdio>

namespace tabro {

std::string ResourceStrings::load(UINT id) {
    ResourceScope scope;
    HINSTANCE resources = acDocManager->curResourceHandle();
    if (!resources) return {};
    return platform::loadResourceString(resources, id).value_or(std::string());
}

std::string formatText(UINT id, ...) {
    const std::string format = resourceStrings().load(id);
    if (format.empty()) return {};
    std::va_list args;
    va_start(args, id);
    std::va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format.c_str(), args);
    va_end(args);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<std::size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, format.c_str(), again);
    }
    va_end(again);
    return out;
}

ResourceStrings& resourceStrings() {
    static ResourceStrings strings;
    return strings;
}

}  // namespace tabro
