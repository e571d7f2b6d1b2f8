#include "module/ui/DropDownButton.h"

#include <string>

void DropDownButton::DrawItem(LPDRAWITEMSTRUCT item) {
    CDC* dc = CDC::FromHandle(item->hDC);
    const UINT state = item->itemState;

    CPen pen(PS_SOLID, 0, GetSysColor(state & ODS_DISABLED ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    CPen* previousPen = dc->SelectObject(&pen);

    RECT frame = item->rcItem;
    DrawFrameControl(item->hDC, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (state & ODS_SELECTED ? DFCS_PUSHED : 0));

    std::string text;
    GetWindowTextA(text);
    const SIZE extent = dc->GetTextExtent(text);
    const LONG w = item->rcItem.Width(), h = item->rcItem.Height();
    // The text sits left of the middle to leave room for the arrow.
    RECT textRect{w / 2 - extent.cx / 2 - 5, h / 2 - extent.cy / 2, 0, 0};
    dc->DrawText(text, &textRect, DT_SINGLELINE | DT_CALCRECT);
    dc->DrawText(text, &textRect, DT_SINGLELINE);

    // Six lines, each one pixel lower and one pixel shorter at both ends: a
    // downward triangle 10 pixels wide.
    const LONG x0 = w / 2 + extent.cx / 2 + 5, y0 = h / 2 - 3;
    for (LONG i = 0; i < 6; ++i) {
        dc->MoveTo(x0 + i, y0 + i);
        dc->LineTo(x0 + 10 - i, y0 + i);
    }

    if (state & ODS_FOCUS) {
        RECT focus{item->rcItem.left + 3, item->rcItem.top + 3, item->rcItem.right - 3, item->rcItem.bottom - 3};
        dc->DrawFocusRect(&focus);
    }

    dc->SelectObject(previousPen);
    pen.DeleteObject();
}
