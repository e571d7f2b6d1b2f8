// Layer 8, the host commands: the drawing file commands OPEN, SAVE, SAVEAS and LIST.
#pragma once

namespace host {

// Registers OPEN (a DXF file into a new document, made current; what reading warns
// of is printed), SAVE (the current drawing to its file; asks for a name when it has
// none, and whether to go on, default No, when that file lacked its 0/EOF and so may
// be truncated), SAVEAS (under a new name, without asking) and LIST (every block
// reference with its attributes). Failures are printed; the drawing on disk is then
// unchanged.
void registerDrawingCommands();

// Whether a save of a drawing failed in this process since it started (cadhost's
// exit status tells a script's caller).
bool hasDrawingSaveFailed() noexcept;

}  // namespace host
