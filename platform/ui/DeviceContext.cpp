#include "platform/ui/DeviceContext.h"

#include <cstdlib>

namespace platform::ui {

SIZE textExtent(std::string_view text, const CFont& font) {
    LONG characters = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++characters;  // UTF-8 continuation bytes belong to the character before
    LOGFONTA lf;
    LONG height = kDefaultTextHeight;
    if (font.GetLogFont(&lf) && lf.lfHeight != 0) height = std::labs(lf.lfHeight);
    return SIZE{characters * kCharWidth, height};
}

}  // namespace platform::ui

CDC::CDC() : pen_(&platform::ui::defaultPen()), font_(&platform::ui::defaultGuiFont()) {}

CPen* CDC::SelectObject(CPen* pen) {
    CPen* previous = pen_;
    if (!pen) return nullptr;
    pen_ = pen;
    Operation op;
    op.kind = Operation::SelectPen;
    op.colour = pen->colour();
    op.penStyle = pen->style();
    op.penWidth = pen->width();
    operations_.push_back(std::move(op));
    return previous;
}

CFont* CDC::SelectObject(CFont* font) {
    CFont* previous = font_;
    if (!font) return nullptr;
    font_ = font;
    return previous;
}

COLORREF CDC::SetTextColor(COLORREF colour) {
    COLORREF previous = textColour_;
    textColour_ = colour;
    return previous;
}

int CDC::SetBkMode(int mode) {
    int previous = bkMode_;
    bkMode_ = mode;
    return previous;
}

CSize CDC::GetTextExtent(std::string_view text) const { return platform::ui::textExtent(text, *font_); }

int CDC::DrawText(std::string_view text, RECT* rect, UINT format) {
    if (!rect) return 0;
    const SIZE extent = GetTextExtent(text);
    if (format & DT_CALCRECT) {
        rect->right = rect->left + extent.cx;
        rect->bottom = rect->top + extent.cy;
        return extent.cy;
    }
    Operation op;
    op.kind = Operation::Text;
    op.rect = *rect;
    op.colour = textColour_;
    op.type = format;
    op.text = std::string(text);
    operations_.push_back(std::move(op));
    return extent.cy;
}

CPoint CDC::MoveTo(int x, int y) {
    CPoint previous = position_;
    position_ = {x, y};
    return previous;
}

BOOL CDC::LineTo(int x, int y) {
    Operation op;
    op.kind = Operation::Line;
    op.from = position_;
    op.to = {x, y};
    op.colour = pen_->colour();
    operations_.push_back(std::move(op));
    position_ = {x, y};
    return TRUE;
}

void CDC::DrawFocusRect(const RECT* rect) {
    if (!rect) return;
    Operation op;
    op.kind = Operation::FocusRect;
    op.rect = *rect;
    operations_.push_back(std::move(op));
}

BOOL CDC::drawFrameControl(RECT* rect, UINT type, UINT state) {
    if (!rect) return FALSE;
    Operation op;
    op.kind = Operation::FrameControl;
    op.rect = *rect;
    op.type = type;
    op.state = state;
    operations_.push_back(std::move(op));
    return TRUE;
}

BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state) {
    return dc ? CDC::FromHandle(dc)->drawFrameControl(rect, type, state) : FALSE;
}
