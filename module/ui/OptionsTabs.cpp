#include "module/ui/OptionsTabs.h"

#include "module/base/ArxAppBase.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "module/ui/ModuleVersion.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace tabro::ui {

namespace {

constexpr LONG kRowHeight = 22;
constexpr LONG kControlHeight = 18;
constexpr LONG kLeft = 10;
constexpr LONG kWidth = 360;
constexpr LONG kLabelWidth = 120;
constexpr LONG kEditWidth = 70;
constexpr LONG kSpinWidth = 16;

// Creates a page's controls one row after the other, in tab order, as the page's
// dialog template would. Labels and check boxes start a group, so each radio group
// ends at the control after its last button.
class ControlRows {
public:
    ControlRows(CWnd& page, std::vector<std::unique_ptr<CWnd>>& owned) : page_(page), owned_(owned) {}

    void label(UINT text) {
        auto control = std::make_unique<CStatic>();
        control->Create(load(text).c_str(), WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, row(kWidth), &page_);
        owned_.push_back(std::move(control));
    }
    void checkBox(UINT id, UINT text) { button(id, text, BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP); }
    void radio(UINT id, UINT text, bool isFirst) {
        button(id, text, BS_AUTORADIOBUTTON | (isFirst ? WS_GROUP | WS_TABSTOP : 0));
    }
    // A label, then on the same row the edit box and its spin, which takes the
    // edit box as its buddy.
    void number(UINT text, CEdit& edit, UINT editId, CStNumSpinCtrl& spin, UINT spinId) {
        const RECT r = row(kWidth);
        auto caption = std::make_unique<CStatic>();
        caption->Create(load(text).c_str(), WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
                        RECT{r.left, r.top, r.left + kLabelWidth, r.bottom}, &page_);
        owned_.push_back(std::move(caption));
        const LONG x = r.left + kLabelWidth;
        edit.Create(WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, RECT{x, r.top, x + kEditWidth, r.bottom}, &page_,
                    editId);
        spin.Create(WS_CHILD | WS_VISIBLE, RECT{x + kEditWidth, r.top, x + kEditWidth + kSpinWidth, r.bottom}, &page_,
                    spinId);
        spin.SetBuddy(&edit);
    }

private:
    static std::string load(UINT text) { return resourceStrings().load(text); }
    RECT row(LONG width) {
        const RECT r{kLeft, top_, kLeft + width, top_ + kControlHeight};
        top_ += kRowHeight;
        return r;
    }
    void button(UINT id, UINT text, DWORD style) {
        auto control = std::make_unique<CButton>();
        control->Create(load(text).c_str(), WS_CHILD | WS_VISIBLE | style, row(kWidth), &page_, id);
        owned_.push_back(std::move(control));
    }

    CWnd& page_;
    std::vector<std::unique_ptr<CWnd>>& owned_;
    LONG top_ = 8;
};

// Decimal, whole steps, the range the field accepts.
void setUpSpin(CStNumSpinCtrl& spin, double upper) {
    spin.SetBase(10);
    spin.SetDelta(1.0);
    spin.SetRange(1.0, upper);
}

// The edit box's integer when its whole text is one (blanks around allowed).
bool editInteger(const CWnd* edit, int& value) {
    if (!edit) return false;
    const std::string& text = edit->windowText();
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end) return false;
    value = static_cast<int>(parsed);
    return true;
}

void enable(CWnd* control, bool isEnabled) {
    if (control) control->EnableWindow(isEnabled ? TRUE : FALSE);
}

bool isChecked(const CWnd* control) {
    const auto* button = dynamic_cast<const CButton*>(control);
    return button && button->GetCheck() != BST_UNCHECKED;
}

struct CheckField {
    UINT id;
    int ExportTab::*value;
};

constexpr CheckField kExportChecks[] = {
    {ExportTab::IDC_BLOCK_NAMES, &ExportTab::BlockNames},
    {ExportTab::IDC_XCOORD, &ExportTab::XCoord},
    {ExportTab::IDC_YCOORD, &ExportTab::YCoord},
    {ExportTab::IDC_ZCOORD, &ExportTab::ZCoord},
    {ExportTab::IDC_ROTATION, &ExportTab::Rotation},
    {ExportTab::IDC_SCALE, &ExportTab::Scale},
    {ExportTab::IDC_LAYER_NAMES, &ExportTab::LayerNames},
    {ExportTab::IDC_LAYOUT_NAMES, &ExportTab::LayoutNames},
    {ExportTab::IDC_FIND_NEXT_BLANK_LINE, &ExportTab::FindNextBlankLine},
    {ExportTab::IDC_ADD_HEADER, &ExportTab::AddHeader},
    {ExportTab::IDC_SORT, &ExportTab::Sort},
    {ExportTab::IDC_ODD_LINE, &ExportTab::OddLine},
    {ExportTab::IDC_JTSK, &ExportTab::JTSK},
    {ExportTab::IDC_AS_TEXT, &ExportTab::AsText},
    {ExportTab::IDC_NO_AUTOFIT, &ExportTab::NoAutofit},
    {ExportTab::IDC_INCLUDE_CONSTANT, &ExportTab::IncludeConstant},
    {ExportTab::IDC_EXPORT_ATT_PROMPTS, &ExportTab::ExportAttPrompts},
    {ExportTab::IDC_AUTO_CONNECT, &ExportTab::AutoConnect},
};

}  // namespace

BOOL ExportTab::OnInitDialog() {
    if (controls_.empty()) {
        ControlRows rows(*this, controls_);
        rows.checkBox(IDC_BLOCK_NAMES, kTextExportBlockNames);
        rows.checkBox(IDC_XCOORD, kTextExportXCoord);
        rows.checkBox(IDC_YCOORD, kTextExportYCoord);
        rows.checkBox(IDC_ZCOORD, kTextExportZCoord);
        rows.checkBox(IDC_ROTATION, kTextExportRotation);
        rows.checkBox(IDC_SCALE, kTextExportScale);
        rows.checkBox(IDC_LAYER_NAMES, kTextExportLayerNames);
        rows.checkBox(IDC_LAYOUT_NAMES, kTextExportLayoutNames);
        rows.label(kTextExportWorksheetLabel);
        rows.radio(IDC_NEW_WORKSHEET, kTextExportNewWorksheet, true);
        rows.radio(IDC_ACTIVE_WORKSHEET, kTextExportActiveWorksheet, false);
        rows.number(kTextExportStartRow, startRowEdit_, IDC_START_ROW, startRowSpin, IDC_START_ROW_SPIN);
        rows.checkBox(IDC_FIND_NEXT_BLANK_LINE, kTextExportFindNextBlankLine);
        rows.checkBox(IDC_ADD_HEADER, kTextExportAddHeader);
        rows.label(kTextExportWorkbookLabel);
        rows.radio(IDC_NEW_WORKBOOK, kTextExportNewWorkbook, true);
        rows.radio(IDC_ACTIVE_WORKBOOK, kTextExportActiveWorkbook, false);
        rows.checkBox(IDC_SORT, kTextExportSort);
        rows.checkBox(IDC_ODD_LINE, kTextExportOddLine);
        rows.checkBox(IDC_JTSK, kTextExportJTSK);
        rows.checkBox(IDC_AS_TEXT, kTextExportAsText);
        rows.checkBox(IDC_NO_AUTOFIT, kTextExportNoAutofit);
        rows.checkBox(IDC_INCLUDE_CONSTANT, kTextExportIncludeConstant);
        rows.checkBox(IDC_EXPORT_ATT_PROMPTS, kTextExportAttPrompts);
        rows.checkBox(IDC_AUTO_CONNECT, kTextExportAutoConnect);
    }
    setUpSpin(startRowSpin, 65536.0);

    const bool isActiveSheet = WorksheetSettings == 1;
    enableStartRow(isActiveSheet);
    enable(GetDlgItem(IDC_ADD_HEADER), isActiveSheet);
    enable(GetDlgItem(IDC_FIND_NEXT_BLANK_LINE), isActiveSheet);
    if (isActiveSheet && FindNextBlankLine) enableStartRow(false);
    return CAcUiTabChildDialog::OnInitDialog();
}

void ExportTab::DoDataExchange(CDataExchange* dx) {
    for (const CheckField& field : kExportChecks) DDX_Check(dx, field.id, this->*field.value);
    DDX_Radio(dx, IDC_NEW_WORKSHEET, WorksheetSettings);
    DDX_Radio(dx, IDC_NEW_WORKBOOK, WorkbookSettings);
    DDX_Text(dx, IDC_START_ROW, StartRow);
    DDV_MinMaxInt(dx, StartRow, 1, 65536);
}

BOOL ExportTab::OnCommand(UINT id, UINT code) {
    if (code != BN_CLICKED) return FALSE;
    switch (id) {
    case IDC_NEW_WORKSHEET:
        disableActiveSheetControls();
        return TRUE;
    case IDC_ACTIVE_WORKSHEET:
        enable(GetDlgItem(IDC_ADD_HEADER), true);
        enable(GetDlgItem(IDC_FIND_NEXT_BLANK_LINE), true);
        enableStartRow(!isChecked(GetDlgItem(IDC_FIND_NEXT_BLANK_LINE)));
        return TRUE;
    case IDC_FIND_NEXT_BLANK_LINE:
        enableStartRow(!isChecked(GetDlgItem(IDC_FIND_NEXT_BLANK_LINE)));
        return TRUE;
    default:
        return FALSE;
    }
}

void ExportTab::enableAfterLoad() {
    const bool isActiveSheet = WorksheetSettings != 0;
    enable(GetDlgItem(IDC_ADD_HEADER), isActiveSheet);
    enable(GetDlgItem(IDC_FIND_NEXT_BLANK_LINE), isActiveSheet);
    enableStartRow(isActiveSheet && FindNextBlankLine == 0);
}

void ExportTab::disableActiveSheetControls() {
    enableStartRow(false);
    enable(GetDlgItem(IDC_ADD_HEADER), false);
    enable(GetDlgItem(IDC_FIND_NEXT_BLANK_LINE), false);
}

void ExportTab::takeControlContents() {
    CDataExchange dx(this, TRUE);
    try {
        for (const CheckField& field : kExportChecks) DDX_Check(&dx, field.id, this->*field.value);
        DDX_Radio(&dx, IDC_NEW_WORKSHEET, WorksheetSettings);
        DDX_Radio(&dx, IDC_NEW_WORKBOOK, WorkbookSettings);
    } catch (const DataExchangeFailure&) {
        // Only a missing control fails these; the page is not created yet.
        return;
    }
    editInteger(GetDlgItem(IDC_START_ROW), StartRow);
}

void ExportTab::enableStartRow(bool isEnabled) {
    enable(GetDlgItem(IDC_START_ROW), isEnabled);
    enable(GetDlgItem(IDC_START_ROW_SPIN), isEnabled);
}

BOOL ImportTab::OnInitDialog() {
    if (controls_.empty()) {
        ControlRows rows(*this, controls_);
        rows.label(kTextImportSheetsLabel);
        rows.radio(IDC_ACTIVE_SHEET, kTextImportActiveSheet, true);
        rows.radio(IDC_ALL_SHEETS, kTextImportAllSheets, false);
        rows.checkBox(IDC_IGNORE_PROPS, kTextImportIgnoreProps);
        rows.number(kTextImportStartCol, startColEdit_, IDC_START_COL, startColSpin, IDC_START_COL_SPIN);
        rows.number(kTextImportStartRow, startRowEdit_, IDC_START_ROW, startRowSpin, IDC_START_ROW_SPIN);
        rows.label(kTextImportDrawingChangedLabel);
        rows.radio(IDC_KEEP_DRAWING_VALUE, kTextImportKeepDrawingValue, true);
        rows.radio(IDC_TAKE_SHEET_VALUE, kTextImportTakeSheetValue, false);
        rows.checkBox(IDC_PREVIEW, kTextImportPreview);
    }
    setUpSpin(startColSpin, 256.0);
    setUpSpin(startRowSpin, 65536.0);
    return CAcUiTabChildDialog::OnInitDialog();
}

void ImportTab::DoDataExchange(CDataExchange* dx) {
    DDX_Radio(dx, IDC_ACTIVE_SHEET, ImportSettings);
    DDX_Check(dx, IDC_IGNORE_PROPS, IgnoreProps);
    DDX_Radio(dx, IDC_KEEP_DRAWING_VALUE, DrawingChangedToo);
    DDX_Check(dx, IDC_PREVIEW, Preview);
    DDX_Text(dx, IDC_START_COL, StartCol);
    DDV_MinMaxInt(dx, StartCol, 1, 256);
    DDX_Text(dx, IDC_START_ROW, StartRow);
    DDV_MinMaxInt(dx, StartRow, 1, 65536);
}

void ImportTab::takeControlContents() {
    CDataExchange dx(this, TRUE);
    try {
        DDX_Radio(&dx, IDC_ACTIVE_SHEET, ImportSettings);
        DDX_Check(&dx, IDC_IGNORE_PROPS, IgnoreProps);
        DDX_Radio(&dx, IDC_KEEP_DRAWING_VALUE, DrawingChangedToo);
        DDX_Check(&dx, IDC_PREVIEW, Preview);
    } catch (const DataExchangeFailure&) {
        return;
    }
    editInteger(GetDlgItem(IDC_START_COL), StartCol);
    editInteger(GetDlgItem(IDC_START_ROW), StartRow);
}

BOOL AboutTab::OnInitDialog() {
    ResourceScope scope;
    if (controls_.empty()) {
        ResourceStrings& texts = resourceStrings();
        auto product = std::make_unique<CStatic>();
        product->Create(texts.load(kTextAboutProduct).c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT,
                        RECT{kLeft, 8, kLeft + kWidth, 8 + kControlHeight}, this);
        controls_.push_back(std::move(product));
        auto versionLabel = std::make_unique<CStatic>();
        versionLabel->Create(texts.load(kTextAboutVersion).c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT,
                             RECT{kLeft, 30, kLeft + kLabelWidth, 30 + kControlHeight}, this);
        controls_.push_back(std::move(versionLabel));

        ModuleVersion moduleVersion;
        HMODULE module = versionModule_;
        if (!module && arxApp()) module = arxApp()->moduleHandle;
        getModuleVersionString(moduleVersion, module, nullptr, nullptr);
        version_.Create(moduleVersion.fileVersion.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT,
                        RECT{kLeft + kLabelWidth, 30, kLeft + kWidth, 30 + kControlHeight}, this, IDC_VERSION);

        link_.setUrl(texts.load(kTextAboutLinkTarget));
        link_.Create(texts.load(kTextAboutLinkText).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_LEFT,
                     RECT{kLeft, 60, kLeft + kWidth, 60 + kControlHeight}, this, IDC_LINK);
    }
    return CAcUiTabChildDialog::OnInitDialog();
}

}  // namespace tabro::ui
