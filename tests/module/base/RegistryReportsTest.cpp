// Registry files the module cannot use as they are: at the TABRO command each is told
// of once, in a warning box naming the file and why, whether nothing of it can be
// read (a folder, pipe or device in its place: never waited on) or only part.
#include "module/base/RegistryReports.h"
#include "module/cmd/cmdtabro.h"
#include "module/settings/Settings.h"
#include "platform/Registry.h"
#include "tests/common/TestFiles.h"
#include "tests/module/ModuleTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

class RegistryReportsTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        homeVariable_.emplace("CADHOST_HOME", home_.string());
        tabro::forgetRegistryFileReports();
    }
    void TearDown() override {
        tabro::forgetRegistryFileReports();
        homeVariable_.reset();
        ModuleTest::TearDown();
    }
    // TABRO, cancelled at its keyword prompt.
    void tabro() {
        feed({"^C"});
        tabro::tabroCommand();
    }

    tabro::testing::TempDir homeDir_{"registry-reports"};
    const fs::path home_ = homeDir_.path();
    std::optional<tabro::testing::ScopedEnv> homeVariable_;
};

TEST_F(RegistryReportsTest, EachBrokenFileIsToldOfOnceWithItsReason) {
    const std::string user = (home_ / "user.reg").string();
    const std::string classes = (home_ / "classes.reg").string();
    std::string deep = "SOFTWARE";
    for (int level = 1; level < 600; ++level) deep += "\\k";
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string text;
    };
    const Case cases[] = {
        {"user hive as a pipe", [&] { ::mkfifo(user.c_str(), 0600); },
         "The registry file " + user +
             " cannot be read: not a regular file.\nThe options are at their defaults, and changes to them "
             "cannot be saved."},
        {"user hive as a folder", [&] { fs::create_directory(user); },
         "The registry file " + user +
             " cannot be read: not a regular file.\nThe options are at their defaults, and changes to them "
             "cannot be saved."},
        {"classes hive as /dev/zero", [&] { fs::create_symlink("/dev/zero", classes); },
         "The registry file " + classes +
             " cannot be read: not a regular file.\nThe live link's event handler cannot be registered there."},
        {"a key nested too deep",
         [&] {
             std::ofstream(user, std::ios::binary) << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\"
                                                   << deep << "]\n\"A\"=dword:00000001\n";
         },
         "The registry file " + user +
             " cannot be read in full: line 3 holds a key more than 512 levels deep.\nWhat could not be read is "
             "left out, and kept in a copy beside the file when it is next saved."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(user);
        fs::remove_all(classes);
        tabro::forgetRegistryFileReports();
        c.make();
        boxes_.clear();
        tabro();
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().text, c.text);
        EXPECT_EQ(boxes_.last().type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
        tabro();
        tabro::reportRegistryFileProblems();
        EXPECT_EQ(boxes_.count(), 1u) << "told once";
        tabro::Settings s;
        tabro::loadSettings(s);
        EXPECT_EQ(s.exportOptions.StartRow, 1);
    }

    fs::remove_all(user);
    fs::remove_all(classes);
    tabro::forgetRegistryFileReports();
    tabro::Settings stored;
    ASSERT_TRUE(tabro::saveSettings(stored));
    boxes_.clear();
    tabro();
    EXPECT_EQ(boxes_.count(), 0u) << "sound files say nothing";
}

}  // namespace
