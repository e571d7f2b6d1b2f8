// Profile names asked for with blanks around them find the entry the file holds
// under the trimmed name, so that what is written under such names reads back.
#include "platform/Profile.h"

#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ProfileNameBlanksTest : public ::testing::Test {
protected:
    std::string get(const char* section, const char* key) {
        char buf[256];
        DWORD n = GetPrivateProfileStringA(section, key, "<def>", buf, sizeof buf, file_.c_str());
        return std::string(buf, n);
    }
    tabro::testing::TempDir dir_{"profile-blanks"};
    const std::string file_ = dir_.file("settings.ini");
};

TEST_F(ProfileNameBlanksTest, WrittenUnderBlankedNamesReadsBack) {
    ASSERT_TRUE(WritePrivateProfileStringA(" Export\t", "StartRow", "12", file_.c_str()));
    EXPECT_EQ(get(" Export\t", "StartRow"), "12");
    EXPECT_EQ(get("Export", "StartRow"), "12");
    ASSERT_TRUE(WritePrivateProfileStringA(" ", "C", "5", file_.c_str()));
    EXPECT_EQ(get(" ", "C"), "5");
    EXPECT_EQ(get("", "C"), "5");
    // A second write finds the section again instead of adding another.
    ASSERT_TRUE(WritePrivateProfileStringA("Export ", " AddHeader ", "1", file_.c_str()));
    EXPECT_EQ(get("export", " addheader"), "1");
    EXPECT_EQ(tabro::testing::readFile(file_), "[ Export\t]\r\nStartRow=12\r\nAddHeader=1\r\n[ ]\r\nC=5\r\n");
}

}  // namespace
