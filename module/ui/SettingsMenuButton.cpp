#include "module/ui/SettingsMenuButton.h"

#include "module/base/ResourceStrings.h"
#include "platform/ui/PopupMenuTracking.h"

namespace tabro::ui {

int SettingsMenuButton::trackMenu() {
    ResourceStrings& texts = resourceStrings();
    platform::ui::PopupMenu menu;
    menu.append(ID_LOAD_SETTINGS, texts.load(kTextMenuLoadSettings));
    menu.append(ID_SAVE_SETTINGS, texts.load(kTextMenuSaveSettings));
    RECT button{};
    GetWindowRect(&button);
    return platform::ui::trackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD,
                                        button.left, button.bottom, this);
}

}  // namespace tabro::ui
