// The registry stand-in: query semantics, the hive file format, damaged files,
// concurrent writers, failed hive writes and the close fault hook.
#include "platform/Registry.h"

#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::test::FileCall;

namespace {

using tabro::testing::readFile;
using tabro::testing::writeFile;

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        homeVariable_.emplace("CADHOST_HOME", home_.string());
        platform::clearRegistryFaults();
        openAtStart_ = platform::openRegistryKeyCount();
    }
    void TearDown() override {
        platform::clearRegistryFaults();
        EXPECT_EQ(platform::openRegistryKeyCount(), openAtStart_) << "a key handle was left open";
        homeVariable_.reset();
    }

    fs::path userHive() const { return home_ / "user.reg"; }

    platform::RegistryKey create(const char* path) {
        platform::RegistryKey key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    void setDword(HKEY key, const char* name, DWORD v) {
        BYTE b[4] = {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, b, 4), ERROR_SUCCESS);
    }
    std::vector<fs::path> damagedCopies() const {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(home_))
            if (e.path().filename().string().starts_with("user.reg.damaged-")) found.push_back(e.path());
        return found;
    }

    tabro::testing::TempDir homeDir_{"registry"};
    const fs::path home_ = homeDir_.path();
    std::optional<tabro::testing::ScopedEnv> homeVariable_;
    std::size_t openAtStart_ = 0;
};

TEST_F(RegistryTest, QueryFollowsBufferSizeRules) {
    auto key = create("SOFTWARE\\Test");
    const BYTE six[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(RegSetValueExA(key.get(), "Six", 0, REG_BINARY, six, 6), ERROR_SUCCESS);
    const BYTE two[2] = {0x41, 0};
    ASSERT_EQ(RegSetValueExA(key.get(), "Two", 0, REG_SZ, two, 2), ERROR_SUCCESS);

    struct Case {
        const char* name;
        DWORD bufferSize;
        LONG result;
        DWORD sizeAfter;
        DWORD type;
        std::array<BYTE, 8> bufferAfter;
    };
    const Case cases[] = {
        {"Six", 8, ERROR_SUCCESS, 6, REG_BINARY, {1, 2, 3, 4, 5, 6, 0xEE, 0xEE}},
        {"Six", 6, ERROR_SUCCESS, 6, REG_BINARY, {1, 2, 3, 4, 5, 6, 0xEE, 0xEE}},
        {"Six", 4, ERROR_MORE_DATA, 6, REG_BINARY, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
        // A shorter value fills only its own length; the rest stays as the caller left it.
        {"Two", 4, ERROR_SUCCESS, 2, REG_SZ, {0x41, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
        {"TWO", 4, ERROR_SUCCESS, 2, REG_SZ, {0x41, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
        {"Absent", 4, ERROR_FILE_NOT_FOUND, 4, 0xDEAD, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.bufferSize));
        std::array<BYTE, 8> buffer;
        buffer.fill(0xEE);
        DWORD size = c.bufferSize, type = 0xDEAD;
        EXPECT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, buffer.data(), &size), c.result);
        EXPECT_EQ(size, c.sizeAfter);
        EXPECT_EQ(type, c.type);
        if (c.result != ERROR_MORE_DATA) {
            EXPECT_EQ(buffer, c.bufferAfter);
        }
    }
    // Size only.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Six", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
}

TEST_F(RegistryTest, ValuesSurviveTheFileInTheEditorsFormat) {
    auto key = create("SOFTWARE\\Morvik\\Tablora\\Settings\\Export");
    setDword(key.get(), "AddHeader", 1);
    setDword(key.get(), "StartRow", 12);
    const char text[] = "C:\\dir \"quoted\"";
    ASSERT_EQ(RegSetValueExA(key.get(), "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    const char broken[] = "line1\nline2";  // cannot stand on one line as text
    ASSERT_EQ(RegSetValueExA(key.get(), "Lines", 0, REG_SZ, reinterpret_cast<const BYTE*>(broken), sizeof broken),
              ERROR_SUCCESS);
    const BYTE multi[] = {'a', 0, 'b', 0, 0};
    ASSERT_EQ(RegSetValueExA(key.get(), "Multi", 0, REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
    std::vector<BYTE> big(100);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
    ASSERT_EQ(RegSetValueExA(key.get(), "Big", 0, REG_BINARY, big.data(), DWORD(big.size())), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    const BYTE shortDword[2] = {1, 2};
    ASSERT_EQ(RegSetValueExA(key.get(), "Short", 0, REG_DWORD, shortDword, 2), ERROR_SUCCESS);

    std::string file = readFile(userHive());
    EXPECT_TRUE(file.starts_with("Windows Registry Editor Version 5.00\n\n")) << file;
    // Every parent gets a section of its own, as an export lists them.
    EXPECT_NE(file.find("[HKEY_CURRENT_USER\\SOFTWARE]\n"), std::string::npos) << file;
    EXPECT_NE(file.find("[HKEY_CURRENT_USER\\SOFTWARE\\Morvik\\Tablora\\Settings\\Export]\n"
                        "\"AddHeader\"=dword:00000001\n"
                        "\"StartRow\"=dword:0000000c\n"
                        "\"Text\"=\"C:\\\\dir \\\"quoted\\\"\"\n"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("\"Multi\"=hex(7):61,00,62,00,00\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"Empty\"=hex:\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"Short\"=hex(4):01,02\n"), std::string::npos) << file;
    EXPECT_NE(file.find(",\\\n  "), std::string::npos) << "long values wrap" << file;

    // Read back from the file by a fresh handle.
    platform::RegistryKey again;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\MORVIK\\tablora\\settings\\export", 0, KEY_READ, again.put()),
              ERROR_SUCCESS);
    struct Expect {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const Expect expects[] = {
        {"Text", REG_SZ, std::vector<BYTE>(text, text + sizeof text)},
        {"Lines", REG_SZ, std::vector<BYTE>(broken, broken + sizeof broken)},
        {"Multi", REG_MULTI_SZ, std::vector<BYTE>(multi, multi + sizeof multi)},
        {"Big", REG_BINARY, big},
        {"Empty", REG_BINARY, {}},
        {"Short", REG_DWORD, {1, 2}},
        {"StartRow", REG_DWORD, {12, 0, 0, 0}},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.name);
        std::vector<BYTE> buffer(200, 0xEE);
        DWORD size = DWORD(buffer.size()), type = 0;
        ASSERT_EQ(RegQueryValueExA(again.get(), e.name, nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
        EXPECT_EQ(type, e.type);
        buffer.resize(size);
        EXPECT_EQ(buffer, e.data);
    }
}

TEST_F(RegistryTest, KeysOpenOnlyWhenPresentAndHandlesKeepTheirRights) {
    platform::RegistryKey missing;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Nobody", 0, KEY_READ, missing.put()), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(missing);

    auto key = create("SOFTWARE\\A\\B");
    DWORD disposition = 0;
    platform::RegistryKey again;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\a\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, again.put(),
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    platform::RegistryKey parent, readOnly;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\A", 0, KEY_WRITE, parent.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(parent.get(), "B", 0, KEY_READ, readOnly.put()), ERROR_SUCCESS);
    const BYTE one[4] = {1, 0, 0, 0};
    EXPECT_EQ(RegSetValueExA(readOnly.get(), "X", 0, REG_DWORD, one, 4), ERROR_ACCESS_DENIED);
    DWORD size = 4;
    BYTE buf[4];
    EXPECT_EQ(RegQueryValueExA(parent.get(), "X", nullptr, nullptr, buf, &size), ERROR_ACCESS_DENIED);

    const char* badNames[] = {"\\Leading", "Two\\\\Slashes", "Line\nBreak"};
    for (const char* bad : badNames) {
        SCOPED_TRACE(bad);
        platform::RegistryKey k;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, bad, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr),
                  ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(k);
    }
    EXPECT_EQ(RegSetValueExA(key.get(), "Bad\nName", 0, REG_DWORD, one, 4), ERROR_INVALID_PARAMETER);

    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_READ, &raw), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(raw), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ReadsFilesWrittenByHand) {
    // CR LF endings, comments, a key known only through its subkey, a wrapped list,
    // the default value, a value removal entry and differently spelt names.
    writeFile(userHive(),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "; my settings\r\n"
              "[HKEY_CURRENT_USER\\Software\\Morvik\\Tablora\\Settings\\Export]\r\n"
              "\"AddHeader\"=dword:1\r\n"
              "\"Gone\"=dword:00000002\r\n"
              "\"Gone\"=-\r\n"
              "@=\"default\"\r\n"
              "\"Wrapped\"=hex:01,02,\\\r\n"
              "  03,04\r\n");
    platform::RegistryKey parent, key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Morvik", 0, KEY_READ, parent.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(parent.get(), "tablora\\settings\\export", 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);

    BYTE buf[16] = {};
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExA(key.get(), "addheader", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buf[0], 1);
    size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Gone", nullptr, nullptr, buf, &size), ERROR_FILE_NOT_FOUND);
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(key.get(), nullptr, nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "default");
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(key.get(), "Wrapped", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buf[3], 4);

    // A clean hand-made file is not "damaged": writing keeps nothing aside, and the
    // new value lands in the existing section under its existing spelling.
    setDword(key.get(), "StartRow", 3);
    EXPECT_TRUE(damagedCopies().empty());
    std::string file = readFile(userHive());
    EXPECT_NE(
        file.find("[HKEY_CURRENT_USER\\Software\\Morvik\\Tablora\\Settings\\Export]\n\"AddHeader\"=dword:00000001\n"),
        std::string::npos)
        << file;
}

TEST_F(RegistryTest, UnicodeExportFromTheEditorIsRead) {
    std::string utf16 = "\xFF\xFE";
    for (unsigned char c :
         std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"N\"=\""))
        utf16 += {static_cast<char>(c), '\0'};
    utf16 += std::string("\xE9\0t\0\xE9\0\"\0\r\0\n\0", 12);
    writeFile(userHive(), utf16);
    platform::RegistryKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    char buf[16] = {};
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(key.get(), "N", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf), "\xC3\xA9t\xC3\xA9");
}

TEST_F(RegistryTest, DamagedHiveYieldsWhatCanBeReadAndIsKeptAsideOnWrite) {
    const std::string good = "[HKEY_CURRENT_USER\\K]\n\"Good\"=dword:00000007\n";
    struct Case {
        const char* name;
        std::string content;
    };
    const Case cases[] = {
        {"no header", good},
        {"junk line", "Windows Registry Editor Version 5.00\n\n" + good + "this is not a value\n"},
        {"bad dword", "Windows Registry Editor Version 5.00\n\n" + good + "\"Bad\"=dword:xyz\n"},
        {"long dword", "Windows Registry Editor Version 5.00\n\n" + good + "\"Bad\"=dword:123456789\n"},
        {"bad hex", "Windows Registry Editor Version 5.00\n\n" + good + "\"Bad\"=hex:1,zz\n"},
        {"unterminated text", "Windows Registry Editor Version 5.00\n\n" + good + "\"Bad\"=\"abc\n"},
        {"bad escape", "Windows Registry Editor Version 5.00\n\n" + good + "\"Bad\"=\"a\\qb\"\n"},
        {"value before section", "Windows Registry Editor Version 5.00\n\n\"Bad\"=dword:1\n" + good},
        {"foreign hive", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n\"Bad\"=dword:1\n" + good},
        {"open bracket", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Broken\n" + good},
        {"binary junk", "Windows Registry Editor Version 5.00\n\n" + good + std::string("\0\xFF\x01[\n\"\n=\n@\n", 11)},
        {"hex wraps to end", "Windows Registry Editor Version 5.00\n\n" + good + "\"Bad\"=hex:01,\\\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& e : fs::directory_iterator(home_)) fs::remove(e.path());
        writeFile(userHive(), c.content);

        platform::RegistryKey key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
        BYTE buf[4] = {};
        DWORD size = 4;
        ASSERT_EQ(RegQueryValueExA(key.get(), "Good", nullptr, nullptr, buf, &size), ERROR_SUCCESS);
        EXPECT_EQ(buf[0], 7);

        setDword(key.get(), "New", 1);
        auto copies = damagedCopies();
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(readFile(copies[0]), c.content) << "the damaged file is kept byte for byte";
        std::string rewritten = readFile(userHive());
        EXPECT_NE(rewritten.find("\"Good\"=dword:00000007\n\"New\"=dword:00000001\n"), std::string::npos) << rewritten;

        // The rewritten hive is sound: a further write keeps nothing more aside.
        setDword(key.get(), "Newer", 2);
        EXPECT_EQ(damagedCopies().size(), 1u);
    }
}

TEST_F(RegistryTest, ConcurrentWritersInTwoProcessesKeepEveryValue) {
    create("SOFTWARE\\Shared");
    constexpr int kPerProcess = 40;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            int failures = 0;
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Shared", 0, KEY_WRITE, &key) != ERROR_SUCCESS) ::_exit(2);
            for (int i = 0; i < kPerProcess; ++i) {
                std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
                BYTE v[4] = {BYTE(i), 0, 0, 0};
                if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, v, 4) != ERROR_SUCCESS) ++failures;
            }
            RegCloseKey(key);
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    platform::RegistryKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Shared", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kPerProcess; ++i) {
            std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
            BYTE v[4] = {};
            DWORD size = 4;
            ASSERT_EQ(RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, v, &size), ERROR_SUCCESS) << name;
            EXPECT_EQ(v[0], i);
        }
    for (const auto& e : fs::directory_iterator(home_))
        EXPECT_FALSE(e.path().filename().string().ends_with(".tmp")) << "temporary left behind";
}

TEST_F(RegistryTest, AFailedHiveWriteChangesNothingAndSaysWhy) {
    auto key = create("SOFTWARE\\Faults");
    setDword(key.get(), "Kept", 7);
    const std::string before = readFile(userHive());
    struct Case {
        const char* name;
        FileCall call;
        int error;
        LONG expected;
    };
    const Case cases[] = {
        {"lock file refused", FileCall::open, EACCES, ERROR_ACCESS_DENIED},
        {"lock not granted", FileCall::flock, ENOLCK, ERROR_CANTWRITE},
        // A hive that cannot be read is never replaced by what little is known.
        {"hive unreadable", FileCall::read, EIO, ERROR_CANTREAD},
        {"disk full", FileCall::write, ENOSPC, ERROR_DISK_FULL},
        {"quota exceeded", FileCall::fsync, EDQUOT, ERROR_DISK_FULL},
        {"rename fails", FileCall::rename, EIO, ERROR_CANTWRITE},
    };
    const BYTE v[4] = {1, 0, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            platform::test::FileFault fault(c.call, c.error);
            EXPECT_EQ(RegSetValueExA(key.get(), "New", 0, REG_DWORD, v, 4), c.expected);
        }
        EXPECT_EQ(readFile(userHive()), before);
        for (const auto& e : fs::directory_iterator(home_))
            EXPECT_FALSE(e.path().filename().string().ends_with(".tmp")) << "temporary left behind";
    }
    // Each write replaces the file once: the third fails, the others go through.
    platform::test::FileFault third(FileCall::rename, EIO, 2);
    const LONG expected[] = {ERROR_SUCCESS, ERROR_SUCCESS, ERROR_CANTWRITE, ERROR_SUCCESS};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        std::string name = "V" + std::to_string(i);
        EXPECT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, v, 4), expected[i]);
    }
    std::string file = readFile(userHive());
    EXPECT_EQ(file.find("\"V2\""), std::string::npos);
    EXPECT_NE(file.find("\"V3\""), std::string::npos);
}

TEST_F(RegistryTest, AFailingCloseStillGivesTheHandleBack) {
    auto key = create("SOFTWARE\\Faults");
    platform::injectRegistryCloseFault(0, 1, ERROR_INVALID_HANDLE);
    std::size_t before = platform::openRegistryKeyCount();
    EXPECT_EQ(key.close(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(platform::openRegistryKeyCount(), before - 1);

    // Creating a key is a hive write like any other.
    platform::test::FileFault refused(FileCall::open, EACCES);
    platform::RegistryKey created;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(),
                              nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(created);
}

TEST_F(RegistryTest, TheHiveIsPrivateKeepsItsModeAndALinkToItStays) {
    auto key = create("SOFTWARE\\Modes");
    EXPECT_EQ(fs::status(userHive()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(userHive(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    setDword(key.get(), "A", 1);
    EXPECT_EQ(fs::status(userHive()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A hive kept elsewhere (with the user's other settings) and linked in.
    fs::create_directories(home_ / "elsewhere");
    fs::rename(userHive(), home_ / "elsewhere" / "user.reg");
    fs::create_symlink("elsewhere/user.reg", userHive());
    setDword(key.get(), "B", 2);
    EXPECT_TRUE(fs::is_symlink(userHive()));
    std::string file = readFile(home_ / "elsewhere" / "user.reg");
    EXPECT_NE(file.find("\"A\"=dword:00000001"), std::string::npos) << file;
    EXPECT_NE(file.find("\"B\"=dword:00000002"), std::string::npos) << file;
}

TEST_F(RegistryTest, UnreadableHiveIsNeverReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the superuser";
    auto key = create("SOFTWARE\\Kept");
    setDword(key.get(), "A", 1);
    std::string before = readFile(userHive());
    fs::permissions(userHive(), fs::perms::none);
    const BYTE v[4] = {2, 0, 0, 0};
    EXPECT_EQ(RegSetValueExA(key.get(), "B", 0, REG_DWORD, v, 4), ERROR_CANTREAD);
    fs::permissions(userHive(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readFile(userHive()), before);
}

// A hive file that is a folder, a pipe or a device is refused, never read: a pipe
// would block every call, /dev/zero would be read for ever. Every call on the hive
// fails at once, it is left as it is, and the reason is there to be told; so is the
// reason a file that cannot be opened gives.
TEST_F(RegistryTest, AHiveThatIsNoFileIsRefusedAtOnceAndSaysWhy) {
    struct Case {
        const char* name;
        HKEY root;
        const char* file;
        std::function<void(const fs::path&)> make;
    };
    const Case cases[] = {
        {"user hive as a pipe", HKEY_CURRENT_USER, "user.reg", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }},
        {"user hive as a folder", HKEY_CURRENT_USER, "user.reg", [](const fs::path& p) { fs::create_directory(p); }},
        {"user hive as /dev/zero", HKEY_CURRENT_USER, "user.reg",
         [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"classes hive as a pipe", HKEY_CLASSES_ROOT, "classes.reg",
         [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }},
        {"classes hive as /dev/zero", HKEY_CLASSES_ROOT, "classes.reg",
         [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path hive = home_ / c.file;
        fs::remove_all(hive);
        c.make(hive);
        const auto kindBefore = fs::symlink_status(hive).type();
        auto calls = std::async(std::launch::async, [&] {
            std::vector<LONG> results;
            platform::RegistryKey key;
            results.push_back(RegOpenKeyExA(c.root, "SOFTWARE", 0, KEY_READ, key.put()));
            results.push_back(
                RegCreateKeyExA(c.root, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
            const BYTE v[4] = {1, 0, 0, 0};
            results.push_back(RegSetValueExA(c.root, "A", 0, REG_DWORD, v, 4));
            return results;
        });
        if (calls.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "still waiting on the hive after 5 s";
            // Let a waiting open of the pipe through, so that the test can end.
            int writer = ::open(hive.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);
        }
        EXPECT_EQ(calls.get(), (std::vector<LONG>{ERROR_CANTREAD, ERROR_CANTREAD, ERROR_CANTREAD}));
        EXPECT_EQ(fs::symlink_status(hive).type(), kindBefore) << "left as it is";
        std::optional<platform::HiveProblem> problem = platform::hiveProblem(c.root);
        ASSERT_TRUE(problem);
        EXPECT_FALSE(problem->isReadInPart);
        EXPECT_EQ(problem->reason, "not a regular file");
        fs::remove_all(hive);
    }

    EXPECT_FALSE(platform::hiveProblem(HKEY_CURRENT_USER)) << "a missing hive is an empty one";
    create("SOFTWARE\\Sound");
    EXPECT_FALSE(platform::hiveProblem(HKEY_CURRENT_USER));
    std::ofstream(userHive(), std::ios::app) << "[HKEY_CURRENT_USER\\SOFTWARE\\Later]\n";
    {
        platform::test::FileFault refused(FileCall::open, EACCES);
        std::optional<platform::HiveProblem> problem = platform::hiveProblem(HKEY_CURRENT_USER);
        ASSERT_TRUE(problem);
        EXPECT_FALSE(problem->isReadInPart);
        EXPECT_EQ(problem->reason, "cannot open the file: Permission denied");
    }
}

}  // namespace
