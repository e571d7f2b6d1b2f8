// Windows as plain state: text, styles, enabled state, position in the parent, font,
// children, and the hooks a control overrides (subclass setup, reflected
// notifications, colour query, mouse, cursor, owner draw, message pre-translation).
// Nothing is put on a screen; presenters (the terminal in cadhost, tests) read the
// state and call the hooks as a window system would.
#pragma once

#include "platform/Messages.h"
#include "platform/Module.h"
#include "platform/ui/DeviceContext.h"
#include "platform/ui/Gdi.h"

#include <string>
#include <vector>

// Window styles.
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_EX_CONTEXTHELP = 0x00000400;

// Static control styles and notifications.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_TYPEMASK = 0x001F;
constexpr DWORD SS_NOTIFY = 0x0100;
constexpr DWORD SS_CENTERIMAGE = 0x0200;
constexpr UINT STN_CLICKED = 0;

// Button styles, check states and notifications.
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_OWNERDRAW = 0xB;
constexpr DWORD BS_TYPEMASK = 0xF;
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr UINT BN_CLICKED = 0;

// SetWindowPos flags.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;

// Messages the hooks stand for.
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_HELP = 0x0053;
constexpr UINT CTLCOLOR_STATIC = 6;
constexpr UINT HTCLIENT = 1;

// Owner draw.
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODA_SELECT = 0x0002;
constexpr UINT ODA_FOCUS = 0x0004;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_GRAYED = 0x0002;
constexpr UINT ODS_DISABLED = 0x0004;
constexpr UINT ODS_CHECKED = 0x0008;
constexpr UINT ODS_FOCUS = 0x0010;

struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    HWND hwndItem;
    HDC hDC;
    RECT rcItem;
    UINT_PTR itemData;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;

// What F1 reports: the control that had the focus and where the mouse was.
constexpr int HELPINFO_WINDOW = 0x0001;
struct HELPINFO {
    UINT cbSize;
    int iContextType;
    int iCtrlId;
    HWND hItemHandle;
    UINT_PTR dwContextId;
    POINT MousePos;
};
using LPHELPINFO = HELPINFO*;

struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

// Cursors.
using HCURSOR = struct HCURSOR__*;
inline const char* const IDC_ARROW = MAKEINTRESOURCEA(32512);
inline const char* const IDC_HAND = MAKEINTRESOURCEA(32649);
// System cursors (instance null) by IDC_*; a module's cursor by number, from its
// "CURSOR" resources. Null when there is none.
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
// A copy owned by the caller (DestroyCursor); null for a null cursor.
HCURSOR CopyCursor(HCURSOR cursor);
BOOL DestroyCursor(HCURSOR cursor);
// The cursor shown from now on; returns the previous one (the arrow at first).
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

// The folder of the platform's own programs. There is none on this system: 0, with
// ERROR_PATH_NOT_FOUND, so code that looks for a program there finds nothing.
UINT GetWindowsDirectoryA(char* buffer, UINT size);

// Plays the sound for a message box type. Nothing is audible here; each call is
// recorded (platform::ui::beeps) so that callers can be checked.
BOOL MessageBeep(UINT type);

class CWnd;

// The window holding the mouse capture; one per process.
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

// The window with the keyboard focus; one per process, null when none has it.
// Destroying the window takes the focus away.
HWND SetFocus(HWND window);
HWND GetFocus();

// Owned by its dialog or by the code that creates it; main thread only.
class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    // The window object of a live handle; null for any other.
    static CWnd* FromHandle(HWND window);

    // Creates the window as a dialog template does, at `rect` in the parent's client
    // coordinates, then runs PreSubclassWindow. FALSE when it exists already.
    BOOL CreateEx(DWORD exStyle, const char* text, DWORD style, const RECT& rect, CWnd* parent, UINT id);
    BOOL DestroyWindow();

    UINT GetDlgCtrlID() const noexcept { return id_; }
    CWnd* GetParent() const noexcept { return parent_; }
    // The child with that id; null when there is none.
    CWnd* GetDlgItem(UINT id) const;
    // The children in creation (tab) order.
    const std::vector<CWnd*>& children() const noexcept { return children_; }

    void SetWindowTextA(const char* text);
    void GetWindowTextA(std::string& text) const { text = text_; }
    const std::string& windowText() const noexcept { return text_; }

    DWORD GetStyle() const noexcept { return style_; }
    DWORD GetExStyle() const noexcept { return exStyle_; }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);

    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const noexcept { return (style_ & WS_DISABLED) == 0; }

    // Client rectangle: (0, 0) to the window's size.
    void GetClientRect(RECT* rect) const;
    // The window's rectangle in screen coordinates (parents' origins added).
    void GetWindowRect(RECT* rect) const;
    void ScreenToClient(RECT* rect) const;
    void ScreenToClient(POINT* point) const;
    void ClientToScreen(POINT* point) const;
    // Position in the parent's client coordinates. SWP_NOZORDER is all there is to
    // z-order here; SWP_NOMOVE and SWP_NOSIZE keep the parts they name.
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    const RECT& rectInParent() const noexcept { return rect_; }

    void SetFont(CFont* font, BOOL redraw = TRUE);
    // The window's font; the default GUI font until one is set.
    CFont* GetFont() const;

    // Repaint requests, counted so that callers can be checked.
    void Invalidate(BOOL erase = TRUE);
    void UpdateWindow();
    unsigned invalidations() const noexcept { return invalidations_; }
    unsigned updates() const noexcept { return updates_; }
    bool lastInvalidateErased() const noexcept { return lastErase_; }

    CWnd* SetCapture();
    // Gives this window the keyboard focus; returns the window that had it.
    CWnd* SetFocus();

    // Sends a notification from this control: first to the control itself
    // (OnNotifyReflect, as reflected messages reach it), then, unless it handled it,
    // to the parent (OnNotify). Returns the result the handler left.
    LRESULT sendNotify(NMHDR& header);
    // A command notification (BN_CLICKED, STN_CLICKED ...) on the same road.
    void sendCommand(UINT code);
    // The colour query a control sends before it paints: the control's reflected
    // answer, else the parent's, else the default brush (null).
    HBRUSH sendCtlColor(CDC& dc, UINT ctlColor);

    // Hooks.
    virtual void PreSubclassWindow() {}
    virtual BOOL PreTranslateMessage(MSG* /*message*/) { return FALSE; }
    virtual BOOL OnNotifyReflect(NMHDR* /*header*/, LRESULT* /*result*/) { return FALSE; }
    virtual BOOL OnCommandReflect(UINT /*code*/) { return FALSE; }
    virtual BOOL OnNotify(UINT /*id*/, NMHDR* /*header*/, LRESULT* /*result*/) { return FALSE; }
    virtual BOOL OnCommand(UINT /*id*/, UINT /*code*/) { return FALSE; }
    virtual HBRUSH CtlColorReflect(CDC* /*dc*/, UINT /*ctlColor*/) { return nullptr; }
    virtual HBRUSH OnCtlColor(CDC* /*dc*/, CWnd* /*control*/, UINT /*ctlColor*/) { return nullptr; }
    virtual void OnMouseMove(UINT /*flags*/, POINT /*point*/) {}
    // TRUE when the window set the cursor itself; otherwise the window class's cursor
    // (the arrow) applies.
    virtual BOOL OnSetCursor(CWnd* /*window*/, UINT /*hitTest*/, UINT /*message*/) { return FALSE; }
    virtual void DrawItem(LPDRAWITEMSTRUCT /*item*/) {}
    // F1: TRUE when the window showed help for it.
    virtual BOOL OnHelpInfo(HELPINFO* /*info*/) { return FALSE; }

private:
    std::string text_;
    DWORD style_ = 0;
    DWORD exStyle_ = 0;
    RECT rect_{};
    CWnd* parent_ = nullptr;
    std::vector<CWnd*> children_;
    UINT id_ = 0;
    CFont* font_ = nullptr;
    unsigned invalidations_ = 0;
    unsigned updates_ = 0;
    bool lastErase_ = false;
};

class CStatic : public CWnd {
public:
    BOOL Create(const char* text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF) {
        return CreateEx(0, text, style, rect, parent, id);
    }
};

class CButton : public CWnd {
public:
    BOOL Create(const char* text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CreateEx(0, text, style, rect, parent, id);
    }
    int GetCheck() const noexcept { return check_; }
    void SetCheck(int check) noexcept { check_ = check; }

    // What a mouse click does: nothing on a disabled button (false). Otherwise the
    // button takes the focus; an automatic check box toggles (a state other than
    // clear becomes clear); an automatic radio button becomes the one checked button
    // of its group; then BN_CLICKED goes out.
    bool click();

private:
    int check_ = BST_UNCHECKED;
};

class CEdit : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CreateEx(0, "", style, rect, parent, id);
    }
};

namespace platform::ui {

// The radio group `button` belongs to: from the nearest control at or before it
// with WS_GROUP up to the next control with WS_GROUP, radio buttons only, in
// creation order. Just the button when it has no parent.
std::vector<CButton*> radioGroup(CButton* button);

// Every MessageBeep type since the process started (or the last clearBeeps).
std::vector<UINT> beeps();
void clearBeeps();

}  // namespace platform::ui
