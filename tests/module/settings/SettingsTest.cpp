// The settings record against the registry stand-in and the settings file: what
// loads from hand-made or odd registry contents, what a save leaves in the hive
// file and where it stops, and integer entries of the settings file.
#include "module/settings/Settings.h"
#include "module/settings/SettingsFile.h"

#include "platform/Registry.h"

#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using tabro::Settings;

namespace {

bool operator==(const tabro::ExportOptions& a, const tabro::ExportOptions& b) {
    return a.WorkbookSettings == b.WorkbookSettings && a.WorksheetSettings == b.WorksheetSettings &&
           a.StartRow == b.StartRow && a.AddHeader == b.AddHeader && a.BlockNames == b.BlockNames &&
           a.XCoord == b.XCoord && a.YCoord == b.YCoord && a.ZCoord == b.ZCoord && a.OddLine == b.OddLine &&
           a.Rotation == b.Rotation && a.LayerNames == b.LayerNames && a.AutoConnect == b.AutoConnect &&
           a.IncludeConstant == b.IncludeConstant && a.Scale == b.Scale && a.Sort == b.Sort &&
           a.LayoutNames == b.LayoutNames && a.NoAutofit == b.NoAutofit && a.JTSK == b.JTSK && a.AsText == b.AsText &&
           a.FindNextBlankLine == b.FindNextBlankLine && a.ExportAttPrompts == b.ExportAttPrompts;
}
bool operator==(const tabro::ImportOptions& a, const tabro::ImportOptions& b) {
    return a.ImportSettings == b.ImportSettings && a.IgnoreProps == b.IgnoreProps && a.StartCol == b.StartCol &&
           a.StartRow == b.StartRow && a.Preview == b.Preview && a.DrawingChangedToo == b.DrawingChangedToo;
}

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kExportSection = "[HKEY_CURRENT_USER\\SOFTWARE\\Morvik\\Tablora\\Settings\\Export]\n";
const std::string kImportSection = "[HKEY_CURRENT_USER\\SOFTWARE\\Morvik\\Tablora\\Settings\\Import]\n";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        homeVariable_.emplace("CADHOST_HOME", home_.string());
        platform::clearRegistryFaults();
        openAtStart_ = platform::openRegistryKeyCount();
    }
    void TearDown() override {
        platform::clearRegistryFaults();
        EXPECT_EQ(platform::openRegistryKeyCount(), openAtStart_) << "a registry key was left open";
        homeVariable_.reset();
    }
    void writeHive(const std::string& body) { tabro::testing::writeFile(home_ / "user.reg", kHeader + body); }
    // A save that failed before its first write leaves no hive: nothing in it then.
    std::string hive() const { return tabro::testing::readFileIfAny(home_ / "user.reg").value_or(""); }
    Settings load() {
        Settings s;
        tabro::loadSettings(s);
        return s;
    }

    tabro::testing::TempDir homeDir_{"settings"};
    const fs::path home_ = homeDir_.path();
    std::optional<tabro::testing::ScopedEnv> homeVariable_;
    std::size_t openAtStart_ = 0;
};

TEST_F(SettingsTest, WithoutTheExportKeyEverythingKeepsItsDefaults) {
    writeHive(kImportSection +
              "\"ImportSettings\"=dword:00000001\n\"StartRow\"=dword:00000009\n\"Preview\"=dword:00000001\n"
              "\"DrawingChangedToo\"=dword:00000001\n");
    Settings s = load();
    EXPECT_TRUE(s.exportOptions == tabro::ExportOptions{});
    EXPECT_TRUE(s.importOptions == tabro::ImportOptions{});
    EXPECT_EQ(s.importOptions.StartRow, 2);
    EXPECT_TRUE(s.importOptions.IgnoreProps);
    EXPECT_FALSE(s.importOptions.Preview);
    EXPECT_EQ(s.importOptions.DrawingChangedToo, tabro::kKeepDrawingValue);
    EXPECT_EQ(s.exportOptions.StartRow, 1);
    EXPECT_TRUE(s.exportOptions.AsText);
    EXPECT_FALSE(s.exportOptions.IncludeConstant);
}

TEST_F(SettingsTest, RegistryValuesOverlayTheDefaults) {
    struct Case {
        const char* name;
        std::string exportValues;
        void (*expect)(const Settings&);
    };
    const Case cases[] = {
        {"Coords off, XCoord on", "\"Coords\"=dword:00000000\n\"XCoord\"=dword:00000001\n",
         [](const Settings& s) {
             EXPECT_TRUE(s.exportOptions.XCoord);
             EXPECT_FALSE(s.exportOptions.YCoord);
             EXPECT_FALSE(s.exportOptions.ZCoord);
         }},
        // Order in the file does not matter: the query order does.
        {"XCoord before Coords in the file", "\"YCoord\"=dword:00000000\n\"Coords\"=dword:00000001\n",
         [](const Settings& s) {
             EXPECT_TRUE(s.exportOptions.XCoord);
             EXPECT_FALSE(s.exportOptions.YCoord);
             EXPECT_TRUE(s.exportOptions.ZCoord);
         }},
        {"StartRow 0 kept", "\"StartRow\"=dword:00000000\n",
         [](const Settings& s) { EXPECT_EQ(s.exportOptions.StartRow, 0); }},
        {"StartRow 100000 kept", "\"StartRow\"=dword:000186a0\n",
         [](const Settings& s) { EXPECT_EQ(s.exportOptions.StartRow, 100000); }},
        {"negative integer kept", "\"WorkbookSettings\"=dword:ffffffff\n",
         [](const Settings& s) { EXPECT_EQ(s.exportOptions.WorkbookSettings, -1); }},
        {"boolean stored as 7", "\"AddHeader\"=dword:00000007\n\"AsText\"=dword:00000000\n",
         [](const Settings& s) {
             EXPECT_TRUE(s.exportOptions.AddHeader);
             EXPECT_FALSE(s.exportOptions.AsText);
         }},
        {"only the high byte set is still true", "\"Sort\"=dword:01000000\n",
         [](const Settings& s) { EXPECT_TRUE(s.exportOptions.Sort); }},
        {"4 bytes of another type", "\"StartRow\"=hex:05,01,00,00\n\"JTSK\"=hex(1):01,00,00,00\n",
         [](const Settings& s) {
             EXPECT_EQ(s.exportOptions.StartRow, 0x105);
             EXPECT_TRUE(s.exportOptions.JTSK);
         }},
        {"shorter value zero-filled", "\"StartRow\"=hex:07\n\"WorksheetSettings\"=\"1\"\n",
         [](const Settings& s) {
             EXPECT_EQ(s.exportOptions.StartRow, 7);
             EXPECT_EQ(s.exportOptions.WorksheetSettings, '1');
         }},
        {"longer value ignored", "\"StartRow\"=hex:05,00,00,00,00\n\"Scale\"=\"false\"\n",
         [](const Settings& s) {
             EXPECT_EQ(s.exportOptions.StartRow, 1);
             EXPECT_TRUE(s.exportOptions.Scale);
         }},
        {"IncludeConstant set only by the registry", "\"IncludeConstant\"=dword:00000001\n",
         [](const Settings& s) { EXPECT_TRUE(s.exportOptions.IncludeConstant); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeHive(kExportSection + c.exportValues + "\n" + kImportSection +
                  "\"StartRow\"=dword:00000004\n\"IgnoreProps\"=dword:00000000\n\"StartCol\"=dword:00000003\n");
        Settings s = load();
        c.expect(s);
        EXPECT_EQ(s.importOptions.StartRow, 4);
        EXPECT_EQ(s.importOptions.StartCol, 3);
        EXPECT_FALSE(s.importOptions.IgnoreProps);
    }
}

// The choice for a cell whose drawing value changed too has two meanings; whatever
// else the registry holds must not reach import as a third.
TEST_F(SettingsTest, DrawingChangedTooLoadsAsKeepForAnythingButTake) {
    struct Case {
        const char* name;
        const char* stored;  // the value line, or null for none
        LONG expected;
    };
    const Case cases[] = {
        {"absent, as before the option", nullptr, tabro::kKeepDrawingValue},
        {"0", "dword:00000000", tabro::kKeepDrawingValue},
        {"1", "dword:00000001", tabro::kTakeSheetValue},
        {"2", "dword:00000002", tabro::kKeepDrawingValue},
        {"-1", "dword:ffffffff", tabro::kKeepDrawingValue},
        {"1 in the high byte", "dword:01000000", tabro::kKeepDrawingValue},
        {"one byte of another type", "hex:01", tabro::kTakeSheetValue},
        {"the text 1", "\"1\"", tabro::kKeepDrawingValue},
        {"longer than 4 bytes", "hex:01,00,00,00,00", tabro::kKeepDrawingValue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string values = "\"StartCol\"=dword:00000003\n";
        if (c.stored) values += std::string("\"DrawingChangedToo\"=") + c.stored + "\n";
        writeHive(kExportSection + "\n" + kImportSection + values);
        const Settings s = load();
        EXPECT_EQ(s.importOptions.DrawingChangedToo, c.expected);
        EXPECT_EQ(s.importOptions.StartCol, 3);
        EXPECT_FALSE(s.importOptions.Preview);
    }
    writeHive(kExportSection + "\n" + kImportSection + "\"Preview\"=dword:00000007\n");
    EXPECT_TRUE(load().importOptions.Preview);
}

TEST_F(SettingsTest, ResetKeepsIncludeConstant) {
    Settings s;
    s.exportOptions.IncludeConstant = true;
    s.exportOptions.StartRow = 40;
    s.importOptions.StartCol = 9;
    s.importOptions.Preview = true;
    s.importOptions.DrawingChangedToo = tabro::kTakeSheetValue;
    tabro::setDefaultSettings(s);
    EXPECT_TRUE(s.exportOptions.IncludeConstant);
    EXPECT_EQ(s.exportOptions.StartRow, 1);
    EXPECT_EQ(s.importOptions.StartCol, 1);
    EXPECT_FALSE(s.importOptions.Preview);
    EXPECT_EQ(s.importOptions.DrawingChangedToo, tabro::kKeepDrawingValue);
}

TEST_F(SettingsTest, FailedCloseOfTheExportKeyLeavesImportAtDefaults) {
    writeHive(kExportSection + "\"StartRow\"=dword:00000005\n\n" + kImportSection + "\"StartRow\"=dword:00000009\n");
    platform::injectRegistryCloseFault(0, 1, ERROR_INVALID_HANDLE);
    Settings s = load();
    EXPECT_EQ(s.exportOptions.StartRow, 5);
    EXPECT_EQ(s.importOptions.StartRow, 2);
}

TEST_F(SettingsTest, SaveWritesEveryValueInOrderUnderBothKeys) {
    Settings s;
    s.exportOptions.AddHeader = true;
    s.exportOptions.StartRow = 12;
    s.exportOptions.WorkbookSettings = -3;
    s.importOptions.StartRow = 34;
    s.importOptions.IgnoreProps = false;
    s.importOptions.Preview = true;
    s.importOptions.DrawingChangedToo = tabro::kTakeSheetValue;
    ASSERT_TRUE(tabro::saveSettings(s));
    const std::string expectedExport = kExportSection +
                                       "\"AddHeader\"=dword:00000001\n"
                                       "\"AutoConnect\"=dword:00000000\n"
                                       "\"BlockNames\"=dword:00000001\n"
                                       "\"XCoord\"=dword:00000001\n"
                                       "\"YCoord\"=dword:00000001\n"
                                       "\"ZCoord\"=dword:00000001\n"
                                       "\"LayerNames\"=dword:00000001\n"
                                       "\"LayoutNames\"=dword:00000000\n"
                                       "\"OddLine\"=dword:00000000\n"
                                       "\"Rotation\"=dword:00000001\n"
                                       "\"Scale\"=dword:00000001\n"
                                       "\"Sort\"=dword:00000000\n"
                                       "\"StartRow\"=dword:0000000c\n"
                                       "\"WorkbookSettings\"=dword:fffffffd\n"
                                       "\"WorksheetSettings\"=dword:00000000\n"
                                       "\"IncludeConstant\"=dword:00000000\n"
                                       "\"JTSK\"=dword:00000000\n"
                                       "\"NoAutofit\"=dword:00000000\n"
                                       "\"AsText\"=dword:00000001\n"
                                       "\"FindNextBlankLine\"=dword:00000000\n"
                                       "\"ExportAttPrompts\"=dword:00000000\n\n";
    const std::string expectedImport = kImportSection +
                                       "\"ImportSettings\"=dword:00000000\n"
                                       "\"IgnoreProps\"=dword:00000000\n"
                                       "\"StartCol\"=dword:00000001\n"
                                       "\"StartRow\"=dword:00000022\n"
                                       "\"Preview\"=dword:00000001\n"
                                       "\"DrawingChangedToo\"=dword:00000001\n\n";
    std::string file = hive();
    EXPECT_NE(file.find(expectedExport + expectedImport), std::string::npos) << file;
    EXPECT_EQ(file.find("Coords\""), std::string::npos);

    // A boolean stored as 7 comes back as 1, and "Coords" stays as the user left it.
    writeHive(kExportSection + "\"Coords\"=dword:00000000\n\"OddLine\"=dword:00000007\n");
    s = load();
    ASSERT_TRUE(tabro::saveSettings(s));
    file = hive();
    EXPECT_NE(file.find("\"OddLine\"=dword:00000001\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"Coords\"=dword:00000000\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"XCoord\"=dword:00000000\n"), std::string::npos) << file;
}

TEST_F(SettingsTest, SaveThenLoadGivesTheSameRecord) {
    Settings s;
    tabro::ExportOptions& e = s.exportOptions;
    e.WorkbookSettings = 1;
    e.WorksheetSettings = 1;
    e.StartRow = 65536;
    e.AddHeader = e.OddLine = e.AutoConnect = e.IncludeConstant = e.Sort = e.LayoutNames = e.NoAutofit = e.JTSK =
        e.FindNextBlankLine = e.ExportAttPrompts = true;
    e.BlockNames = e.XCoord = e.ZCoord = e.Rotation = e.LayerNames = e.Scale = e.AsText = false;
    s.importOptions = {1, false, 256, 7, true, tabro::kTakeSheetValue};
    ASSERT_TRUE(tabro::saveSettings(s));
    Settings back = load();
    EXPECT_TRUE(back.exportOptions == s.exportOptions);
    EXPECT_TRUE(back.importOptions == s.importOptions);
}

TEST_F(SettingsTest, SaveStopsAtTheFirstFailureKeepingWhatWasSetBeforeIt) {
    // The values go to the hive file in one write at the end of the save; a failed
    // close stops the save, and what was set before it is written all the same.
    struct Case {
        const char* name;
        int closeFaultsSkipped;    // -1: no failed close, the write fails instead
        const char* lastWritten;   // null: nothing under Export
        const char* firstMissing;  // null: nothing missing
        bool importWritten;
        LONG error;
    };
    const Case cases[] = {
        {"closing the Export key fails", 0, "\"ExportAttPrompts\"", "\"ImportSettings\"", false, ERROR_CANTWRITE},
        {"closing the Import key fails", 1, "\"ExportAttPrompts\"", nullptr, true, ERROR_CANTWRITE},
        {"the write fails", -1, nullptr, "\"AddHeader\"", false, ERROR_CANTWRITE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(home_ / "user.reg");
        platform::clearRegistryFaults();
        std::optional<platform::test::FileFault> hiveWrite;
        if (c.closeFaultsSkipped >= 0)
            platform::injectRegistryCloseFault(c.closeFaultsSkipped, 1, ERROR_CANTWRITE);
        else
            hiveWrite.emplace(platform::test::FileCall::rename, EIO);
        LONG error = ERROR_SUCCESS;
        EXPECT_FALSE(tabro::saveSettings(Settings{}, &error));
        EXPECT_EQ(error, c.error);
        std::string file = hive();
        if (c.lastWritten) {
            EXPECT_NE(file.find(c.lastWritten), std::string::npos) << file;
        }
        if (c.firstMissing) {
            EXPECT_EQ(file.find(c.firstMissing), std::string::npos) << file;
        }
        EXPECT_EQ(file.find("\"StartCol\"") != std::string::npos, c.importWritten) << file;
    }
}

// However large the hive, a save rewrites it once: a write for each of the 29 calls
// made saving the options take seconds each on a hive of a hundred thousand keys.
TEST_F(SettingsTest, ASaveWritesTheHiveOnce) {
    std::string others;
    for (int i = 0; i < 2000; ++i)
        others += "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor" + std::to_string(i % 7) + "\\Product" + std::to_string(i) +
                  "]\n\"Count\"=dword:00000001\n\n";
    for (bool keysThere : {false, true}) {
        SCOPED_TRACE(keysThere ? "keys there already" : "keys made");
        writeHive(others + (keysThere ? kExportSection + "\"Sort\"=dword:00000001\n\n" + kImportSection : ""));
        platform::test::FileFault renames(platform::test::FileCall::rename, EIO, 1 << 30);
        Settings s;
        s.exportOptions.StartRow = 77;
        ASSERT_TRUE(tabro::saveSettings(s));
        EXPECT_EQ(renames.calls(), 1);
        EXPECT_EQ(load().exportOptions.StartRow, 77);
        EXPECT_NE(hive().find("Product1999]\n\"Count\"=dword:00000001\n"), std::string::npos);
    }
}

// A hive that cannot be written, for any of the reasons a system gives, is left as
// it was and the save says why. Root writes into a read-only folder, so the refusal
// comes through the file layer's seam.
TEST_F(SettingsTest, AHiveThatCannotBeWrittenIsLeftAsItWasAndTheSaveSaysWhy) {
    struct Case {
        const char* name;
        platform::test::FileCall call;
        int errnoValue;
        LONG error;
    };
    const Case cases[] = {
        {"read-only folder", platform::test::FileCall::open, EACCES, ERROR_ACCESS_DENIED},
        {"read-only file system", platform::test::FileCall::open, EROFS, ERROR_ACCESS_DENIED},
        {"disk full", platform::test::FileCall::write, ENOSPC, ERROR_DISK_FULL},
        {"quota exceeded on the sync", platform::test::FileCall::fsync, EDQUOT, ERROR_DISK_FULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeHive(kExportSection + "\"StartRow\"=dword:00000005\n");
        const std::string before = hive();
        LONG error = ERROR_SUCCESS;
        {
            // The hive is read before the write begins; what fails is the writing.
            Settings s = load();
            s.exportOptions.StartRow = 9;
            platform::test::FileFault refused(c.call, c.errnoValue, 0, -1);
            EXPECT_FALSE(tabro::saveSettings(s, &error));
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(hive(), before);
        EXPECT_EQ(load().exportOptions.StartRow, 5);
    }
}

// Settings kept for the session stand in for the registry's until a save succeeds.
TEST_F(SettingsTest, SettingsKeptForTheSessionStandInUntilASaveSucceeds) {
    writeHive(kExportSection + "\"StartRow\"=dword:00000005\n");
    Settings chosen = load();
    chosen.exportOptions.StartRow = 40;
    chosen.importOptions.StartCol = 3;
    tabro::keepSettingsForSession(chosen);
    Settings loaded = load();
    EXPECT_EQ(loaded.exportOptions.StartRow, 40);
    EXPECT_EQ(loaded.importOptions.StartCol, 3);
    EXPECT_NE(hive().find("\"StartRow\"=dword:00000005"), std::string::npos) << "nothing is written";

    chosen.exportOptions.StartRow = 41;
    ASSERT_TRUE(tabro::saveSettings(chosen));
    writeHive(kExportSection + "\"StartRow\"=dword:00000006\n");
    EXPECT_EQ(load().exportOptions.StartRow, 6) << "after a save the registry counts again";
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {}
    tabro::testing::TempDir dir_{"settings-file"};
    const std::string file_ = dir_.file("tabro.ini");
};

TEST_F(SettingsFileTest, EntriesReadAsAtoiReadsThem) {
    std::ofstream(file_) << "[Export]\n"
                            "Blanks=  12abc\n"
                            "Empty=\n"
                            "Letter=x\n"
                            "Negative=-7 rows\n"
                            "Plus=+3\n"
                            "Huge=99999999999999999999\n"
                            "HugeNegative=-99999999999999999999\n"
                            "Max=2147483647\n"
                            "Min=-2147483648\n"
                            "JustOver=2147483648\n"
                            "SignOnly=-\n"
                            "Quoted=\"5\"\n";
    struct Case {
        const char* key;
        bool result;
        int value;  // what `out` holds afterwards; it starts at 77
    };
    const Case cases[] = {
        {"Blanks", true, 12},
        {"Empty", false, 77},
        {"Letter", true, 0},
        {"Negative", true, -7},
        {"Plus", true, 3},
        {"Huge", true, INT_MAX},
        {"HugeNegative", true, INT_MIN},
        {"Max", true, INT_MAX},
        {"Min", true, INT_MIN},
        {"JustOver", true, INT_MAX},
        {"SignOnly", true, 0},
        {"Quoted", true, 5},
        {"Absent", false, 77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        int out = 77;
        EXPECT_EQ(tabro::readProfileInt(file_, "export", c.key, out), c.result);
        EXPECT_EQ(out, c.value);
    }
    int out = 77;
    EXPECT_FALSE(tabro::readProfileInt((dir_.path() / "missing.ini").string(), "Export", "Blanks", out));
    EXPECT_EQ(out, 77);
}

TEST_F(SettingsFileTest, WrittenEntriesReadBack) {
    const int values[] = {0, 1, -1, 65536, INT_MAX, INT_MIN};
    for (int v : values) {
        SCOPED_TRACE(v);
        ASSERT_TRUE(tabro::writeProfileInt(file_, "Import", "StartRow", v));
        int out = 77;
        ASSERT_TRUE(tabro::readProfileInt(file_, "Import", "StartRow", out));
        EXPECT_EQ(out, v);
    }
    EXPECT_FALSE(tabro::writeProfileInt((dir_.path() / "no" / "dir.ini").string(), "Import", "StartRow", 1));
    EXPECT_FALSE(fs::exists(dir_.path() / "no"));
}

}  // namespace

namespace {

// A settings file named for a run is the whole of its settings: the defaults under
// what it says, "Coords" before the single coordinates, and nothing taken from a file
// that is missing or holds a value that is no whole number.
TEST_F(SettingsTest, ASettingsFileGivesTheRunItsSettingsOrAReason) {
    const fs::path file = home_ / "register.ini";
    tabro::testing::writeFile(file,
                              "[Export]\nCoords=0\nYCoord=1\nLayerNames = 0 \nStartRow=-3\nWorksheetSettings=1\n"
                              "[Import]\nIgnoreProps=0\nDrawingChangedToo=7\n");
    writeHive(kExportSection + "\"Rotation\"=dword:00000000\n");
    Settings s;
    std::string problem;
    ASSERT_TRUE(tabro::loadSettingsFile(file.string(), s, problem)) << problem;
    EXPECT_FALSE(s.exportOptions.XCoord);
    EXPECT_TRUE(s.exportOptions.YCoord);
    EXPECT_FALSE(s.exportOptions.ZCoord);
    EXPECT_FALSE(s.exportOptions.LayerNames);
    EXPECT_TRUE(s.exportOptions.Rotation);  // the registry has no say
    EXPECT_EQ(s.exportOptions.StartRow, -3);
    EXPECT_EQ(s.exportOptions.WorksheetSettings, 1);
    EXPECT_FALSE(s.importOptions.IgnoreProps);
    EXPECT_EQ(s.importOptions.DrawingChangedToo, tabro::kKeepDrawingValue);

    for (const char* bad : {"[Export]\nXCoord=yes\n", "[Import]\nStartRow=2x\n", "[Export]\nStartRow=99999999999\n"}) {
        tabro::testing::writeFile(file, bad);
        EXPECT_FALSE(tabro::loadSettingsFile(file.string(), s, problem)) << bad;
    }
    EXPECT_FALSE(tabro::loadSettingsFile((home_ / "missing.ini").string(), s, problem));

    // A run keeps its settings for every command, with what a run over several
    // drawings needs of them, until it ends.
    tabro::testing::writeFile(file, "[Export]\nYCoord=1\nAutoConnect=1\n");
    ASSERT_TRUE(tabro::loadSettingsFile(file.string(), s, problem));
    tabro::beginRun(s, tabro::RunOptions{}, true);
    const Settings kept = load();
    EXPECT_EQ(kept.exportOptions.WorkbookSettings, 1);
    EXPECT_FALSE(kept.exportOptions.AutoConnect);
    EXPECT_EQ(kept.importOptions.ImportSettings, 1);
    EXPECT_TRUE(kept.importOptions.Preview);
    EXPECT_TRUE(kept.exportOptions.YCoord);
    EXPECT_TRUE(tabro::currentRun().isRun);
    tabro::endRun();
    tabro::dropSessionSettings();
    EXPECT_FALSE(tabro::currentRun().isRun);
    EXPECT_FALSE(load().exportOptions.Rotation);  // the registry's again
}

}  // namespace
