// Reading a module's version resource: its file and product version as
// "major.minor.patch.build", and one string value when asked for.
#pragma once

#include "platform/WinTypes.h"

#include <string>

namespace tabro::ui {

struct ModuleVersion {
    std::string stringValue;
    std::string fileVersion;
    std::string productVersion;
};

// Fills what the module's version resource holds: the two versions from its fixed
// information and, when both `key` (language and code page, "040904b0") and `name`
// are given, the string value of that name. A null module, a module without a
// version resource or a path too long to read leaves `version` as it was.
void getModuleVersionString(ModuleVersion& version, HMODULE module, const char* key, const char* name);

}  // namespace tabro::ui
