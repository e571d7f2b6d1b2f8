// The resource module ABI: a resource module is a shared library that exports one C
// function handing out its resource table. Strings are found by number, data
// resources (a type library, a registry script) by type and number; the table grows
// by appending fields and raising `version`, so an older reader keeps working on a
// newer module and a newer reader on an older one.
#pragma once

#include <cstddef>

extern "C" {

struct ResourceString {
    unsigned id;
    const char* text;  // UTF-8, NUL-terminated
};

// Version 2 on.
struct ResourceData {
    const char* type;  // "TYPELIB", "REGISTRY", ...: compared without regard to ASCII case
    unsigned id;
    const unsigned char* bytes;  // size bytes, not terminated
    std::size_t size;
};

struct ResourceTable {
    unsigned version;       // RESOURCE_TABLE_VERSION of the module's build
    std::size_t tableSize;  // sizeof(ResourceTable) as the module knows it
    const ResourceString* strings;
    std::size_t stringCount;
    // Version 2: data resources.
    const ResourceData* data;
    std::size_t dataCount;
    // Menus and dialog texts follow here in later versions.
};

// Exported by every resource module under this name.
using ResourceTableFunction = const ResourceTable* (*)();
}

constexpr const char* RESOURCE_TABLE_EXPORT = "ResourceModuleTable";
constexpr unsigned RESOURCE_TABLE_VERSION = 2;
