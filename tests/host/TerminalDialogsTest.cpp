// Dialogs worked on the command line as cadhost works them: what the listing shows,
// each typed command, boxes answered from the input while a dialog runs, and the
// file dialog and popup menu questions.
#include "host/AcUiDialogs.h"
#include "host/TerminalDialogs.h"
#include "platform/ui/SpinButton.h"
#include "tests/host/HostTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr UINT kAsk = 60, kMenu = 61, kFile = 62;

class Page : public CAcUiTabChildDialog {
public:
    BOOL OnInitDialog() override {
        label.Create("Heading:", WS_CHILD | WS_GROUP, RECT{}, this);
        check.Create("&Check me", WS_CHILD | WS_GROUP | BS_AUTOCHECKBOX, RECT{}, this, 10);
        first.Create("First", WS_CHILD | WS_GROUP | BS_AUTORADIOBUTTON, RECT{}, this, 20);
        second.Create("Second", WS_CHILD | BS_AUTORADIOBUTTON, RECT{}, this, 21);
        edit.Create(WS_CHILD | WS_GROUP, RECT{}, this, 30);
        spin.Create(WS_CHILD, RECT{}, this, 31);
        spin.SetBuddy(&edit);
        spin.SetRange32(0, 100);
        off.Create("Off", WS_CHILD | WS_GROUP | WS_DISABLED | BS_AUTOCHECKBOX, RECT{}, this, 40);
        return CAcUiTabChildDialog::OnInitDialog();
    }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Check(dx, 10, isChecked);
        DDX_Radio(dx, 20, choice);
        DDX_Text(dx, 30, number);
    }
    // The number lives in the edit box; the page steps it.
    BOOL OnNotify(UINT, NMHDR* header, LRESULT*) override {
        if (header->code != UDN_DELTAPOS) return FALSE;
        auto* nm = reinterpret_cast<NMUPDOWN*>(header);
        edit.SetWindowTextA(std::to_string(std::atoi(edit.windowText().c_str()) + nm->iDelta).c_str());
        return TRUE;
    }
    CStatic label;
    CButton check, first, second, off;
    CEdit edit;
    CSpinButtonCtrl spin;
    int isChecked = 1, choice = 0, number = 7;
};

class Dialog : public CAcUiTabMainDialog {
public:
    Dialog() : CAcUiTabMainDialog(300) {}
    BOOL OnInitDialog() override {
        SetWindowTextA("Sample options");
        tab.Create(WS_CHILD, RECT{5, 5, 395, 295}, this, 50);
        ask.Create("&Ask...", WS_CHILD | BS_PUSHBUTTON, RECT{}, this, kAsk);
        menu.Create("Menu", WS_CHILD | BS_OWNERDRAW, RECT{}, this, kMenu);
        file.Create("File", WS_CHILD | BS_PUSHBUTTON, RECT{}, this, kFile);
        ok.Create("OK", WS_CHILD | BS_DEFPUSHBUTTON, RECT{}, this, IDOK);
        cancel.Create("Cancel", WS_CHILD | BS_PUSHBUTTON, RECT{}, this, IDCANCEL);
        CAcUiTabMainDialog::OnInitDialog();
        SetAcadTabPointer(&tab);
        AddTab(0, "One", 301, &one);
        AddTab(1, "Two", 302, &two);
        return TRUE;
    }
    void OnOK() override {
        if (one.ValidateData() && two.ValidateData()) CAcUiTabMainDialog::OnOK();
    }
    BOOL OnCommand(UINT id, UINT code) override {
        if (id == kAsk) {
            answers.push_back(MessageBoxA(nullptr, "Sure?", "Ask", MB_YESNO | MB_DEFBUTTON2));
            answers.push_back(MessageBoxA(nullptr, "Noted.", "Ask", MB_OK));
        } else if (id == kMenu) {
            platform::ui::PopupMenu m;
            m.append(100, "&Load settings...");
            m.append(101, "&Save settings...");
            m.check(101, true);
            chosen.push_back(platform::ui::trackPopupMenu(m, TPM_RETURNCMD, 0, 0, this));
        } else if (id == kFile) {
            CFileDialog f(TRUE, "ini", "start.ini", OFN_HIDEREADONLY, "Settings (*.ini)|*.ini||");
            files.push_back(f.DoModal() == IDOK ? f.GetPathName() : "<cancelled>");
        } else {
            return CAcUiTabMainDialog::OnCommand(id, code);
        }
        return TRUE;
    }
    BOOL OnHelpInfo(HELPINFO* info) override {
        helpFor.push_back(info->iCtrlId);
        return TRUE;
    }
    CAdUiTab tab;
    Page one, two;
    CButton ask, menu, file, ok, cancel;
    std::vector<int> helpFor;
    std::vector<int> answers, chosen;
    std::vector<std::string> files;
};

class TerminalDialogsTest : public HostTest {
protected:
    host::TerminalDialogPresenters presenters_;
};

TEST_F(TerminalDialogsTest, TheListingShowsTheShowingPageWithValuesStateAndFocus) {
    feed({"1", "cancel"});
    Dialog d;
    EXPECT_EQ(d.DoModal(), IDCANCEL);
    const std::string out = output_.text();
    EXPECT_NE(out.find("Sample options\n  Tabs: [One]  Two "), std::string::npos) << out;
    for (const char* line :
         {"        Heading:", "     1 [x] Check me", "     2 (o) First", "     3 ( ) Second", "     4 [7] (Up/Down)",
          "     5 [ ] Off  (disabled)", "     6 <Ask...>", "     7 <Menu>", "    10 <Cancel>", " >   1 [ ] Check me"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
}

TEST_F(TerminalDialogsTest, TypedCommandsClickTypeStepAndSwitchTabs) {
    feed({"3", "4 12", "up 4", "up 4", "down 4", "5", "f1", "tab two", "4 3", "1", "tab 1", "help", "ok"});
    Dialog d;
    EXPECT_EQ(d.DoModal(), IDOK);
    EXPECT_EQ(d.one.choice, 1);
    EXPECT_EQ(d.one.number, 13) << "the spin steps from the typed number";
    EXPECT_EQ(d.one.isChecked, 1);
    EXPECT_EQ(d.two.isChecked, 0);
    EXPECT_EQ(d.two.number, 3);
    EXPECT_NE(output_.text().find("Off is disabled."), std::string::npos);
    EXPECT_EQ(d.helpFor, (std::vector<int>{30, 10})) << "F1 reaches the dialog from the focused control";
    EXPECT_EQ(unreadLines(), 0u);
}

TEST_F(TerminalDialogsTest, EnterPressesTheDefaultButtonAndNamesPressButtons) {
    feed({"canc"});
    Dialog cancelled;
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
    feed({"bogus", "1", ""});
    Dialog d;
    EXPECT_EQ(d.DoModal(), IDOK);
    EXPECT_EQ(d.one.isChecked, 0);
    EXPECT_NE(output_.text().find("Unknown choice \"bogus\"."), std::string::npos);
}

TEST_F(TerminalDialogsTest, TheEndOfInputCancels) {
    feed({"1"});
    Dialog d;
    EXPECT_EQ(d.DoModal(), IDCANCEL);
    EXPECT_EQ(d.one.isChecked, 1) << "nothing was taken";
}

TEST_F(TerminalDialogsTest, BoxesWithAChoiceTakeTheNextLineAsTheirAnswer) {
    feed({"ask", "y", "ask", "", "ask", "maybe", "n", "cancel"});
    Dialog d;
    d.DoModal();
    EXPECT_EQ(d.answers, (std::vector<int>{IDYES, IDOK, IDNO, IDOK, IDNO, IDOK}))
        << "a blank line takes the default; a single button reads nothing";
    EXPECT_TRUE(d.isEnded());
    EXPECT_EQ(d.endResult(), IDCANCEL);
}

TEST_F(TerminalDialogsTest, MenusAndFileDialogsAskOnTheCommandLine) {
    feed({"menu", "2", "menu", "nothing", "lo", "menu", "", "file", "", "file", "\"/tmp/a b.ini\"", "file", "^C",
          "cancel"});
    Dialog d;
    d.DoModal();
    EXPECT_EQ(d.chosen, (std::vector<int>{101, 100, 0}));
    ASSERT_EQ(d.files.size(), 3u);
    EXPECT_EQ(d.files[0], (std::filesystem::current_path() / "start.ini").string()) << "Enter takes the initial name";
    EXPECT_EQ(d.files[1], "/tmp/a b.ini");
    EXPECT_EQ(d.files[2], "<cancelled>");
    const std::string out = output_.text();
    EXPECT_NE(out.find("    2 [v] Save settings..."), std::string::npos) << out;
    EXPECT_NE(out.find("Open file [Settings (*.ini)] <start.ini>: "), std::string::npos) << out;
    EXPECT_EQ(d.endResult(), IDCANCEL);
}

}  // namespace
