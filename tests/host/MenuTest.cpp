// Menu groups: the classic text menu file read strictly (the shipped tbmenu
// included), macros turned into typed input, and the menu commands a user runs at
// the terminal (MENULOAD, MENUUNLOAD, -TOOLBAR, MENUS) down to the command a chosen
// item or pressed button runs.
#include "host/AcEdCommandStack.h"
#include "host/AcedCommand.h"
#include "host/AcedMenu.h"
#include "host/MenuFile.h"
#include "host/MenuGroups.h"
#include "tests/common/TestFiles.h"
#include "tests/host/HostTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> ran;
void recordPing() { ran.push_back("ping"); }
void recordAnswer() {
    char answer[ADS_INPUT_BUFFER];
    int status = acedGetString(0, "\nWord: ", answer);
    ran.push_back(status == RTNORM ? std::string("word:") + answer : "cancelled");
}

const char* const kSmallMenu =
    "// a test menu\n"
    "***MENUGROUP=TESTMENU\n"
    "***POP1\n"
    "**TESTPOP\n"
    "ID_Top [&Tests]\n"
    "ID_Ping [&Ping]^C^C_ping\n"
    "        [--]\n"
    "ID_Word [Word &hello]^C^C_word;hello\n"
    "ID_Off  [~Unavailable]^C^C_ping\n"
    "***TOOLBARS\n"
    "**TB_TEST\n"
    "ID_TbTest [_Toolbar(\"Test bar\", _Floating, _Hide, 10, 10, 1)]\n"
    "ID_TbWord [_Button(\"Say hello\", \"A16\", \"A32\")]^C^C_word;+\n"
    "hello\n"
    "ID_TbPing [_Button(\"Ping\", \"B16\", \"B32\")]^C^C_ping\n"
    "***HELPSTRINGS\n"
    "ID_Ping [Runs ping]\n";

class MenuTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        ran.clear();
        host::unloadAllMenuGroups();
        acedRegCmds->addCommand("MENUTESTS", "ping", "ping", ACRX_CMD_MODAL, recordPing);
        acedRegCmds->addCommand("MENUTESTS", "word", "word", ACRX_CMD_MODAL, recordAnswer);
    }
    void TearDown() override {
        host::unloadAllMenuGroups();
        acedRegCmds->removeGroup("MENUTESTS");
        HostTest::TearDown();
    }
    std::string write(const std::string& name, const std::string& text) {
        tabro::testing::writeFile(folder_ / name, text);
        return (folder_ / name).string();
    }
    // Runs the lines at the Command: prompt until they are used up.
    void run(std::vector<std::string> lines) {
        feed(std::move(lines));
        host::runCommandLoop();
    }

    tabro::testing::TempDir scratch_{"menu"};
    const fs::path folder_ = scratch_.path();
};

TEST(MenuFileTest, ShippedMenuOffersEveryKeywordAndTheToolbar) {
    std::optional<std::string> text = tabro::testing::readFileIfAny(std::string(TABLORA_BIN_DIR) + "/tbmenu.mnu");
    ASSERT_TRUE(text) << "tbmenu.mnu must be built beside the module";
    host::MenuFileResult parsed = host::parseMenuFile(*text);
    ASSERT_TRUE(parsed.menu) << "line " << parsed.line << ": " << parsed.error;
    EXPECT_EQ(parsed.menu->groupName, "TABRO");
    ASSERT_EQ(parsed.menu->menus.size(), 1u);
    std::set<std::string> typed;
    for (const host::MenuItem& item : parsed.menu->menus[0].items) {
        if (item.isSeparator) continue;
        EXPECT_EQ(item.input.rfind("\x03\n\x03\n", 0), 0u) << item.label << ": an item first cancels what runs";
        typed.insert(item.input.substr(4));
    }
    for (const char* keyword :
         {"export", "export2", "import", "options", "connect", "disconnect", "import2", "toolbar", "help"})
        EXPECT_TRUE(typed.count(std::string("_tabro\n_") + keyword + "\n")) << keyword;
    EXPECT_TRUE(typed.count("_tbtest\n"));
    ASSERT_EQ(parsed.menu->toolbars.size(), 1u);
    EXPECT_EQ(parsed.menu->toolbars[0].name, "TB_TABRO");
    EXPECT_FALSE(parsed.menu->toolbars[0].isShownAtLoad) << "loading must not pop the toolbar up";
    EXPECT_GE(parsed.menu->toolbars[0].buttons.size(), 5u);
}

TEST(MenuFileTest, MacrosTypeTheInputTheirCharactersStandFor) {
    struct Case {
        const char* macro;
        const char* input;
    } cases[] = {
        {"^C^C_tabro;_export", "\x03\n\x03\n_tabro\n_export\n"},
        {"_line 0,0 1,1;;", "_line\n0,0\n1,1\n\n"},  // a blank and ";" are Enter, twice is Enter twice
        {"^c^c_zoom;_e", "\x03\n\x03\n_zoom\n_e\n"},
        {"_tabro;\\", "_tabro\n"},    // the user answers the rest
        {"_text^Z", "_text"},         // ^Z: no Enter at the end
        {"abc^Cdef", "\x03\ndef\n"},  // a cancel throws away what was typed before it
        {"_a^Mb^P", "_a\nb\n"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.macro);
        std::string error;
        std::optional<std::string> input = host::menuMacroInput(c.macro, error);
        ASSERT_TRUE(input) << error;
        EXPECT_EQ(*input, c.input);
    }
    for (const char* bad : {"_move;\\;0,0", "*^C^C_line", "_a^X", "_a^", "_a^Zb", "a\x01"}) {
        SCOPED_TRACE(bad);
        std::string error;
        EXPECT_FALSE(host::menuMacroInput(bad, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(MenuFileTest, DamagedFilesAreRefusedWithTheirLine) {
    struct Case {
        const char* text;
        int line;
        const char* says;
    } cases[] = {
        {"***POP1\n[Menu]\n", 1, "MENUGROUP"},
        {"// only a comment\n", 0, "MENUGROUP"},
        {"***MENUGROUP=\n", 1, "empty"},
        {"***MENUGROUP=TWO WORDS\n", 1, "blank"},
        {"***MENUGROUP=G\n***MENUGROUP=H\n", 2, "second"},
        {"***MENUGROUP=G\n***POPUP9\n", 2, "unknown section"},
        {"***MENUGROUP=G\n***POP1\n[Title]\nID_A [Never closed^C\n", 4, "]"},
        {"***MENUGROUP=G\n***POP1\n[Title]\nID_A ^C^Cline\n", 4, "label"},
        {"***MENUGROUP=G\n***POP1\n[Title]\n[->Sub]\n[Item]_a\n", 0, "cascad"},
        {"***MENUGROUP=G\n***POP1\n[Title]\n[<-Item]_a\n", 4, "never opened"},
        {"***MENUGROUP=G\n***POP1\n[Title]\n[Item]_move;\\;0,0\n", 4, "pause"},
        {"***MENUGROUP=G\n***TOOLBARS\n**TB\n[_Button(\"B\", \"a\", \"b\")]_a\n", 4, "_Toolbar"},
        {"***MENUGROUP=G\n***TOOLBARS\n**TB\n[_Toolbar(\"T\")]\n[_Flyout(\"F\")]_a\n", 5, "_Button"},
        {"***MENUGROUP=G\n***TOOLBARS\n**TB\n", 0, "_Toolbar"},
        {"***MENUGROUP=G\n***TOOLBARS\n**TB\n***HELPSTRINGS\n", 4, "_Toolbar"},
        {"***MENUGROUP=G\n***TOOLBARS\n[_Toolbar(\"T\")]\n", 3, "before"},
        {"***MENUGROUP=G\n***POP1\n", 0, "title"},
        {"***MENUGROUP=G\nID_A [loose]\n", 2, "outside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        host::MenuFileResult parsed = host::parseMenuFile(c.text);
        EXPECT_FALSE(parsed.menu);
        EXPECT_EQ(parsed.line, c.line) << parsed.error;
        EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
    }
    host::MenuFileResult withNul = host::parseMenuFile(std::string_view("***MENUGROUP=G\n\0\n", 17));
    EXPECT_FALSE(withNul.menu);
    EXPECT_EQ(withNul.line, 2);
}

TEST(MenuFileTest, SectionsWithoutMeaningHereAreReadOver) {
    host::MenuFileResult parsed = host::parseMenuFile(
        "***MENUGROUP=G\r\n***SCREEN\r\n**S\r\n[anything]^C\r\n***BUTTONS1\r\n;\r\n***POP2\r\n[&&Title]\r\n"
        "[->Sub]\r\n[!.Checked]_a\r\n[<-Last]_b\r\n");
    ASSERT_TRUE(parsed.menu) << parsed.line << ": " << parsed.error;
    ASSERT_EQ(parsed.menu->menus.size(), 1u);
    const host::PullDownMenu& menu = parsed.menu->menus[0];
    EXPECT_EQ(menu.title, "&Title");
    ASSERT_EQ(menu.items.size(), 3u);
    EXPECT_EQ(menu.items[1].depth, 1);
    EXPECT_EQ(menu.items[1].label, "Checked");
    EXPECT_EQ(menu.items[2].input, "_b\n");
}

TEST_F(MenuTest, MenuloadLoadsAGroupOnceAndReportsWhatCannotBeLoaded) {
    std::string path = write("small.mnu", kSmallMenu);
    // The extension is found as the host finds it; the name compares in any case.
    std::string stem = path.substr(0, path.size() - 4);
    ASSERT_EQ(acedCommand(RTSTR, "_.menuload", RTSTR, stem.c_str(), 0), RTNORM);
    EXPECT_TRUE(acedIsMenuGroupLoaded("testmenu"));
    EXPECT_EQ(boxes_.count(), 0u);

    output_.clear();
    acedCommand(RTSTR, "MENULOAD", RTSTR, path.c_str(), 0);
    EXPECT_EQ(host::loadedMenuGroups().size(), 1u);
    EXPECT_NE(output_.text().find("already loaded"), std::string::npos) << output_.text();
    EXPECT_EQ(boxes_.count(), 0u) << "a second load is no broken file";

    struct Bad {
        std::string path;
        const char* says;
    } bad[] = {
        {(folder_ / "nothing").string(), "Cannot find menu file"},
        {write("damaged.mnu", "***MENUGROUP=BROKEN\n***POP1\n[Title]\nID_A [Never closed^C\n"), "line 4"},
        {folder_.string(), "Cannot read menu file"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.path);
        boxes_.clear();
        acedCommand(RTSTR, "_.menuload", RTSTR, b.path.c_str(), 0);
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_NE(boxes_.last().text.find(b.says), std::string::npos) << boxes_.last().text;
        EXPECT_FALSE(acedIsMenuGroupLoaded("BROKEN"));
    }
    EXPECT_EQ(host::loadedMenuGroups().size(), 1u);

    acedCommand(RTSTR, "MENUUNLOAD", RTSTR, "TestMenu", 0);
    EXPECT_FALSE(acedIsMenuGroupLoaded("TESTMENU"));
}

TEST_F(MenuTest, MenusRunsTheChosenItemAsTypedInput) {
    ASSERT_TRUE(host::loadMenuGroup(write("small.mnu", kSmallMenu)).isLoaded);
    // Item 2 is "Word hello": its macro answers the command's prompt itself.
    run({"MENUS", "4", "9", "2", "MENUS", "1"});
    EXPECT_EQ(ran, (std::vector<std::string>{"word:hello", "ping"}));
    std::string out = output_.text();
    EXPECT_NE(out.find("Menu group TESTMENU"), std::string::npos) << out;
    EXPECT_NE(out.find("  1  Ping"), std::string::npos) << out;
    EXPECT_NE(out.find("Unavailable (unavailable)"), std::string::npos) << out;
    EXPECT_NE(out.find("Requires the number of an available item"), std::string::npos) << out;
    EXPECT_NE(out.find("Command: _word"), std::string::npos) << "macro input is echoed:\n" << out;
}

// A menu of `levels` cascades, each opened inside the one before, closed again by
// the items below the deepest, each closing up to a hundred levels at once.
std::string nestedMenu(int levels) {
    std::string text = "***MENUGROUP=DEEP\n***POP1\n[Deep]\n";
    for (int i = 1; i <= levels; ++i) text += "[->Level " + std::to_string(i) + "]\n";
    text += "[Bottom]^C^C_ping\n";
    for (int left = levels; left > 0; left -= 100) {
        std::string closes;
        for (int i = 0; i < std::min(left, 100); ++i) closes += "<-";
        text += "[" + closes + "Back]^C^C_ping\n";
    }
    return text;
}

// Cascades nest as deep as anyone can work through, and a file nesting deeper is
// refused at the item that goes too far, however deep it goes (a file of 45,000
// levels once cost gigabytes to list). At the limit the listing indents each level.
TEST_F(MenuTest, CascadesNestAtMostThirtyTwoDeepAndListAsDeep) {
    for (int levels : {33, 45000}) {
        SCOPED_TRACE(levels);
        host::MenuFileResult parsed = host::parseMenuFile(nestedMenu(levels));
        EXPECT_FALSE(parsed.menu);
        EXPECT_EQ(parsed.line, 3 + 33) << parsed.error;
        EXPECT_NE(parsed.error.find("at most 32 levels"), std::string::npos) << parsed.error;
    }
    boxes_.clear();
    acedCommand(RTSTR, "_.menuload", RTSTR, write("toodeep.mnu", nestedMenu(45000)).c_str(), 0);
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_NE(boxes_.last().text.find("line 36: cascading"), std::string::npos) << boxes_.last().text;
    EXPECT_FALSE(acedIsMenuGroupLoaded("DEEP"));

    ASSERT_TRUE(host::loadMenuGroup(write("deep.mnu", nestedMenu(32))).isLoaded);
    run({"MENUS", "33"});
    EXPECT_EQ(ran, (std::vector<std::string>{"ping"}));
    const std::string out = output_.text();
    EXPECT_NE(out.find("\n" + std::string(4 + 2 * 31, ' ') + " 32  Level 32\n" + std::string(4 + 2 * 32, ' ') +
                       " 33  Bottom"),
              std::string::npos)
        << out;
}

TEST_F(MenuTest, ShownToolbarOffersItsButtonsWhenTheCommandEnds) {
    ASSERT_TRUE(host::loadMenuGroup(write("small.mnu", kSmallMenu)).isLoaded);
    run({"-TOOLBAR testmenu.tb_test", "", "1", "-TOOLBAR TB_TEST _hide", "-TOOLBAR nosuch"});
    EXPECT_EQ(ran, (std::vector<std::string>{"word:hello"})) << "the continued macro line answers the prompt";
    std::string out = output_.text();
    EXPECT_NE(out.find("Test bar toolbar (TESTMENU.TB_TEST):\n  1  Say hello\n  2  Ping"), std::string::npos) << out;
    EXPECT_NE(out.find("Toolbar \"nosuch\" not found."), std::string::npos) << out;
    EXPECT_FALSE(host::findMenuGroup("TESTMENU")->toolbarShown[0]);
}

TEST_F(MenuTest, CancelInASentStringCancelsThePrompt) {
    acDocManager->sendStringToExecute(document_, "word\n\x03\nping\n");
    host::runPendingWork();
    EXPECT_EQ(ran, (std::vector<std::string>{"cancelled", "ping"}));
}

}  // namespace
