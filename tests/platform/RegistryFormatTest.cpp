// The hive file format on its own: every hive the store can hold prints to text that
// reads back to the same keys and values, and lines a person may write by hand
// read as the editor reads them.
#include "platform/RegistryFormat.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using platform::regfile::Hive;
using platform::regfile::Key;
using platform::regfile::Value;

constexpr const char* kRoot = "HKEY_CURRENT_USER";

Value text(std::string name, const std::string& s) {
    std::vector<BYTE> data(s.begin(), s.end());
    data.push_back(0);
    return {std::move(name), REG_SZ, std::move(data)};
}

Value bytes(std::string name, DWORD type, std::size_t count) {
    std::vector<BYTE> data(count);
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<BYTE>(i * 37 + 1);
    return {std::move(name), type, std::move(data)};
}

TEST(RegistryFormat, WhatIsPrintedReadsBackTheSame) {
    struct Case {
        const char* name;
        std::vector<Key> keys;
    };
    const Case cases[] = {
        {"the root key's own values", {{"", {text("", "default"), bytes("d", REG_DWORD, 4)}}}},
        {"quotes and backslashes", {{"SOFTWARE\\A", {text("say \"hi\"\\", "C:\\dir \"q\"\\")}}}},
        // The '=' in the name must not be taken for the one before the data, or the
        // wrapped list's continuation lines are read as values of their own.
        {"name holding '=' with a wrapped list", {{"S", {bytes("x=y", REG_BINARY, 120)}}}},
        {"name holding '=' with text", {{"S", {text("a=b", "c=d")}}}},
        {"texts that cannot stand as text",
         {{"S", {text("crlf", "a\r\nb"), {"inner nul", REG_SZ, {'a', 0, 'b', 0}}, {"no nul", REG_SZ, {'a'}}}}}},
        {"odd types and sizes",
         {{"S",
           {bytes("none", REG_NONE, 0), bytes("short dword", REG_DWORD, 3), bytes("qword", REG_QWORD, 8),
            bytes("big type", 0xFFFFFFFFu, 200), bytes("multi", REG_MULTI_SZ, 81)}}}},
        {"brackets in a key name", {{"a]b", {}}, {"a]b\\c ] d", {text("v", "w")}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hive hive;
        hive.keys = c.keys;
        std::string printed = platform::regfile::format(hive, kRoot);
        Hive back = platform::regfile::parse(printed, kRoot);
        EXPECT_FALSE(back.damaged) << printed;
        ASSERT_EQ(back.keys.size(), hive.keys.size()) << printed;
        for (std::size_t k = 0; k < hive.keys.size(); ++k) {
            EXPECT_EQ(back.keys[k].path, hive.keys[k].path);
            ASSERT_EQ(back.keys[k].values.size(), hive.keys[k].values.size()) << printed;
            for (std::size_t v = 0; v < hive.keys[k].values.size(); ++v) {
                const Value& want = hive.keys[k].values[v];
                const Value& got = back.keys[k].values[v];
                SCOPED_TRACE(want.name);
                EXPECT_EQ(got.name, want.name);
                EXPECT_EQ(got.type, want.type);
                EXPECT_EQ(got.data, want.data);
            }
        }
        EXPECT_EQ(platform::regfile::format(back, kRoot), printed);
    }
}

TEST(RegistryFormat, AHiveInTheStoresOwnLayoutPrintsBackByteForByte) {
    const std::string file = tabro::testing::readFile(std::string(TABLORA_FIXTURES_DIR) + "/registry/settings.reg");
    ASSERT_FALSE(file.empty());
    Hive hive = platform::regfile::parse(file, kRoot);
    EXPECT_FALSE(hive.damaged);
    EXPECT_EQ(hive.keys.size(), 3u);
    EXPECT_EQ(platform::regfile::format(hive, kRoot), file);
}

TEST(RegistryFormat, HandWrittenLinesReadAsTheEditorReadsThem) {
    struct Case {
        const char* name;
        const char* body;  // after the header
        bool damaged;
        std::size_t values;  // under [HKEY_CURRENT_USER\S]
    };
    const Case cases[] = {
        {"blanks around '='", "[HKEY_CURRENT_USER\\S]\n\"a\" = dword:00000001\n", false, 1},
        {"comment lines", "[HKEY_CURRENT_USER\\S]\n; note\n\"a\"=\"x\"\n", false, 1},
        {"later value wins", "[HKEY_CURRENT_USER\\S]\n\"a\"=\"x\"\n\"A\"=\"y\"\n", false, 1},
        {"deletion entry", "[HKEY_CURRENT_USER\\S]\n\"a\"=\"x\"\n\"a\"=-\n", false, 0},
        {"list cut short by the end", "[HKEY_CURRENT_USER\\S]\n\"a\"=hex:01,\\\n", true, 0},
        {"unknown escape", "[HKEY_CURRENT_USER\\S]\n\"a\"=\"x\\ny\"\n", true, 0},
        {"dword too long", "[HKEY_CURRENT_USER\\S]\n\"a\"=dword:000000001\n", true, 0},
        {"another hive's key", "[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"x\"\n[HKEY_CURRENT_USER\\S]\n", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Hive hive = platform::regfile::parse(std::string("Windows Registry Editor Version 5.00\n\n") + c.body, kRoot);
        EXPECT_EQ(hive.damaged, c.damaged);
        Key* key = platform::regfile::findKey(hive, "s");
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->values.size(), c.values);
    }
}

// Sections deeper than the platform allows are refused on their own, with the line
// of the first; those at the limit are read. The refused ones cost no more to read
// than their text: a key nested twenty thousand levels deep is 40 KB of file.
TEST(RegistryFormat, KeysDeeperThanThePlatformAllowsAreRefusedWithTheirLine) {
    auto nested = [](std::size_t levels) {
        std::string path = "S";
        for (std::size_t i = 1; i < levels; ++i) path += "\\k";
        return path;
    };
    const std::string atLimit = nested(platform::regfile::kMaxKeyDepth);
    const std::string text = std::string("Windows Registry Editor Version 5.00\n\n") +           //
                             "[HKEY_CURRENT_USER\\" + atLimit + "]\n\"a\"=dword:00000001\n\n" +  // lines 3-4
                             "[HKEY_CURRENT_USER\\" + nested(platform::regfile::kMaxKeyDepth + 1) +
                             "]\n\"b\"=dword:00000002\n\n" +  // lines 6-7
                             "[HKEY_CURRENT_USER\\" + nested(20000) + "]\n\"c\"=dword:00000003\n\n" +
                             "[HKEY_CURRENT_USER\\T]\n\"d\"=dword:00000004\n";
    EXPECT_EQ(platform::regfile::keyDepth(""), 0u);
    EXPECT_EQ(platform::regfile::keyDepth("A\\B"), 2u);
    Hive hive = platform::regfile::parse(text, kRoot);
    EXPECT_TRUE(hive.damaged);
    EXPECT_EQ(hive.tooDeepLine, 6u);
    ASSERT_EQ(hive.keys.size(), 2u);
    EXPECT_EQ(hive.keys[0].path, atLimit);
    ASSERT_EQ(hive.keys[0].values.size(), 1u);
    EXPECT_EQ(hive.keys[0].values[0].name, "a") << "the value of a refused key is not taken for the one before";
    EXPECT_EQ(hive.keys[1].path, "T");
    ASSERT_EQ(hive.keys[1].values.size(), 1u);
    EXPECT_EQ(hive.keys[1].values[0].name, "d");

    Hive clean = platform::regfile::parse(
        std::string("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\") + atLimit + "]\n", kRoot);
    EXPECT_FALSE(clean.damaged);
    EXPECT_EQ(clean.tooDeepLine, 0u);
}

// A key of many values is read in one pass: each value line must not search all the
// values before it (a hundred thousand would take minutes), and a value named again
// further down still replaces the first, whatever its case.
TEST(RegistryFormat, AKeyOfManyValuesIsReadInOnePass) {
    constexpr int kValues = 100000;
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n";
    char line[64];
    for (int i = 0; i < kValues; ++i) {
        std::snprintf(line, sizeof line, "\"Value%06d\"=dword:%08x\n", i, i);
        text += line;
    }
    text += "\"VALUE000007\"=dword:ffffffff\n\"Value000008\"=-\n";
    const auto started = std::chrono::steady_clock::now();
    Hive hive = platform::regfile::parse(text, kRoot);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 3.0) << "the old search took well over ten seconds";
    ASSERT_EQ(hive.keys.size(), 1u);
    ASSERT_EQ(hive.keys[0].values.size(), static_cast<std::size_t>(kValues - 1));
    const Value& seventh = hive.keys[0].values[7];
    EXPECT_EQ(seventh.name, "VALUE000007");
    EXPECT_EQ(seventh.data, (std::vector<BYTE>{0xff, 0xff, 0xff, 0xff}));
    EXPECT_EQ(hive.keys[0].values[8].name, "Value000009");
}

}  // namespace
