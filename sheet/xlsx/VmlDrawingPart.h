// xl/drawings/vmlDrawingN.vml: the legacy drawing that makes desktop spreadsheet
// programs show a sheet's notes. Written from the notes; read only to learn whether
// it holds shapes other than notes (form controls), which a rewrite would lose.
#pragma once

#include "sheet/Sheet.h"

#include <string>
#include <string_view>

namespace sheet::xlsx {

// Empty when every shape is a note; otherwise what else is there.
std::string vmlOtherShapes(std::string_view vml);
// nextBlock (from 1) numbers the blocks of shape ids; it advances past the blocks
// this drawing uses.
std::string writeVmlDrawing(const Sheet& sheet, int& nextBlock);

}  // namespace sheet::xlsx
