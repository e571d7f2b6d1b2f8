#include "platform/ui/PopupMenu.h"

namespace platform::ui {

void PopupMenu::append(int commandId, std::string text) { items_.push_back(Item{commandId, std::move(text), false}); }

bool PopupMenu::check(int commandId, bool checked) {
    for (Item& item : items_)
        if (item.commandId == commandId) {
            item.isChecked = checked;
            return true;
        }
    return false;
}

bool PopupMenu::isChecked(int commandId) const {
    for (const Item& item : items_)
        if (item.commandId == commandId) return item.isChecked;
    return false;
}

}  // namespace platform::ui
