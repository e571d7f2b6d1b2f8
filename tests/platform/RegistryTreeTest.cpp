// Whole registry trees: deleting a key with everything below it, listing a key's
// subkeys, and what a key holds.
#include "platform/Registry.h"

#include "tests/platform/TempRegistryHome.h"

#include <gtest/gtest.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

class RegistryTreeTest : public platform::test::TempRegistryHome {
protected:
    void setText(const char* path, const char* name, const char* text) {
        platform::RegistryKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(platform::setRegistryString(key.get(), name, text), ERROR_SUCCESS);
    }
    std::vector<std::string> subkeys(const char* path, REGSAM access = KEY_READ) {
        std::vector<std::string> names;
        platform::RegistryKey key;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, access, key.put()), ERROR_SUCCESS);
        char name[64];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            LONG r = RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS) break;
            EXPECT_EQ(r, ERROR_SUCCESS);
            if (r != ERROR_SUCCESS) break;
            EXPECT_EQ(size, std::char_traits<char>::length(name));
            names.emplace_back(name);
        }
        return names;
    }
};

TEST_F(RegistryTreeTest, DeletingATreeTakesTheKeyAndEverythingBelowItOnly) {
    setText("A\\B", nullptr, "b");
    setText("A\\B\\C\\D", "x", "d");
    setText("A\\BC", nullptr, "a sibling sharing the prefix");
    setText("A", "kept", "value of the parent");
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "a\\b"), ERROR_SUCCESS) << "paths compare without regard to case";
    EXPECT_EQ(classesBelow("A"), (std::vector<std::string>{"A", "A\\BC", "A\\BC\\[@] = a sibling sharing the prefix",
                                                           "A\\[kept] = value of the parent"}));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "A\\B"), ERROR_FILE_NOT_FOUND);

    // Without a subkey: everything below the key and its values go, the key stays.
    setText("A\\B\\C", nullptr, "c");
    platform::RegistryKey a;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_ALL_ACCESS, a.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(a.get(), nullptr), ERROR_SUCCESS);
    EXPECT_EQ(classesBelow("A"), std::vector<std::string>{"A"});
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "A\\\\B"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteTreeA(reinterpret_cast<HKEY>(0x1234), "A"), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTreeTest, SubkeysAreListedOnceInOrderOfTheirNames) {
    setText("Root\\beta", nullptr, "1");
    setText("Root\\Alpha\\deep", nullptr, "2");
    setText("Root\\gamma", nullptr, "3");
    setText("Root\\ALPHA\\other", nullptr, "4");  // the same key as Alpha
    EXPECT_EQ(subkeys("Root"), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(subkeys("Root\\Alpha"), (std::vector<std::string>{"deep", "other"}));
    EXPECT_TRUE(subkeys("Root\\gamma").empty());

    // A hand-made file may name only the deepest key: its parents are listed all the same.
    std::ofstream(home_ / "classes.reg") << "Windows Registry Editor Version 5.00\n\n"
                                         << "[HKEY_CLASSES_ROOT\\Made\\By\\Hand]\n@=\"x\"\n";
    EXPECT_EQ(subkeys("Made"), std::vector<std::string>{"By"});

    platform::RegistryKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Made", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    char small[2];
    DWORD size = sizeof small;
    EXPECT_EQ(RegEnumKeyExA(key.get(), 0, small, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    platform::RegistryKey queryOnly;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Made", 0, KEY_QUERY_VALUE, queryOnly.put()), ERROR_SUCCESS);
    char name[16];
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(queryOnly.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTreeTest, KeyInformationCountsDirectSubkeysAndValues) {
    setText("K\\first", nullptr, "");
    setText("K\\second\\deeper", nullptr, "");
    setText("K", nullptr, "default");
    setText("K", "LongerName", "twelve bytes");
    platform::RegistryKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                               &maxValueName, &maxValue, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(maxSubKey, 6u);  // "second"
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxValueName, 10u);  // "LongerName"
    EXPECT_EQ(maxValue, 13u);      // "twelve bytes" and its terminator
    platform::RegistryKey leaf;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K\\first", 0, KEY_READ, leaf.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKeyA(leaf.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 1u);
}

}  // namespace
