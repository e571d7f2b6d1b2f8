// The block selection dialog presented on the host's command line: the list with
// selection marks and the focus, the context menu with its check mark, and commands
// read with acedGetString so that scripts can work the dialog as a user would.
#include "module/ui/BlockSelectionDialog.h"

#include "host/Editor.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace tabro::ui {

namespace {

struct MenuWord {
    const char* word;
    const char* shortcut;
    int command;
};

constexpr MenuWord kMenuWords[] = {
    {"all", "a", BlockSelectionDialog::ID_SELECT_ALL},
    {"invert", "i", BlockSelectionDialog::ID_INVERT_SELECTION},
    {"none", "n", BlockSelectionDialog::ID_SELECT_NONE},
    {"butfocused", "b", BlockSelectionDialog::ID_SELECT_ALL_BUT_FOCUSED},
    {"showall", "s", BlockSelectionDialog::ID_SHOW_ALL},
    {"withattributes", "w", BlockSelectionDialog::ID_SHOW_ATTRIBUTED},
};

std::string lowered(const char* text) {
    std::string s(text);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A whole positive number, or 0.
int itemNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) return 0;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    return std::atoi(text.c_str());
}

void show(const BlockSelectionDialog& dialog) {
    const ListControl& list = dialog.list();
    acutPrintf("\n%s (%s):", list.columnHeading().c_str(),
               dialog.isShowingAll() ? "all blocks" : "blocks with attributes");
    if (list.itemCount() == 0) acutPrintf("\n    (no blocks listed)");
    for (int i = 0; i < list.itemCount(); ++i)
        acutPrintf("\n %c%3d [%c] %s", list.focusedItem() == i ? '>' : ' ', i + 1, list.isSelected(i) ? 'x' : ' ',
                   list.itemText(i).c_str());
    acutPrintf("\nMenu:");
    const PopupMenu menu = dialog.contextMenu();
    for (const PopupMenu::Item& item : menu.items()) {
        const char* shortcut = "";
        for (const MenuWord& w : kMenuWords)
            if (w.command == item.commandId) shortcut = w.shortcut;
        acutPrintf("\n  %s %s (%s)", item.isChecked ? "[v]" : "   ", item.text.c_str(), shortcut);
    }
}

}  // namespace

int terminalBlockSelection(BlockSelectionDialog& dialog) {
    bool changed = true;
    for (;;) {
        if (changed) show(dialog);
        changed = true;
        char answer[ADS_INPUT_BUFFER] = {};
        const int rc = acedGetString(
            1, "\nItem number toggles, F<number> moves the focus, menu letter, OK (or Enter), Cancel: ", answer);
        if (rc != RTNORM) {
            dialog.onCancel();
            return IDCANCEL;
        }
        const std::string word = lowered(answer);
        if (word.empty() || word == "ok") {
            dialog.onOK();
            return IDOK;
        }
        if (word == "cancel" || word == "c") {
            dialog.onCancel();
            return IDCANCEL;
        }
        ListControl& list = dialog.list();
        if (int n = itemNumber(word); n > 0 && n <= list.itemCount()) {
            list.setSelected(n - 1, !list.isSelected(n - 1));
            list.setFocusedItem(n - 1);
            continue;
        }
        if (word.size() > 1 && word[0] == 'f') {
            if (int n = itemNumber(word.substr(1)); n > 0 && n <= list.itemCount()) {
                list.setFocusedItem(n - 1);
                continue;
            }
        }
        bool known = false;
        for (const MenuWord& w : kMenuWords)
            if (word == w.word || word == w.shortcut) {
                dialog.onCommand(w.command);
                known = true;
                break;
            }
        if (!known) {
            acutPrintf("\nUnknown choice \"%s\".", answer);
            changed = false;
        }
    }
}

}  // namespace tabro::ui
