// Writing one imported row into the drawing: the attribute texts of the block
// reference its handle names and, unless properties are ignored, its position,
// scale factors, layer and rotation. Main thread, inside a command.
#pragma once

#include "module/drawing/AttributeRecord.h"
#include "module/import/ImportRow.h"

#include "host/db/AcDbObject.h"

#include <string>
#include <vector>

namespace tabro {

class ImportReport;

enum class RowOutcome {
    Applied,        // every column's tag found an attribute
    Partial,        // the reference lacks some of the row's tags
    NotAReference,  // the handle names an entity that is no block reference
    NotFound,       // the handle names no live entity of the drawing
};

// What applying rows needs beyond the row: the settings, where to report, and what
// is known of the block last met (rows of one block come together).
struct ApplyContext {
    bool ignoreProps = true;
    // Coordinates were exported as survey coordinates: a negative one stands in the
    // sheet as its magnitude, so a cell goes back negative where the drawing's
    // coordinate is negative.
    bool jtsk = false;
    ImportReport* report = nullptr;  // none: problems are not reported

    // The block definition's name and attribute definitions, for the last block met.
    AcDbObjectId block;
    bool hasBlock = false;
    std::string blockName;
    std::vector<AttributeRecord> definitions;
};

// Opens the reference once for all steps. Property cells are compared with what the
// reference's current value reads back as when written the way export writes it
// (the drawing's units and precision): equal means the user did not edit the cell,
// and the exact value is kept rather than replaced by its rounded text. A row
// without a layer or rotation column leaves those alone, as do cells that hold no
// usable value; a coordinate or scale factor whose cell cannot be read keeps its
// value while the others are applied. Attributes are placed again once, after the
// last property change. Every cell that cannot be applied is reported; nothing is
// written in its place.
RowOutcome applyRow(const ImportRow& row, ApplyContext& context);
RowOutcome applyRow(const ImportRow& row, bool ignoreProps);

}  // namespace tabro
