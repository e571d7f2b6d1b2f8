// Layer 8, the host commands: the drawing file commands OPEN, SAVE, SAVEAS and LIST.
#pragma once

namespace host {

// Registers OPEN (a DXF file into a new document, made current), SAVE (the current
// drawing to its file; asks for a name when it has none), SAVEAS (under a new name)
// and LIST (every block reference with its attributes). Failures are printed; the
// drawing on disk is then unchanged.
void registerDrawingCommands();

}  // namespace host
