#include "platform/ui/PopupMenuTracking.h"

namespace platform::ui {

namespace {

PopupMenuPresenter& installedPresenter() {
    static PopupMenuPresenter presenter;
    return presenter;
}

bool holds(const PopupMenu& menu, int command) {
    for (const PopupMenu::Item& item : menu.items())
        if (item.commandId == command) return true;
    return false;
}

}  // namespace

PopupMenuPresenter setPopupMenuPresenter(PopupMenuPresenter presenter) {
    PopupMenuPresenter previous = std::move(installedPresenter());
    installedPresenter() = std::move(presenter);
    return previous;
}

int trackPopupMenu(const PopupMenu& menu, UINT flags, int x, int y, CWnd* owner) {
    const PopupMenuPresenter& presenter = installedPresenter();
    int command = presenter ? presenter(PopupMenuRequest{&menu, POINT{x, y}, flags}) : 0;
    // A presenter answering with a command the menu lacks must not reach the owner
    // as if the user had chosen it.
    if (command != 0 && !holds(menu, command)) command = 0;
    if (flags & TPM_RETURNCMD) return command;
    if (command != 0 && owner) owner->OnCommand(static_cast<UINT>(command), 0);
    return command != 0 ? TRUE : FALSE;
}

}  // namespace platform::ui
