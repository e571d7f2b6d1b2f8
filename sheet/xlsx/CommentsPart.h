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
// Throws XlsxError for a note too long for readComments to take.
std::string writeComments(const Sheet& sheet);

// The comments' cells in the order both parts list them (by row, then column).
std::vector<std::uint64_t> sortedCommentKeys(const Sheet& sheet);

}  // namespace sheet::xlsx
