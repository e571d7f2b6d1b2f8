// The resource module ABI: a resource module is a shared library that exports one C
// function handing out its resource table. Strings are found by number; the table
// grows by appending fields after `stringCount` and raising `version`, so an older
// reader keeps working on a newer module.
#pragma once

#include <cstddef>

extern "C" {

struct ResourceString {
    unsigned id;
    const char* text;  // UTF-8, NUL-terminated
};

struct ResourceTable {
    unsigned version;       // RESOURCE_TABLE_VERSION of the module's build
    std::size_t tableSize;  // sizeof(ResourceTable) as the module knows it
    const ResourceString* strings;
    std::size_t stringCount;
    // Menus and dialog texts follow here in later versions.
};

// Exported by every resource module under this name.
using ResourceTableFunction = const ResourceTable* (*)();
}

constexpr const char* RESOURCE_TABLE_EXPORT = "ResourceModuleTable";
constexpr unsigned RESOURCE_TABLE_VERSION = 1;
