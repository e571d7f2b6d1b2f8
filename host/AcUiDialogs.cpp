#include "host/AcUiDialogs.h"

CAdUiTabChildDialog* CAdUiTab::page(int index) const {
    return index >= 0 && index < static_cast<int>(pages_.size()) ? pages_[index] : nullptr;
}

void CAdUiTab::setPage(int index, CAdUiTabChildDialog* child) {
    if (index < 0) return;
    if (static_cast<int>(pages_.size()) <= index) pages_.resize(index + 1, nullptr);
    pages_[index] = child;
}

BOOL CAdUiTabMainDialog::AddTab(int index, const char* title, UINT, CAdUiTabChildDialog* child) {
    if (!tab_ || !child || child->m_hWnd || index != tab_->GetItemCount()) return FALSE;
    // A page fills the tab control's area, below the tabs.
    const RECT& area = tab_->rectInParent();
    if (!child->CreateEx(0, title, WS_CHILD, RECT{area.left, area.top + 20, area.right, area.bottom},
                         tab_->GetParent() ? tab_->GetParent() : this, 0))
        return FALSE;
    tab_->InsertItem(index, title);
    tab_->setPage(index, child);
    child->OnInitDialog();
    return TRUE;
}
