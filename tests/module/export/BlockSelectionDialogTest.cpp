// The block selection dialog driven as a user would: open, context menu commands,
// OK and Cancel, through the same presenter hook that cadhost's terminal uses; and
// its texts, in the window and on the command line, taken from the resource module.
#include "module/base/ResourceStrings.h"
#include "module/ui/BlockSelectionDialog.h"
#include "tests/module/ModuleTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using tabro::BlockNameMap;
using tabro::resourceStrings;
using tabro::ui::BlockSelectionDialog;
using tabro::ui::ListControl;

BlockNameMap sampleBlocks() {
    BlockNameMap map;
    map.set("DOOR", true);
    map.set("NORTH_ARROW", false);
    map.set("WINDOW", true);
    map.set("Grid", false);
    map.set("VALVE", true);
    return map;
}

std::vector<std::string> listed(const BlockSelectionDialog& d) {
    std::vector<std::string> names;
    for (int i = 0; i < d.list().itemCount(); ++i) names.push_back(d.list().itemText(i));
    return names;
}

std::vector<std::string> selected(const BlockSelectionDialog& d) {
    std::vector<std::string> names;
    for (int i = 0; i < d.list().itemCount(); ++i)
        if (d.list().isSelected(i)) names.push_back(d.list().itemText(i));
    return names;
}

using Names = std::vector<std::string>;

TEST(BlockSelectionDialog, OpensWithAttributedBlocksInMapOrder) {
    BlockNameMap map = sampleBlocks();
    BlockSelectionDialog d(map);
    d.onInitDialog();
    EXPECT_EQ(listed(d), (Names{"DOOR", "WINDOW", "VALVE"}));
    EXPECT_TRUE(d.list().isFullRowSelect());
    EXPECT_EQ(d.list().columnWidth(), d.list().clientWidth());
    EXPECT_FALSE(d.isShowingAll());
    auto menu = d.contextMenu();
    EXPECT_TRUE(menu.isChecked(BlockSelectionDialog::ID_SHOW_ATTRIBUTED));
    EXPECT_FALSE(menu.isChecked(BlockSelectionDialog::ID_SHOW_ALL));
}

TEST(BlockSelectionDialog, NoAttributedBlocksOpensEmptyAndShowAllFillsIt) {
    BlockNameMap map;
    map.set("A", false);
    map.set("B", false);
    BlockSelectionDialog d(map);
    d.onInitDialog();
    EXPECT_EQ(d.list().itemCount(), 0);
    d.onCommand(BlockSelectionDialog::ID_SHOW_ALL);
    EXPECT_EQ(listed(d), (Names{"A", "B"}));
    EXPECT_TRUE(d.contextMenu().isChecked(BlockSelectionDialog::ID_SHOW_ALL));
    EXPECT_FALSE(d.contextMenu().isChecked(BlockSelectionDialog::ID_SHOW_ATTRIBUTED));
}

TEST(BlockSelectionDialog, SelectionCommands) {
    using D = BlockSelectionDialog;
    struct Case {
        const char* name;
        std::vector<int> preselect;
        int focus;
        int command;
        Names expected;
    };
    const Case cases[] = {
        {"select all", {1}, 0, D::ID_SELECT_ALL, {"DOOR", "WINDOW", "VALVE"}},
        {"invert", {0, 2}, -1, D::ID_INVERT_SELECTION, {"WINDOW"}},
        {"invert nothing selected", {}, -1, D::ID_INVERT_SELECTION, {"DOOR", "WINDOW", "VALVE"}},
        {"none", {0, 1, 2}, 1, D::ID_SELECT_NONE, {}},
        {"all but focused", {1}, 1, D::ID_SELECT_ALL_BUT_FOCUSED, {"DOOR", "VALVE"}},
        {"all but focused, no focus", {}, -1, D::ID_SELECT_ALL_BUT_FOCUSED, {"DOOR", "WINDOW", "VALVE"}},
        {"unknown command", {2}, -1, 12345, {"VALVE"}},
    };
    BlockNameMap map = sampleBlocks();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlockSelectionDialog d(map);
        d.onInitDialog();
        for (int i : c.preselect) d.list().setSelected(i, true);
        d.list().setFocusedItem(c.focus);
        d.onCommand(c.command);
        EXPECT_EQ(selected(d), c.expected);
    }
}

TEST(BlockSelectionDialog, SelectAllMovesKeyboardFocusToList) {
    BlockNameMap map = sampleBlocks();
    BlockSelectionDialog d(map);
    d.onInitDialog();
    EXPECT_FALSE(d.list().hasKeyboardFocus());
    d.onCommand(BlockSelectionDialog::ID_SELECT_ALL);
    EXPECT_TRUE(d.list().hasKeyboardFocus());
}

TEST(BlockSelectionDialog, ShowAllThenAttributesOnlyKeepsSelection) {
    BlockNameMap map = sampleBlocks();
    BlockSelectionDialog d(map);
    d.onInitDialog();
    d.list().setSelected(1, true);  // WINDOW
    d.onCommand(BlockSelectionDialog::ID_SHOW_ALL);
    EXPECT_EQ(listed(d), (Names{"DOOR", "WINDOW", "VALVE", "NORTH_ARROW", "Grid"}));
    d.list().setSelected(3, true);  // NORTH_ARROW, dropped again below
    d.onCommand(BlockSelectionDialog::ID_SHOW_ATTRIBUTED);
    EXPECT_EQ(listed(d), (Names{"DOOR", "WINDOW", "VALVE"}));
    EXPECT_EQ(selected(d), (Names{"WINDOW"}));
    EXPECT_FALSE(d.isShowingAll());
}

TEST(BlockSelectionDialog, RepeatedShowAllLeavesListUnchanged) {
    BlockNameMap map = sampleBlocks();
    BlockSelectionDialog d(map);
    d.onInitDialog();
    d.onCommand(BlockSelectionDialog::ID_SHOW_ALL);
    const Names once = listed(d);
    d.onCommand(BlockSelectionDialog::ID_SHOW_ALL);
    EXPECT_EQ(listed(d), once);
    EXPECT_TRUE(d.contextMenu().isChecked(BlockSelectionDialog::ID_SHOW_ALL));
}

TEST(BlockSelectionDialog, ShowAllMatchesListedNamesWithoutRegardToCase) {
    // A listed item that differs only in case counts as the block: no duplicate.
    BlockNameMap map;
    map.set("Door", true);
    map.set("plain", false);
    BlockSelectionDialog d(map);
    d.onInitDialog();
    d.list().insertItem(0, "PLAIN");
    d.onCommand(BlockSelectionDialog::ID_SHOW_ALL);
    EXPECT_EQ(listed(d), (Names{"PLAIN", "Door"}));
}

TEST(BlockSelectionDialog, ModalResultThroughPresenter) {
    BlockNameMap map = sampleBlocks();
    struct Case {
        const char* name;
        std::function<int(BlockSelectionDialog&)> user;
        int expectedResult;
        Names expectedNames;
    };
    const Case cases[] = {
        {"OK with two selected, in list order",
         [](BlockSelectionDialog& d) {
             d.list().setSelected(2, true);
             d.list().setSelected(0, true);
             d.onOK();
             return d.endResult();
         },
         tabro::ui::IDOK,
         {"DOOR", "VALVE"}},
        {"OK with nothing selected",
         [](BlockSelectionDialog& d) {
             d.onOK();
             return d.endResult();
         },
         tabro::ui::IDOK,
         {}},
        {"cancel",
         [](BlockSelectionDialog& d) {
             d.list().setSelected(0, true);
             d.onCancel();
             return d.endResult();
         },
         tabro::ui::IDCANCEL,
         {}},
        {"presenter gives up", [](BlockSelectionDialog&) { return 0; }, tabro::ui::IDCANCEL, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tabro::ui::ScopedBlockSelectionPresenter presenter(c.user);
        BlockSelectionDialog d(map);
        EXPECT_EQ(d.doModal(), c.expectedResult);
        if (c.expectedResult == tabro::ui::IDOK) {
            EXPECT_EQ(d.result(), c.expectedNames);
        }
    }
}

TEST(BlockSelectionDialog, ShowingAgainStartsFresh) {
    BlockNameMap map = sampleBlocks();
    BlockSelectionDialog d(map);
    tabro::ui::ScopedBlockSelectionPresenter presenter([](BlockSelectionDialog& dlg) {
        EXPECT_FALSE(dlg.isShowingAll());
        EXPECT_EQ(dlg.list().itemCount(), 3);
        dlg.onCommand(BlockSelectionDialog::ID_SHOW_ALL);
        dlg.onCommand(BlockSelectionDialog::ID_SELECT_ALL);
        dlg.onOK();
        return dlg.endResult();
    });
    EXPECT_EQ(d.doModal(), tabro::ui::IDOK);
    EXPECT_EQ(d.result().size(), 5u);
    EXPECT_EQ(d.doModal(), tabro::ui::IDOK);
    EXPECT_EQ(d.result().size(), 5u);
}

// The dialog's texts come from the resource module, loaded as the module loads it.
class BlockSelectionTexts : public ModuleTest {
protected:
    static std::string load(UINT id) { return resourceStrings().load(id); }

    // What printf makes of a resource format taking one string.
    static std::string formatted(UINT id, const std::string& argument) {
        std::string text = load(id);
        const std::size_t at = text.find("%s");
        return at == std::string::npos ? text : text.replace(at, 2, argument);
    }

    static std::vector<UINT> menuTexts() {
        using namespace tabro;
        return {kTextMenuSelectAll,           kTextMenuInvertSelection, kTextMenuSelectNone,
                kTextMenuSelectAllButFocused, kTextMenuShowAll,         kTextMenuShowAttributed};
    }
    static std::vector<UINT> menuLetters() {
        using namespace tabro;
        return {kTextMenuLetterSelectAll,           kTextMenuLetterInvertSelection, kTextMenuLetterSelectNone,
                kTextMenuLetterSelectAllButFocused, kTextMenuLetterShowAll,         kTextMenuLetterShowAttributed};
    }
};

TEST_F(BlockSelectionTexts, ResourceModuleHoldsEveryText) {
    for (UINT id = tabro::kTextBlockListHeading; id <= tabro::kTextTerminalUnknownChoice; ++id) {
        SCOPED_TRACE(id);
        EXPECT_NE(text(id), "<missing>");
        EXPECT_FALSE(load(id).empty());
    }
    // Each format gets exactly one string from the terminal; another conversion
    // would make it print the text as it stands instead.
    for (UINT id :
         {tabro::kTextTerminalHeadingAll, tabro::kTextTerminalHeadingAttributed, tabro::kTextTerminalUnknownChoice}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(tabro::ui::isFormatWith(load(id), "s")) << load(id);
    }
}

TEST_F(BlockSelectionTexts, MenuLettersLeadToOneItemEach) {
    // A letter shared by two items, or one the terminal reads as OK, Cancel, an item
    // number or a focus move, would leave an item that the letter shown cannot reach.
    std::set<std::string> seen;
    for (UINT id : menuLetters()) {
        const std::string letter = load(id);
        SCOPED_TRACE(letter);
        EXPECT_TRUE(seen.insert(letter).second);
        EXPECT_EQ(letter.find(' '), std::string::npos);
        EXPECT_NE(letter, "ok");
        EXPECT_NE(letter, "c");
        EXPECT_NE(letter, "cancel");
        EXPECT_EQ(letter.find_first_of("0123456789"), std::string::npos);
    }
}

TEST_F(BlockSelectionTexts, WindowTextsComeFromTheResourceModule) {
    BlockNameMap map = sampleBlocks();
    BlockSelectionDialog d(map);
    d.onInitDialog();
    EXPECT_EQ(d.list().columnHeading(), load(tabro::kTextBlockListHeading));
    EXPECT_EQ(d.toolTip().textFor(&d.list()), load(tabro::kTextBlockListToolTip));
    const tabro::ui::PopupMenu menu = d.contextMenu();
    const auto& items = menu.items();
    const std::vector<int> commands = {
        BlockSelectionDialog::ID_SELECT_ALL,  BlockSelectionDialog::ID_INVERT_SELECTION,
        BlockSelectionDialog::ID_SELECT_NONE, BlockSelectionDialog::ID_SELECT_ALL_BUT_FOCUSED,
        BlockSelectionDialog::ID_SHOW_ALL,    BlockSelectionDialog::ID_SHOW_ATTRIBUTED,
    };
    ASSERT_EQ(items.size(), commands.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].commandId, commands[i]);
        EXPECT_EQ(items[i].text, load(menuTexts()[i]));
    }
}

TEST_F(BlockSelectionTexts, TerminalShowsTheResourceTexts) {
    BlockNameMap map;
    map.set("PLAIN", false);
    BlockSelectionDialog d(map);
    // Nothing listed at first; an unknown answer, then show all, then OK.
    feed({"what?", "s", "ok"});
    tabro::ui::ScopedBlockSelectionPresenter terminal(tabro::ui::terminalBlockSelection);
    EXPECT_EQ(d.doModal(), tabro::ui::IDOK);
    const std::string shown = output_.text();
    const std::string heading = load(tabro::kTextBlockListHeading);
    const std::vector<std::string> expected = {
        "\n" + formatted(tabro::kTextTerminalHeadingAttributed, heading),
        "\n    " + load(tabro::kTextTerminalEmptyList),
        "\n" + load(tabro::kTextTerminalMenu),
        load(tabro::kTextTerminalPrompt),
        "\n" + formatted(tabro::kTextTerminalUnknownChoice, "what?"),
        "\n" + formatted(tabro::kTextTerminalHeadingAll, heading),
        "PLAIN",
    };
    std::size_t from = 0;
    for (const std::string& part : expected) {
        SCOPED_TRACE(part);
        const std::size_t at = shown.find(part, from);
        ASSERT_NE(at, std::string::npos) << shown;
        from = at + part.size();
    }
    for (std::size_t i = 0; i < menuTexts().size(); ++i) {
        const std::string item = load(menuTexts()[i]) + " (" + load(menuLetters()[i]) + ")";
        EXPECT_NE(shown.find(item), std::string::npos) << item << "\n" << shown;
    }
    EXPECT_EQ(shown.find('%'), std::string::npos) << "a format was printed unformatted:\n" << shown;
}

TEST_F(BlockSelectionTexts, TerminalWithoutTextsStillWorks) {
    // A resource module that lacks the texts must neither crash the terminal nor
    // bring back texts of its own; the typed words still work.
    tabro::extensionModuleState().resourceHandle = nullptr;
    BlockNameMap map = sampleBlocks();
    BlockSelectionDialog d(map);
    feed({"nonsense", "showall", "a", "2", "ok"});
    tabro::ui::ScopedBlockSelectionPresenter terminal(tabro::ui::terminalBlockSelection);
    EXPECT_EQ(d.doModal(), tabro::ui::IDOK);
    EXPECT_EQ(d.result(), (Names{"DOOR", "VALVE", "NORTH_ARROW", "Grid"}));
    const std::string shown = output_.text();
    for (const char* word : {"Menu", "blocks", "Unknown", "Item number", "Select", "()"}) {
        EXPECT_EQ(shown.find(word), std::string::npos) << word << " in:\n" << shown;
    }
    EXPECT_NE(shown.find("[v]"), std::string::npos) << shown;
}

TEST(BlockSelectionFormat, OnlyTheExpectedConversionsPass) {
    const struct {
        const char* format;
        const char* conversions;
        bool passes;
    } cases[] = {
        {"%s (all blocks):", "s", true},
        {"Unknown choice \"%s\".", "s", true},
        {"100%% of %s", "s", true},
        {"%d of %s", "ds", true},
        {"plain text", "", true},
        {"", "", true},
        {"", "s", false},
        {"no conversion", "s", false},
        {"%s and %s", "s", false},
        {"%s of %d", "ds", false},
        {"%d", "s", false},
        {"%n", "s", false},
        {"%%s", "s", false},
        {"%-20s", "s", false},
        {"%.3s", "s", false},
        {"ends in %", "", false},
        {"%s then %", "s", false},
        {"%s", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(tabro::ui::isFormatWith(c.format, c.conversions), c.passes);
    }
}

}  // namespace
