// xl/styles.xml: number formats, fonts and cell formats are modelled; fills,
// borders, named styles, differential formats and the rest are kept as read.
#pragma once

#include "sheet/Styles.h"
#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>

namespace sheet::xlsx {

// A stylesheet whose elements carry a namespace prefix is written back with it.
void readStyles(std::string_view xml, const std::string& partName, Styles& styles, const ReadLimits& limits);
std::string writeStyles(const Styles& styles);

}  // namespace sheet::xlsx
