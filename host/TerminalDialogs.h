// Layer 8, beside the host commands: dialogs, file dialogs and popup menus worked on
// the command line, one input line per user action, so that a script drives them as
// a user would. The showing page's controls are listed with numbers, values, enabled
// state and focus; typed commands click, type, step, switch tabs and end the dialog.
#pragma once

#include "platform/ui/Dialog.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/PopupMenuTracking.h"

#include <optional>
#include <string>

namespace host {

// Works `dialog` until it ends; IDCANCEL when the input ends or is cancelled first.
// While it runs, message boxes with a choice read their answer from the input too
// (a blank line takes the default button); boxes with one button only are shown.
INT_PTR presentDialog(CDialog& dialog);

// Asks for the file name; a blank line takes the dialog's initial name (Cancel when
// it has none), a cancelled or ended input is Cancel.
std::optional<std::string> presentFileDialog(const platform::ui::FileDialogRequest& request);

// Lists the items and reads the choice: an item number or the start of its text;
// a blank line, a cancel or the end of input dismisses the menu.
int presentPopupMenu(const platform::ui::PopupMenuRequest& request);

// Installs the three presenters for the life of the object.
class TerminalDialogPresenters {
public:
    TerminalDialogPresenters();
    ~TerminalDialogPresenters();
    TerminalDialogPresenters(const TerminalDialogPresenters&) = delete;
    TerminalDialogPresenters& operator=(const TerminalDialogPresenters&) = delete;

private:
    platform::ui::DialogPresenter previousDialog_;
    platform::ui::FileDialogPresenter previousFileDialog_;
    platform::ui::PopupMenuPresenter previousMenu_;
};

}  // namespace host
