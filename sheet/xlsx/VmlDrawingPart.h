// xl/drawings/vmlDrawingN.vml: the legacy drawing that makes desktop spreadsheet
// programs show a sheet's notes. Written from the notes; read only to learn whether
// it holds shapes other than notes (form controls), which a rewrite would lose.
#pragma once

#include "sheet/Sheet.h"
#include "sheet/xlsx/PartSink.h"

#include <string>
#include <string_view>

namespace sheet::xlsx {

// Looks for shapes other than notes in a drawing handed over in pieces. finish()
// gives what else is there, empty when every shape is a note.
class VmlShapeScanner {
public:
    void feed(std::string_view piece);
    std::string finish();

private:
    std::string pending_;  // the end of the last piece, which may hold half a shape type
    std::string other_;
};
// nextBlock (from 1) numbers the blocks of shape ids; it advances past the blocks
// this drawing uses. With a sink, the text goes there in pieces as the shapes are
// written, and what is returned is the rest.
std::string writeVmlDrawing(const Sheet& sheet, int& nextBlock, const PartSink& sink = {});

}  // namespace sheet::xlsx
