// Drawing values and objects with the platform's names: colours and the system
// colour table, rectangles and points, pens, fonts and stock objects. Drawing itself
// goes to a recording device context (platform/ui/DeviceContext.h).
#pragma once

#include "platform/WinTypes.h"

#include <string>

using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }

constexpr WORD LOWORD(DWORD v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(DWORD v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }

struct POINT {
    LONG x = 0;
    LONG y = 0;
    friend bool operator==(const POINT&, const POINT&) = default;
};
struct SIZE {
    LONG cx = 0;
    LONG cy = 0;
    friend bool operator==(const SIZE&, const SIZE&) = default;
};
struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    LONG Width() const noexcept { return right - left; }
    LONG Height() const noexcept { return bottom - top; }
    friend bool operator==(const RECT&, const RECT&) = default;
};
using CPoint = POINT;
using CSize = SIZE;
using CRect = RECT;

inline bool PtInRect(const RECT* r, POINT p) {
    return p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}

// System colours (GetSysColor indexes).
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_HOTLIGHT = 26;

// The colour of a display element: the platform's standard scheme. 0 for an index
// the table does not know.
COLORREF GetSysColor(int index);

// Pens.
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_NULL = 5;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int BLACK_PEN = 7;
constexpr int DEFAULT_GUI_FONT = 17;

using HGDIOBJ = struct HGDIOBJ__*;
using HBRUSH = HGDIOBJ;
using HPEN = HGDIOBJ;
using HFONT = HGDIOBJ;
// A stock object's handle; null for an index that names none.
HGDIOBJ GetStockObject(int index);

constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;

struct LOGFONTA {
    LONG lfHeight = 0;  // negative: character height in pixels; 0: the default height
    LONG lfWidth = 0;
    LONG lfEscapement = 0;
    LONG lfOrientation = 0;
    LONG lfWeight = FW_NORMAL;
    BYTE lfItalic = 0;
    BYTE lfUnderline = 0;
    BYTE lfStrikeOut = 0;
    BYTE lfCharSet = 0;
    BYTE lfOutPrecision = 0;
    BYTE lfClipPrecision = 0;
    BYTE lfQuality = 0;
    BYTE lfPitchAndFamily = 0;
    char lfFaceName[32] = {};
};

// A GDI object owned by its wrapper: DeleteObject (or the destructor) frees it.
class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    HGDIOBJ GetSafeHandle() const noexcept { return m_hObject; }
    BOOL DeleteObject();

    HGDIOBJ m_hObject = nullptr;

protected:
    void attachNew();
};

class CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int style, int width, COLORREF colour) { CreatePen(style, width, colour); }
    BOOL CreatePen(int style, int width, COLORREF colour);
    int style() const noexcept { return style_; }
    int width() const noexcept { return width_; }
    COLORREF colour() const noexcept { return colour_; }

private:
    int style_ = PS_SOLID;
    int width_ = 0;
    COLORREF colour_ = 0;
};

class CFont : public CGdiObject {
public:
    BOOL CreateFontIndirect(const LOGFONTA* font);
    // FALSE when the font was never created.
    BOOL GetLogFont(LOGFONTA* font) const;

private:
    LOGFONTA font_;
};

namespace platform::ui {

// The font every window has until it is given another: the dialogs' default font.
CFont& defaultGuiFont();
// The black pen a device context starts with.
CPen& defaultPen();

}  // namespace platform::ui
