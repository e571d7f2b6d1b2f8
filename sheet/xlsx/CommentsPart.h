// xl/commentsN.xml: the notes of one sheet with their authors. The text of
// formatted notes is read as plain text (runs joined).
#pragma once

#include "sheet/Sheet.h"
#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>
#include <vector>

namespace sheet::xlsx {

void readComments(std::string_view xml, const std::string& partName, Sheet& sheet, const ReadLimits& limits);
// Throws XlsxError for a note too long for readComments to take. The notes are
// listed in cell order (by row, then column), as the drawing that shows them
// lists their shapes.
std::string writeComments(const Sheet& sheet);

}  // namespace sheet::xlsx
