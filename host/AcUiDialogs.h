// The host's dialog classes that add-in dialogs derive from: the base dialog with
// its validation, the plain dialog, and the tabbed main dialog whose pages are child
// dialogs added at run time. They sit on the platform's dialog framework, so a
// dialog of the host runs through the installed dialog presenter as any other.
#pragma once

#include "platform/ui/Dialog.h"
#include "platform/ui/TabControl.h"

#include <vector>

// Main thread only, as every window.
class CAdUiBaseDialog : public CDialog {
public:
    explicit CAdUiBaseDialog(UINT templateId, CWnd* parent = nullptr, HINSTANCE resources = nullptr)
        : CDialog(templateId, parent), resources_(resources) {}
    // Takes the controls into the values with the range checks; FALSE (the user has
    // been told) when one fails.
    BOOL ValidateData() { return UpdateData(TRUE); }
    HINSTANCE resources() const noexcept { return resources_; }

private:
    HINSTANCE resources_;
};

class CAcUiDialog : public CAdUiBaseDialog {
public:
    using CAdUiBaseDialog::CAdUiBaseDialog;
};

class CAdUiTabChildDialog : public CAdUiBaseDialog {
public:
    explicit CAdUiTabChildDialog(CWnd* parent = nullptr, HINSTANCE resources = nullptr)
        : CAdUiBaseDialog(0, parent, resources) {}
};

class CAcUiTabChildDialog : public CAdUiTabChildDialog {
public:
    using CAdUiTabChildDialog::CAdUiTabChildDialog;
};

// The tab control of a tabbed main dialog: a page (child dialog) per tab.
class CAdUiTab : public CTabCtrl {
public:
    // The page showing; -1 without pages.
    int GetActiveTab() const noexcept { return GetCurSel(); }
    // Null for an index without a page.
    CAdUiTabChildDialog* page(int index) const;
    void setPage(int index, CAdUiTabChildDialog* child);

private:
    std::vector<CAdUiTabChildDialog*> pages_;
};

class CAdUiTabMainDialog : public CAdUiBaseDialog {
public:
    using CAdUiBaseDialog::CAdUiBaseDialog;
    // The tab control the pages go into; it must live as long as the dialog.
    void SetAcadTabPointer(CAdUiTab* tab) noexcept { tab_ = tab; }
    CAdUiTab* GetTabControl() const noexcept { return tab_; }
    // Creates the child dialog as page `index` titled `title` (from template
    // `templateId`) and runs its OnInitDialog. FALSE without a tab control, for an
    // index other than the next one, or a child that exists already.
    BOOL AddTab(int index, const char* title, UINT templateId, CAdUiTabChildDialog* child);

private:
    CAdUiTab* tab_ = nullptr;
};

class CAcUiTabMainDialog : public CAdUiTabMainDialog {
public:
    using CAdUiTabMainDialog::CAdUiTabMainDialog;
};
