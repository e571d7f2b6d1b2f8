// xl/sharedStrings.xml: the workbook's text table, read into and written from the
// StringPool in index order.
#pragma once

#include "sheet/StringPool.h"
#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>

namespace sheet::xlsx {

void readSharedStrings(std::string_view xml, const std::string& partName, StringPool& pool, const ReadLimits& limits);
std::string writeSharedStrings(const StringPool& pool);

}  // namespace sheet::xlsx
