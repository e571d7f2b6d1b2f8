// The options dialog behind TABRO Options: every export and import setting on two
// pages, the module's version and link on a third; reset to the defaults, exchange
// with a settings file, and the registry written only on OK. Main thread, inside
// the command.
#pragma once

#include "host/AcUiDialogs.h"
#include "module/settings/Settings.h"
#include "module/ui/OptionsTabs.h"
#include "module/ui/SettingsMenuButton.h"

#include <string>
#include <vector>

namespace tabro {

// The modal options dialog; true when it ends with OK.
bool showOptionsDialog();

namespace ui {

// Owned by the command that runs it; main thread only.
class OptionsDialog : public CAcUiTabMainDialog {
public:
    enum ControlId : UINT {
        IDC_TABS = 1001,
        IDC_RESET,
        IDC_SETTINGS_MENU,
    };
    enum TabIndex : int { kExportTab = 0, kImportTab = 1, kAboutTab = 2 };

    explicit OptionsDialog(CWnd* parent = nullptr);

    // Loads the settings into the pages and adds them; no context-help button.
    BOOL OnInitDialog() override;
    // Validates both pages (a failure keeps the dialog open on the failing page and
    // saves nothing), warns
    // on a partial insertion point while the export page shows, saves, ends.
    void OnOK() override;
    // The reset button and the settings menu button; OK and Cancel go to the base.
    BOOL OnCommand(UINT id, UINT code) override;
    // F1: the module's help.
    BOOL OnHelpInfo(HELPINFO* info) override;

    // Asks (No as the default) and on Yes puts every value but IncludeConstant and
    // ExportAttPrompts back to its default.
    void onReset();
    // Drops the settings menu and runs the chosen command with its file dialog.
    void onSettingsMenu();
    // The entries of the file that are there replace the page values (a check box
    // takes 1 for anything but 0, the drawing-changed-too choice 0 for anything but
    // 1); the pages show the result. A file from before an option existed has no
    // entry for it, so the option keeps what the page held. A missing file or
    // entry changes nothing.
    void loadSettingsFile(const std::string& path);
    // Validates the pages (a failure does not stop the save) and writes every value;
    // write failures are not reported.
    void saveSettingsFile(const std::string& path);

    // The record the page values stand for (a check box value other than 0 is on).
    Settings settingsFromPages() const;
    void settingsToPages(const Settings& settings);

    CAdUiTab& tabControl() noexcept { return tab_; }
    SettingsMenuButton& settingsButton() noexcept { return settingsButton_; }
    ExportTab& exportTab() noexcept { return exportTab_; }
    ImportTab& importTab() noexcept { return importTab_; }
    AboutTab& aboutTab() noexcept { return aboutTab_; }

private:
    // How a value read from the settings file becomes a page value.
    enum class FileValue {
        asRead,      // a number or a radio group that tells its other values apart
        checkBox,    // 1 for anything but 0
        keepOrTake,  // DrawingChangedToo: 1 stays 1, anything else is 0
    };
    struct FileEntry {
        const char* section;
        const char* name;
        int* value;
        FileValue kind;
    };
    // The settings file's entries in the order they are read and written.
    std::vector<FileEntry> fileEntries();
    void createControls();

    CAdUiTab tab_;
    SettingsMenuButton settingsButton_;
    ExportTab exportTab_;
    ImportTab importTab_;
    AboutTab aboutTab_;
    CButton resetButton_;
    CButton okButton_;
    CButton cancelButton_;
};

}  // namespace ui
}  // namespace tabro
