#include "platform/ui/TabControl.h"

int CTabCtrl::InsertItem(int index, const char* title) {
    if (index < 0 || index > GetItemCount()) index = GetItemCount();
    titles_.insert(titles_.begin() + index, title ? title : "");
    if (selected_ < 0)
        selected_ = 0;
    else if (selected_ >= index)
        ++selected_;
    return index;
}

std::string CTabCtrl::itemText(int index) const {
    return index >= 0 && index < GetItemCount() ? titles_[index] : std::string();
}

int CTabCtrl::SetCurSel(int index) {
    if (index < 0 || index >= GetItemCount()) return -1;
    const int previous = selected_;
    selected_ = index;
    return previous;
}

BOOL CTabCtrl::DeleteAllItems() {
    titles_.clear();
    selected_ = -1;
    return TRUE;
}

bool CTabCtrl::selectByUser(int index) {
    if (index < 0 || index >= GetItemCount() || index == selected_) return false;
    NMHDR changing{m_hWnd, GetDlgCtrlID(), TCN_SELCHANGING};
    if (sendNotify(changing) != 0) return false;
    selected_ = index;
    NMHDR changed{m_hWnd, GetDlgCtrlID(), TCN_SELCHANGE};
    sendNotify(changed);
    return true;
}
