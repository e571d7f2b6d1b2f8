// The Range object: a rectangle of one sheet, through which cells are written and
// read, formatted and commented.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"
#include "sheet/CellRef.h"

#include <cstdint>
#include <memory>

namespace sheet {

// A rectangle of a sheet; whole rows or columns are flagged so that formats set on
// them go to the row or column rather than to each of their cells.
struct Area {
    std::int32_t top = 1, left = 1, bottom = 1, right = 1;
    bool isWholeRows() const noexcept { return left == 1 && right == kMaxColumns; }
    bool isWholeColumns() const noexcept { return top == 1 && bottom == kMaxRows; }
    // Columns(...) and Cells answer Item by column / by cell.
    enum class Shape { Cells, Columns, Rows } shape = Shape::Cells;
};

platform::ComPtr<IDispatch> makeRangeObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet,
                                            Area area);

// The sheet and area of a range object made here (for Range(cell1, cell2) with
// range arguments); false for any other object.
bool rangeOf(IDispatch* object, std::shared_ptr<Sheet>& sheet, Area& area);

// Throws the application error for a format set cell by cell on more cells than
// one call may change; whole rows and columns are formatted as such and pass.
void checkFormatArea(const Area& area);

}  // namespace sheet
