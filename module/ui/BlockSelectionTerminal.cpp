// The block selection dialog presented on the host's command line: the list with
// selection marks and the focus, the context menu with its check mark, and commands
// read with acedGetString so that scripts can work the dialog as a user would.
#include "module/ui/BlockSelectionDialog.h"

#include "host/Editor.h"
#include "module/base/ResourceStrings.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tabro::ui {

namespace {

// The words a script or user types for each menu command. They stay the same in
// every language so that scripts keep working; the letter the menu shows comes from
// the resource module and is taken as well, so what is shown always works.
struct MenuWord {
    const char* word;
    const char* shortcut;
    UINT shownLetter;
    int command;
};

constexpr MenuWord kMenuWords[] = {
    {"all", "a", kTextMenuLetterSelectAll, BlockSelectionDialog::ID_SELECT_ALL},
    {"invert", "i", kTextMenuLetterInvertSelection, BlockSelectionDialog::ID_INVERT_SELECTION},
    {"none", "n", kTextMenuLetterSelectNone, BlockSelectionDialog::ID_SELECT_NONE},
    {"butfocused", "b", kTextMenuLetterSelectAllButFocused, BlockSelectionDialog::ID_SELECT_ALL_BUT_FOCUSED},
    {"showall", "s", kTextMenuLetterShowAll, BlockSelectionDialog::ID_SHOW_ALL},
    {"withattributes", "w", kTextMenuLetterShowAttributed, BlockSelectionDialog::ID_SHOW_ATTRIBUTED},
};

std::string lowered(std::string_view text) {
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

// Resource text `id`, a format taking one string, on a line of its own. A text that
// is not such a format is printed as it stands: never handed to printf with an
// argument list it does not match.
void printFormattedLine(UINT id, const std::string& argument) {
    const std::string format = resourceStrings().load(id);
    acutPrintf("\n");
    if (isFormatWith(format, "s"))
        acutPrintf(format.c_str(), argument.c_str());
    else
        acutPrintf("%s", format.c_str());
}

// The marks ('>' focus, [x] selected, [v] checked) stand for what a window draws as
// graphics, so they are no language's words and stay here with the layout.
void show(const BlockSelectionDialog& dialog) {
    ResourceStrings& texts = resourceStrings();
    const ListControl& list = dialog.list();
    printFormattedLine(dialog.isShowingAll() ? kTextTerminalHeadingAll : kTextTerminalHeadingAttributed,
                       list.columnHeading());
    if (list.itemCount() == 0) acutPrintf("\n    %s", texts.load(kTextTerminalEmptyList).c_str());
    for (int i = 0; i < list.itemCount(); ++i)
        acutPrintf("\n %c%3d [%c] %s", list.focusedItem() == i ? '>' : ' ', i + 1, list.isSelected(i) ? 'x' : ' ',
                   list.itemText(i).c_str());
    acutPrintf("\n%s", texts.load(kTextTerminalMenu).c_str());
    const PopupMenu menu = dialog.contextMenu();
    for (const PopupMenu::Item& item : menu.items()) {
        std::string letter;
        for (const MenuWord& w : kMenuWords)
            if (w.command == item.commandId) letter = texts.load(w.shownLetter);
        acutPrintf("\n  %s %s", item.isChecked ? "[v]" : "   ", item.text.c_str());
        if (!letter.empty()) acutPrintf(" (%s)", letter.c_str());
    }
}

// The menu command `word` chooses, or 0. The letters shown come first: a translated
// letter that equals another command's typed shortcut must do what the menu says.
int menuCommandFor(const std::string& word) {
    ResourceStrings& texts = resourceStrings();
    for (const MenuWord& w : kMenuWords)
        if (const std::string letter = lowered(texts.load(w.shownLetter)); !letter.empty() && word == letter)
            return w.command;
    for (const MenuWord& w : kMenuWords)
        if (word == w.word || word == w.shortcut) return w.command;
    return 0;
}

}  // namespace

bool isFormatWith(std::string_view format, std::string_view conversions) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (++i == format.size()) return false;
        if (format[i] == '%') continue;
        if (next == conversions.size() || format[i] != conversions[next]) return false;
        ++next;
    }
    return next == conversions.size();
}

int terminalBlockSelection(BlockSelectionDialog& dialog) {
    bool changed = true;
    for (;;) {
        if (changed) show(dialog);
        changed = true;
        char answer[ADS_INPUT_BUFFER] = {};
        const int rc = acedGetString(1, resourceStrings().load(kTextTerminalPrompt).c_str(), answer);
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
        if (const int command = menuCommandFor(word)) {
            dialog.onCommand(command);
        } else {
            printFormattedLine(kTextTerminalUnknownChoice, answer);
            changed = false;
        }
    }
}

}  // namespace tabro::ui
