// Gives every test process a state folder of its own. ctest runs tests in parallel
// processes; a shared registry hive would let one test's saved settings leak into
// another's export.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

struct ProcessHome {
    std::string folder;

    ProcessHome() {
        char pattern[] = "/tmp/tabro-test-home-XXXXXX";
        if (::mkdtemp(pattern)) {
            folder = pattern;
            ::setenv("CADHOST_HOME", pattern, 1);
        }
    }
    ~ProcessHome() {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

const ProcessHome processHome;

}  // namespace
