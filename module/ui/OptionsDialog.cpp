#include "module/ui/OptionsDialog.h"

#include "host/Editor.h"
#include "module/base/ErrorReports.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "module/settings/SettingsFile.h"
#include "module/ui/Help.h"
#include "platform/LastError.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"
#include "platform/ui/FileDialog.h"

#include <optional>
#include <string>

namespace tabro {

namespace {

// Layouts of the dialog and its pages in the resource module.
constexpr UINT kOptionsTemplate = 880;
constexpr UINT kExportTemplate = 881;
constexpr UINT kImportTemplate = 882;
constexpr UINT kAboutTemplate = 883;

constexpr const char* kExportSection = "Export";
constexpr const char* kImportSection = "Import";

int asCheck(bool on) { return on ? 1 : 0; }

}  // namespace

bool showOptionsDialog() {
    ui::OptionsDialog dialog(CWnd::FromHandle(adsw_acadMainWnd()));
    return dialog.DoModal() == IDOK;
}

namespace ui {

OptionsDialog::OptionsDialog(CWnd* parent) : CAcUiTabMainDialog(kOptionsTemplate, parent) {}

void OptionsDialog::createControls() {
    ResourceStrings& texts = resourceStrings();
    SetWindowTextA(texts.load(kTextOptionsCaption).c_str());
    SetWindowPos(nullptr, 0, 0, 400, 640, SWP_NOMOVE | SWP_NOZORDER);
    ModifyStyleEx(0, WS_EX_CONTEXTHELP);  // as the dialog's template has it
    tab_.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP, RECT{6, 6, 394, 600}, this, IDC_TABS);
    resetButton_.Create(texts.load(kTextButtonReset).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                        RECT{6, 608, 86, 632}, this, IDC_RESET);
    settingsButton_.Create(texts.load(kTextButtonSettings).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                           RECT{92, 608, 192, 632}, this, IDC_SETTINGS_MENU);
    okButton_.Create(texts.load(kTextButtonOk).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                     RECT{228, 608, 308, 632}, this, IDOK);
    cancelButton_.Create(texts.load(kTextButtonCancel).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                         RECT{314, 608, 394, 632}, this, IDCANCEL);
}

BOOL OptionsDialog::OnInitDialog() {
    ResourceScope scope;
    if (!tab_.m_hWnd) createControls();
    CAcUiTabMainDialog::OnInitDialog();
    SetAcadTabPointer(&tab_);

    Settings settings;
    loadSettings(settings);
    settingsToPages(settings);

    ResourceStrings& texts = resourceStrings();
    AddTab(kExportTab, texts.load(kTextTabExport).c_str(), kExportTemplate, &exportTab_);
    AddTab(kImportTab, texts.load(kTextTabImport).c_str(), kImportTemplate, &importTab_);
    AddTab(kAboutTab, texts.load(kTextTabAbout).c_str(), kAboutTemplate, &aboutTab_);

    // F1 shows the module's help; the caption's question mark would only offer a
    // second, different way to the same place.
    ModifyStyleEx(WS_EX_CONTEXTHELP, 0);
    return TRUE;
}

void OptionsDialog::OnOK() {
    ResourceScope scope;
    // The page holding the field the message is about comes to the front, so the
    // user sees which field to correct (both pages have a row field of one range).
    if (!exportTab_.ValidateData()) {
        tab_.SetCurSel(kExportTab);
        return;
    }
    if (!importTab_.ValidateData()) {
        tab_.SetCurSel(kImportTab);
        return;
    }
    const bool isPartialPoint = !(exportTab_.XCoord == exportTab_.YCoord && exportTab_.YCoord == exportTab_.ZCoord);
    if (isPartialPoint && tab_.GetActiveTab() == kExportTab) {
        ResourceStrings& texts = resourceStrings();
        MessageBoxA(m_hWnd, texts.load(kTextPartialPointText).c_str(), texts.load(kTextPartialPointCaption).c_str(),
                    MB_OK | MB_ICONINFORMATION);
    }
    // The user chose these and pressed OK: they hold for the rest of the session even
    // when they cannot be stored, which the box says (keeping the dialog open would
    // offer nothing to do about a full disk, and would swallow a script's next lines).
    const Settings chosen = settingsFromPages();
    LONG error = ERROR_SUCCESS;
    if (!saveSettings(chosen, &error)) {
        keepSettingsForSession(chosen);
        std::string reason = systemErrorReason(static_cast<DWORD>(error));
        if (error == static_cast<LONG>(ERROR_CANTREAD))
            if (std::optional<platform::HiveProblem> problem = platform::hiveProblem(HKEY_CURRENT_USER))
                reason = asSentence(problem->reason);
        const std::string file = platform::hivePath(HKEY_CURRENT_USER).string();
        MessageBoxA(m_hWnd, formatText(kTextOptionsNotSaved, file.c_str(), reason.c_str()).c_str(),
                    resourceStrings().load(kTextErrorCaption).c_str(), MB_OK | MB_ICONERROR);
    }
    CAcUiTabMainDialog::OnOK();
}

BOOL OptionsDialog::OnCommand(UINT id, UINT code) {
    if (code == BN_CLICKED && id == IDC_RESET) {
        onReset();
        return TRUE;
    }
    if (code == BN_CLICKED && id == IDC_SETTINGS_MENU) {
        onSettingsMenu();
        return TRUE;
    }
    return CAcUiTabMainDialog::OnCommand(id, code);
}

BOOL OptionsDialog::OnHelpInfo(HELPINFO*) {
    showHelp();
    return TRUE;
}

void OptionsDialog::onReset() {
    ResourceScope scope;
    ResourceStrings& texts = resourceStrings();
    const int answer = MessageBoxA(m_hWnd, texts.load(kTextResetQuestion).c_str(),
                                   texts.load(kTextResetCaption).c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES) return;
    // The two values a reset keeps are kept as the user sees them: a box ticked
    // since the dialog opened must not fall back to its state at opening.
    exportTab_.takeControlContents();

    ExportTab& e = exportTab_;
    e.Rotation = 1;
    e.XCoord = 1;
    e.YCoord = 1;
    e.ZCoord = 1;
    e.Scale = 1;
    e.LayerNames = 1;
    e.WorksheetSettings = 0;
    e.WorkbookSettings = 0;
    e.StartRow = 1;
    e.AddHeader = 0;
    e.AutoConnect = 0;
    e.BlockNames = 1;
    e.Sort = 0;
    e.LayoutNames = 0;
    e.OddLine = 0;
    e.JTSK = 0;
    e.NoAutofit = 0;
    e.AsText = 1;
    e.FindNextBlankLine = 0;
    ImportTab& i = importTab_;
    i.ImportSettings = 0;
    i.IgnoreProps = 1;
    i.StartCol = 1;
    i.StartRow = 2;
    i.DrawingChangedToo = kKeepDrawingValue;
    i.Preview = 0;

    exportTab_.UpdateData(FALSE);
    importTab_.UpdateData(FALSE);
    exportTab_.disableActiveSheetControls();
}

void OptionsDialog::onSettingsMenu() {
    ResourceScope scope;
    const int command = settingsButton_.trackMenu();
    if (command != SettingsMenuButton::ID_LOAD_SETTINGS && command != SettingsMenuButton::ID_SAVE_SETTINGS) return;
    const bool isLoad = command == SettingsMenuButton::ID_LOAD_SETTINGS;
    ResourceStrings& texts = resourceStrings();
    const std::string extension = texts.load(kTextSettingsFileExtension);
    const std::string name = texts.load(kTextSettingsFileName);
    const std::string filter = texts.load(kTextSettingsFileFilter);
    // The save validates before its dialog opens, so the user is told of a field
    // that cannot be taken before choosing where to write.
    if (!isLoad) {
        exportTab_.ValidateData();
        importTab_.ValidateData();
    }
    CFileDialog dialog(isLoad ? TRUE : FALSE, extension.c_str(), name.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       filter.c_str(), this);
    if (dialog.DoModal() != IDOK) return;
    if (isLoad)
        loadSettingsFile(dialog.GetPathName());
    else
        saveSettingsFile(dialog.GetPathName());
}

std::vector<OptionsDialog::FileEntry> OptionsDialog::fileEntries() {
    ExportTab& e = exportTab_;
    ImportTab& i = importTab_;
    return {
        {kExportSection, "AddHeader", &e.AddHeader, FileValue::checkBox},
        {kExportSection, "AutoConnect", &e.AutoConnect, FileValue::checkBox},
        {kExportSection, "BlockNames", &e.BlockNames, FileValue::checkBox},
        {kExportSection, "XCoord", &e.XCoord, FileValue::checkBox},
        {kExportSection, "YCoord", &e.YCoord, FileValue::checkBox},
        {kExportSection, "ZCoord", &e.ZCoord, FileValue::checkBox},
        {kExportSection, "LayerNames", &e.LayerNames, FileValue::checkBox},
        {kExportSection, "LayoutNames", &e.LayoutNames, FileValue::checkBox},
        {kExportSection, "OddLine", &e.OddLine, FileValue::checkBox},
        {kExportSection, "Rotation", &e.Rotation, FileValue::checkBox},
        {kExportSection, "Scale", &e.Scale, FileValue::checkBox},
        {kExportSection, "Sort", &e.Sort, FileValue::checkBox},
        {kExportSection, "StartRow", &e.StartRow, FileValue::asRead},
        {kExportSection, "WorkbookSettings", &e.WorkbookSettings, FileValue::asRead},
        {kExportSection, "WorksheetSettings", &e.WorksheetSettings, FileValue::asRead},
        {kExportSection, "IncludeConstant", &e.IncludeConstant, FileValue::checkBox},
        {kExportSection, "JTSK", &e.JTSK, FileValue::checkBox},
        {kExportSection, "NoAutofit", &e.NoAutofit, FileValue::checkBox},
        {kExportSection, "AsText", &e.AsText, FileValue::checkBox},
        {kExportSection, "FindNextBlankLine", &e.FindNextBlankLine, FileValue::checkBox},
        {kExportSection, "ExportAttPrompts", &e.ExportAttPrompts, FileValue::checkBox},
        {kImportSection, "ImportSettings", &i.ImportSettings, FileValue::asRead},
        {kImportSection, "IgnoreProps", &i.IgnoreProps, FileValue::checkBox},
        {kImportSection, "StartCol", &i.StartCol, FileValue::asRead},
        {kImportSection, "StartRow", &i.StartRow, FileValue::asRead},
        {kImportSection, "Preview", &i.Preview, FileValue::checkBox},
        {kImportSection, "DrawingChangedToo", &i.DrawingChangedToo, FileValue::keepOrTake},
    };
}

void OptionsDialog::loadSettingsFile(const std::string& path) {
    // What the user changed since the pages last took their controls stays when the
    // file has no entry for it: the pages are shown afresh from their values below.
    exportTab_.takeControlContents();
    importTab_.takeControlContents();
    for (const FileEntry& entry : fileEntries()) {
        int value = 0;
        if (!readProfileInt(path, entry.section, entry.name, value)) continue;
        // A check box shows only checked or clear, and the drawing-changed-too
        // group has a meaning for its two values only; the value is what the page
        // shows, so that OK and a later save write back what the user saw.
        switch (entry.kind) {
        case FileValue::asRead:
            *entry.value = value;
            break;
        case FileValue::checkBox:
            *entry.value = asCheck(value != 0);
            break;
        case FileValue::keepOrTake:
            *entry.value = value == kTakeSheetValue ? kTakeSheetValue : kKeepDrawingValue;
            break;
        }
    }
    exportTab_.UpdateData(FALSE);
    importTab_.UpdateData(FALSE);
    exportTab_.enableAfterLoad();
}

void OptionsDialog::saveSettingsFile(const std::string& path) {
    for (const FileEntry& entry : fileEntries()) {
        if (writeProfileInt(path, entry.section, entry.name, *entry.value)) continue;
        // The first failure says why; the entries after it would fail alike.
        const std::string reason = systemErrorReason(GetLastError());
        MessageBoxA(m_hWnd, formatText(kTextSettingsFileNotSaved, path.c_str(), reason.c_str()).c_str(),
                    resourceStrings().load(kTextErrorCaption).c_str(), MB_OK | MB_ICONERROR);
        return;
    }
}

Settings OptionsDialog::settingsFromPages() const {
    const ExportTab& e = exportTab_;
    const ImportTab& i = importTab_;
    Settings s;
    ExportOptions& x = s.exportOptions;
    x.WorkbookSettings = e.WorkbookSettings;
    x.WorksheetSettings = e.WorksheetSettings;
    x.StartRow = e.StartRow;
    x.AddHeader = e.AddHeader != 0;
    x.BlockNames = e.BlockNames != 0;
    x.XCoord = e.XCoord != 0;
    x.YCoord = e.YCoord != 0;
    x.ZCoord = e.ZCoord != 0;
    x.OddLine = e.OddLine != 0;
    x.Rotation = e.Rotation != 0;
    x.LayerNames = e.LayerNames != 0;
    x.AutoConnect = e.AutoConnect != 0;
    x.IncludeConstant = e.IncludeConstant != 0;
    x.Scale = e.Scale != 0;
    x.Sort = e.Sort != 0;
    x.LayoutNames = e.LayoutNames != 0;
    x.NoAutofit = e.NoAutofit != 0;
    x.JTSK = e.JTSK != 0;
    x.AsText = e.AsText != 0;
    x.FindNextBlankLine = e.FindNextBlankLine != 0;
    x.ExportAttPrompts = e.ExportAttPrompts != 0;
    ImportOptions& m = s.importOptions;
    m.ImportSettings = i.ImportSettings;
    m.IgnoreProps = i.IgnoreProps != 0;
    m.StartCol = i.StartCol;
    m.StartRow = i.StartRow;
    m.Preview = i.Preview != 0;
    m.DrawingChangedToo = i.DrawingChangedToo;
    return s;
}

void OptionsDialog::settingsToPages(const Settings& settings) {
    const ExportOptions& x = settings.exportOptions;
    ExportTab& e = exportTab_;
    e.WorkbookSettings = x.WorkbookSettings;
    e.WorksheetSettings = x.WorksheetSettings;
    e.StartRow = x.StartRow;
    e.AddHeader = asCheck(x.AddHeader);
    e.BlockNames = asCheck(x.BlockNames);
    e.XCoord = asCheck(x.XCoord);
    e.YCoord = asCheck(x.YCoord);
    e.ZCoord = asCheck(x.ZCoord);
    e.OddLine = asCheck(x.OddLine);
    e.Rotation = asCheck(x.Rotation);
    e.LayerNames = asCheck(x.LayerNames);
    e.AutoConnect = asCheck(x.AutoConnect);
    e.IncludeConstant = asCheck(x.IncludeConstant);
    e.Scale = asCheck(x.Scale);
    e.Sort = asCheck(x.Sort);
    e.LayoutNames = asCheck(x.LayoutNames);
    e.NoAutofit = asCheck(x.NoAutofit);
    e.JTSK = asCheck(x.JTSK);
    e.AsText = asCheck(x.AsText);
    e.FindNextBlankLine = asCheck(x.FindNextBlankLine);
    e.ExportAttPrompts = asCheck(x.ExportAttPrompts);
    const ImportOptions& m = settings.importOptions;
    ImportTab& i = importTab_;
    i.ImportSettings = m.ImportSettings;
    i.IgnoreProps = asCheck(m.IgnoreProps);
    i.StartCol = m.StartCol;
    i.StartRow = m.StartRow;
    i.Preview = asCheck(m.Preview);
    i.DrawingChangedToo = m.DrawingChangedToo;
}

}  // namespace ui
}  // namespace tabro
