// Showing a popup menu at a point and getting the user's choice: the choice comes
// from a presenter the program installs (the terminal in cadhost, tests).
#pragma once

#include "platform/ui/Gdi.h"
#include "platform/ui/PopupMenu.h"
#include "platform/ui/Window.h"

#include <functional>

constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_LEFTBUTTON = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

namespace platform::ui {

struct PopupMenuRequest {
    const PopupMenu* menu;
    POINT at;  // screen coordinates of the menu's top-left corner
    UINT flags;
};

// The chosen command id, or 0 when the menu was dismissed.
using PopupMenuPresenter = std::function<int(const PopupMenuRequest&)>;
// Installs the presenter and returns the previous one; without one, every menu is
// dismissed.
PopupMenuPresenter setPopupMenuPresenter(PopupMenuPresenter presenter);

// Shows `menu` at (x, y). With TPM_RETURNCMD returns the chosen command (0: none)
// and sends nothing; otherwise a chosen command goes to `owner` as a command
// (OnCommand with code 0) and the result is nonzero when one was chosen. Commands
// the menu does not hold count as none.
int trackPopupMenu(const PopupMenu& menu, UINT flags, int x, int y, CWnd* owner);

}  // namespace platform::ui
