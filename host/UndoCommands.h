// Layer 8, the host commands: U, UNDO and REDO over the drawing's undo history.
#pragma once

namespace host {

// Registers U (reverts what the last command changed in the current drawing), UNDO
// (asks how many commands to revert, Enter meaning 1) and REDO (brings back what the
// last U or UNDO reverted). Commands that changed nothing in the drawing are not
// counted. Each prints the names of the commands it reverted or brought back, or
// "Nothing to undo." / "Nothing to redo."; they refuse to run inside another command.
void registerUndoCommands();

}  // namespace host
