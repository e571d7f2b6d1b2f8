// The options dialog's drop-down button that offers loading and saving the
// settings file.
#pragma once

#include "module/ui/DropDownButton.h"

namespace tabro::ui {

// Owned by the options dialog; main thread only.
class SettingsMenuButton : public DropDownButton {
public:
    enum Command : int {
        ID_LOAD_SETTINGS = 32801,
        ID_SAVE_SETTINGS,
    };

    // Drops the menu with its top-left corner at the button's bottom-left corner and
    // returns the chosen command without sending it anywhere; 0 when the menu was
    // dismissed. The menu's texts come from the resource module current at the call.
    int trackMenu();
};

}  // namespace tabro::ui
