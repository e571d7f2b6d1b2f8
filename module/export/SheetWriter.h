// Writing export rows into the spreadsheet's active sheet, cell by cell, and the
// row cursor that says where the next row goes.
#pragma once

#include "module/layout/TextList.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Dispatch.h"

namespace tabro {

struct ExportOptions;

// Where the next export starts writing when its settings do not say: the row after
// the last one written. 1 when the module loads; kept from one command to the next.
// 32-bit: rows past 32767 are addressed as they are, never wrapped into a lower row.
inline std::int32_t nextExportRow = 1;

// Writes one row at `row` into the active sheet of the running spreadsheet
// application, then moves `row` on by one. A header row takes its comments from
// `markers` (non-empty ones) and its values from texts[0]; a data row puts texts[0]
// (the handle) as the comment of column A and its values from texts[1]. Without a
// running application nothing is written and `row` stays.
// A header row also loses the comments in `ownMarkers` (the property markers export
// writes) from its cells that it does not mark, up to column 255: a sheet exported
// into again would otherwise keep an earlier export's markers over other columns,
// and import would read those columns as that property. Other comments stay.
void writeSheetRow(std::int32_t& row, bool isHeader, const ExportOptions& options, std::span<const std::string> texts,
                   std::span<const std::string> markers, std::span<const std::u16string> ownMarkers = {});

// Writes one more title into the header row `row` of the active sheet, at `column`,
// formatted as the header row's other cells (text format with AsText, bold).
void writeHeaderTitle(std::int32_t row, std::int32_t column, const ExportOptions& options, const std::string& title);

// The first row of the workbook's active sheet whose first 255 cells all display
// nothing; 1 when the workbook has no active sheet. No value when every row up to
// the last one searched holds something: the caller must not write over row 1 then.
std::optional<std::int32_t> findNextBlankRow(IDispatch* workbook);

// AutoFit on all columns of the running application's active sheet; nothing without
// a running application.
void autofitColumns();

}  // namespace tabro
