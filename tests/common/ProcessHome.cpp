// Gives every test process a state folder of its own. ctest runs tests in parallel
// processes; a shared registry hive would let one test's saved settings leak into
// another's export.
#include "tests/common/TestFiles.h"

#include <cstdlib>
#include <exception>
#include <optional>

namespace {

struct ProcessHome {
    std::optional<tabro::testing::TempDir> folder;

    ProcessHome() {
        // Before main: a folder that cannot be made leaves $CADHOST_HOME as it was,
        // and the tests that need it fail there, rather than the whole program here.
        try {
            folder.emplace("test-home");
            ::setenv("CADHOST_HOME", folder->path().c_str(), 1);
        } catch (const std::exception&) {
        }
    }
};

const ProcessHome processHome;

}  // namespace
