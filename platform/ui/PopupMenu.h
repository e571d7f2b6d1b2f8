// A context menu: command items with texts and check marks, as the platform's popup
// menu offers them. Showing it hands the items to whoever presents the dialog (a
// test, or the terminal), whose choice comes back as a command id (0: none).
#pragma once

#include <string>
#include <vector>

namespace platform::ui {

class PopupMenu {
public:
    struct Item {
        int commandId = 0;
        std::string text;
        bool isChecked = false;
    };

    void append(int commandId, std::string text);
    // False when no item carries the command.
    bool check(int commandId, bool checked);
    bool isChecked(int commandId) const;
    const std::vector<Item>& items() const noexcept { return items_; }

private:
    std::vector<Item> items_;
};

}  // namespace platform::ui
