#include "platform/ui/Dialog.h"

#include "platform/MessageBox.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

platform::ui::DialogPresenter& installedPresenter() {
    static platform::ui::DialogPresenter presenter;
    return presenter;
}

// The framework's own prompts, as it shows them for a field it cannot take. The
// dialog stays open for the field to be put right: no failure of the command.
void tellUser(const std::string& text) { platform::promptBox(nullptr, text.c_str(), "", MB_OK | MB_ICONEXCLAMATION); }

bool parseInt(const std::string& text, int& value) {
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t') ++begin;
    if (!*begin) return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    while (*end == ' ' || *end == '\t') ++end;
    if (*end || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

namespace platform::ui {

DialogPresenter setDialogPresenter(DialogPresenter presenter) {
    DialogPresenter previous = std::move(installedPresenter());
    installedPresenter() = std::move(presenter);
    return previous;
}

}  // namespace platform::ui

CWnd* CDataExchange::control(UINT id) {
    lastControl = id;
    CWnd* c = m_pDlgWnd ? m_pDlgWnd->GetDlgItem(id) : nullptr;
    if (!c) Fail();
    return c;
}

void CDataExchange::Fail() { throw DataExchangeFailure{}; }

void DDX_Check(CDataExchange* dx, UINT id, int& value) {
    auto* box = static_cast<CButton*>(dx->control(id));
    if (dx->m_bSaveAndValidate)
        value = box->GetCheck();
    else
        box->SetCheck(value);
}

void DDX_Radio(CDataExchange* dx, UINT id, int& value) {
    CWnd* first = dx->control(id);
    CWnd* parent = first->GetParent();
    std::vector<CButton*> group;
    bool isInGroup = false;
    for (CWnd* c : parent ? parent->children() : std::vector<CWnd*>{first}) {
        if (c == first)
            isInGroup = true;
        else if (isInGroup && (c->GetStyle() & WS_GROUP))
            break;
        if (isInGroup) group.push_back(static_cast<CButton*>(c));
    }
    if (dx->m_bSaveAndValidate) {
        value = -1;
        for (std::size_t i = 0; i < group.size(); ++i)
            if (group[i]->GetCheck() == BST_CHECKED) {
                value = static_cast<int>(i);
                break;
            }
    } else {
        for (std::size_t i = 0; i < group.size(); ++i)
            group[i]->SetCheck(static_cast<int>(i) == value ? BST_CHECKED : BST_UNCHECKED);
    }
}

void DDX_Text(CDataExchange* dx, UINT id, int& value) {
    CWnd* edit = dx->control(id);
    if (!dx->m_bSaveAndValidate) {
        edit->SetWindowTextA(std::to_string(value).c_str());
        return;
    }
    if (!parseInt(edit->windowText(), value)) {
        tellUser("Please enter an integer.");
        dx->Fail();
    }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max) {
    if (!dx->m_bSaveAndValidate || (value >= min && value <= max)) return;
    tellUser("Please enter an integer between " + std::to_string(min) + " and " + std::to_string(max) + ".");
    dx->Fail();
}

INT_PTR CDialog::DoModal() {
    endResult_ = 0;
    if (!m_hWnd) CreateEx(0, "", 0, RECT{0, 0, 400, 300}, parentWindow_, 0);
    OnInitDialog();
    const platform::ui::DialogPresenter& presenter = installedPresenter();
    const INT_PTR shown = presenter ? presenter(*this) : IDCANCEL;
    if (!endResult_) endResult_ = shown == IDOK ? IDOK : IDCANCEL;
    return endResult_;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        failedControl_ = dx.lastControl;
        // The user is to correct the field the message was about.
        if (CWnd* control = GetDlgItem(failedControl_)) control->SetFocus();
        return FALSE;
    }
    failedControl_ = 0;
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(UINT id, UINT code) {
    if (code != BN_CLICKED || (id != IDOK && id != IDCANCEL)) return FALSE;
    if (id == IDOK)
        OnOK();
    else
        OnCancel();
    return TRUE;
}

void CDialog::EndDialog(int result) { endResult_ = result; }
