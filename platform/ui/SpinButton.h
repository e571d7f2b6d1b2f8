// The spin button (up-down control): an integer position in a range, an optional
// buddy window, and the UDN_DELTAPOS notification sent before each arrow step,
// whose handler may change the step or refuse it.
#pragma once

#include "platform/ui/Window.h"

constexpr UINT UDN_FIRST = 0U - 721U;
constexpr UINT UDN_DELTAPOS = UDN_FIRST - 1;

struct NMUPDOWN {
    NMHDR hdr;
    int iPos;    // the position before the step
    int iDelta;  // the step: +1 for the up arrow, -1 for the down arrow
};
using LPNMUPDOWN = NMUPDOWN*;

// Main thread only.
class CSpinButtonCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CreateEx(0, "", style, rect, parent, id);
    }
    void SetRange32(int lower, int upper) noexcept {
        lower_ = lower;
        upper_ = upper;
    }
    void GetRange32(int& lower, int& upper) const noexcept {
        lower = lower_;
        upper = upper_;
    }
    // Returns the previous position. The position is not clamped to the range here;
    // only arrow steps keep within it.
    int SetPos32(int pos) noexcept {
        int previous = pos_;
        pos_ = pos;
        return previous;
    }
    int GetPos32() const noexcept { return pos_; }
    CWnd* SetBuddy(CWnd* buddy) noexcept {
        CWnd* previous = buddy_;
        buddy_ = buddy;
        return previous;
    }
    CWnd* GetBuddy() const noexcept { return buddy_; }
    // 10 or 16; any other base is refused (returns 0) and the base kept.
    int SetBase(int base) noexcept;
    int GetBase() const noexcept { return base_; }

    // What a click on an arrow does: sends UDN_DELTAPOS with the position and the
    // step; when the handler leaves result 0 the position becomes the notification's
    // position plus its step, kept within the range. Returns whether the step was made.
    bool stepArrow(int delta);

private:
    int lower_ = 100;  // the platform's default range runs downwards, 100 to 0
    int upper_ = 0;
    int pos_ = 0;
    CWnd* buddy_ = nullptr;
    int base_ = 10;
};
