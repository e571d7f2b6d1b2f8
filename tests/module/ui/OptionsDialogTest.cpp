// The options dialog as a user works it: what it shows on opening, what is enabled
// after each click, OK with its validation and the partial-point notice, Cancel,
// Reset, and loading and saving the settings file through the settings menu.
#include "module/base/ResourceStrings.h"
#include "module/settings/Settings.h"
#include "module/ui/OptionsDialog.h"
#include "platform/MessageBox.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/PopupMenuTracking.h"
#include "tests/common/FileFault.h"
#include "tests/common/TestFiles.h"
#include "tests/module/ModuleTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tabro::Settings;
using tabro::ui::ExportTab;
using tabro::ui::ImportTab;
using tabro::ui::OptionsDialog;
using tabro::ui::SettingsMenuButton;

// A registry and a folder for settings files of the test's own ($CADHOST_HOME).
class TempHome {
public:
    std::string path() const { return folder_.path().string(); }

private:
    tabro::testing::TempDir folder_{"options"};
    tabro::testing::ScopedEnv variable_{"CADHOST_HOME", folder_.path().string()};
};

class OptionsDialogTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        previousDialog_ = platform::ui::setDialogPresenter([this](CDialog& d) {
            if (work_) work_(static_cast<OptionsDialog&>(d));
            return static_cast<INT_PTR>(IDCANCEL);
        });
        previousMenu_ = platform::ui::setPopupMenuPresenter([this](const platform::ui::PopupMenuRequest& r) {
            menus_.push_back(r);
            menuTexts_.clear();
            for (const auto& item : r.menu->items()) menuTexts_.push_back(item.text);
            return menuAnswer_;
        });
        previousFile_ = platform::ui::setFileDialogPresenter([this](const platform::ui::FileDialogRequest& r) {
            fileRequests_.push_back(r);
            return fileAnswer_;
        });
    }
    void TearDown() override {
        tabro::dropSessionSettings();  // an OK that could not be stored leaves none behind
        platform::ui::setFileDialogPresenter(std::move(previousFile_));
        platform::ui::setPopupMenuPresenter(std::move(previousMenu_));
        platform::ui::setDialogPresenter(std::move(previousDialog_));
        ModuleTest::TearDown();
    }

    // Runs the dialog through TABRO Options' own entry; `work` is what the user does.
    bool run(std::function<void(OptionsDialog&)> work) {
        work_ = std::move(work);
        return tabro::showOptionsDialog();
    }

    static Settings registry() {
        Settings s;
        tabro::loadSettings(s);
        return s;
    }
    static void store(const Settings& s) { ASSERT_TRUE(tabro::saveSettings(s)); }
    std::string file(const std::string& name) const { return home_.path() + "/" + name; }
    static void write(const std::string& path, const std::string& text) { tabro::testing::writeFile(path, text); }

    static CButton& button(CWnd& page, UINT id) { return *dynamic_cast<CButton*>(page.GetDlgItem(id)); }
    static CWnd& item(CWnd& page, UINT id) { return *page.GetDlgItem(id); }
    static bool enabled(CWnd& page, UINT id) { return page.GetDlgItem(id)->IsWindowEnabled(); }
    static void type(CWnd& page, UINT id, const char* text) { page.GetDlgItem(id)->SetWindowTextA(text); }

    TempHome home_;
    platform::MessageBoxRecorder boxes_;
    std::function<void(OptionsDialog&)> work_;
    std::vector<platform::ui::PopupMenuRequest> menus_;  // the menu itself is gone after the call
    std::vector<std::string> menuTexts_;
    int menuAnswer_ = 0;
    std::vector<platform::ui::FileDialogRequest> fileRequests_;
    std::optional<std::string> fileAnswer_;

private:
    platform::ui::DialogPresenter previousDialog_;
    platform::ui::PopupMenuPresenter previousMenu_;
    platform::ui::FileDialogPresenter previousFile_;
};

TEST_F(OptionsDialogTest, OpeningShowsTheStoredSettingsOnThreePages) {
    Settings s;
    s.exportOptions.Rotation = false;
    s.exportOptions.ZCoord = false;
    s.exportOptions.WorkbookSettings = 1;
    s.exportOptions.StartRow = 17;
    s.exportOptions.IncludeConstant = true;
    s.importOptions.ImportSettings = 1;
    s.importOptions.IgnoreProps = false;
    s.importOptions.StartCol = 3;
    s.importOptions.StartRow = 9;
    s.importOptions.Preview = true;
    s.importOptions.DrawingChangedToo = tabro::kTakeSheetValue;
    store(s);
    run([&](OptionsDialog& d) {
        EXPECT_EQ(d.windowText(), text(tabro::kTextOptionsCaption));
        EXPECT_FALSE(d.GetExStyle() & WS_EX_CONTEXTHELP);
        CAdUiTab& tabs = d.tabControl();
        ASSERT_EQ(tabs.GetItemCount(), 3);
        EXPECT_EQ(tabs.itemText(0), text(tabro::kTextTabExport));
        EXPECT_EQ(tabs.itemText(2), text(tabro::kTextTabAbout));
        EXPECT_EQ(tabs.GetActiveTab(), 0);

        ExportTab& e = d.exportTab();
        EXPECT_EQ(button(e, ExportTab::IDC_ROTATION).GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_XCOORD).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_ZCOORD).GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_INCLUDE_CONSTANT).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_NEW_WORKSHEET).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_ACTIVE_WORKBOOK).GetCheck(), BST_CHECKED);
        EXPECT_EQ(item(e, ExportTab::IDC_START_ROW).windowText(), "17");
        double low = 0, high = 0;
        e.startRowSpin.GetRange(low, high);
        EXPECT_EQ(low, 1.0);
        EXPECT_EQ(high, 65536.0);
        EXPECT_EQ(e.startRowSpin.GetBuddy(), &item(e, ExportTab::IDC_START_ROW));

        ImportTab& i = d.importTab();
        EXPECT_EQ(button(i, ImportTab::IDC_ALL_SHEETS).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(i, ImportTab::IDC_IGNORE_PROPS).GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(item(i, ImportTab::IDC_START_COL).windowText(), "3");
        EXPECT_EQ(item(i, ImportTab::IDC_START_ROW).windowText(), "9");
        EXPECT_EQ(button(i, ImportTab::IDC_PREVIEW).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(i, ImportTab::IDC_KEEP_DRAWING_VALUE).GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(button(i, ImportTab::IDC_TAKE_SHEET_VALUE).GetCheck(), BST_CHECKED);
        i.startColSpin.GetRange(low, high);
        EXPECT_EQ(high, 256.0);
        i.startRowSpin.GetRange(low, high);
        EXPECT_EQ(high, 65536.0);

        EXPECT_EQ(d.aboutTab().link().windowText(), text(tabro::kTextAboutLinkText));
        EXPECT_EQ(d.aboutTab().link().url(), text(tabro::kTextAboutLinkTarget));
    });
}

TEST_F(OptionsDialogTest, TheActiveSheetControlsFollowTheWorksheetChoice) {
    auto activeSheetControls = [](ExportTab& e) {
        return std::vector<bool>{enabled(e, ExportTab::IDC_START_ROW), enabled(e, ExportTab::IDC_START_ROW_SPIN),
                                 enabled(e, ExportTab::IDC_ADD_HEADER),
                                 enabled(e, ExportTab::IDC_FIND_NEXT_BLANK_LINE)};
    };
    using V = std::vector<bool>;
    run([&](OptionsDialog& d) {
        ExportTab& e = d.exportTab();
        EXPECT_EQ(activeSheetControls(e), (V{false, false, false, false})) << "new sheets on opening";
        ASSERT_TRUE(button(e, ExportTab::IDC_ACTIVE_WORKSHEET).click());
        EXPECT_EQ(activeSheetControls(e), (V{true, true, true, true}));
        ASSERT_TRUE(button(e, ExportTab::IDC_FIND_NEXT_BLANK_LINE).click());
        EXPECT_EQ(activeSheetControls(e), (V{false, false, true, true})) << "the next blank row needs no start row";
        ASSERT_TRUE(button(e, ExportTab::IDC_NEW_WORKSHEET).click());
        EXPECT_EQ(activeSheetControls(e), (V{false, false, false, false}));
        ASSERT_TRUE(button(e, ExportTab::IDC_ACTIVE_WORKSHEET).click());
        EXPECT_EQ(activeSheetControls(e), (V{false, false, true, true})) << "the box is still checked";
        ASSERT_TRUE(button(e, ExportTab::IDC_FIND_NEXT_BLANK_LINE).click());
        EXPECT_EQ(activeSheetControls(e), (V{true, true, true, true}));
    });

    Settings s;
    s.exportOptions.WorksheetSettings = 1;
    s.exportOptions.FindNextBlankLine = true;
    store(s);
    run([&](OptionsDialog& d) { EXPECT_EQ(activeSheetControls(d.exportTab()), (V{false, false, true, true})); });
}

TEST_F(OptionsDialogTest, OkSavesWhatBothPagesShowAndCancelSavesNothing) {
    auto edit = [](OptionsDialog& d) {
        ExportTab& e = d.exportTab();
        button(e, ExportTab::IDC_ACTIVE_WORKSHEET).click();
        type(e, ExportTab::IDC_START_ROW, " 42 ");
        button(e, ExportTab::IDC_SORT).click();
        button(e, ExportTab::IDC_AS_TEXT).click();
        button(e, ExportTab::IDC_ACTIVE_WORKBOOK).click();
        ImportTab& i = d.importTab();
        button(i, ImportTab::IDC_ALL_SHEETS).click();
        button(i, ImportTab::IDC_IGNORE_PROPS).click();
        button(i, ImportTab::IDC_PREVIEW).click();
        button(i, ImportTab::IDC_TAKE_SHEET_VALUE).click();
        i.startColSpin.stepArrow(1);
        type(i, ImportTab::IDC_START_ROW, "65536");
    };
    EXPECT_FALSE(run([&](OptionsDialog& d) {
        edit(d);
        button(d, IDCANCEL).click();
        EXPECT_TRUE(d.isEnded());
    }));
    EXPECT_FALSE(std::filesystem::exists(home_.path() + "/user.reg")) << "Cancel wrote the registry";

    EXPECT_TRUE(run([&](OptionsDialog& d) {
        edit(d);
        button(d, IDOK).click();
    }));
    const Settings s = registry();
    EXPECT_EQ(s.exportOptions.WorksheetSettings, 1);
    EXPECT_EQ(s.exportOptions.StartRow, 42);
    EXPECT_TRUE(s.exportOptions.Sort);
    EXPECT_FALSE(s.exportOptions.AsText);
    EXPECT_EQ(s.exportOptions.WorkbookSettings, 1);
    EXPECT_TRUE(s.exportOptions.XCoord);
    EXPECT_EQ(s.importOptions.ImportSettings, 1);
    EXPECT_FALSE(s.importOptions.IgnoreProps);
    EXPECT_EQ(s.importOptions.StartCol, 2);
    EXPECT_EQ(s.importOptions.StartRow, 65536);
    EXPECT_TRUE(s.importOptions.Preview);
    EXPECT_EQ(s.importOptions.DrawingChangedToo, tabro::kTakeSheetValue);
    EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(OptionsDialogTest, OkKeepsTheDialogOpenUntilEveryNumberIsInRange) {
    struct Case {
        UINT page;  // 0 export, 1 import
        UINT id;
        const char* typed;
        const char* message;
    } cases[] = {
        {0, ExportTab::IDC_START_ROW, "0", "Please enter an integer between 1 and 65536."},
        {0, ExportTab::IDC_START_ROW, "12abc", "Please enter an integer."},
        {1, ImportTab::IDC_START_COL, "257", "Please enter an integer between 1 and 256."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        boxes_.clear();
        EXPECT_TRUE(run([&](OptionsDialog& d) {
            CWnd& page = c.page == 0 ? static_cast<CWnd&>(d.exportTab()) : d.importTab();
            button(d.exportTab(), ExportTab::IDC_SORT).click();
            type(page, c.id, c.typed);
            d.tabControl().selectByUser(c.page == 0 ? 1 : 0);
            button(d, IDOK).click();
            EXPECT_FALSE(d.isEnded());
            EXPECT_EQ(d.tabControl().GetActiveTab(), static_cast<int>(c.page)) << "the field's page shows";
            EXPECT_EQ(GetFocus(), item(page, c.id).m_hWnd) << "the field to correct has the focus";
            ASSERT_EQ(boxes_.count(), 1u);
            EXPECT_EQ(boxes_.last().text, c.message);
            EXPECT_FALSE(registry().exportOptions.Sort) << "nothing is saved while a field is wrong";
            type(page, c.id, "7");
            button(d, IDOK).click();
            EXPECT_TRUE(d.isEnded());
        }));
        EXPECT_TRUE(registry().exportOptions.Sort);
        store(Settings{});
    }
}

TEST_F(OptionsDialogTest, APartialInsertionPointIsPointedOutOnlyFromTheExportPage) {
    for (int page : {0, 1}) {
        SCOPED_TRACE(page);
        boxes_.clear();
        EXPECT_TRUE(run([&](OptionsDialog& d) {
            button(d.exportTab(), ExportTab::IDC_YCOORD).click();
            if (page == 1) d.tabControl().selectByUser(1);
            button(d, IDOK).click();
        }));
        EXPECT_FALSE(registry().exportOptions.YCoord) << "the notice blocks nothing";
        if (page == 0) {
            ASSERT_EQ(boxes_.count(), 1u);
            EXPECT_EQ(boxes_.last().text, text(tabro::kTextPartialPointText));
            EXPECT_EQ(boxes_.last().type, MB_OK | MB_ICONINFORMATION);
        } else {
            EXPECT_EQ(boxes_.count(), 0u);
        }
        store(Settings{});
    }
}

TEST_F(OptionsDialogTest, ResetAsksThenRestoresTheDefaultsButTwoBoxes) {
    Settings s;
    s.exportOptions.WorksheetSettings = 1;
    s.exportOptions.FindNextBlankLine = true;
    s.exportOptions.Rotation = false;
    s.exportOptions.ExportAttPrompts = true;
    s.importOptions.StartCol = 5;
    s.importOptions.Preview = true;
    s.importOptions.DrawingChangedToo = tabro::kTakeSheetValue;
    store(s);
    EXPECT_FALSE(run([&](OptionsDialog& d) {
        ExportTab& e = d.exportTab();
        boxes_.answerNext(IDNO);
        button(d, OptionsDialog::IDC_RESET).click();
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().type, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        EXPECT_EQ(button(e, ExportTab::IDC_ROTATION).GetCheck(), BST_UNCHECKED) << "No changes nothing";

        // Ticked since opening: a reset keeps it as the user sees it.
        button(e, ExportTab::IDC_INCLUDE_CONSTANT).click();
        boxes_.answerNext(IDYES);
        button(d, OptionsDialog::IDC_RESET).click();
        EXPECT_EQ(button(e, ExportTab::IDC_ROTATION).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_NEW_WORKSHEET).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_FIND_NEXT_BLANK_LINE).GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_INCLUDE_CONSTANT).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(e, ExportTab::IDC_EXPORT_ATT_PROMPTS).GetCheck(), BST_CHECKED);
        EXPECT_EQ(item(d.importTab(), ImportTab::IDC_START_COL).windowText(), "1");
        EXPECT_EQ(item(d.importTab(), ImportTab::IDC_START_ROW).windowText(), "2");
        EXPECT_EQ(button(d.importTab(), ImportTab::IDC_PREVIEW).GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(button(d.importTab(), ImportTab::IDC_KEEP_DRAWING_VALUE).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(d.importTab(), ImportTab::IDC_TAKE_SHEET_VALUE).GetCheck(), BST_UNCHECKED);
        for (UINT id : {ExportTab::IDC_START_ROW, ExportTab::IDC_START_ROW_SPIN, ExportTab::IDC_ADD_HEADER,
                        ExportTab::IDC_FIND_NEXT_BLANK_LINE})
            EXPECT_FALSE(enabled(e, id)) << id;
        button(d, IDCANCEL).click();
    }));
    const Settings after = registry();
    EXPECT_FALSE(after.exportOptions.Rotation) << "reset then Cancel leaves the registry";
    EXPECT_EQ(after.importOptions.StartCol, 5);
    EXPECT_TRUE(after.importOptions.Preview);
    EXPECT_EQ(after.importOptions.DrawingChangedToo, tabro::kTakeSheetValue);

    EXPECT_TRUE(run([&](OptionsDialog& d) {
        boxes_.answerNext(IDYES);
        button(d, OptionsDialog::IDC_RESET).click();
        button(d, IDOK).click();
    }));
    const Settings saved = registry();
    EXPECT_TRUE(saved.exportOptions.ExportAttPrompts);
    EXPECT_TRUE(saved.exportOptions.Rotation);
    EXPECT_EQ(saved.exportOptions.WorksheetSettings, 0);
    EXPECT_EQ(saved.importOptions.StartCol, 1);
    EXPECT_FALSE(saved.importOptions.Preview);
    EXPECT_EQ(saved.importOptions.DrawingChangedToo, tabro::kKeepDrawingValue);
}

TEST_F(OptionsDialogTest, TheSettingsMenuDropsBelowTheButtonAndCancelsQuietly) {
    run([&](OptionsDialog& d) {
        menuAnswer_ = 0;
        button(d, OptionsDialog::IDC_SETTINGS_MENU).click();
        ASSERT_EQ(menus_.size(), 1u);
        RECT r;
        d.settingsButton().GetWindowRect(&r);
        EXPECT_EQ(menus_[0].at.x, r.left);
        EXPECT_EQ(menus_[0].at.y, r.bottom);
        EXPECT_TRUE(menus_[0].flags & TPM_RETURNCMD);
        EXPECT_EQ(menuTexts_,
                  (std::vector<std::string>{text(tabro::kTextMenuLoadSettings), text(tabro::kTextMenuSaveSettings)}));
        EXPECT_TRUE(fileRequests_.empty()) << "a dismissed menu opens nothing";

        for (int command : {SettingsMenuButton::ID_LOAD_SETTINGS, SettingsMenuButton::ID_SAVE_SETTINGS}) {
            menuAnswer_ = command;
            fileAnswer_.reset();
            button(d, OptionsDialog::IDC_SETTINGS_MENU).click();
        }
        ASSERT_EQ(fileRequests_.size(), 2u);
        EXPECT_TRUE(fileRequests_[0].isOpen);
        EXPECT_FALSE(fileRequests_[1].isOpen);
        for (const auto& r : fileRequests_) {
            EXPECT_EQ(r.flags, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
            EXPECT_EQ(r.defaultExtension, text(tabro::kTextSettingsFileExtension));
            EXPECT_EQ(r.initialName, text(tabro::kTextSettingsFileName));
            EXPECT_FALSE(r.filters.empty());
        }
    });
    EXPECT_EQ(boxes_.count(), 0u);
    EXPECT_FALSE(std::filesystem::exists(file(text(tabro::kTextSettingsFileName))));
}

using tabro::testing::readFile;

TEST_F(OptionsDialogTest, SavingWritesEveryValueInOrderAndLoadingGivesThemBack) {
    const std::string path = file("mine.ini");
    run([&](OptionsDialog& d) {
        button(d.exportTab(), ExportTab::IDC_ACTIVE_WORKSHEET).click();
        type(d.exportTab(), ExportTab::IDC_START_ROW, "12");
        type(d.importTab(), ImportTab::IDC_START_COL, "4");
        button(d.importTab(), ImportTab::IDC_PREVIEW).click();
        button(d.importTab(), ImportTab::IDC_TAKE_SHEET_VALUE).click();
        menuAnswer_ = SettingsMenuButton::ID_SAVE_SETTINGS;
        fileAnswer_ = home_.path() + "/mine";  // the default extension is added
        button(d, OptionsDialog::IDC_SETTINGS_MENU).click();
    });
    EXPECT_EQ(readFile(path),
              "[Export]\r\nAddHeader=0\r\nAutoConnect=0\r\nBlockNames=1\r\nXCoord=1\r\nYCoord=1\r\nZCoord=1\r\n"
              "LayerNames=1\r\nLayoutNames=0\r\nOddLine=0\r\nRotation=1\r\nScale=1\r\nSort=0\r\nStartRow=12\r\n"
              "WorkbookSettings=0\r\nWorksheetSettings=1\r\nIncludeConstant=0\r\nJTSK=0\r\nNoAutofit=0\r\n"
              "AsText=1\r\nFindNextBlankLine=0\r\nExportAttPrompts=0\r\n"
              "[Import]\r\nImportSettings=0\r\nIgnoreProps=1\r\nStartCol=4\r\nStartRow=2\r\nPreview=1\r\n"
              "DrawingChangedToo=1\r\n");
    EXPECT_FALSE(std::filesystem::exists(home_.path() + "/user.reg")) << "a save to file is no OK";

    EXPECT_TRUE(run([&](OptionsDialog& d) {
        d.loadSettingsFile(path);
        EXPECT_EQ(item(d.exportTab(), ExportTab::IDC_START_ROW).windowText(), "12");
        EXPECT_TRUE(enabled(d.exportTab(), ExportTab::IDC_START_ROW));
        EXPECT_EQ(button(d.importTab(), ImportTab::IDC_PREVIEW).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(d.importTab(), ImportTab::IDC_TAKE_SHEET_VALUE).GetCheck(), BST_CHECKED);
        button(d, IDOK).click();
    }));
    const Settings s = registry();
    EXPECT_EQ(s.exportOptions.StartRow, 12);
    EXPECT_EQ(s.importOptions.StartCol, 4);
    EXPECT_TRUE(s.importOptions.Preview);
    EXPECT_EQ(s.importOptions.DrawingChangedToo, tabro::kTakeSheetValue);
}

// OK when the registry cannot be written: an error box names the file and the
// system's reason, the dialog closes, and what the user chose holds for the rest of
// the session, the dialog included, though the file is left as it was. Root writes
// into a read-only folder, so the refusals come through the file layer's seam.
TEST_F(OptionsDialogTest, AnOkThatCannotBeStoredSaysWhyAndTheChoiceHoldsForTheSession) {
    struct Case {
        const char* name;
        platform::test::FileCall call;
        int error;
        const char* reason;
    };
    const Case cases[] = {
        {"read-only folder", platform::test::FileCall::open, EACCES, "Access is denied."},
        {"read-only file system", platform::test::FileCall::open, EROFS, "Access is denied."},
        {"disk full", platform::test::FileCall::write, ENOSPC, "There is not enough space on the disk."},
    };
    const std::string hive = home_.path() + "/user.reg";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes_.clear();
        tabro::dropSessionSettings();
        Settings stored;
        stored.exportOptions.StartRow = 5;
        store(stored);
        const std::string before = readFile(hive);
        run([&](OptionsDialog& d) {
            type(d.exportTab(), ExportTab::IDC_START_ROW, "42");
            button(d.importTab(), ImportTab::IDC_ALL_SHEETS).click();
            platform::test::FileFault refused(c.call, c.error, 0, -1);
            button(d, IDOK).click();
            EXPECT_TRUE(d.isEnded());
        });
        ASSERT_EQ(boxes_.count(), 1u);
        const platform::MessageBoxRequest box = boxes_.last();
        EXPECT_EQ(box.text, "The options could not be saved to " + hive + ": " + c.reason +
                                "\nThey apply until the program ends.");
        EXPECT_TRUE(platform::isFailureBox(box.type));
        EXPECT_EQ(readFile(hive), before);

        EXPECT_EQ(registry().exportOptions.StartRow, 42) << "the next command works with the choice";
        EXPECT_EQ(registry().importOptions.ImportSettings, 1);
        run([&](OptionsDialog& d) {
            EXPECT_EQ(item(d.exportTab(), ExportTab::IDC_START_ROW).windowText(), "42");
            button(d, IDCANCEL).click();
        });
    }
    // Once it can be stored, it is, and the registry counts again.
    run([&](OptionsDialog& d) { button(d, IDOK).click(); });
    EXPECT_NE(readFile(hive).find("\"StartRow\"=dword:0000002a"), std::string::npos);
    Settings elsewhere;
    elsewhere.exportOptions.StartRow = 7;
    store(elsewhere);
    EXPECT_EQ(registry().exportOptions.StartRow, 7);
}

// Saving the settings file where it cannot be written says so, naming the file and
// the system's reason, once; the dialog stays open with what it holds.
TEST_F(OptionsDialogTest, ASettingsFileThatCannotBeWrittenIsToldOfOnce) {
    struct Case {
        const char* name;
        platform::test::FileCall call;
        int error;
        const char* reason;
    };
    const Case cases[] = {
        {"read-only folder", platform::test::FileCall::open, EACCES, "Access is denied."},
        {"disk full", platform::test::FileCall::write, ENOSPC, "There is not enough space on the disk."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes_.clear();
        const std::string path = file("refused.ini");
        run([&](OptionsDialog& d) {
            type(d.exportTab(), ExportTab::IDC_START_ROW, "12");
            menuAnswer_ = SettingsMenuButton::ID_SAVE_SETTINGS;
            fileAnswer_ = path;
            {
                platform::test::FileFault refused(c.call, c.error, 0, -1);
                button(d, OptionsDialog::IDC_SETTINGS_MENU).click();
            }
            EXPECT_FALSE(d.isEnded());
            EXPECT_EQ(item(d.exportTab(), ExportTab::IDC_START_ROW).windowText(), "12");
        });
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.last().text, "The settings could not be saved to " + path + ": " + c.reason);
        EXPECT_TRUE(platform::isFailureBox(boxes_.last().type));
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(OptionsDialogTest, ASaveWithAWrongFieldTellsAndSavesWhatThePageHolds) {
    const std::string path = file("wrong.ini");
    run([&](OptionsDialog& d) {
        button(d.exportTab(), ExportTab::IDC_SORT).click();
        type(d.importTab(), ImportTab::IDC_START_ROW, "0");
        menuAnswer_ = SettingsMenuButton::ID_SAVE_SETTINGS;
        fileAnswer_ = path;
        button(d, OptionsDialog::IDC_SETTINGS_MENU).click();
    });
    ASSERT_EQ(boxes_.count(), 1u);
    const std::string saved = readFile(path);
    EXPECT_NE(saved.find("Sort=1"), std::string::npos);
    EXPECT_NE(saved.find("[Import]\r\nImportSettings=0\r\nIgnoreProps=1\r\nStartCol=1\r\nStartRow=0\r\n"),
              std::string::npos)
        << saved;
}

TEST_F(OptionsDialogTest, LoadingAFileChangesOnlyWhatItHolds) {
    struct Case {
        const char* name;
        const char* content;
        std::function<void(OptionsDialog&)> check;
    } cases[] = {
        {"only an Import section", "[Import]\nStartCol=9\nImportSettings=1\n",
         [](OptionsDialog& d) {
             EXPECT_EQ(item(d.importTab(), ImportTab::IDC_START_COL).windowText(), "9");
             EXPECT_EQ(button(d.importTab(), ImportTab::IDC_ALL_SHEETS).GetCheck(), BST_CHECKED);
             EXPECT_EQ(item(d.importTab(), ImportTab::IDC_START_ROW).windowText(), "2");
             EXPECT_EQ(button(d.exportTab(), ExportTab::IDC_SORT).GetCheck(), BST_CHECKED)
                 << "an export box ticked before loading stays ticked";
             EXPECT_EQ(button(d.exportTab(), ExportTab::IDC_ROTATION).GetCheck(), BST_CHECKED);
             // A file saved before the preview and the drawing-changed-too choice
             // existed leaves them as the page has them.
             EXPECT_EQ(button(d.importTab(), ImportTab::IDC_PREVIEW).GetCheck(), BST_CHECKED);
             EXPECT_EQ(button(d.importTab(), ImportTab::IDC_TAKE_SHEET_VALUE).GetCheck(), BST_CHECKED);
             EXPECT_EQ(button(d.importTab(), ImportTab::IDC_KEEP_DRAWING_VALUE).GetCheck(), BST_UNCHECKED);
         }},
        {"the next blank row of the active sheet", "[Export]\nWorksheetSettings=1\nFindNextBlankLine=1\n",
         [](OptionsDialog& d) {
             ExportTab& e = d.exportTab();
             EXPECT_FALSE(enabled(e, ExportTab::IDC_START_ROW));
             EXPECT_FALSE(enabled(e, ExportTab::IDC_START_ROW_SPIN));
             EXPECT_TRUE(enabled(e, ExportTab::IDC_ADD_HEADER));
             EXPECT_TRUE(enabled(e, ExportTab::IDC_FIND_NEXT_BLANK_LINE));
         }},
        {"text after the number and blanks before it", "[export]\nstartrow=  12abc\nRotation=x\nXCoord=\n",
         [](OptionsDialog& d) {
             EXPECT_EQ(item(d.exportTab(), ExportTab::IDC_START_ROW).windowText(), "12");
             EXPECT_EQ(button(d.exportTab(), ExportTab::IDC_ROTATION).GetCheck(), BST_UNCHECKED) << "x reads as 0";
             EXPECT_EQ(button(d.exportTab(), ExportTab::IDC_XCOORD).GetCheck(), BST_CHECKED) << "empty: unchanged";
         }},
        {"no such file", nullptr,
         [](OptionsDialog& d) {
             EXPECT_EQ(item(d.exportTab(), ExportTab::IDC_START_ROW).windowText(), "1");
             EXPECT_EQ(button(d.exportTab(), ExportTab::IDC_SORT).GetCheck(), BST_CHECKED);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file("load.ini");
        std::filesystem::remove(path);
        if (c.content) write(path, c.content);
        run([&](OptionsDialog& d) {
            button(d.exportTab(), ExportTab::IDC_SORT).click();
            button(d.importTab(), ImportTab::IDC_PREVIEW).click();
            button(d.importTab(), ImportTab::IDC_TAKE_SHEET_VALUE).click();
            d.loadSettingsFile(path);
            c.check(d);
        });
        EXPECT_EQ(boxes_.count(), 0u) << "loading reports nothing";
    }
}

TEST_F(OptionsDialogTest, ACheckBoxValueOtherThanZeroOrOneShowsCheckedAndGoesBackAsOne) {
    const std::string in = file("odd.ini"), out = file("back.ini");
    write(in, "[Export]\nSort=7\nJTSK=-1\nXCoord=0\n[Import]\nIgnoreProps=2\nPreview=-5\n");
    EXPECT_TRUE(run([&](OptionsDialog& d) {
        d.loadSettingsFile(in);
        EXPECT_EQ(button(d.exportTab(), ExportTab::IDC_SORT).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(d.exportTab(), ExportTab::IDC_JTSK).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(d.importTab(), ImportTab::IDC_IGNORE_PROPS).GetCheck(), BST_CHECKED);
        EXPECT_EQ(button(d.importTab(), ImportTab::IDC_PREVIEW).GetCheck(), BST_CHECKED);
        d.saveSettingsFile(out);
        button(d, IDOK).click();
    }));
    const std::string saved = readFile(out);
    for (const char* entry : {"Sort=1\r\n", "JTSK=1\r\n", "XCoord=0\r\n", "IgnoreProps=1\r\n", "Preview=1\r\n"})
        EXPECT_NE(saved.find(entry), std::string::npos) << entry;
    EXPECT_TRUE(registry().exportOptions.Sort);
    EXPECT_TRUE(registry().importOptions.Preview);
}

// The drawing-changed-too choice means something for 0 and 1 only: any other number
// from a file shows, and goes back, as keeping the drawing's value, which is what
// import would make of it; an empty entry leaves the choice as it was.
TEST_F(OptionsDialogTest, ADrawingChangedTooValueOtherThanOneFromAFileMeansKeep) {
    struct Case {
        const char* entry;
        bool isTakeBefore;  // the choice on the page before loading
        bool isTakeAfter;
    } cases[] = {
        {"1", false, true},  {"  1abc", false, true}, {"0", true, false}, {"2", true, false},
        {"-1", true, false}, {"x", true, false},      {"", true, true},
    };
    const std::string in = file("choice.ini"), out = file("choice-back.ini");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.entry + "\", take before: " + (c.isTakeBefore ? "yes" : "no"));
        write(in, std::string("[Import]\nDrawingChangedToo=") + c.entry + "\n");
        std::filesystem::remove(out);
        run([&](OptionsDialog& d) {
            ImportTab& i = d.importTab();
            button(i, c.isTakeBefore ? ImportTab::IDC_TAKE_SHEET_VALUE : ImportTab::IDC_KEEP_DRAWING_VALUE).click();
            d.loadSettingsFile(in);
            EXPECT_EQ(button(i, ImportTab::IDC_TAKE_SHEET_VALUE).GetCheck(),
                      c.isTakeAfter ? BST_CHECKED : BST_UNCHECKED);
            EXPECT_EQ(button(i, ImportTab::IDC_KEEP_DRAWING_VALUE).GetCheck(),
                      c.isTakeAfter ? BST_UNCHECKED : BST_CHECKED);
            d.saveSettingsFile(out);
        });
        EXPECT_NE(readFile(out).find(c.isTakeAfter ? "DrawingChangedToo=1\r\n" : "DrawingChangedToo=0\r\n"),
                  std::string::npos)
            << readFile(out);
    }
}

TEST_F(OptionsDialogTest, AStartRowOfZeroFromAFileIsShownAndStopsOkUntilCorrected) {
    const std::string path = file("zero.ini");
    write(path, "[Export]\nStartRow=0\n");
    EXPECT_TRUE(run([&](OptionsDialog& d) {
        d.loadSettingsFile(path);
        EXPECT_EQ(item(d.exportTab(), ExportTab::IDC_START_ROW).windowText(), "0");
        button(d, IDOK).click();
        EXPECT_FALSE(d.isEnded());
        type(d.exportTab(), ExportTab::IDC_START_ROW, "3");
        button(d, IDOK).click();
    }));
    EXPECT_EQ(registry().exportOptions.StartRow, 3);
}

}  // namespace
