// What the automation front asks of a spreadsheet that keeps the workbooks: their
// books and sheets, cells read and written a block at a time, number formats, bold,
// comments, column widths, merged areas, and the bytes of a workbook's file. The
// front answers every member, checks every argument and words every error; a
// backend only keeps the content, in its own way (in memory and .xlsx files, or in
// an office program it drives).
//
// Calls come through run(), which serialises them as the backend needs; every other
// member is called only inside run(), except refresh().
#pragma once

#include "automation/CellRef.h"
#include "automation/Visibility.h"
#include "platform/File.h"
#include "platform/Variant.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace automation {

// A workbook or a sheet as the backend keeps it. The front holds them for the
// objects it hands out and gives each backend only what that backend made.
class BookHandle {
public:
    virtual ~BookHandle() = default;
};
class SheetHandle {
public:
    virtual ~SheetHandle() = default;
};
using BookPtr = std::shared_ptr<BookHandle>;
using SheetPtr = std::shared_ptr<SheetHandle>;

// A rectangle of a sheet, counting from 1. Whole rows or columns are flagged so that
// formats set on them go to the row or column rather than to each of their cells.
struct Area {
    std::int32_t top = 1, left = 1, bottom = 1, right = 1;
    // Columns(...) and Rows(...) answer Item and Count by column / by row.
    enum class Shape { Cells, Columns, Rows } shape = Shape::Cells;

    bool isOneCell() const noexcept { return top == bottom && left == right; }
    bool isWholeRows() const noexcept { return left == 1 && right == kMaxColumns; }
    bool isWholeColumns() const noexcept { return top == 1 && bottom == kMaxRows; }
    std::int64_t rowCount() const noexcept { return static_cast<std::int64_t>(bottom) - top + 1; }
    std::int64_t columnCount() const noexcept { return static_cast<std::int64_t>(right) - left + 1; }
    std::int64_t cellCount() const noexcept { return rowCount() * columnCount(); }
};

// The values an assignment puts into a range, every one checked already: one value
// for every cell, or an array laid out from the range's top-left cell, the first
// dimension down the rows, the second across the columns (a one-dimensional array is
// a row, repeated on every row of the range).
struct ValueBlock {
    const platform::Variant* single = nullptr;  // every cell takes it
    std::int64_t rows = 0;                      // of the array; 0 for one dimension
    std::int64_t columns = 0;
    std::vector<const platform::Variant*> elements;  // rows first

    bool isArray() const noexcept { return single == nullptr; }
    // What goes into the cell i rows down and j columns across from the range's
    // top-left cell; null where the array does not reach.
    const platform::Variant* at(std::int64_t i, std::int64_t j) const {
        if (single) return single;
        if (rows == 0) i = 0;
        if ((rows != 0 && i >= rows) || j >= columns) return nullptr;
        return elements[static_cast<std::size_t>(i * columns + j)];
    }
};

// How much of a range merged areas cover.
enum class MergeCoverage { None, All, Some };

// A cell changed outside automation (another program, the user typing), which the
// front announces to the application's event subscribers.
struct CellChange {
    SheetPtr sheet;
    Area area;
};

class Backend {
public:
    virtual ~Backend() = default;

    // The application's Name, the source of its errors and the user it starts with.
    virtual std::u16string applicationName() const = 0;
    virtual std::u16string errorSource() const = 0;
    virtual std::u16string defaultUserName() const = 0;

    // ---- calls
    // Runs one member. The backend serialises calls as it must and turns its own
    // failures into DispatchFailure or std::exception. mayReconnect: the member
    // belongs to no one connection (the application, its workbooks), so a backend
    // whose connection was lost may make a new one and run the member again.
    virtual void run(bool mayReconnect, const std::function<void()>& member) = 0;
    // Takes in what other programs changed before a member looks workbooks up, and
    // returns the cells that changed. Called outside run().
    virtual std::vector<CellChange> refresh() { return {}; }
    // Throws the application's error when the workbook or sheet belongs to a
    // connection that is gone.
    virtual void checkLive(const BookHandle&) {}
    virtual void checkLive(const SheetHandle&) {}

    // ---- workbooks
    virtual std::vector<BookPtr> books() = 0;
    // Null when there is no workbook.
    virtual BookPtr activeBook() = 0;
    virtual void activateBook(const BookPtr& book) = 0;
    // A new workbook of one empty sheet, made active. The front names it and
    // reserves its file (nameBook) before anyone else sees it.
    virtual BookPtr newBook() = 0;
    virtual void nameBook(BookHandle& book, std::u16string name, std::string path) = 0;
    virtual std::u16string bookName(const BookHandle& book) = 0;
    // The .xlsx file the workbook is saved to; empty for none.
    virtual std::string bookPath(const BookHandle& book) = 0;
    // Why the workbook may not change (content a save would lose); empty when it may.
    virtual std::string readOnlyReason(const BookHandle& book) = 0;
    // The file of a workbook its spreadsheet holds read-only (a document opened
    // read-only), which no change may reach; empty when it may change.
    virtual std::string readOnlyFile(const BookHandle&) { return {}; }
    // The workbook as the bytes of its .xlsx file. Throws why it cannot be had.
    virtual std::string workbookBytes(BookHandle& book) = 0;
    // The version of the file the workbook was read from or last written as, when
    // the backend keeps it: a save then replaces only that version.
    virtual std::optional<platform::FileStamp> knownVersion(const BookHandle&) { return std::nullopt; }
    // The workbook is on disk as `written`.
    virtual void markSaved(BookHandle& book, const platform::FileStamp& written) = 0;

    // ---- sheets
    virtual std::size_t sheetCount(const BookHandle& book) = 0;
    virtual SheetPtr sheetAt(const BookHandle& book, std::size_t index) = 0;
    virtual SheetPtr activeSheet(const BookHandle& book) = 0;
    // The workbook the sheet is part of; null when it is no longer open.
    virtual BookPtr bookOf(const SheetHandle& sheet) = 0;
    virtual bool isSameSheet(const SheetHandle& a, const SheetHandle& b) = 0;
    // From 0; none when the sheet is no longer part of its workbook.
    virtual std::optional<std::size_t> sheetIndex(const SheetHandle& sheet) = 0;
    virtual std::u16string sheetName(const SheetHandle& sheet) = 0;
    virtual void renameSheet(SheetHandle& sheet, std::u16string name) = 0;
    virtual Visibility visibility(const SheetHandle& sheet) = 0;
    // Shows or hides the sheet under the rules spreadsheet programs keep (a workbook
    // keeps one visible sheet; hiding the active one activates a neighbour). Returns
    // why it was refused, empty when done.
    virtual std::string setVisibility(SheetHandle& sheet, Visibility visibility) = 0;
    // Makes the sheet its workbook's active sheet.
    virtual void activateSheet(const SheetPtr& sheet) = 0;
    // A new sheet at index `at` (from 0), named as the backend names new sheets.
    virtual SheetPtr addSheet(const BookPtr& book, std::size_t at) = 0;
    // The most sheets a workbook may have here.
    virtual std::size_t mostSheets() const { return SIZE_MAX; }
    // The area from the first to the last cell holding something; A1 alone for an
    // empty sheet.
    virtual Area usedArea(const SheetHandle& sheet) = 0;

    // ---- cells
    virtual platform::Variant readCell(SheetHandle& sheet, std::int32_t row, std::int32_t column) = 0;
    // Fills `array`, a two-dimensional array of the area's size counting from 1 in
    // both dimensions (its elements empty), with the values of the area's cells.
    virtual void readBlock(SheetHandle& sheet, const Area& area, platform::Variant& array) = 0;
    // Whether a value of this type can be put into a cell here (the types every
    // spreadsheet takes are checked by the front).
    virtual bool canStore(VARTYPE) const { return true; }
    // Puts the values into the area's cells: text into a cell not formatted as text
    // that reads as a number becomes that number, as typed text does.
    virtual void writeBlock(SheetHandle& sheet, const Area& area, const ValueBlock& values) = 0;
    virtual std::u16string displayText(SheetHandle& sheet, std::int32_t row, std::int32_t column) = 0;
    virtual std::u16string numberFormat(SheetHandle& sheet, std::int32_t row, std::int32_t column) = 0;
    virtual void setNumberFormat(SheetHandle& sheet, const Area& area, const std::u16string& code) = 0;
    virtual bool isBold(SheetHandle& sheet, std::int32_t row, std::int32_t column) = 0;
    virtual void setBold(SheetHandle& sheet, const Area& area, bool bold) = 0;
    // Whether the cell's text is wrapped into lines as wide as its column.
    virtual bool isWrapped(SheetHandle& sheet, std::int32_t row, std::int32_t column) = 0;
    virtual void setWrapped(SheetHandle& sheet, const Area& area, bool wrap) = 0;
    // Sizes the area's columns to their content.
    virtual void autoFitColumns(SheetHandle& sheet, const Area& area) = 0;
    virtual MergeCoverage mergeCoverage(SheetHandle& sheet, const Area& area) = 0;
    // The one merged area holding all of the area, if any.
    virtual std::optional<Area> mergeAreaContaining(SheetHandle& sheet, const Area& area) = 0;

    // ---- comments
    // Throws the application's error when the sheet's comments cannot change without
    // losing content its workbook's file holds.
    virtual void checkCommentsWritable(const SheetHandle&) {}
    // None when the cell has no comment.
    virtual std::optional<std::u16string> commentText(SheetHandle& sheet, std::int32_t row, std::int32_t column) = 0;
    virtual std::u16string commentAuthor(SheetHandle& sheet, std::int32_t row, std::int32_t column) = 0;
    // A comment for a cell that has none.
    virtual void addComment(SheetHandle& sheet, std::int32_t row, std::int32_t column, std::u16string text,
                            const std::u16string& author) = 0;
    virtual void setCommentText(SheetHandle& sheet, std::int32_t row, std::int32_t column, std::u16string text) = 0;
    // Removes every comment of the area's cells.
    virtual void clearComments(SheetHandle& sheet, const Area& area) = 0;
};

}  // namespace automation
