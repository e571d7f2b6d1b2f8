#include "platform/ui/Window.h"

#include "platform/LastError.h"
#include "platform/Module.h"
#include "platform/ui/SpinButton.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace {

std::map<HWND, CWnd*>& liveWindows() {
    static std::map<HWND, CWnd*> windows;
    return windows;
}

HWND newWindowHandle() {
    static std::uintptr_t next = 0x1000;
    next += 8;
    return reinterpret_cast<HWND>(next);
}

HWND& captureHolder() {
    static HWND holder = nullptr;
    return holder;
}

HWND& focusHolder() {
    static HWND holder = nullptr;
    return holder;
}

struct CursorState {
    std::mutex mutex;
    std::set<HCURSOR> owned;  // copies and module cursors; system cursors are never freed
    HCURSOR current = nullptr;
    std::uintptr_t next = 0x20000;
};

CursorState& cursors() {
    static CursorState state;
    return state;
}

HCURSOR systemCursor(WORD id) { return reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(id)); }

struct BeepLog {
    std::mutex mutex;
    std::vector<UINT> types;
};

BeepLog& beepLog() {
    static BeepLog log;
    return log;
}

}  // namespace

HCURSOR LoadCursorA(HINSTANCE instance, const char* name) {
    if (!name) return nullptr;
    if (!instance) {
        if (!IS_INTRESOURCE(name)) return nullptr;
        const auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
        return id == 32512 || id == 32649 ? systemCursor(id) : nullptr;
    }
    if (!FindResourceA(instance, name, "CURSOR")) return nullptr;
    CursorState& s = cursors();
    std::lock_guard lock(s.mutex);
    HCURSOR c = reinterpret_cast<HCURSOR>(s.next += 8);
    s.owned.insert(c);
    return c;
}

HCURSOR CopyCursor(HCURSOR cursor) {
    if (!cursor) return nullptr;
    CursorState& s = cursors();
    std::lock_guard lock(s.mutex);
    HCURSOR c = reinterpret_cast<HCURSOR>(s.next += 8);
    s.owned.insert(c);
    return c;
}

BOOL DestroyCursor(HCURSOR cursor) {
    CursorState& s = cursors();
    std::lock_guard lock(s.mutex);
    return s.owned.erase(cursor) ? TRUE : FALSE;
}

HCURSOR SetCursor(HCURSOR cursor) {
    CursorState& s = cursors();
    std::lock_guard lock(s.mutex);
    HCURSOR previous = s.current ? s.current : systemCursor(32512);
    s.current = cursor;
    return previous;
}

HCURSOR GetCursor() {
    CursorState& s = cursors();
    std::lock_guard lock(s.mutex);
    return s.current ? s.current : systemCursor(32512);
}

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
    if (buffer && size) buffer[0] = '\0';
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
}

BOOL MessageBeep(UINT type) {
    BeepLog& log = beepLog();
    std::lock_guard lock(log.mutex);
    log.types.push_back(type);
    return TRUE;
}

namespace platform::ui {

std::vector<UINT> beeps() {
    BeepLog& log = beepLog();
    std::lock_guard lock(log.mutex);
    return log.types;
}

void clearBeeps() {
    BeepLog& log = beepLog();
    std::lock_guard lock(log.mutex);
    log.types.clear();
}

}  // namespace platform::ui

HWND SetCapture(HWND window) {
    HWND previous = captureHolder();
    captureHolder() = window;
    return previous;
}

BOOL ReleaseCapture() {
    captureHolder() = nullptr;
    return TRUE;
}

HWND GetCapture() { return captureHolder(); }

HWND SetFocus(HWND window) {
    if (window && !CWnd::FromHandle(window)) return nullptr;
    return std::exchange(focusHolder(), window);
}

HWND GetFocus() { return focusHolder(); }

CWnd::~CWnd() { DestroyWindow(); }

CWnd* CWnd::FromHandle(HWND window) {
    auto it = liveWindows().find(window);
    return it == liveWindows().end() ? nullptr : it->second;
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    if (m_hWnd) return FALSE;
    m_hWnd = newWindowHandle();
    liveWindows()[m_hWnd] = this;
    text_ = text ? text : "";
    style_ = style;
    exStyle_ = exStyle;
    rect_ = rect;
    parent_ = parent;
    id_ = id;
    if (parent_) parent_->children_.push_back(this);
    PreSubclassWindow();
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    for (CWnd* child : std::vector<CWnd*>(children_)) child->DestroyWindow();
    if (parent_) std::erase(parent_->children_, this);
    if (GetCapture() == m_hWnd) ReleaseCapture();
    if (GetFocus() == m_hWnd) focusHolder() = nullptr;
    liveWindows().erase(m_hWnd);
    m_hWnd = nullptr;
    parent_ = nullptr;
    return TRUE;
}

CWnd* CWnd::GetDlgItem(UINT id) const {
    for (CWnd* child : children_)
        if (child->id_ == id) return child;
    return nullptr;
}

void CWnd::SetWindowTextA(const char* text) { text_ = text ? text : ""; }

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
    const DWORD before = style_;
    style_ = (style_ & ~remove) | add;
    return style_ != before;
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
    const DWORD before = exStyle_;
    exStyle_ = (exStyle_ & ~remove) | add;
    return exStyle_ != before;
}

BOOL CWnd::EnableWindow(BOOL enable) {
    const BOOL wasDisabled = IsWindowEnabled() ? FALSE : TRUE;
    ModifyStyle(enable ? WS_DISABLED : 0, enable ? 0 : WS_DISABLED);
    return wasDisabled;
}

void CWnd::GetClientRect(RECT* rect) const {
    if (rect) *rect = RECT{0, 0, rect_.Width(), rect_.Height()};
}

void CWnd::GetWindowRect(RECT* rect) const {
    if (!rect) return;
    POINT origin{rect_.left, rect_.top};
    if (parent_) parent_->ClientToScreen(&origin);
    *rect = RECT{origin.x, origin.y, origin.x + rect_.Width(), origin.y + rect_.Height()};
}

void CWnd::ClientToScreen(POINT* point) const {
    if (!point) return;
    for (const CWnd* w = this; w; w = w->parent_) {
        point->x += w->rect_.left;
        point->y += w->rect_.top;
    }
}

void CWnd::ScreenToClient(POINT* point) const {
    if (!point) return;
    for (const CWnd* w = this; w; w = w->parent_) {
        point->x -= w->rect_.left;
        point->y -= w->rect_.top;
    }
}

void CWnd::ScreenToClient(RECT* rect) const {
    if (!rect) return;
    POINT topLeft{rect->left, rect->top}, bottomRight{rect->right, rect->bottom};
    ScreenToClient(&topLeft);
    ScreenToClient(&bottomRight);
    *rect = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

BOOL CWnd::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT flags) {
    if (!m_hWnd) return FALSE;
    if (!(flags & SWP_NOSIZE)) {
        cx = std::max(cx, 0);
        cy = std::max(cy, 0);
    } else {
        cx = rect_.Width();
        cy = rect_.Height();
    }
    if (flags & SWP_NOMOVE) {
        x = rect_.left;
        y = rect_.top;
    }
    rect_ = RECT{x, y, x + cx, y + cy};
    return TRUE;
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
    font_ = font;
    if (redraw) Invalidate(TRUE);
}

CFont* CWnd::GetFont() const { return font_ ? font_ : &platform::ui::defaultGuiFont(); }

void CWnd::Invalidate(BOOL erase) {
    ++invalidations_;
    lastErase_ = erase != FALSE;
}

void CWnd::UpdateWindow() { ++updates_; }

CWnd* CWnd::SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }

CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }

namespace platform::ui {

std::vector<CButton*> radioGroup(CButton* button) {
    CWnd* parent = button ? button->GetParent() : nullptr;
    if (!parent) return {button};
    const std::vector<CWnd*>& siblings = parent->children();
    auto at = std::find(siblings.begin(), siblings.end(), button);
    auto first = at;
    while (first != siblings.begin() && !((*first)->GetStyle() & WS_GROUP)) --first;
    std::vector<CButton*> group;
    for (auto it = first; it != siblings.end(); ++it) {
        if (it != first && ((*it)->GetStyle() & WS_GROUP)) break;
        auto* radio = dynamic_cast<CButton*>(*it);
        if (radio && (radio->GetStyle() & BS_TYPEMASK) == BS_AUTORADIOBUTTON) group.push_back(radio);
    }
    return group;
}

}  // namespace platform::ui

bool CButton::click() {
    if (!m_hWnd || !IsWindowEnabled()) return false;
    SetFocus();
    switch (GetStyle() & BS_TYPEMASK) {
    case BS_AUTOCHECKBOX:
        SetCheck(GetCheck() == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED);
        break;
    case BS_AUTORADIOBUTTON:
        for (CButton* other : platform::ui::radioGroup(this))
            other->SetCheck(other == this ? BST_CHECKED : BST_UNCHECKED);
        break;
    default:
        break;
    }
    sendCommand(BN_CLICKED);
    return true;
}

LRESULT CWnd::sendNotify(NMHDR& header) {
    LRESULT result = 0;
    if (OnNotifyReflect(&header, &result)) return result;
    if (parent_) parent_->OnNotify(id_, &header, &result);
    return result;
}

void CWnd::sendCommand(UINT code) {
    if (OnCommandReflect(code)) return;
    if (parent_) parent_->OnCommand(id_, code);
}

HBRUSH CWnd::sendCtlColor(CDC& dc, UINT ctlColor) {
    if (HBRUSH brush = CtlColorReflect(&dc, ctlColor)) return brush;
    return parent_ ? parent_->OnCtlColor(&dc, this, ctlColor) : nullptr;
}

int CSpinButtonCtrl::SetBase(int base) noexcept {
    if (base != 10 && base != 16) return 0;
    int previous = base_;
    base_ = base;
    return previous;
}

bool CSpinButtonCtrl::stepArrow(int delta) {
    NMUPDOWN nm{{m_hWnd, GetDlgCtrlID(), UDN_DELTAPOS}, pos_, delta};
    if (sendNotify(nm.hdr) != 0) return false;
    const int low = std::min(lower_, upper_), high = std::max(lower_, upper_);
    pos_ = static_cast<int>(std::clamp<long long>(static_cast<long long>(nm.iPos) + nm.iDelta, low, high));
    return true;
}
