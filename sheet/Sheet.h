// One worksheet's content: cells kept row by row in column order (16 bytes a cell),
// only the rows that hold cells; comments, row and column formats, and what AutoFit
// needs to size a column without looking at its cells again. Not thread-safe: the
// application's lock guards it.
#pragma once

#include "automation/Backend.h"
#include "sheet/Automation.h"
#include "sheet/MergedAreas.h"
#include "sheet/SheetVisibility.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sheet {

class Book;
struct SheetCarry;

enum class CellKind : std::uint8_t { Empty, Number, Text, Boolean, Error };

struct Cell {
    union {
        double number;       // Number, Boolean (0 or 1)
        std::uint32_t text;  // Text: index into the workbook's StringPool
        std::int32_t error;  // Error: the application's error number (2007 = #DIV/0!)
    };
    std::uint32_t style = 0;
    std::uint16_t column = 0;  // from 1
    CellKind kind = CellKind::Empty;
    std::uint8_t flags = 0;
    static constexpr std::uint8_t kHasFormula = 1;
    Cell() : number(0) {}
};
static_assert(sizeof(Cell) == 16);

// A formula as read, kept with the cell's cached value; written back unchanged while
// the cell is not assigned.
struct Formula {
    std::string text;                                             // UTF-8, unescaped
    std::vector<std::pair<std::string, std::string>> attributes;  // t, ref, si, ...
    // A formula other cells depend on (a shared formula's master, an array formula):
    // replacing it would corrupt those cells, so assignments to it are refused.
    bool isAnchor() const;
};

struct Comment {
    std::u16string text;
    std::u16string author;
};

struct LineFormat {
    std::uint32_t style = 0;
    bool hasStyle = false;
    double width = -1;  // columns only; < 0 = default width
    bool isCustomWidth = false;
    std::string extraAttributes;  // as read (height, hidden, outline level, ...)
};

class Sheet : public automation::SheetHandle {
public:
    explicit Sheet(Book& book, std::u16string name) : book_(&book), name_(std::move(name)) {}
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;
    ~Sheet() override;

    Book& book() const noexcept { return *book_; }
    const std::u16string& name() const noexcept { return name_; }
    void setName(std::u16string name) { name_ = std::move(name); }
    // Whether the sheet shows as a tab. The workbook's rules (one sheet stays visible,
    // the active sheet is a visible one) are kept by whoever changes it.
    Visibility visibility() const noexcept { return visibility_; }
    bool isVisible() const noexcept { return visibility_ == Visibility::Visible; }
    void setVisibility(Visibility visibility) noexcept { visibility_ = visibility; }

    // Null when the cell holds nothing (no value, no format of its own).
    const Cell* find(std::int32_t row, std::int32_t column) const;
    // The format that applies to a cell: its own, else its row's, else its column's.
    std::uint32_t styleAt(std::int32_t row, std::int32_t column) const;

    // Assignments through automation (they mark the sheet changed and drop a formula).
    void setNumber(std::int32_t row, std::int32_t column, double value) {
        RowCursor(*this, row).setNumber(column, value);
    }
    void setText(std::int32_t row, std::int32_t column, std::u16string_view text) {
        RowCursor(*this, row).setText(column, text);
    }
    void setBoolean(std::int32_t row, std::int32_t column, bool value) {
        RowCursor(*this, row).setBoolean(column, value);
    }
    void setError(std::int32_t row, std::int32_t column, std::int32_t errorNumber) {
        RowCursor(*this, row).setError(column, errorNumber);
    }
    void clearValue(std::int32_t row, std::int32_t column) { RowCursor(*this, row).clearValue(column); }

    // The cells of one row, visited left to right: each is found from the one before
    // rather than by a search, and the row's format is looked up once. Assigning a
    // block goes row by row through one of these. Columns are asked in ascending
    // order; nothing else may change the sheet's cells while one is in use.
    class RowCursor {
    public:
        RowCursor(Sheet& sheet, std::int32_t row);
        // The format that applies to the cell at column.
        std::uint32_t styleAt(std::int32_t column);
        void setNumber(std::int32_t column, double value);
        void setText(std::int32_t column, std::u16string_view text);
        void setBoolean(std::int32_t column, bool value);
        void setError(std::int32_t column, std::int32_t errorNumber);
        void clearValue(std::int32_t column);
        void setStyle(std::int32_t column, std::uint32_t style);
        // The cell at column, created with the format that applies there when missing.
        Cell& cell(std::int32_t column);

    private:
        // The cell at column, or null. The cell the cursor stands at and the next one
        // are looked at here, in the caller: a block asks for them all the time.
        Cell* find(std::int32_t column) {
            if (isPresent_) {
                Row& r = sheet_.rows_[slot_].cells;
                if (at_ < r.size() && r[at_].column == column) return &r[at_];
                if (at_ + 1 < r.size() && r[at_ + 1].column == column) return &r[++at_];
            }
            return search(column);
        }
        Cell* search(std::int32_t column);
        Cell& assigned(std::int32_t column);

        Sheet& sheet_;
        std::int32_t row_;
        std::size_t slot_;    // in rows_: where the row is or would go
        bool isPresent_;      // rows_[slot_] is the row
        std::size_t at_ = 0;  // cells before it have smaller columns than the last asked
        std::uint32_t rowStyle_ = 0;
        bool hasRowStyle_ = false;
    };
    void setStyle(std::int32_t row, std::int32_t column, std::uint32_t style);
    const Formula* formula(std::int32_t row, std::int32_t column) const;
    bool hasFormulas() const noexcept { return !formulas_.empty(); }

    // The displayed text of a cell (empty for none): a number in a date or time
    // format shows as that date or time.
    std::u16string displayText(const Cell& cell) const;
    std::u16string displayText(std::int32_t row, std::int32_t column) const;

    // The merged areas the sheet's file lists.
    const MergedAreas& mergedAreas() const noexcept { return merged_; }
    MergedAreas& mergedAreasForLoad() noexcept { return merged_; }

    const Comment* comment(std::int32_t row, std::int32_t column) const;
    void setComment(std::int32_t row, std::int32_t column, Comment comment);
    void removeComment(std::int32_t row, std::int32_t column);
    const std::unordered_map<std::uint64_t, Comment>& comments() const noexcept { return comments_; }
    // The comments in cell order: by row, then by column.
    std::vector<std::pair<std::uint64_t, const Comment*>> sortedComments() const;
    static std::uint64_t key(std::int32_t row, std::int32_t column) {
        return (static_cast<std::uint64_t>(row) << 16) | static_cast<std::uint32_t>(column);
    }

    // Row and column formats; a format set on a whole row or column also goes to the
    // cells that already exist there.
    const LineFormat* rowFormat(std::int32_t row) const;
    const LineFormat* columnFormat(std::int32_t column) const;
    // Passes the format of each cell of the rectangle through change. Whole rows
    // (or columns) change the row's (column's) own format and the cells that exist
    // there; other rectangles change each of their cells, creating them.
    void restyle(std::int32_t top, std::int32_t left, std::int32_t bottom, std::int32_t right, bool isWholeRows,
                 bool isWholeColumns, const std::function<std::uint32_t(std::uint32_t)>& change);
    // Fits the widths of columns first..last to their widest displayed text; costs
    // one step per column that ever held text, whatever the number of rows (the
    // first fit after a load counts the loaded cells once).
    void autoFit(std::int32_t firstColumn, std::int32_t lastColumn);
    const std::vector<LineFormat>& columnFormats() const noexcept { return columns_; }
    const std::unordered_map<std::int32_t, LineFormat>& rowFormats() const noexcept { return rowFormats_; }

    // Cells for the writer and the reload comparison: every row that holds cells, in
    // row order. Memory follows the rows present, not the highest row number, so a
    // file whose only cell is in the last row costs one row. A cell added above the
    // last row moves the rows after it: writing a sheet bottom-up costs a pass over
    // the rows below per row, filling it top-down (as the module and files do) none.
    using Row = std::vector<Cell>;  // sorted by column
    struct RowCells {
        std::int32_t row = 0;  // from 1
        Row cells;
    };
    const std::vector<RowCells>& rows() const noexcept { return rows_; }
    // The cells of a row; null when it holds none.
    const Row* findRow(std::int32_t row) const;
    std::int32_t maxRow() const;
    std::int32_t maxColumn() const;
    // The smallest rectangle holding every cell with a value or format of its own and
    // every comment; A1 alone for an empty sheet.
    void usedArea(std::int32_t& top, std::int32_t& left, std::int32_t& bottom, std::int32_t& right) const;

    // Loading: cells arrive in file order; no change mark, no width bookkeeping
    // until finishLoad. A cell new at the end of the sheet starts with format 0 (the
    // reader gives it its own).
    Cell& cellForLoad(std::int32_t row, std::int32_t column);
    void setFormulaForLoad(std::int32_t row, std::int32_t column, Formula formula);
    void setCommentForLoad(std::int32_t row, std::int32_t column, Comment comment);
    LineFormat& rowFormatForLoad(std::int32_t row) { return rowFormats_[row]; }
    LineFormat& columnFormatForLoad(std::int32_t column);
    void finishLoad();
    // About how many bytes the content takes in memory, for bounding what a file may
    // make the reader allocate.
    std::uint64_t footprintBytes() const;

    // Marks the added texts (index >= firstAdded) its cells use, and renumbers them
    // after the table was compacted.
    void markUsedTexts(std::uint32_t firstAdded, std::vector<bool>& used) const;
    void renumberTexts(std::uint32_t firstAdded, const std::vector<std::uint32_t>& indexOf);

    // Exchanges everything but the workbook and the name with other (a reloaded copy
    // of this sheet, whose visibility may have changed too), so references to this
    // sheet stay valid.
    void swapContent(Sheet& other);

    bool isChanged() const noexcept { return cellsChanged_ || commentsChanged_; }
    bool areCommentsChanged() const noexcept { return commentsChanged_; }
    void markSaved() { cellsChanged_ = commentsChanged_ = false; }
    void markChanged() { cellsChanged_ = true; }

    // The file's XML that this sheet carries through (null for a new sheet).
    std::shared_ptr<SheetCarry> carry;

private:
    Cell& cellAt(std::int32_t row, std::int32_t column);
    // The index in rows_ where the row is or would go.
    std::size_t rowSlot(std::int32_t row) const;
    // The format of a column, for its cells that have none of their own or of their row.
    std::uint32_t columnStyle(std::int32_t column) const {
        return column >= 1 && static_cast<std::size_t>(column) <= columns_.size() && columns_[column - 1].hasStyle
                   ? columns_[column - 1].style
                   : 0;
    }
    void beforeAssign(std::int32_t row, std::int32_t column, Cell& cell);
    // The displayed width in characters (capped) that a cell counts for its column.
    std::uint32_t widthOf(const Cell& cell) const;
    void countWidth(std::int32_t column, const Cell& cell, int delta);
    void countWidth(std::int32_t column, std::uint32_t width, int delta);
    void countLoadedWidths();
    // Gives a cell another format, recounting its width where the format changes
    // how its number shows (a date format does).
    void restyleCell(std::int32_t column, Cell& cell, std::uint32_t style);

    Book* book_;
    std::u16string name_;
    Visibility visibility_ = Visibility::Visible;
    std::vector<RowCells> rows_;  // ascending row numbers
    std::unordered_map<std::uint64_t, Formula> formulas_;
    std::unordered_map<std::uint64_t, Comment> comments_;
    std::unordered_map<std::int32_t, LineFormat> rowFormats_;
    std::vector<LineFormat> columns_;  // index column - 1
    MergedAreas merged_;

    // Per column, how many cells show a text of each width (in characters, capped):
    // the widest is known at once and stays right when a wide cell is overwritten.
    struct WidthCount {
        std::vector<std::uint32_t> counts;
        std::uint32_t widest = 0;
    };
    std::vector<WidthCount> widths_;
    bool areWidthsPending_ = false;  // loaded cells not counted into widths_ yet
    bool cellsChanged_ = false;
    bool commentsChanged_ = false;
};

}  // namespace sheet
