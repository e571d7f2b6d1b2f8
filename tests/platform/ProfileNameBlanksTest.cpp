// Profile names asked for with blanks around them find the entry the file holds
// under the trimmed name, so that what is written under such names reads back.
#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class ProfileNameBlanksTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/profile-blanks-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        file_ = dir_ + "/settings.ini";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string get(const char* section, const char* key) {
        char buf[256];
        DWORD n = GetPrivateProfileStringA(section, key, "<def>", buf, sizeof buf, file_.c_str());
        return std::string(buf, n);
    }
    std::string dir_, file_;
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
    std::ifstream in(file_);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[ Export\t]\r\nStartRow=12\r\nAddHeader=1\r\n[ ]\r\nC=5\r\n");
}

}  // namespace
