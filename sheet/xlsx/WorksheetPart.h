// xl/worksheets/sheetN.xml: cells, row and column formats. The reader fills a Sheet
// and keeps the children of <worksheet> it does not model; the writer puts them back
// around the regenerated dimension, columns, cells and comment drawing reference.
#pragma once

#include "sheet/Sheet.h"
#include "sheet/StringPool.h"
#include "sheet/xlsx/PartSink.h"
#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>

namespace sheet::xlsx {

// Throws XlsxError naming the part, line and cell. Sets readOnlyReason (when still
// empty) for content the writer could not carry through.
void readWorksheet(std::string_view xml, const std::string& partName, Sheet& sheet, const ReadLimits& limits,
                   std::string& readOnlyReason);

// Whether the view the sheet carries from its file marks its tab selected though the
// sheet is hidden. Selected together with the active sheet it would be grouped with
// it, and what the user types there would go into the hidden sheet as well: the
// writer then writes the sheet again, without the mark.
bool isHiddenButSelected(const Sheet& sheet);

// legacyDrawingRelId: the relationship id of the sheet's VML drawing, empty for none.
// Text cells are written as indices into the shared strings the layout produces.
// With a sink, the text goes there in pieces as the rows are written, and what is
// returned is the rest.
std::string writeWorksheet(const Sheet& sheet, bool isActive, const std::string& legacyDrawingRelId,
                           const StringPool::Layout& strings, const PartSink& sink = {});

}  // namespace sheet::xlsx
