// Layer 8, the menus: the menu groups loaded from menu files, their toolbars' shown
// state, and the input an item's macro types. Menus belong to the host, not to a
// drawing: a group stays loaded across documents until it is unloaded. Main thread.
#pragma once

#include "host/MenuFile.h"

#include <string>
#include <vector>

namespace host {

struct LoadedMenuGroup {
    MenuFile menu;
    std::string path;                // the file it was loaded from
    std::vector<bool> toolbarShown;  // one per menu.toolbars
};

struct MenuLoadResult {
    bool isLoaded = false;
    std::string groupName;  // the group the file defines, when it was read
    std::string error;      // why nothing was loaded: "Cannot find menu file ..." or the line's error
};

// Loads the menu file at `path`; a name without an extension that is not found as
// given is looked for with ".mnu". Refused, with the reason, when the file is
// missing, over 1 MB, not a menu file (parseMenuFile), or defines a group that is
// loaded already.
MenuLoadResult loadMenuGroup(const std::string& path);
// Unloads the group (any letter case); false when it is not loaded.
bool unloadMenuGroup(const std::string& name);
// Loaded groups in load order; the pointers stay valid until that group is unloaded.
std::vector<LoadedMenuGroup*> loadedMenuGroups();
LoadedMenuGroup* findMenuGroup(const std::string& name);

struct ToolbarRef {
    LoadedMenuGroup* group = nullptr;
    std::size_t index = 0;
    const Toolbar& toolbar() const { return group->menu.toolbars[index]; }
};
// The toolbar "GROUP.NAME", or "NAME" in whichever group has it first; "ALL" gives
// every toolbar. Empty when none matches.
std::vector<ToolbarRef> findToolbars(const std::string& name);

// Types an item's input into the current document as the user would: it runs when
// the document is next idle, echoed. False when no drawing is open or the item is a
// separator or grayed.
bool runMenuItem(const MenuItem& item);

// Unloads every group (tests, and the host's end).
void unloadAllMenuGroups();

}  // namespace host
