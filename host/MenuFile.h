// Layer 0, shared by the menu layer: the host's classic text menu file (".mnu") read
// into its menu group, pull-down menus, toolbars and help strings, and the macros of
// their items turned into the command-line input they type. Calls nothing of the
// host; the file comes from outside, so every line is checked and errors name it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// One item of a pull-down menu or toolbar.
struct MenuItem {
    std::string nameTag;  // "ID_Export": ties the item to its help string
    std::string label;    // as shown, "&" mnemonics removed
    std::string macro;    // as written in the file
    std::string input;    // what the macro types (menuMacroInput)
    bool isSeparator = false;
    bool isGrayed = false;  // "~": shown but cannot be chosen
    int depth = 0;          // cascading level inside its menu, 0 for the top
};

struct PullDownMenu {
    std::string section;  // "POP1"
    std::string alias;    // the first "**" name, may be empty
    std::string title;
    std::vector<MenuItem> items;
};

struct Toolbar {
    std::string name;  // its "**" name, by which -TOOLBAR finds it
    std::string title;
    bool isShownAtLoad = false;
    std::vector<MenuItem> buttons;
};

struct MenuFile {
    std::string groupName;
    std::vector<PullDownMenu> menus;
    std::vector<Toolbar> toolbars;
    std::map<std::string, std::string> helpStrings;  // by name tag
};

struct MenuFileResult {
    std::optional<MenuFile> menu;
    int line = 0;       // where it went wrong; 0 for the file as a whole
    std::string error;  // empty when `menu` holds the file
};

// Reads a menu file's text. Refuses (with the line) a file without its
// "***MENUGROUP=" line first, unknown sections, items without a label where one is
// needed, a toolbar without its _Toolbar line, unbalanced cascades or cascades
// nested more than 32 levels deep, and macros menuMacroInput refuses. Sections the
// host shows nothing of (screen, tablet, image, buttons, aux, accelerators) are read
// over.
MenuFileResult parseMenuFile(std::string_view text);

// The command-line input a macro types, one input per "\n": "^C" cancels (a line
// holding "\x03"), ";", a blank and "^M" are Enter, the end of the macro ends the
// input in progress; a "\" at the very end leaves the rest to the user. No value,
// with `error`, for a pause anywhere else, a repeating item ("*^C"), or a "^"
// sequence that is not ^C, ^M, ^P or ^Z.
std::optional<std::string> menuMacroInput(std::string_view macro, std::string& error);

}  // namespace host
