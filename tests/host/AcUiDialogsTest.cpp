// The host's tabbed dialog: pages added in order, initialised as they are added, the
// active page, and validation that keeps a failing page's message.
#include "host/AcUiDialogs.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

namespace {

class NumberPage : public CAcUiTabChildDialog {
public:
    BOOL OnInitDialog() override {
        edit.Create(WS_CHILD, RECT{}, this, 40);
        ++initialised;
        return CAcUiTabChildDialog::OnInitDialog();
    }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Text(dx, 40, value);
        DDV_MinMaxInt(dx, value, 1, 256);
    }
    CEdit edit;
    int value = 5;
    int initialised = 0;
};

class MainDialog : public CAcUiTabMainDialog {
public:
    MainDialog() : CAcUiTabMainDialog(300) {}
    BOOL OnInitDialog() override {
        CAcUiTabMainDialog::OnInitDialog();
        tab.Create(WS_CHILD, RECT{5, 5, 395, 295}, this, 50);
        SetAcadTabPointer(&tab);
        added = AddTab(0, "First", 301, &first) && AddTab(1, "Second", 302, &second);
        return TRUE;
    }
    CAdUiTab tab;
    NumberPage first, second;
    bool added = false;
};

TEST(AcUiDialogsTest, PagesAreAddedInOrderAndInitialised) {
    MainDialog d;
    d.CreateEx(0, "", 0, RECT{0, 0, 400, 300}, nullptr, 0);
    d.OnInitDialog();
    ASSERT_TRUE(d.added);
    EXPECT_EQ(d.GetTabControl()->GetItemCount(), 2);
    EXPECT_EQ(d.tab.itemText(1), "Second");
    EXPECT_EQ(d.tab.page(1), &d.second);
    EXPECT_EQ(d.first.initialised, 1);
    EXPECT_EQ(d.first.edit.windowText(), "5") << "the page shows its values";
    EXPECT_EQ(d.tab.GetActiveTab(), 0);
    NumberPage third;
    EXPECT_FALSE(d.AddTab(5, "Far", 303, &third)) << "pages go in order";
    EXPECT_FALSE(d.AddTab(2, "Again", 303, &d.first)) << "a page is added once";
}

TEST(AcUiDialogsTest, APageThatFailsValidationSaysWhy) {
    platform::MessageBoxRecorder boxes;
    MainDialog d;
    d.CreateEx(0, "", 0, RECT{0, 0, 400, 300}, nullptr, 0);
    d.OnInitDialog();
    d.second.edit.SetWindowTextA("0");
    EXPECT_TRUE(d.first.ValidateData());
    EXPECT_FALSE(d.second.ValidateData());
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, "Please enter an integer between 1 and 256.");
}

}  // namespace
