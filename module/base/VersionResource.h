// The module's version resource (RT_VERSION 1 in its resource table): the project's
// version from the build as file and product version, with the usual string values.
#pragma once

#include "platform/WinTypes.h"

#include <string_view>

namespace tabro {

struct VersionNumbers {
    WORD major, minor, patch, build;
};

// The version the build gave the module.
VersionNumbers moduleVersionNumbers();

// The resource's bytes, built once; they live as long as the module is mapped.
std::string_view moduleVersionResource();

}  // namespace tabro
