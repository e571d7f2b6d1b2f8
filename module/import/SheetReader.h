// Reading exported worksheets back: what each header row says about its columns,
// and one ImportRow per data row that carries a handle. Main thread, inside a
// command; automation failures throw _com_error and end the run.
#pragma once

#include "module/import/ImportRow.h"
#include "module/layout/SheetLayout.h"
#include "module/spreadsheet/CellBlock.h"
#include "platform/Dispatch.h"
#include "platform/Variant.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tabro {

class ImportReport;

// The text of a cell's comment; no value when the cell has none.
std::optional<std::u16string> cellCommentText(IDispatch* cell);

// Highest row and column import reads: the sheet's last used row, at most the last
// row a worksheet has.
constexpr std::int32_t kLastSheetRow = 1048576;
constexpr std::int32_t kLastImportColumn = 255;

struct ImportColumn {
    std::int32_t column = 0;
    ColumnRole role = ColumnRole::Attribute;
    std::string tag;     // Attribute: the header text (multibyte)
    int occurrence = 0;  // Attribute: columns of the same tag before it
};

// One header row: the columns its cells name.
struct SheetHeader {
    std::int32_t row = 1;
    std::vector<ImportColumn> columns;  // in column order; ignored columns left out
};

// Reads the header cells (headerRow, startColumn) onwards. A cell with a comment is
// a property column when the comment is one of the markers, else ignored (the
// layout column, for one); without a comment, a non-empty text names an attribute,
// or the block-name column when it is the block-name title. The scan ends before the
// second header cell with empty text, or after column 255.
SheetHeader readSheetHeader(IDispatch* cells, std::int32_t headerRow, std::int32_t startColumn,
                            const ImportMarkers& markers);

// The values of a worksheet's cells as import reads them: a block of rows at a
// time, one Value call for the columns a header names over up to kRowsPerBlock
// rows, as each call is a round trip to another process for a real application.
// An application that gives no array for a block is asked cell by cell from then
// on. The sheet must not change while it is read.
class SheetValues {
public:
    static constexpr std::int32_t kRowsPerBlock = 1024;

    // Rows past `lastRow` are never asked for in a block.
    SheetValues(IDispatch* worksheet, IDispatch* cells, std::int32_t lastRow);
    // The value of cell (r, c); `header` names the columns read with it.
    platform::Variant value(std::int32_t r, std::int32_t c, const SheetHeader& header);

private:
    IDispatch* worksheet_;
    IDispatch* cells_;
    std::int32_t lastRow_;
    bool isCellByCell_ = false;
    std::int32_t top_ = 0, bottom_ = -1, left_ = 0, right_ = -1;
    std::optional<CellValues> block_;
};

// Fills `row` (cleared first, handle set by the caller) from sheet row `r` under
// `header`. A cell that cannot give what its column needs (an error value or a
// formula without a result anywhere, a word or an empty cell under a number column)
// gives nothing and is noted in row.problems.
void readRowCells(SheetValues& values, std::int32_t r, const SheetHeader& header, ImportRow& row);

// Follows a sheet's rows from row 1 down and knows which header row heads the row
// last fed: row 1, or a later header row that export wrote for the next block (a
// bold row, or one with a marker in its first cell, that follows data rows).
class HeaderTracker {
public:
    HeaderTracker(IDispatch* cells, std::int32_t startColumn, const ImportMarkers& markers);
    // Feeds the next row (rows come in order, from 1). The handle when the row is a
    // data row (its first cell's comment is no marker), else no value.
    std::optional<std::u16string> feed(std::int32_t r);
    // The header of the data row last fed; none when no header row stands above it.
    const std::optional<SheetHeader>& header() const { return header_; }
    // Goes up by one each time header() is replaced by another header row's.
    std::uint32_t headerGeneration() const { return headerGeneration_; }

private:
    IDispatch* cells_;
    std::int32_t startColumn_;
    const ImportMarkers& markers_;
    std::optional<SheetHeader> header_;
    std::optional<std::int32_t> runHeader_;
    bool inFirstRun_ = true;
    bool inRun_ = false;
    std::uint32_t headerGeneration_ = 0;
};

// What reading a sheet met.
struct SheetTally {
    long rows = 0;  // rows with a handle, handed on
    long rowsWithoutHandle = 0;
    long rowsWithoutHeader = 0;
};

// Reads one worksheet from `startRow` (at least 1) to its last used row, handing
// each row with a handle to `apply` as soon as it is read. Each data row is read
// against the header row above it: row 1, or a later header row that export wrote
// for the next block (a bold row, or one with a marker in its first cell, that
// follows data rows). A data row with no header above it is not read and is
// reported. Rows without a handle are skipped however many there are: a sheet is
// read to its end, so no data row after a gap is left behind unread.
SheetTally readSheetRows(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                         const ImportMarkers& markers, const std::function<void(const ImportRow&)>& apply,
                         ImportReport* report = nullptr);

}  // namespace tabro
