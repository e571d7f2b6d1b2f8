// A stand-in for the desktop opener and the programs a link starts, and a registry
// of the test's own, so link tests never launch a browser or touch the user's
// classes.
#pragma once

#include "platform/Registry.h"
#include "platform/ui/Shell.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

class StandInOpener {
public:
    // `openerStatus`: xdg-open's exit status; `programError`: errno for anything else.
    explicit StandInOpener(int openerStatus, int programError = 0)
        : openerStatus_(openerStatus), programError_(programError) {
        previous_ = platform::setProcessStarter([this](const platform::ProcessRequest& r) {
            started.push_back(r.argv);
            if (!r.argv.empty() && r.argv[0] == "xdg-open") return platform::ProcessOutcome{0, openerStatus_};
            return platform::ProcessOutcome{programError_, 0};
        });
    }
    ~StandInOpener() { platform::setProcessStarter(std::move(previous_)); }
    StandInOpener(const StandInOpener&) = delete;
    StandInOpener& operator=(const StandInOpener&) = delete;

    std::vector<std::vector<std::string>> started;

private:
    int openerStatus_;
    int programError_;
    platform::ProcessStarter previous_;
};

// Points $CADHOST_HOME at a fresh folder for the test's lifetime.
class ScopedClassesRoot {
public:
    // Sets the default value of HKEY_CLASSES_ROOT\<subKey>.
    static void setDefault(const std::string& subKey, const std::string& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The .htm class with its open command.
    static void registerBrowser(const std::string& command) {
        setDefault(".htm", "htmlfile");
        setDefault("htmlfile\\shell\\open\\command", command);
    }

private:
    tabro::testing::TempDir home_{"link-home"};
    tabro::testing::ScopedEnv variable_{"CADHOST_HOME", home_.path().string()};
};
