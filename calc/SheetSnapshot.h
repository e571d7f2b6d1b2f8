// The values of a block of a sheet's cells as the backend last saw them, and the
// cells whose value differs between two such blocks. The office tells only some of
// its users' edits cell by cell (typing, pasting, clearing); others (filling,
// replacing all, cutting, sorting) it tells only as "the document was modified",
// and those are found by comparing what the sheet holds now with what it held.
// Nothing here talks to the office: the values come as plain numbers and texts.
#pragma once

#include "automation/Backend.h"
#include "automation/CellRef.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace calc {

// A rectangle of a sheet's cells and their values: a number, a text, empty, or no
// value at all (a formula whose result is an error, which the office's data arrays
// give as nothing). Cells outside the rectangle are empty. Kept compact: one small
// record per cell and every text in one buffer, so that a sheet of a hundred
// thousand cells costs a few megabytes.
class SheetValues {
public:
    enum class Kind : std::uint8_t { Empty, Number, Text, Error };

    // No cells.
    SheetValues() = default;
    // The cells of rows × columns whose top left cell is (top, left), counted from 1;
    // all empty until set.
    SheetValues(std::int32_t top, std::int32_t left, std::int32_t rows, std::int32_t columns);

    bool isEmpty() const noexcept { return rows_ <= 0 || columns_ <= 0; }
    std::int32_t top() const noexcept { return top_; }
    std::int32_t left() const noexcept { return left_; }
    std::int32_t rows() const noexcept { return rows_; }
    std::int32_t columns() const noexcept { return columns_; }
    std::int32_t bottom() const noexcept { return top_ + rows_ - 1; }
    std::int32_t right() const noexcept { return left_ + columns_ - 1; }
    // The rectangle; meaningless for no cells.
    automation::Area area() const noexcept { return {top_, left_, bottom(), right()}; }
    bool contains(std::int32_t row, std::int32_t column) const noexcept {
        return row >= top_ && row <= bottom() && column >= left_ && column <= right();
    }

    // Sets a cell of the rectangle (positions counted from 1 on the sheet).
    void setNumber(std::int32_t row, std::int32_t column, double number);
    void setText(std::int32_t row, std::int32_t column, std::u16string_view text);
    void setError(std::int32_t row, std::int32_t column);
    void setEmpty(std::int32_t row, std::int32_t column);

    Kind kindAt(std::int32_t row, std::int32_t column) const noexcept;
    double numberAt(std::int32_t row, std::int32_t column) const noexcept;
    std::u16string_view textAt(std::int32_t row, std::int32_t column) const noexcept;
    // Whether the cell holds the same value here as in the other.
    bool isSameAt(const SheetValues& other, std::int32_t row, std::int32_t column) const noexcept;

    // Takes in the cells of a fresher block of the same sheet: they replace these,
    // and the rectangle grows to the smallest one holding both.
    void update(const SheetValues& fresher);

    // Whole rows or columns inserted before row (column) `at`, or removed from `at`
    // on, as the sheet's own cells move: what lay below (right of) them moves with
    // them, so that a moved cell keeps its value.
    void insertRows(std::int32_t at, std::int32_t count);
    void removeRows(std::int32_t at, std::int32_t count);
    void insertColumns(std::int32_t at, std::int32_t count);
    void removeColumns(std::int32_t at, std::int32_t count);

    // What the values take in memory, roughly.
    std::size_t bytes() const noexcept;

private:
    struct Cell {
        Kind kind = Kind::Empty;
        std::uint32_t length = 0;  // of a text
        union {
            double number = 0;
            std::uint64_t offset;  // of a text in texts_
        };
    };

    const Cell* cellAt(std::int32_t row, std::int32_t column) const noexcept;
    Cell& own(std::int32_t row, std::int32_t column);
    // Copies the cell (and its text) from another block.
    void copyCell(std::int32_t row, std::int32_t column, const SheetValues& from, std::int32_t fromRow,
                  std::int32_t fromColumn);
    void forgetText(Cell& cell) noexcept;
    // The block of the given rectangle holding the cells of this one where the maps
    // put them: each takes a row (column) here and gives its place there, or 0 for
    // one that is gone.
    template <class RowMap, class ColumnMap>
    SheetValues remapped(std::int32_t top, std::int32_t left, std::int32_t rows, std::int32_t columns, RowMap rowMap,
                         ColumnMap columnMap) const;

    std::int32_t top_ = 1, left_ = 1, rows_ = 0, columns_ = 0;
    std::vector<Cell> cells_;  // rows first
    std::u16string texts_;
    std::size_t unusedText_ = 0;  // characters of texts_ no cell refers to any more
};

// The cells whose value differs between two states of a sheet, rows first.
std::vector<automation::CellRef> changedCells(const SheetValues& before, const SheetValues& after);

}  // namespace calc
