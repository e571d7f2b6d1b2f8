// A test base that gives each test a registry of its own ($CADHOST_HOME pointed at
// a fresh folder), checks that no key handle is left open, and lists what a hive
// holds as the file has it, so that tests compare whole trees of keys.
#pragma once

#include "platform/Registry.h"
#include "platform/RegistryFormat.h"
#include "tests/platform/LeakCheck.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace platform::test {

class TempRegistryHome : public LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        char pattern[] = "/tmp/registry-home-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home_ = pattern;
        if (const char* old = std::getenv("CADHOST_HOME")) oldHome_ = old;
        ::setenv("CADHOST_HOME", home_.c_str(), 1);
        openAtStart_ = openRegistryKeyCount();
    }
    void TearDown() override {
        EXPECT_EQ(openRegistryKeyCount(), openAtStart_) << "a key handle was left open";
        if (oldHome_)
            ::setenv("CADHOST_HOME", oldHome_->c_str(), 1);
        else
            ::unsetenv("CADHOST_HOME");
        std::error_code ignored;
        std::filesystem::remove_all(home_, ignored);
        LeakCheckedTest::TearDown();
    }

    // Every key of HKEY_CLASSES_ROOT whose path starts with `under` (relative to the
    // root), and each of their values as `key\[name] = text` (REG_SZ shown without
    // its terminator, "@" for the default value), sorted.
    std::vector<std::string> classesBelow(const std::string& under) const {
        std::ifstream in(home_ / "classes.reg", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        regfile::Hive hive = regfile::parse(text.str(), "HKEY_CLASSES_ROOT");
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

    std::filesystem::path home_;

private:
    std::optional<std::string> oldHome_;
    std::size_t openAtStart_ = 0;
};

}  // namespace platform::test
