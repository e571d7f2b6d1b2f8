// The block selection dialog driven as a user would: open, context menu commands,
// OK and Cancel, through the same presenter hook that cadhost's terminal uses.
#include "module/ui/BlockSelectionDialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tabro::BlockNameMap;
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
    EXPECT_EQ(d.list().columnHeading(), "Block name");
    EXPECT_TRUE(d.list().isFullRowSelect());
    EXPECT_EQ(d.list().columnWidth(), d.list().clientWidth());
    EXPECT_EQ(d.toolTip().textFor(&d.list()), "Press right mouse button for more options.");
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
         tabro::ui::IDOK, {"DOOR", "VALVE"}},
        {"OK with nothing selected",
         [](BlockSelectionDialog& d) {
             d.onOK();
             return d.endResult();
         },
         tabro::ui::IDOK, {}},
        {"cancel",
         [](BlockSelectionDialog& d) {
             d.list().setSelected(0, true);
             d.onCancel();
             return d.endResult();
         },
         tabro::ui::IDCANCEL, {}},
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

}  // namespace
