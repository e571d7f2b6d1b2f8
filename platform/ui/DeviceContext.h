// A device context that records what is drawn instead of putting pixels anywhere:
// pens selected, frame controls, text with its rectangle, lines, focus rectangles.
// Text is measured with a fixed metric (kCharWidth per character, the font's height),
// so drawing code can be checked by its geometry.
#pragma once

#include "platform/ui/Gdi.h"

#include <string>
#include <string_view>
#include <vector>

using HDC = struct HDC__*;

// DrawFrameControl types and states.
constexpr UINT DFC_CAPTION = 1;
constexpr UINT DFC_MENU = 2;
constexpr UINT DFC_SCROLL = 3;
constexpr UINT DFC_BUTTON = 4;
constexpr UINT DFCS_BUTTONCHECK = 0x0000;
constexpr UINT DFCS_BUTTONRADIO = 0x0004;
constexpr UINT DFCS_BUTTONPUSH = 0x0010;
constexpr UINT DFCS_INACTIVE = 0x0100;
constexpr UINT DFCS_PUSHED = 0x0200;
constexpr UINT DFCS_CHECKED = 0x0400;

// DrawText formats.
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;

namespace platform::ui {

// Width of every character (code point) in every font; the height is the font's
// |lfHeight|, or kDefaultTextHeight for a font that leaves it 0.
constexpr LONG kCharWidth = 7;
constexpr LONG kDefaultTextHeight = 13;

// The extent of `text` on one line in `font` under the metric above.
SIZE textExtent(std::string_view text, const CFont& font);

}  // namespace platform::ui

// Owned by whoever draws; main thread only.
class CDC {
public:
    struct Operation {
        enum Kind { SelectPen, FrameControl, Text, Line, FocusRect };
        Kind kind = SelectPen;
        RECT rect{};          // FrameControl, Text, FocusRect
        POINT from{}, to{};   // Line (to excluded, as the platform draws)
        COLORREF colour = 0;  // SelectPen: the pen's; Text: the text colour
        int penStyle = 0;     // SelectPen
        int penWidth = 0;     // SelectPen
        UINT type = 0;        // FrameControl: DFC_*; Text: the DT_* format
        UINT state = 0;       // FrameControl: DFCS_*
        std::string text;     // Text
    };

    CDC();
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC GetSafeHdc() noexcept { return reinterpret_cast<HDC>(this); }
    // The context behind a handle GetSafeHdc gave.
    static CDC* FromHandle(HDC dc) noexcept { return reinterpret_cast<CDC*>(dc); }

    // Returns the object selected before (the context's default pen or font at first).
    CPen* SelectObject(CPen* pen);
    CFont* SelectObject(CFont* font);
    CPen* currentPen() const noexcept { return pen_; }
    CFont* currentFont() const noexcept { return font_; }

    COLORREF SetTextColor(COLORREF colour);
    COLORREF GetTextColor() const noexcept { return textColour_; }
    int SetBkMode(int mode);
    int GetBkMode() const noexcept { return bkMode_; }

    // The extent of a single line of text in the selected font.
    CSize GetTextExtent(std::string_view text) const;
    // With DT_CALCRECT only measures: right = left + width, bottom = top + height,
    // nothing drawn. Otherwise records the text in `rect`. Returns the text height.
    int DrawText(std::string_view text, RECT* rect, UINT format);

    CPoint MoveTo(int x, int y);
    // A line from the current position to (x, y), the end point excluded; the
    // current position moves there.
    BOOL LineTo(int x, int y);
    void DrawFocusRect(const RECT* rect);
    BOOL drawFrameControl(RECT* rect, UINT type, UINT state);

    const std::vector<Operation>& operations() const noexcept { return operations_; }
    void clearOperations() noexcept { operations_.clear(); }

private:
    std::vector<Operation> operations_;
    CPen* pen_;
    CFont* font_;
    COLORREF textColour_ = RGB(0, 0, 0);
    int bkMode_ = OPAQUE;
    POINT position_{};
};

BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state);
