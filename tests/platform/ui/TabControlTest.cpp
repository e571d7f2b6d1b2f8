// The tab control: selection as tabs come and go, and the notifications around a
// change the user makes.
#include "platform/ui/TabControl.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class NotifiedParent : public CWnd {
public:
    BOOL OnNotify(UINT, NMHDR* header, LRESULT* result) override {
        codes.push_back(header->code);
        *result = header->code == TCN_SELCHANGING && isRefusing ? 1 : 0;
        return TRUE;
    }
    std::vector<UINT> codes;
    bool isRefusing = false;
};

TEST(TabControlTest, TheFirstTabIsSelectedAndTheSelectionMovesWithInsertions) {
    CTabCtrl tabs;
    EXPECT_EQ(tabs.GetCurSel(), -1);
    EXPECT_EQ(tabs.InsertItem(0, "Export"), 0);
    EXPECT_EQ(tabs.GetCurSel(), 0);
    EXPECT_EQ(tabs.InsertItem(5, "About"), 1) << "past the end appends";
    EXPECT_EQ(tabs.InsertItem(1, "Import"), 1);
    EXPECT_EQ(tabs.itemText(2), "About");
    EXPECT_EQ(tabs.SetCurSel(2), 0);
    EXPECT_EQ(tabs.InsertItem(0, "First"), 0);
    EXPECT_EQ(tabs.GetCurSel(), 3) << "the selected tab is still About";
    EXPECT_EQ(tabs.SetCurSel(4), -1);
    EXPECT_EQ(tabs.GetCurSel(), 3);
    tabs.DeleteAllItems();
    EXPECT_EQ(tabs.GetCurSel(), -1);
}

TEST(TabControlTest, AUsersChangeIsAnnouncedAndCanBeRefused) {
    NotifiedParent dialog;
    dialog.CreateEx(0, "", 0, RECT{0, 0, 300, 200}, nullptr, 0);
    CTabCtrl tabs;
    tabs.Create(WS_CHILD, RECT{5, 5, 295, 195}, &dialog, 3);
    tabs.InsertItem(0, "Export");
    tabs.InsertItem(1, "Import");
    EXPECT_TRUE(tabs.selectByUser(1));
    EXPECT_EQ(dialog.codes, (std::vector<UINT>{TCN_SELCHANGING, TCN_SELCHANGE}));
    EXPECT_FALSE(tabs.selectByUser(1)) << "the tab showing already";
    dialog.isRefusing = true;
    dialog.codes.clear();
    EXPECT_FALSE(tabs.selectByUser(0));
    EXPECT_EQ(tabs.GetCurSel(), 1);
    EXPECT_EQ(dialog.codes, (std::vector<UINT>{TCN_SELCHANGING}));
}

}  // namespace
