// A resource module as a build from before data resources wrote it: its table ends
// after the strings (version 1). The layout is spelt out here as that build's header
// had it, so the test reads exactly what such a module holds.
#include <cstddef>
#include <iterator>

extern "C" {
struct ResourceStringV1 {
    unsigned id;
    const char* text;
};
struct ResourceTableV1 {
    unsigned version;
    std::size_t tableSize;
    const ResourceStringV1* strings;
    std::size_t stringCount;
};
}

namespace {

const ResourceStringV1 kStrings[] = {
    {1, "one"},
    {7, "seven, from a version 1 table"},
};
const ResourceTableV1 kTable = {1, sizeof(ResourceTableV1), kStrings, std::size(kStrings)};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ResourceTableV1* ResourceModuleTable() { return &kTable; }
