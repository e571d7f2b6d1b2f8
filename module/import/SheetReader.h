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

// Highest row and column import reads: the sheet's last used row and column, at
// most the last a worksheet has.
constexpr std::int32_t kLastSheetRow = 1048576;
constexpr std::int32_t kLastSheetColumn = 16384;

struct ImportColumn {
    std::int32_t column = 0;
    ColumnRole role = ColumnRole::Attribute;
    std::string tag;  // Attribute, Parameter: the header text (multibyte)
    // Attribute: columns of the same tag before it. Scale: scale columns before it,
    // which is the slot of the scale it holds. Parameter: columns of the same label
    // before it.
    int occurrence = 0;
    int tagColumns = 1;  // Attribute: columns of the same tag in the header
};

// One header row: the columns its cells name.
struct SheetHeader {
    std::int32_t row = 1;
    // Export's marker stands in its first cell: it is a header row export wrote.
    bool isMarked = false;
    std::vector<ImportColumn> columns;  // in column order; ignored columns left out
    // Columns whose header cell is empty (a spacer, a title the user cleared, a cell
    // a merged title covers), left of the last titled one: their cells are read only
    // to name an edit under a title export wrote.
    std::vector<std::int32_t> untitled;
    std::int32_t firstColumn() const;
    std::int32_t lastColumn() const;
};

// Reads the header cells (headerRow, startColumn) up to the row's last non-empty
// cell, at most `lastColumn`. A cell with a comment is a property column when the
// comment is one of the markers, else ignored; without a comment (or with the
// header-row marker), a non-empty text names an attribute, or the block-name column
// when it is the block-name title. A cell with an empty text and no marker is no
// column: a spacer or notes column does not end the header.
SheetHeader readSheetHeader(IDispatch* worksheet, IDispatch* cells, std::int32_t headerRow, std::int32_t startColumn,
                            std::int32_t lastColumn, const ImportMarkers& markers);

// The values of a worksheet's cells as import reads them: a block of rows at a
// time, one Value call for the columns a header spans over up to kRowsPerBlock
// rows (fewer for a wide header, so that a block stays a few megabytes), as each
// call is a round trip to another process for a real application. An application
// that gives no array for a block is asked cell by cell from then on. Merged cells
// are asked once a block: a sheet without merges costs one call more a block. The
// sheet must not change while it is read.
class SheetValues {
public:
    static constexpr std::int32_t kRowsPerBlock = 1024;
    static constexpr std::int64_t kCellsPerBlock = 1 << 18;

    // Rows past `lastRow` are never asked for in a block.
    SheetValues(IDispatch* worksheet, IDispatch* cells, std::int32_t lastRow);
    // The value of cell (r, c); `header` names the columns read with it.
    platform::Variant value(std::int32_t r, std::int32_t c, const SheetHeader& header);
    // What cell (r, c) shows.
    std::u16string shownText(std::int32_t r, std::int32_t c);
    // The merged range that covers cell (r, c) without starting there ("C5:D5"), so
    // that the cell shows nothing of its own; none for every other cell. Only for a
    // cell whose value() was read last.
    std::optional<std::string> coveringMerge(std::int32_t r, std::int32_t c);

private:
    IDispatch* worksheet_;
    IDispatch* cells_;
    std::int32_t lastRow_;
    bool isCellByCell_ = false;
    std::int32_t top_ = 0, bottom_ = -1, left_ = 0, right_ = -1;
    std::optional<CellValues> block_;
    // Merges in the block read last: unknown until asked, then whether any cell of
    // it lies in a merged range.
    std::optional<bool> blockHasMerges_;
};

// Fills `row` (cleared first, handle set by the caller) from sheet row `r` under
// `header`. A cell that cannot give what its column needs (an error value or a
// formula without a result anywhere, a word or an empty cell under a number column)
// gives nothing and is noted in row.problems, as is a cell a merged range covers.
// An attribute cell holding a date, a time or a yes/no value gives the text it
// shows, not the number behind it.
void readRowCells(SheetValues& values, std::int32_t r, const SheetHeader& header, ImportRow& row);

// Reads the cell of a column that is no attribute's into `row`, as import reads
// it: a coordinate or scale factor as a distance, the rotation as an angle (numbers
// as they are, a text in the drawing's units), the layer, layout and block name as
// texts. A cell that cannot give what its column needs gives nothing and is noted
// in row.problems. Import reads a row's cells through it and the live link one
// edited cell, so both take a cell the same way.
void readPropertyCell(platform::Variant value, const ImportColumn& column, ImportRow& row);

// Where a sheet's rows keep their handles: column 1, unless the comments of its
// first rows say export's header and handles stand further right (the user inserted
// columns before them).
std::int32_t findHandleColumn(IDispatch* cells, std::int32_t lastRow, std::int32_t lastColumn,
                              const ImportMarkers& markers);

// Follows a sheet's rows from row 1 down and knows which header row heads the row
// last fed. A header row is one export marked (the marker in its first cell); in a
// sheet where no marked row has come yet (a workbook from before the marker), a
// bold row that follows data rows is taken for one, and row 1 when no row before
// the first data row is bold.
class HeaderTracker {
public:
    enum class RowKind : std::uint8_t {
        Data,    // the first cell's comment holds a handle
        Header,  // a header row, now in force
        Prompt,  // the bold row export writes under a header, with the prompts
        Other,   // anything else: a title, a blank, a subtotal, a row typed without a handle
    };

    // `worksheet` and `cells` (its Cells) must outlive the tracker; rows and
    // columns past `lastRow` and `lastColumn` (its used range) hold nothing.
    HeaderTracker(IDispatch* worksheet, IDispatch* cells, std::int32_t startColumn, const ImportMarkers& markers,
                  std::int32_t lastRow, std::int32_t lastColumn);
    // Feeds the next row (rows come in order, from 1). The handle when the row is a
    // data row, else no value.
    std::optional<std::u16string> feed(std::int32_t r);
    RowKind kind() const { return kind_; }
    // The header of the row last fed; none when no header row stands above it.
    const std::optional<SheetHeader>& header() const { return header_; }
    // Goes up by one each time header() is replaced by another header row's.
    std::uint32_t headerGeneration() const { return headerGeneration_; }
    // The header in force was only taken for one (a bold or first row) and a marked
    // header row has just replaced it: what was judged under it is void.
    bool replacedAGuess() const { return replacedAGuess_; }
    std::int32_t handleColumn() const { return handleColumn_; }

private:
    void take(std::int32_t r, bool isMarked);

    IDispatch* worksheet_;
    IDispatch* cells_;
    std::int32_t startColumn_;
    std::int32_t lastColumn_;
    const ImportMarkers& markers_;
    std::int32_t handleColumn_ = 1;
    std::optional<SheetHeader> header_;
    bool isMarkedSheet_ = false;
    bool sawData_ = false;
    bool inRun_ = false;
    bool runHasHeader_ = false;
    bool lastWasHeader_ = false;
    bool replacedAGuess_ = false;
    RowKind kind_ = RowKind::Other;
    std::uint32_t headerGeneration_ = 0;
};

// What reading a sheet met.
struct SheetTally {
    long rows = 0;  // rows with a handle, handed on
    long rowsWithoutHandle = 0;
    long rowsWithoutHeader = 0;
    long rowsNotImported = 0;  // rows holding values that were not handed on, each named
};

// Reads one worksheet from `startRow` (at least 1) to its last used row, handing
// each row with a handle to `apply` as soon as it is read. Each data row is read
// against the header row above it. What holds values and is not handed on is
// named, with why: a data row above `startRow` or under no header, a row under a
// header that holds values but no handle (a subtotal, a row typed in, rows whose
// handles went with a deleted column). Rows without a handle are skipped however
// many there are: a sheet is read to its end, so no data row after a gap is left
// behind unread.
SheetTally readSheetRows(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                         const ImportMarkers& markers, const std::function<void(const ImportRow&)>& apply,
                         ImportReport* report = nullptr);
// The same, handing on with each row the header it was read under.
SheetTally readSheetRowsWithHeaders(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                                    const ImportMarkers& markers,
                                    const std::function<void(const ImportRow&, const SheetHeader&)>& apply,
                                    ImportReport* report = nullptr);

}  // namespace tabro
