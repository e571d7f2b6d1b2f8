// xl/sharedStrings.xml: the workbook's text table, read into and written from the
// StringPool in index order.
#pragma once

#include "sheet/StringPool.h"
#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>

namespace sheet::xlsx {

void readSharedStrings(std::string_view xml, const std::string& partName, StringPool& pool, const ReadLimits& limits);
// A rich text item as the writer puts it out: <si> with the namespace declarations
// its content was written under (see XmlReader::prefixDeclarationsInScope), the content
// (runs, phonetic text) as it came, </si>.
std::string richItem(std::string_view declarations, std::string_view content);

// The file's entries, then the added ones the layout writes.
std::string writeSharedStrings(const StringPool& pool, const StringPool::Layout& layout);

}  // namespace sheet::xlsx
