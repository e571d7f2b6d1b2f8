// Layer 8, the host commands for menus: MENULOAD, MENUUNLOAD, -TOOLBAR and MENUS, the
// terminal's way to see the loaded menus and toolbars and choose their items.
#pragma once

namespace host {

// Registers MENULOAD (loads a menu file; a file that cannot be loaded is reported in
// a message box, as the host reports a bad menu file), MENUUNLOAD (a group by name),
// -TOOLBAR (a toolbar, "GROUP.NAME" or ALL, then Show or Hide) and MENUS (lists the
// loaded groups, their pull-down menus with numbered items and their toolbars, and
// runs the item whose number is given). A toolbar shown during a command is drawn
// when the outermost command ends, with the question which button to press; a
// pressed button's macro, like a chosen menu item's, is typed on the command line.
void registerMenuCommands();

}  // namespace host
