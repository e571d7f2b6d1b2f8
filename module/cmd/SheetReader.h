// Reading exported worksheets back: what the header row says about each column, and
// one ImportRow per data row that carries a handle. Main thread, inside a command;
// automation failures throw _com_error and end the run.
#pragma once

#include "module/cmd/ImportRow.h"
#include "platform/Dispatch.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tabro {

// The text of a cell's comment; no value when the cell has none.
std::optional<std::u16string> cellCommentText(IDispatch* cell);

// Highest row and column import reads.
constexpr std::int32_t kLastImportRow = 65535;
constexpr std::int32_t kLastImportColumn = 255;
// A sheet ends at its 21st row without a handle, adjacent or not.
constexpr int kRowsWithoutHandleAllowed = 20;

// The header comments that name property columns, as export writes them (resource
// texts 14, 16, ..., 28). Compared exactly: same UTF-16 code units, same case.
struct ImportMarkers {
    std::u16string x, y, z, rotation, scaleX, scaleY, scaleZ, layer;
    static ImportMarkers load();
};

enum class ColumnRole : std::uint8_t { Attribute, X, Y, Z, Rotation, Scale, Layer };

struct ImportColumn {
    std::int32_t column = 0;
    ColumnRole role = ColumnRole::Attribute;
    std::string tag;  // Attribute: the header text (multibyte)
};

// Read once per sheet: every data row is read against the header in row 1.
struct SheetHeader {
    std::vector<ImportColumn> columns;  // in column order; ignored columns left out
};

// Reads the header cells (1, startColumn) onwards. A cell with a comment is a
// property column when the comment is one of the markers, else ignored (the layout
// column, for one); without a comment, a non-empty text names an attribute. The
// scan ends before the second header cell with empty text, or after column 255.
SheetHeader readSheetHeader(IDispatch* cells, std::int32_t startColumn, const ImportMarkers& markers);

// Fills `row` (cleared first) from sheet row `r`. False, with nothing read but the
// first cell, when that cell carries no comment (the row has no handle). Cells
// under attribute headers that hold an error value are left out of the row; an
// error value under the layer header throws. Numbers read as the module reads
// numbers (leading number of a text, "." as decimal point); an unreadable angle
// leaves the row without rotation.
bool readImportRow(IDispatch* cells, std::int32_t r, const SheetHeader& header, ImportRow& row);

// What reading a sheet met, for the command line summary.
struct SheetTally {
    long rows = 0;             // rows with a handle, handed on
    long rowsWithoutHandle = 0;
};

// Reads one worksheet from `startRow` (at least 1) until row 65535 or its 21st row
// without a handle, handing each row with a handle to `apply` as soon as it is read.
SheetTally readSheetRows(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                         const ImportMarkers& markers, const std::function<void(const ImportRow&)>& apply);

}  // namespace tabro
