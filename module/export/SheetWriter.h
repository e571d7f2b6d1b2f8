// Writing export rows into the spreadsheet's active sheet, and the row cursor that
// says where the next row goes.
#pragma once

#include "module/layout/TextList.h"
#include "module/spreadsheet/Automation.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Dispatch.h"

namespace tabro {

struct ExportOptions;

// Where the next export starts writing when its settings do not say: the row after
// the last one written. 1 when the module loads; kept from one command to the next.
// 32-bit: rows past 32767 are addressed as they are, never wrapped into a lower row.
inline std::int32_t nextExportRow = 1;

// Writes one export command's rows into the active sheet of the application it was
// given (attached once per command; nothing outlives the command). Each automation
// call is a round trip to another process for a real application, so the values of
// consecutive data rows of one width go as one block: one NumberFormat and one
// Value call per chunk of rows. Comments have no block form and are set cell by
// cell. An application that refuses arrays gets every value cell by cell from then
// on; the sheet ends up the same either way. Main thread only.
class SheetWriter {
public:
    // Data rows held back before they are written as one block.
    static constexpr std::int32_t kRowsPerBlock = 512;

    SheetWriter(IDispatch* app, const ExportOptions& options);
    SheetWriter(const SheetWriter&) = delete;
    SheetWriter& operator=(const SheetWriter&) = delete;

    // A header row at `row`, then `row` moves on by one: comments from `markers`
    // (non-empty ones), values from texts[0], bold. With `ownMarkers`, the row's
    // cells that it does not mark lose those comments (the property markers export
    // writes), up to column 255: a sheet exported into again would otherwise keep an
    // earlier export's markers over other columns, and import would read those
    // columns as that property. Other comments stay. `rowMarker`, when given, is the
    // comment of the first cell where no property marker goes: it tells import that
    // export wrote the row as a header, and where the handles stand.
    void writeHeaderRow(std::int32_t& row, std::span<const std::string> texts, std::span<const std::string> markers,
                        std::span<const std::u16string> ownMarkers = {}, const std::string& rowMarker = {});
    // A data row at `row`, then `row` moves on by one: texts[0] (the handle) as the
    // comment of column A, the values from texts[1]; a value of several lines wraps.
    // The values may be held back until flush().
    void writeDataRow(std::int32_t& row, std::span<const std::string> texts);
    // One more title in header row `row` at `column`, formatted as the header row's
    // other cells (text format with AsText, bold).
    void writeHeaderTitle(std::int32_t row, std::int32_t column, const std::string& title);
    // Writes what is held back. Before the active sheet changes and before the
    // command ends, also when it ends by a failure: rows composed before it stay.
    void flush();
    // The active sheet is another one now (a block's own sheet was added).
    void sheetChanged();
    // AutoFit on all columns of the active sheet.
    void autofitColumns();

    bool isWritingBlocks() const { return !arraysRefused_; }
    IDispatch* application() const { return app_.get(); }

private:
    IDispatch* sheet();
    IDispatch* cells();
    void writeCells(std::int32_t row, std::int32_t firstColumn, std::span<const std::string> texts);
    struct Pending {
        std::int32_t top, count, width;
        std::vector<std::u16string> texts;  // row after row
    };
    void writeBlock(Pending& rows);
    void writeCellByCell(Pending& rows);
    // Cells whose text has several lines (a multi-line attribute's) wrap, so that
    // the lines show; set once their values are written.
    void wrapMultiLineCells();

    DispatchPtr app_;
    const ExportOptions& options_;
    DispatchPtr sheet_, cells_;
    bool arraysRefused_ = false;
    // Values held back: rows pendingTop_.. of pendingWidth_ cells from column 1.
    std::int32_t pendingTop_ = 0;
    std::int32_t pendingRows_ = 0;
    std::size_t pendingWidth_ = 0;
    std::vector<std::u16string> pending_;
    std::vector<std::pair<std::int32_t, std::int32_t>> multiLineCells_;  // row, column
};

// The first row of the workbook's active sheet whose first 255 cells all display
// nothing; 1 when the workbook has no active sheet. No value when every row up to
// the last one searched holds something: the caller must not write over row 1 then.
std::optional<std::int32_t> findNextBlankRow(IDispatch* workbook);

}  // namespace tabro
