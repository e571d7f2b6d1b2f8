// Modal dialogs: a window whose controls exchange their contents with the dialog's
// values (check boxes, radio groups, integer edit boxes with range validation), run
// through a presenter the program installs. cadhost presents dialogs on the
// terminal; tests drive them directly.
#pragma once

#include "platform/ui/Window.h"

#include <functional>

using INT_PTR = LONG_PTR;

// Owned by the dialog's UpdateData for one exchange.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    // The control `id`; a missing control ends the exchange as failed.
    CWnd* control(UINT id);
    // Ends the exchange as failed, after the user has been told why; the control of
    // the failing field keeps the focus (failedControl).
    [[noreturn]] void Fail();

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    UINT lastControl = 0;
};

// Thrown by CDataExchange::Fail, caught by UpdateData.
struct DataExchangeFailure {};

// A check box's state as 0/1 (2 for indeterminate); loading sets the state as given.
void DDX_Check(CDataExchange* dx, UINT id, int& value);
// The radio group that starts at `id` and runs through the following controls up to
// the next one with WS_GROUP: the index of the checked button, -1 when none is.
void DDX_Radio(CDataExchange* dx, UINT id, int& value);
// An integer edit box. Saving a text that is no integer (blanks around it allowed)
// shows the framework's message and fails.
void DDX_Text(CDataExchange* dx, UINT id, int& value);
// Saving a value outside min..max shows the framework's message and fails.
void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max);

// Owned by the code that runs it; main thread only.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : templateId_(templateId), parentWindow_(parent) {}

    // Creates the window, runs OnInitDialog and hands the dialog to the installed
    // presenter until it ends: the end result (IDCANCEL when the presenter gives up).
    INT_PTR DoModal();

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* /*dx*/) {}
    // FALSE when saving failed validation (the user has been told).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void OnOK();
    virtual void OnCancel();
    // A click on the button IDOK or IDCANCEL runs OnOK or OnCancel, as the
    // framework routes them.
    BOOL OnCommand(UINT id, UINT code) override;
    void EndDialog(int result);

    UINT templateId() const noexcept { return templateId_; }
    bool isEnded() const noexcept { return endResult_ != 0; }
    int endResult() const noexcept { return endResult_; }
    // The control that failed the last exchange (it has the focus); 0 when none did.
    UINT failedControl() const noexcept { return failedControl_; }

private:
    UINT templateId_;
    CWnd* parentWindow_;
    int endResult_ = 0;
    UINT failedControl_ = 0;
};

namespace platform::ui {

// Works a dialog after OnInitDialog until it ends and returns its result.
using DialogPresenter = std::function<INT_PTR(CDialog&)>;
// Installs the presenter and returns the previous one; without one, DoModal cancels.
DialogPresenter setDialogPresenter(DialogPresenter presenter);

}  // namespace platform::ui
