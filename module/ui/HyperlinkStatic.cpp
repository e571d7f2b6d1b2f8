#include "module/ui/HyperlinkStatic.h"

#include "module/base/ResourceStrings.h"
#include "module/ui/OpenLink.h"
#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "platform/ui/Shell.h"

#include <cstdint>

namespace {

// The reason shown for each failure the shell reports.
UINT reasonText(int result) {
    switch (result) {
    case 0:
        return tabro::kTextLinkOutOfResources;
    case 2:
        return tabro::kTextLinkFileNotFound;
    case 3:
        return tabro::kTextLinkPathNotFound;
    case 5:
        return tabro::kTextLinkAccessDenied;
    case 8:
        return tabro::kTextLinkOutOfMemory;
    case 11:
        return tabro::kTextLinkBadExe;
    case 26:
        return tabro::kTextLinkSharingViolation;
    case 27:
        return tabro::kTextLinkAssociationIncomplete;
    case 28:
        return tabro::kTextLinkDdeTimeout;
    case 29:
        return tabro::kTextLinkDdeFailed;
    case 30:
        return tabro::kTextLinkDdeBusy;
    case 31:
        return tabro::kTextLinkNoAssociation;
    case 32:
        return tabro::kTextLinkDllNotFound;
    default:
        return 0;
    }
}

}  // namespace

HyperlinkStatic::HyperlinkStatic() : hoverColour_(GetSysColor(COLOR_HIGHLIGHT)) {}

HyperlinkStatic::~HyperlinkStatic() {
    if (cursor_) DestroyCursor(cursor_);
}

void HyperlinkStatic::setUrl(std::string url) {
    url_ = std::move(url);
    if (!m_hWnd) return;
    positionWindow();
    toolTip_.updateTipText(url_, this, kToolId);
}

void HyperlinkStatic::setVisited(bool visited) {
    visited_ = visited;
    if (m_hWnd) Invalidate(TRUE);
}

void HyperlinkStatic::PreSubclassWindow() {
    ModifyStyle(0, SS_NOTIFY);
    if (url_.empty()) url_ = windowText();
    if (windowText().empty()) SetWindowTextA(url_.c_str());

    LOGFONTA lf;
    GetFont()->GetLogFont(&lf);
    lf.lfUnderline = underline_ ? 1 : 0;
    font_.DeleteObject();  // a window created again gets a fresh copy of its font
    font_.CreateFontIndirect(&lf);
    SetFont(&font_, TRUE);

    positionWindow();
    setDefaultCursor();

    toolTip_.create();
    RECT client;
    GetClientRect(&client);
    toolTip_.addTool(this, url_, client, kToolId);
}

void HyperlinkStatic::positionWindow() {
    if (!m_hWnd || !adjustToFit_) return;
    CDC dc;
    dc.SelectObject(&font_);
    const SIZE extent = dc.GetTextExtent(windowText());

    RECT rect;
    GetWindowRect(&rect);
    if (CWnd* parent = GetParent()) parent->ScreenToClient(&rect);

    // Shrinking "evenly" puts the odd pixel of an odd difference below or right of
    // the text, so the new size is exactly the text's.
    const DWORD style = GetStyle();
    if (style & SS_CENTERIMAGE) rect.top += (rect.Height() - extent.cy) / 2;
    rect.bottom = rect.top + extent.cy;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        rect.left += (rect.Width() - extent.cx) / 2;
        rect.right = rect.left + extent.cx;
        break;
    case SS_RIGHT:
        rect.left = rect.right - extent.cx;
        break;
    default:
        rect.right = rect.left + extent.cx;
        break;
    }
    SetWindowPos(nullptr, rect.left, rect.top, rect.Width(), rect.Height(), SWP_NOZORDER);
}

// The hand cursor comes from the platform's help program, where the platform has
// one; otherwise the window keeps the default cursor.
void HyperlinkStatic::setDefaultCursor() {
    if (cursor_) return;
    char folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::string path = std::string(folder) + "\\winhlp32.exe";
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) return;
    if (HCURSOR hand = LoadCursorA(module, MAKEINTRESOURCEA(106))) cursor_ = CopyCursor(hand);
    FreeLibrary(module);
}

BOOL HyperlinkStatic::OnCommandReflect(UINT code) {
    if (code != STN_CLICKED) return FALSE;
    const int result = openTarget(url_, SW_SHOW);
    visited_ = result > 32;
    if (visited_) {
        setVisited(true);
    } else {
        MessageBeep(MB_ICONEXCLAMATION);
        reportError(result);
    }
    return TRUE;
}

int HyperlinkStatic::openTarget(const std::string& url, int show) { return tabro::ui::openLink(url, show); }

void HyperlinkStatic::reportError(int result) {
    tabro::ResourceStrings& texts = tabro::resourceStrings();
    std::string message = texts.load(tabro::kTextLinkFailed);
    if (const UINT reason = reasonText(result))
        message += texts.load(reason);
    else
        message += tabro::formatText(tabro::kTextLinkUnknownError, result);
    MessageBoxA(nullptr, message.c_str(), texts.load(tabro::kTextErrorCaption).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

HBRUSH HyperlinkStatic::CtlColorReflect(CDC* dc, UINT) {
    dc->SetTextColor(hovering_ ? hoverColour_ : visited_ ? visitedColour_ : linkColour_);
    dc->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

void HyperlinkStatic::repaintNow() {
    Invalidate(TRUE);
    UpdateWindow();
}

void HyperlinkStatic::OnMouseMove(UINT flags, POINT point) {
    CStatic::OnMouseMove(flags, point);
    if (!hovering_) {
        hovering_ = true;
        repaintNow();
        SetCapture();
        return;
    }
    RECT client;
    GetClientRect(&client);
    if (!PtInRect(&client, point)) {
        hovering_ = false;
        ReleaseCapture();
        repaintNow();
    }
}

BOOL HyperlinkStatic::OnSetCursor(CWnd*, UINT, UINT) {
    if (!cursor_) return FALSE;
    ::SetCursor(cursor_);
    return TRUE;
}

BOOL HyperlinkStatic::PreTranslateMessage(MSG* message) {
    toolTip_.relayEvent();
    return CStatic::PreTranslateMessage(message);
}
