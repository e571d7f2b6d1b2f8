// The tab control: titled tabs, one of them selected, and the notifications sent
// around a change the user makes (TCN_SELCHANGING, which may refuse it, then
// TCN_SELCHANGE). Pages are the owner's business.
#pragma once

#include "platform/ui/Window.h"

#include <string>
#include <vector>

constexpr UINT TCN_FIRST = 0U - 550U;
constexpr UINT TCN_SELCHANGE = TCN_FIRST - 1;
constexpr UINT TCN_SELCHANGING = TCN_FIRST - 2;

// Owned by its dialog; main thread only.
class CTabCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CreateEx(0, "", style, rect, parent, id);
    }
    // Inserts before `index` (clamped to the end) and returns the new tab's index;
    // the first tab becomes the selected one. A selection after it moves with it.
    int InsertItem(int index, const char* title);
    int GetItemCount() const noexcept { return static_cast<int>(titles_.size()); }
    // Empty for an index out of range.
    std::string itemText(int index) const;
    // -1 when there are no tabs.
    int GetCurSel() const noexcept { return selected_; }
    // Selects without notifying; returns the previous selection, or -1 (and changes
    // nothing) for an index out of range.
    int SetCurSel(int index);
    BOOL DeleteAllItems();

    // What a click on tab `index` does: TCN_SELCHANGING (a nonzero result keeps the
    // current tab), the change, TCN_SELCHANGE. False when nothing changed.
    bool selectByUser(int index);

private:
    std::vector<std::string> titles_;
    int selected_ = -1;
};
