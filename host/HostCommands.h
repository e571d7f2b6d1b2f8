// Layer 8, the host commands: QUIT, DELAY, ARXLOAD and ARXUNLOAD, and the one call
// that registers every host command with the command line.
#pragma once

namespace host {

// Registers QUIT, DELAY (waits the given milliseconds while timers, queued work and
// sent strings run), ARXLOAD, ARXUNLOAD, SETVAR (shows and sets a whole-number
// system variable), the drawing file commands (OPEN, SAVE, QSAVE, SAVEAS, LIST), U,
// UNDO and REDO, and the menu commands (MENULOAD, MENUUNLOAD, -TOOLBAR, MENUS);
// cadhost and tests call it once.
void registerBuiltinCommands();

}  // namespace host
