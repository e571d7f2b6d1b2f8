#include "platform/ui/Gdi.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

// Distinct non-null handles for created objects; stock objects take small numbers.
HGDIOBJ nextHandle() {
    static std::atomic<std::uintptr_t> next{0x10000};
    return reinterpret_cast<HGDIOBJ>(next.fetch_add(16));
}

}  // namespace

COLORREF GetSysColor(int index) {
    switch (index) {
    case COLOR_WINDOW:
        return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
        return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT:
        return RGB(0, 120, 215);
    case COLOR_HIGHLIGHTTEXT:
        return RGB(255, 255, 255);
    case COLOR_BTNFACE:
        return RGB(240, 240, 240);
    case COLOR_BTNSHADOW:
        return RGB(160, 160, 160);
    case COLOR_GRAYTEXT:
        return RGB(109, 109, 109);
    case COLOR_BTNTEXT:
        return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT:
        return RGB(255, 255, 255);
    case COLOR_HOTLIGHT:
        return RGB(0, 102, 204);
    default:
        return 0;
    }
}

HGDIOBJ GetStockObject(int index) {
    switch (index) {
    case WHITE_BRUSH:
    case NULL_BRUSH:
    case BLACK_PEN:
    case DEFAULT_GUI_FONT:
        return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(0x100 + index));
    default:
        return nullptr;
    }
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject) return FALSE;
    m_hObject = nullptr;
    return TRUE;
}

void CGdiObject::attachNew() { m_hObject = nextHandle(); }

BOOL CPen::CreatePen(int style, int width, COLORREF colour) {
    if (m_hObject) return FALSE;
    style_ = style;
    width_ = width;
    colour_ = colour;
    attachNew();
    return TRUE;
}

BOOL CFont::CreateFontIndirect(const LOGFONTA* font) {
    if (m_hObject || !font) return FALSE;
    font_ = *font;
    font_.lfFaceName[sizeof font_.lfFaceName - 1] = '\0';
    attachNew();
    return TRUE;
}

BOOL CFont::GetLogFont(LOGFONTA* font) const {
    if (!m_hObject || !font) return FALSE;
    *font = font_;
    return TRUE;
}

namespace platform::ui {

CFont& defaultGuiFont() {
    static CFont font;
    static const bool isCreated = [] {
        LOGFONTA lf;
        lf.lfHeight = -13;
        std::strcpy(lf.lfFaceName, "MS Shell Dlg");
        return font.CreateFontIndirect(&lf) == TRUE;
    }();
    (void)isCreated;
    return font;
}

CPen& defaultPen() {
    static CPen pen(PS_SOLID, 0, RGB(0, 0, 0));
    return pen;
}

}  // namespace platform::ui
