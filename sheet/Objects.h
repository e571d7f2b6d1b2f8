// The automation objects of the application model, each answering IDispatch::Invoke
// by dispatch id. Created per request and cheap: a range is two shared pointers and
// four numbers. Any thread may call them; the application lock serialises calls.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"
#include "sheet/CellRef.h"

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

platform::ComPtr<IDispatch> makeWorkbooksObject(const std::shared_ptr<AppState>& app);
platform::ComPtr<IDispatch> makeWorkbookObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Book>& book);
platform::ComPtr<IDispatch> makeWorksheetsObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Book>& book);
platform::ComPtr<IDispatch> makeWorksheetObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet);
platform::ComPtr<IDispatch> makeRangeObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet, Area area);

// The sheet and area of a range object made here (for Range(cell1, cell2) with
// range arguments); false for any other object.
bool rangeOf(IDispatch* object, std::shared_ptr<Sheet>& sheet, Area& area);
// The book of a workbook or sheet object made here, or null.
std::shared_ptr<Sheet> sheetOf(IDispatch* object);

// Makes book the active workbook, adding it to the application if it is new.
// Lock held.
void activateBook(AppState& app, const std::shared_ptr<Book>& book);
// Adds a new workbook named "BookN" with one sheet and makes it active; its file is
// reserved as BookN.xlsx in the current folder. Lock held.
std::shared_ptr<Book> addNewBook(AppState& app);

// Reloads workbooks whose file another program changed and fires SheetChange for
// their changed cells. Takes the lock itself; call without it.
void refreshFromDisk(const std::shared_ptr<AppState>& app);

}  // namespace sheet
