// A test base that gives each test a registry of its own ($CADHOST_HOME pointed at
// a fresh folder), checks that no key handle is left open, and lists what a hive
// holds as the file has it, so that tests compare whole trees of keys.
#pragma once

#include "platform/Registry.h"
#include "platform/RegistryFormat.h"
#include "tests/common/TestFiles.h"
#include "tests/platform/LeakCheck.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform::test {

class TempRegistryHome : public LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        homeVariable_.emplace("CADHOST_HOME", home_.string());
        openAtStart_ = openRegistryKeyCount();
    }
    void TearDown() override {
        EXPECT_EQ(openRegistryKeyCount(), openAtStart_) << "a key handle was left open";
        homeVariable_.reset();
        LeakCheckedTest::TearDown();
    }

    // Every key of HKEY_CLASSES_ROOT whose path starts with `under` (relative to the
    // root), and each of their values as `key\[name] = text` (REG_SZ shown without
    // its terminator, "@" for the default value), sorted.
    std::vector<std::string> classesBelow(const std::string& under) const {
        regfile::Hive hive =
            regfile::parse(tabro::testing::readFileIfAny(home_ / "classes.reg").value_or(""), "HKEY_CLASSES_ROOT");
        EXPECT_FALSE(hive.damaged);
        std::vector<std::string> lines;
        for (const regfile::Key& key : hive.keys) {
            if (!regfile::startsWithNoCase(key.path, under)) continue;
            lines.push_back(key.path);
            for (const regfile::Value& value : key.values) {
                std::string shown(value.data.begin(), value.data.end());
                if (value.type == REG_SZ && !shown.empty() && shown.back() == '\0') shown.pop_back();
                lines.push_back(key.path + "\\[" + (value.name.empty() ? "@" : value.name) + "] = " + shown);
            }
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

private:
    tabro::testing::TempDir homeDir_{"registry-home"};

protected:
    const std::filesystem::path home_ = homeDir_.path();

private:
    std::optional<tabro::testing::ScopedEnv> homeVariable_;
    std::size_t openAtStart_ = 0;
};

}  // namespace platform::test
