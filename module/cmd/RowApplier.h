// Writing one imported row into the drawing: the attribute texts of the block
// reference its handle names and, unless properties are ignored, its position,
// scale factors, layer and rotation. Main thread, inside a command.
#pragma once

#include "module/cmd/ImportRow.h"

namespace tabro {

enum class RowOutcome {
    Applied,   // every column's tag found an attribute
    Partial,   // the reference lacks some of the row's tags (or it is no block reference)
    NotFound,  // the handle names no live entity of the drawing
};

// Opens the reference once for all steps. Property cells are compared with what the
// reference's current value reads back as when written the way export writes it
// (the drawing's units and precision): equal means the user did not edit the cell,
// and the exact value is kept rather than replaced by its rounded text. A row
// without a layer or rotation column leaves those alone, as do values that are not
// finite numbers; attributes are placed again once, after the last property change.
// Failures are not reported: the step is skipped and the next one runs.
RowOutcome applyRow(const ImportRow& row, bool ignoreProps);

}  // namespace tabro
