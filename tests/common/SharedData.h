// Where tests find what the project does not hold itself, the shared corpus of real
// drawings and workbooks (corpus/dxf, corpus/xlsx), and the project's own test tools.
//
// The shared folder is TABLORA_SHARED_DIR from the environment when set, else the one
// configured (CMake's TABLORA_SHARED_DIR, by default ../shared beside the checkout).
// A test that needs the corpus skips, with one line saying so, where it is absent.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace tabro::testing {

inline std::filesystem::path sharedDir() {
    const char* set = std::getenv("TABLORA_SHARED_DIR");
    return set && *set ? std::filesystem::path(set) : std::filesystem::path(TABLORA_SHARED_DIR);
}

// The shared folder's `part` ("corpus/dxf", "corpus/xlsx/xlsxwriter"), present or not.
inline std::filesystem::path sharedPath(const std::string& part) { return sharedDir() / part; }

inline bool hasShared(const std::string& part) {
    std::error_code ignored;
    return std::filesystem::is_directory(sharedPath(part), ignored);
}

// The one line a test skips with when the shared corpus is not there.
inline std::string sharedMissing(const std::string& part) {
    return "needs the shared corpus " + part + ", not found at " + sharedPath(part).string() +
           " (set TABLORA_SHARED_DIR to the folder holding corpus/)";
}

// A tool of the project's own (tools/), run with Debian's python3.
inline std::string toolCommand(const std::string& script) {
    return "/usr/bin/python3 '" + (std::filesystem::path(TABLORA_TOOLS_DIR) / script).string() + "'";
}

}  // namespace tabro::testing

// Skips the test, naming what it needs, unless the shared folder holds `part`.
#define TABLORA_REQUIRE_SHARED(part)                                                                   \
    do {                                                                                               \
        if (!::tabro::testing::hasShared(part)) GTEST_SKIP() << ::tabro::testing::sharedMissing(part); \
    } while (0)
