// Profile files: reading entries as the platform trims them, and writing one entry
// while every other byte of the file stays as it was.
#include "platform/Profile.h"

#include "platform/Text.h"
#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void write(const std::string& text) { tabro::testing::writeFile(file_, text); }
    std::string read() const { return tabro::testing::readFile(file_); }
    std::string get(const char* section, const char* key, const char* def = "<def>", DWORD size = 256) {
        char buf[256];
        DWORD n = GetPrivateProfileStringA(section, key, def, buf, size, file_.c_str());
        EXPECT_EQ(n, std::char_traits<char>::length(buf));
        return std::string(buf, n);
    }

    tabro::testing::TempDir scratch_{"profile"};
    const fs::path dir_ = scratch_.path();
    const std::string file_ = scratch_.file("settings.ini");
};

TEST_F(ProfileTest, ReadsEntriesTrimmedAndUnquoted) {
    write(
        "; comment=1\r\n"
        "top=outside any section\r\n"
        "[Export]\r\n"
        "StartRow=  12abc  \r\n"
        "  addheader = 1\r\n"
        "Quoted=\"  spaced  \"\r\n"
        "Single='x'\r\n"
        "Mismatched=\"x'\r\n"
        "Empty=\r\n"
        "StartRow=99\r\n"
        "junk line without equals\r\n"
        "[ import ]\r\n"
        "StartCol=3\r\n"
        "[EXPORT]\r\n"
        "Late=ignored, only the first section counts\r\n");
    struct Case {
        const char* section;
        const char* key;
        std::string expected;
    };
    const Case cases[] = {
        {"Export", "StartRow", "12abc"},  // the first of two equal keys
        {"export", "AddHeader", "1"},     {"Export", "Quoted", "  spaced  "},
        {"Export", "Single", "x"},        {"Export", "Mismatched", "\"x'"},
        {"Export", "Empty", ""},          {"Import", "startcol", "3"},
        {"Export", "Late", "<def>"},      {"Export", "top", "<def>"},
        {"Missing", "StartRow", "<def>"}, {"Export", "; comment", "<def>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(get(c.section, c.key), c.expected);
    }
}

TEST_F(ProfileTest, DefaultsTruncationAndLists) {
    write("[A]\nlong=0123456789\nk2=v\n[B]\n");
    EXPECT_EQ(get("A", "long", "", 5), "0123");
    EXPECT_EQ(get("A", "nokey", "dflt   "), "dflt");  // trailing blanks of a default go
    EXPECT_EQ(get("A", "nokey", nullptr), "");
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetPrivateProfileStringA("A", "long", "", buf, 0, file_.c_str()), 0u);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(get("A", "long", "", 1), "");
    char list[32];
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, file_.c_str());
    EXPECT_EQ(std::string(list, n), std::string("A\0B\0", 4));
    n = GetPrivateProfileStringA("a", nullptr, "", list, sizeof list, file_.c_str());
    EXPECT_EQ(std::string(list, n), std::string("long\0k2\0", 8));
    EXPECT_EQ(get("A", "long", "missing file", 256), "0123456789");
    char none[16];
    EXPECT_EQ(GetPrivateProfileStringA("A", "k", "dflt", none, sizeof none, (dir_ / "absent.ini").c_str()), 4u);
}

TEST_F(ProfileTest, WritingOneEntryKeepsEverythingElse) {
    const std::string original =
        "; my settings\r\n"
        "[Export]\r\n"
        "AddHeader=0   ; trailing note\r\n"
        "\r\n"
        "odd line\r\n"
        "\r\n"
        "[Import]\r\n"
        "StartCol=1\r\n";
    struct Case {
        const char* name;
        const char* section;
        const char* key;
        const char* value;
        std::string expected;
    };
    const Case cases[] = {
        {"replace", "EXPORT", "addheader", "1",
         "; my settings\r\n[Export]\r\naddheader=1\r\n\r\nodd line\r\n\r\n[Import]\r\nStartCol=1\r\n"},
        {"new key goes after the section's last line", "Export", "StartRow", "5",
         "; my settings\r\n[Export]\r\nAddHeader=0   ; trailing note\r\n\r\nodd line\r\nStartRow=5\r\n\r\n"
         "[Import]\r\nStartCol=1\r\n"},
        {"new section at the end", "Other", "K", "v", original + "[Other]\r\nK=v\r\n"},
        {"remove key", "Import", "StartCol", nullptr,
         "; my settings\r\n[Export]\r\nAddHeader=0   ; trailing note\r\n\r\nodd line\r\n\r\n[Import]\r\n"},
        {"remove section", "Export", nullptr, nullptr, "; my settings\r\n[Import]\r\nStartCol=1\r\n"},
        {"remove what is absent", "Nope", "K", nullptr, original},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(original);
        EXPECT_NE(WritePrivateProfileStringA(c.section, c.key, c.value, file_.c_str()), 0);
        EXPECT_EQ(read(), c.expected);
    }
}

TEST_F(ProfileTest, CreatesFileAndKeepsUnixLineEndings) {
    EXPECT_NE(WritePrivateProfileStringA("Export", "StartRow", "7", file_.c_str()), 0);
    EXPECT_EQ(read(), "[Export]\r\nStartRow=7\r\n");
    write("[Export]\nA=1");  // no line ending at the end
    EXPECT_NE(WritePrivateProfileStringA("Export", "B", "2", file_.c_str()), 0);
    EXPECT_EQ(read(), "[Export]\nA=1\nB=2\n");
    EXPECT_EQ(get("Export", "B"), "2");
}

TEST_F(ProfileTest, AnUnterminatedLastLineIsEndedAsTheFileEndsItsLines) {
    struct Case {
        const char* name;
        std::string original;
        const char* section;
        const char* key;
        const char* value;
        std::string expected;
    };
    const Case cases[] = {
        {"CR LF cut after its CR, entry added", "[Export]\r\nA=1\r", "Export", "B", "2", "[Export]\r\nA=1\r\nB=2\r\n"},
        {"CR LF cut after its CR, section added", "[Export]\r\nA=1\r", "Other", "K", "v",
         "[Export]\r\nA=1\r\n[Other]\r\nK=v\r\n"},
        {"CR LF cut after its CR, entry replaced", "[Export]\r\nA=1\r", "Export", "A", "9", "[Export]\r\nA=9\r"},
        {"no ending at all, entry added", "[Export]\r\nA=1", "Export", "B", "2", "[Export]\r\nA=1\r\nB=2\r\n"},
        {"only line cut after its CR", "[Export]\r", "Export", "B", "2", "[Export]\r\nB=2\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(c.original);
        EXPECT_EQ(get("Export", "A"), c.original.find("A=1") != std::string::npos ? "1" : "<def>")
            << "the CR is no part of the value";
        EXPECT_NE(WritePrivateProfileStringA(c.section, c.key, c.value, file_.c_str()), 0);
        EXPECT_EQ(read(), c.expected);
        EXPECT_EQ(get(c.section, c.key), c.value);
    }
}

TEST_F(ProfileTest, RefusedWritesChangeNothing) {
    write("[S]\nk=v\n");
    struct Case {
        const char* name;
        const char* section;
        const char* key;
        const char* value;
        std::string file;
        DWORD error;
    };
    const std::string missingDir = (dir_ / "no" / "such" / "dir.ini").string();
    const Case cases[] = {
        {"line break in value", "S", "k", "a\nb", file_, ERROR_INVALID_PARAMETER},
        {"line break in key", "S", "k\r", "v", file_, ERROR_INVALID_PARAMETER},
        {"equals in key", "S", "a=b", "v", file_, ERROR_INVALID_PARAMETER},
        {"bracket in section", "S]x", "k", "v", file_, ERROR_INVALID_PARAMETER},
        {"folder missing", "S", "k", "v", missingDir, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(WritePrivateProfileStringA(c.section, c.key, c.value, c.file.c_str()), 0);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(read(), "[S]\nk=v\n");
    }
    EXPECT_FALSE(fs::exists(dir_ / "no"));
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().filename().string(), "settings.ini") << "nothing else left behind";
}

TEST_F(ProfileTest, WritesThroughASymbolicLink) {
    write("[S]\nk=v\n");
    fs::path link = dir_ / "link.ini";
    fs::create_symlink(file_, link);
    EXPECT_NE(WritePrivateProfileStringA("S", "k", "w", link.c_str()), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read(), "[S]\nk=w\n");
}

TEST_F(ProfileTest, AFailedWriteLeavesTheFileAndSaysWhy) {
    using platform::test::FileCall;
    struct Case {
        const char* name;
        FileCall call;
        int error;
        DWORD expected;
    };
    const Case cases[] = {
        {"file unreadable", FileCall::read, EIO, ERROR_READ_FAULT},
        {"folder not writable", FileCall::open, EACCES, ERROR_ACCESS_DENIED},
        {"disk full", FileCall::write, ENOSPC, ERROR_DISK_FULL},
        {"sync fails", FileCall::fsync, EIO, ERROR_WRITE_FAULT},
        {"rename fails", FileCall::rename, EXDEV, ERROR_WRITE_FAULT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write("[S]\nk=v\n");
        SetLastError(0);
        {
            // The file is opened for reading first; the open that fails is the temporary's.
            platform::test::FileFault fault(c.call, c.error, c.call == FileCall::open ? 1 : 0);
            EXPECT_EQ(WritePrivateProfileStringA("S", "k", "w", file_.c_str()), 0);
        }
        EXPECT_EQ(GetLastError(), c.expected);
        EXPECT_EQ(read(), "[S]\nk=v\n");
        for (const auto& e : fs::directory_iterator(dir_))
            EXPECT_EQ(e.path().filename().string(), "settings.ini") << "nothing else left behind";
    }
}

}  // namespace
