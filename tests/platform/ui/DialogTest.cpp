// Dialog data exchange as the dialogs use it: check boxes, radio groups, integer
// edit boxes with their range, the framework's messages, and DoModal through the
// presenter.
#include "platform/MessageBox.h"
#include "platform/ui/Dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class SampleDialog : public CDialog {
public:
    SampleDialog() : CDialog(200) {}
    BOOL OnInitDialog() override {
        CreateControls();
        return CDialog::OnInitDialog();
    }
    void CreateControls() {
        if (check.m_hWnd) return;
        check.Create("c", WS_CHILD | BS_AUTOCHECKBOX, RECT{}, this, 10);
        first.Create("a", WS_CHILD | WS_GROUP | BS_AUTORADIOBUTTON, RECT{}, this, 20);
        second.Create("b", WS_CHILD | BS_AUTORADIOBUTTON, RECT{}, this, 21);
        edit.Create(WS_CHILD | WS_GROUP, RECT{}, this, 30);
    }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Check(dx, 10, isOn);
        DDX_Radio(dx, 20, choice);
        DDX_Text(dx, 30, row);
        DDV_MinMaxInt(dx, row, 1, 65536);
    }
    int isOn = 1, choice = 1, row = 7;
    CButton check, first, second;
    CEdit edit;
};

// The window and its controls, opened as DoModal opens them, without a presenter.
void CreateWindowFor(SampleDialog& d) {
    ASSERT_TRUE(d.CreateEx(0, "", 0, RECT{0, 0, 300, 200}, nullptr, 0));
    d.OnInitDialog();
}

TEST(DialogTest, LoadingShowsTheValues) {
    SampleDialog d;
    CreateWindowFor(d);
    EXPECT_EQ(d.check.GetCheck(), BST_CHECKED);
    EXPECT_EQ(d.first.GetCheck(), BST_UNCHECKED);
    EXPECT_EQ(d.second.GetCheck(), BST_CHECKED);
    EXPECT_EQ(d.edit.windowText(), "7");
}

TEST(DialogTest, SavingTakesTheControlsIntoTheValues) {
    SampleDialog d;
    CreateWindowFor(d);
    d.check.SetCheck(BST_UNCHECKED);
    d.second.SetCheck(BST_UNCHECKED);
    d.first.SetCheck(BST_CHECKED);
    d.edit.SetWindowTextA(" 42 ");
    ASSERT_TRUE(d.UpdateData(TRUE));
    EXPECT_EQ(d.isOn, 0);
    EXPECT_EQ(d.choice, 0) << "the edit box's WS_GROUP ends the radio group";
    EXPECT_EQ(d.row, 42);
    d.first.SetCheck(BST_UNCHECKED);
    ASSERT_TRUE(d.UpdateData(TRUE));
    EXPECT_EQ(d.choice, -1);
}

TEST(DialogTest, ABadNumberFailsWithTheFrameworksMessage) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"0", "Please enter an integer between 1 and 65536."},
        {"65537", "Please enter an integer between 1 and 65536."},
        {"12abc", "Please enter an integer."},
        {"", "Please enter an integer."},
        {"99999999999", "Please enter an integer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::MessageBoxRecorder boxes;
        SampleDialog d;
        CreateWindowFor(d);
        d.edit.SetWindowTextA(c.text);
        d.OnOK();
        EXPECT_FALSE(d.isEnded()) << "the dialog stays open";
        EXPECT_EQ(d.failedControl(), 30u);
        ASSERT_EQ(boxes.count(), 1u);
        EXPECT_EQ(boxes.last().text, c.message);
    }
}

TEST(DialogTest, DoModalRunsThePresenterAfterInitialisation) {
    SampleDialog d;
    int seenRow = 0;
    auto previous = platform::ui::setDialogPresenter([&](CDialog& shown) -> INT_PTR {
        auto& sample = static_cast<SampleDialog&>(shown);
        seenRow = std::stoi(sample.edit.windowText());
        sample.edit.SetWindowTextA("9");
        sample.OnOK();
        return 0;
    });
    EXPECT_EQ(d.DoModal(), IDOK);
    platform::ui::setDialogPresenter(std::move(previous));
    EXPECT_EQ(seenRow, 7);
    EXPECT_EQ(d.row, 9);
    SampleDialog cancelled;
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL) << "without a presenter nobody can answer";
}

// What a user's click does before the dialog hears of it: a check box toggles, a
// radio button becomes the only checked one of its group (and no other group's),
// a disabled control ignores the click, and the OK and Cancel buttons end the dialog.
class ClickDialog : public SampleDialog {
public:
    BOOL OnCommand(UINT id, UINT code) override {
        clicks.push_back(id);
        return SampleDialog::OnCommand(id, code);
    }
    std::vector<UINT> clicks;
};

TEST(DialogTest, ClicksChangeTheControlsThenTellTheDialog) {
    ClickDialog d;
    CreateWindowFor(d);
    CButton other, ok, cancel;
    other.Create("o", WS_CHILD | WS_GROUP | BS_AUTORADIOBUTTON, RECT{}, &d, 40);
    ok.Create("OK", WS_CHILD | WS_GROUP | BS_DEFPUSHBUTTON, RECT{}, &d, IDOK);
    cancel.Create("Cancel", WS_CHILD | BS_PUSHBUTTON, RECT{}, &d, IDCANCEL);
    other.SetCheck(BST_CHECKED);

    d.check.SetCheck(2);
    EXPECT_TRUE(d.check.click());
    EXPECT_EQ(d.check.GetCheck(), BST_UNCHECKED) << "an indeterminate box clears";
    EXPECT_TRUE(d.check.click());
    EXPECT_EQ(d.check.GetCheck(), BST_CHECKED);
    EXPECT_EQ(GetFocus(), d.check.m_hWnd);

    EXPECT_TRUE(d.first.click());
    EXPECT_EQ(d.first.GetCheck(), BST_CHECKED);
    EXPECT_EQ(d.second.GetCheck(), BST_UNCHECKED);
    EXPECT_EQ(other.GetCheck(), BST_CHECKED) << "another group is left alone";
    EXPECT_TRUE(d.second.click());
    EXPECT_EQ(d.first.GetCheck(), BST_UNCHECKED);

    d.first.EnableWindow(FALSE);
    EXPECT_FALSE(d.first.click());
    EXPECT_EQ(d.second.GetCheck(), BST_CHECKED);
    EXPECT_EQ(d.clicks, (std::vector<UINT>{10, 10, 20, 21}));

    d.edit.SetWindowTextA("0");
    platform::MessageBoxRecorder boxes;
    EXPECT_TRUE(ok.click());
    EXPECT_FALSE(d.isEnded());
    EXPECT_EQ(GetFocus(), d.edit.m_hWnd) << "the field to correct takes the focus";
    d.edit.SetWindowTextA("5");
    EXPECT_TRUE(ok.click());
    EXPECT_EQ(d.endResult(), IDOK);
    EXPECT_EQ(d.row, 5);

    ClickDialog c;
    CreateWindowFor(c);
    CButton cancelOnly;
    cancelOnly.Create("Cancel", WS_CHILD | BS_PUSHBUTTON, RECT{}, &c, IDCANCEL);
    c.edit.SetWindowTextA("0");
    EXPECT_TRUE(cancelOnly.click());
    EXPECT_EQ(c.endResult(), IDCANCEL) << "Cancel takes nothing and validates nothing";
    c.DestroyWindow();
    EXPECT_EQ(GetFocus(), nullptr) << "a destroyed window has no focus";
}

}  // namespace
