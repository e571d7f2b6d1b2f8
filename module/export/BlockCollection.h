// Which blocks an export offers, and the names the user picks: in the block
// selection dialog (Export) or typed on the command line (Export2).
#pragma once

#include "module/drawing/BlockNameMap.h"

#include <string>
#include <vector>

namespace tabro {

// Every named block of the working drawing's block table (anonymous and layout
// blocks left out) with whether it has attribute definitions. When there is none,
// shows the "no blocks" error box and returns false.
bool collectBlockNames(BlockNameMap& blocks);

// The block selection dialog, which the command hands down to Export: it runs the
// dialog and on OK appends the selected names (list order) to `names` and returns
// true; Cancel returns false and leaves `names` alone.
using BlockNameDialog = bool (*)(const BlockNameMap& blocks, std::vector<std::string>& names);

// Reads one line: Enter means every block of the map in its order; otherwise the
// comma-separated pieces that name a block (without regard to case, untrimmed) are
// appended as typed; each other piece is named on the command line and left out.
// False on cancel.
bool askBlockNames(const BlockNameMap& blocks, std::vector<std::string>& names);

// The name list of a typed answer, as askBlockNames makes it; the pieces that name
// no block of the map go to `unknown` when it is given.
std::vector<std::string> blockNamesFromAnswer(const BlockNameMap& blocks, const std::string& answer,
                                              std::vector<std::string>* unknown = nullptr);

}  // namespace tabro
