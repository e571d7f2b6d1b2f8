// The pages of the options dialog: export options, import options, and the page
// about the module. While the dialog is open the export and import values live here
// as integers (a check box 0 or 1, a radio group the index of its checked button, a
// number as it is); they meet the settings record only on opening and on OK.
#pragma once

#include "host/AcUiDialogs.h"
#include "module/ui/HyperlinkStatic.h"
#include "module/ui/StNumSpinCtrl.h"

#include <memory>
#include <vector>

namespace tabro::ui {

// Owned by the options dialog; main thread only.
class ExportTab : public CAcUiTabChildDialog {
public:
    enum ControlId : UINT {
        IDC_BLOCK_NAMES = 1101,
        IDC_XCOORD,
        IDC_YCOORD,
        IDC_ZCOORD,
        IDC_ROTATION,
        IDC_SCALE,
        IDC_LAYER_NAMES,
        IDC_LAYOUT_NAMES,
        IDC_NEW_WORKSHEET,  // first of the worksheet group
        IDC_ACTIVE_WORKSHEET,
        IDC_START_ROW,
        IDC_START_ROW_SPIN,
        IDC_FIND_NEXT_BLANK_LINE,
        IDC_ADD_HEADER,
        IDC_NEW_WORKBOOK,  // first of the workbook group
        IDC_ACTIVE_WORKBOOK,
        IDC_SORT,
        IDC_ODD_LINE,
        IDC_JTSK,
        IDC_AS_TEXT,
        IDC_NO_AUTOFIT,
        IDC_INCLUDE_CONSTANT,
        IDC_EXPORT_ATT_PROMPTS,
        IDC_AUTO_CONNECT,
    };

    int Rotation = 0;
    int XCoord = 0;
    int YCoord = 0;
    int ZCoord = 0;
    int Scale = 0;
    int LayerNames = 0;
    int WorksheetSettings = 0;
    int WorkbookSettings = 0;
    int StartRow = 1;
    int AddHeader = 0;
    int AutoConnect = 0;
    int IncludeConstant = 0;
    int BlockNames = 0;
    int Sort = 0;
    int LayoutNames = 0;
    int OddLine = 0;
    int JTSK = 0;
    int NoAutofit = 0;
    int AsText = 0;
    int FindNextBlankLine = 0;
    int ExportAttPrompts = 0;

    CStNumSpinCtrl startRowSpin;

    // Creates the controls, sets up the spin (1 to 65536), shows the values and
    // enables the active-sheet controls only for the active worksheet.
    BOOL OnInitDialog() override;
    // Check boxes and radio groups first, the number last, so that a number that
    // fails validation still lets every other control be taken.
    void DoDataExchange(CDataExchange* dx) override;
    // The worksheet buttons and the next-blank-row check box change what is enabled.
    BOOL OnCommand(UINT id, UINT code) override;

    // The enabling rule after a settings file has been loaded: the header and
    // next-blank-row boxes with any worksheet choice but 0, the start row besides
    // only while the next blank row is not looked for.
    void enableAfterLoad();
    // The state after a reset to the defaults (a new worksheet per block).
    void disableActiveSheetControls();
    // The controls' contents into the values without a word to the user: a start row
    // whose text is no integer keeps its value; no range check.
    void takeControlContents();

private:
    void enableStartRow(bool enable);

    std::vector<std::unique_ptr<CWnd>> controls_;
    CEdit startRowEdit_;
};

// Owned by the options dialog; main thread only.
class ImportTab : public CAcUiTabChildDialog {
public:
    enum ControlId : UINT {
        IDC_ACTIVE_SHEET = 1201,  // first of the sheets group
        IDC_ALL_SHEETS,
        IDC_IGNORE_PROPS,
        IDC_START_COL,
        IDC_START_COL_SPIN,
        IDC_START_ROW,
        IDC_START_ROW_SPIN,
        IDC_KEEP_DRAWING_VALUE,  // first of the drawing-changed-too group
        IDC_TAKE_SHEET_VALUE,
        IDC_PREVIEW,
    };

    int ImportSettings = 0;
    int IgnoreProps = 0;
    int StartCol = 1;
    int StartRow = 2;
    int DrawingChangedToo = 0;
    int Preview = 0;

    CStNumSpinCtrl startColSpin;
    CStNumSpinCtrl startRowSpin;

    // Creates the controls, sets up the spins (1 to 256, 1 to 65536) and shows the values.
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    // As ExportTab's.
    void takeControlContents();

private:
    std::vector<std::unique_ptr<CWnd>> controls_;
    CEdit startColEdit_;
    CEdit startRowEdit_;
};

// Owned by the options dialog; main thread only.
class AboutTab : public CAcUiTabChildDialog {
public:
    enum ControlId : UINT {
        IDC_VERSION = 1301,
        IDC_LINK,
    };

    // The module whose version the page shows; by default the running module
    // (none when the code is linked into a program: the version stays empty).
    void setVersionModule(HMODULE module) noexcept { versionModule_ = module; }

    // Creates the product line, the version and the link.
    BOOL OnInitDialog() override;

    HyperlinkStatic& link() noexcept { return link_; }
    const CStatic& version() const noexcept { return version_; }

private:
    std::vector<std::unique_ptr<CWnd>> controls_;
    CStatic version_;
    HyperlinkStatic link_;
    HMODULE versionModule_ = nullptr;
};

}  // namespace tabro::ui
