// Layer 8, the host commands for menus and toolbars on the terminal.
#include "host/MenuCommands.h"

#include "host/AcApDocManager.h"
#include "host/CommandLine.h"
#include "host/Editor.h"
#include "host/MenuGroups.h"
#include "platform/MessageBox.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace host {
namespace {

// Toolbars shown by -TOOLBAR since the outermost command began, by group and name:
// they are drawn when it ends, as a toolbar window appears once the command that
// opened it is done.
struct PendingToolbar {
    std::string group;
    std::string name;
};

std::vector<PendingToolbar>& pendingToolbars() {
    static std::vector<PendingToolbar> pending;
    return pending;
}

// The number typed, when it lies in 1..count.
std::optional<std::size_t> chosenNumber(const char* answer, std::size_t count) {
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(answer, &end, 10);
    if (!*answer || *end || errno || n < 1 || static_cast<unsigned long>(n) > count) return std::nullopt;
    return static_cast<std::size_t>(n);
}

void menuloadCommand() {
    char path[ADS_INPUT_BUFFER];
    if (acedGetString(1, "\nEnter name of menu file to load: ", path) != RTNORM || !*path) return;
    MenuLoadResult loaded = loadMenuGroup(path);
    if (loaded.isLoaded) {
        acutPrintf("\nMenu group %s loaded.", loaded.groupName.c_str());
        return;
    }
    if (!loaded.groupName.empty() && findMenuGroup(loaded.groupName)) {
        // Loading a group twice is the user's slip, not a broken file.
        acutPrintf("\n%s", loaded.error.c_str());
        return;
    }
    AfxMessageBox(loaded.error.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void menuunloadCommand() {
    char name[ADS_INPUT_BUFFER];
    if (acedGetString(0, "\nEnter the name of the menu group to unload: ", name) != RTNORM || !*name) return;
    if (unloadMenuGroup(name))
        acutPrintf("\nMenu group %s unloaded.", name);
    else
        acutPrintf("\nMenu group %s is not loaded.", name);
}

void presentShownToolbars();

void toolbarCommand() {
    char name[ADS_INPUT_BUFFER];
    if (acedGetString(0, "\nEnter toolbar name or [ALL]: ", name) != RTNORM || !*name) return;
    std::vector<ToolbarRef> toolbars = findToolbars(name);
    if (toolbars.empty()) {
        acutPrintf("\nToolbar \"%s\" not found.", name);
        return;
    }
    acedInitGet(0, "Show Hide _Show Hide");
    char option[ADS_INPUT_BUFFER];
    int status = acedGetKword("\nEnter an option [Show/Hide] <Show>: ", option);
    if (status != RTNORM && status != RTNONE) return;
    bool show = status == RTNONE || std::string(option) == "Show";
    // Subscribed at the first toolbar shown, after what the program subscribed at
    // its start (saving changed workbooks): the question which button to press
    // must not hold back what a command's end owes the user.
    if (show) {
        [[maybe_unused]] static const int hook = addCommandEndHook(presentShownToolbars);
    }
    for (const ToolbarRef& ref : toolbars) {
        ref.group->toolbarShown[ref.index] = show;
        if (show) pendingToolbars().push_back(PendingToolbar{ref.group->menu.groupName, ref.toolbar().name});
    }
}

// Draws one shown toolbar and asks which button to press; the pressed button's
// macro runs once the command line is idle.
void presentToolbar(const ToolbarRef& ref) {
    const Toolbar& toolbar = ref.toolbar();
    std::vector<const MenuItem*> buttons;
    std::string drawing = "\n" + toolbar.title + " toolbar (" + ref.group->menu.groupName + "." + toolbar.name + "):";
    for (const MenuItem& button : toolbar.buttons) {
        if (button.isSeparator) continue;
        buttons.push_back(&button);
        drawing += "\n  " + std::to_string(buttons.size()) + "  " + button.label;
    }
    writeOutput(drawing);
    if (buttons.empty()) return;
    std::string prompt = "\nPress a button [1-" + std::to_string(buttons.size()) + "] <close>: ";
    for (;;) {
        char answer[ADS_INPUT_BUFFER];
        if (acedGetString(0, prompt.c_str(), answer) != RTNORM || !*answer) return;
        if (std::optional<std::size_t> n = chosenNumber(answer, buttons.size())) {
            runMenuItem(*buttons[*n - 1]);
            return;
        }
        acutPrintf("\nRequires a button number from 1 to %zu.", buttons.size());
    }
}

void presentShownToolbars() {
    std::vector<PendingToolbar> pending = std::move(pendingToolbars());
    pendingToolbars().clear();
    for (const PendingToolbar& p : pending) {
        // The command may have hidden or unloaded it again since.
        std::vector<ToolbarRef> found = findToolbars(p.group + "." + p.name);
        if (!found.empty() && found.front().group->toolbarShown[found.front().index]) presentToolbar(found.front());
    }
}

void menusCommand() {
    std::vector<LoadedMenuGroup*> groups = loadedMenuGroups();
    if (groups.empty()) {
        acutPrintf("\nNo menu groups are loaded.");
        return;
    }
    std::vector<const MenuItem*> items;
    std::string listing;
    for (const LoadedMenuGroup* group : groups) {
        listing += "\nMenu group " + group->menu.groupName + " (" + group->path + ")";
        for (const PullDownMenu& menu : group->menu.menus) {
            listing += "\n  " + menu.title;
            for (const MenuItem& item : menu.items) {
                std::string indent(static_cast<std::size_t>(4 + 2 * item.depth), ' ');
                if (item.isSeparator) {
                    listing += "\n" + indent + "    --";
                    continue;
                }
                items.push_back(&item);
                char number[16];
                std::snprintf(number, sizeof number, "%3zu", items.size());
                listing += "\n" + indent + number + "  " + item.label + (item.isGrayed ? " (unavailable)" : "");
            }
        }
        for (std::size_t i = 0; i < group->menu.toolbars.size(); ++i) {
            const Toolbar& toolbar = group->menu.toolbars[i];
            listing += "\n  Toolbar " + toolbar.title + " (" + group->menu.groupName + "." + toolbar.name + "), " +
                       (group->toolbarShown[i] ? "shown" : "hidden");
        }
    }
    writeOutput(listing);
    if (items.empty()) return;
    std::string prompt = "\nMenu item to run [1-" + std::to_string(items.size()) + "] <none>: ";
    for (;;) {
        char answer[ADS_INPUT_BUFFER];
        if (acedGetString(0, prompt.c_str(), answer) != RTNORM || !*answer) return;
        std::optional<std::size_t> n = chosenNumber(answer, items.size());
        if (n && !items[*n - 1]->isGrayed) {
            runMenuItem(*items[*n - 1]);
            return;
        }
        acutPrintf("\nRequires the number of an available item from 1 to %zu.", items.size());
    }
}

}  // namespace

void registerMenuCommands() {
    addHostCommand("MENULOAD", menuloadCommand);
    addHostCommand("MENUUNLOAD", menuunloadCommand);
    addHostCommand("-TOOLBAR", toolbarCommand);
    addHostCommand("MENUS", menusCommand);
}

}  // namespace host
