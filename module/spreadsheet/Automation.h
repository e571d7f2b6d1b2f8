// The spreadsheet application's members that the module calls, by dispatch id. Thin
// and late-bound: each helper is one invoke. Every object comes back in a
// ComPtr<IDispatch>, null where the application answers "none" (no active workbook,
// a cell without a comment). A failed call, or a call on a null object (E_POINTER),
// throws _com_error.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Variant.h"

#include <initializer_list>
#include <optional>
#include <string>

namespace tabro {

using DispatchPtr = platform::ComPtr<IDispatch>;

// Short names (name, count, item, value...) stay out of the module's namespace.
namespace xl {

// What a worksheet and a workbook can hold. A row or text beyond them is refused by
// the application, so an export finds it out before it writes, and says why.
constexpr LONG kLastRow = 1048576;
constexpr LONG kLastColumn = 16384;          // "XFD"
constexpr LONG kMostCellCharacters = 32767;  // UTF-16 units, as the application counts
// The sheets an export counts on a workbook taking: the stand-in refuses more (a
// file of more would not open again); Calc takes 10,000, the program the module was
// written for as many as its memory allows.
constexpr LONG kMostWorksheets = 4096;

// Worksheet.Visible: a tab the user sees, hidden (the user can show it again from
// the application's menus), very hidden (only automation shows it again).
constexpr LONG kSheetVisible = -1, kSheetHidden = 0, kSheetVeryHidden = 2;

// The workbook object's own dual interface, which a worksheet's Parent answers.
constexpr IID kWorkbookInterfaceIid{0x000208DA, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace dispid {
// Application
constexpr DISPID ActiveWorkbook = 0x134;
constexpr DISPID Workbooks = 0x23C;
constexpr DISPID ActiveSheet = 0x133;  // also of a workbook
constexpr DISPID Visible = 0x22E;      // also of a worksheet
constexpr DISPID Interactive = 0x169;
// Workbooks, Worksheets
constexpr DISPID Add = 0xB5;
constexpr DISPID Count = 0x76;
constexpr DISPID Item = 0xAA;  // also Range.Item (row, column)
// Workbook, Worksheet
constexpr DISPID Worksheets = 0x1EE;
constexpr DISPID Name = 0x6E;
constexpr DISPID Activate = 0x130;
constexpr DISPID ReadOnly = 0x128;
constexpr DISPID FullName = 0x121;
constexpr DISPID Cells = 0xEE;
constexpr DISPID Columns = 0xF1;
constexpr DISPID Range = 0xC5;
constexpr DISPID UsedRange = 0x19C;
constexpr DISPID Rows = 0x102;  // also of a range
// Range
constexpr DISPID Value = 6;
constexpr DISPID Text = 0x8A;  // also Comment.Text (a method)
constexpr DISPID Comment = 0x38E;
constexpr DISPID AddComment = 0x56D;
constexpr DISPID EntireRow = 0xF7;
constexpr DISPID Font = 0x92;
constexpr DISPID NumberFormat = 0xC1;
constexpr DISPID AutoFit = 0xED;
constexpr DISPID Row = 0x101;
constexpr DISPID Column = 0xF0;
constexpr DISPID Worksheet = 0x15C;
constexpr DISPID Parent = 0x96;
constexpr DISPID MergeCells = 0xD0;
constexpr DISPID MergeArea = 0x569;
constexpr DISPID WrapText = 0x114;
// Comment
constexpr DISPID Delete = 0x75;
// Font
constexpr DISPID Bold = 0x60;
}  // namespace dispid

// The generic calls.
platform::Variant getProperty(IDispatch* object, DISPID id, std::initializer_list<platform::Variant> args = {});
void putProperty(IDispatch* object, DISPID id, const platform::Variant& value);
platform::Variant callMethod(IDispatch* object, DISPID id, std::initializer_list<platform::Variant> args = {});

// The object a variant holds: null for an empty, null or null-object variant; an
// IUnknown is asked for IDispatch. Any other value throws DISP_E_TYPEMISMATCH.
DispatchPtr toDispatch(const platform::Variant& value);
// A property that yields an object.
DispatchPtr getObject(IDispatch* object, DISPID id, std::initializer_list<platform::Variant> args = {});

// Application
DispatchPtr activeWorkbook(IDispatch* app);
DispatchPtr workbooks(IDispatch* app);
DispatchPtr activeSheet(IDispatch* appOrWorkbook);
void setVisible(IDispatch* app, bool visible);
void setInteractive(IDispatch* app, bool interactive);

// Workbooks.Add with its template argument missing.
DispatchPtr addWorkbook(IDispatch* workbooksCollection);
DispatchPtr worksheets(IDispatch* workbook);
// Worksheets.Add with all four arguments missing.
DispatchPtr addWorksheet(IDispatch* worksheetsCollection);
LONG count(IDispatch* collection);
// Item of Workbooks or Worksheets, counting from 1.
DispatchPtr item(IDispatch* collection, LONG index);

// Name and Activate of a workbook or sheet.
std::u16string name(IDispatch* object);
// Workbook.FullName: the file's path, or the name alone for a workbook never saved.
std::u16string fullName(IDispatch* workbook);
void setName(IDispatch* object, const std::u16string& name);
void activate(IDispatch* object);
// Workbook.ReadOnly; false for an application that does not answer it.
bool isReadOnly(IDispatch* workbook);

// Worksheet
DispatchPtr cells(IDispatch* worksheet);
DispatchPtr columns(IDispatch* worksheet);
DispatchPtr range(IDispatch* worksheet, const std::u16string& corner,
                  const std::optional<std::u16string>& otherCorner = std::nullopt);
// Range(corner, corner) spanning rows top..bottom and columns left..right, counting
// from 1, addressed in A1 style.
DispatchPtr area(IDispatch* worksheet, LONG top, LONG left, LONG bottom, LONG right);
// "A1" style address of a cell; column from 1 (past "XFD" the application refuses it).
std::u16string cellAddress(LONG row, LONG column);
DispatchPtr usedRange(IDispatch* worksheet);
// Worksheet.Visible: kSheetVisible, kSheetHidden or kSheetVeryHidden. Hiding the last
// visible sheet of a workbook is refused by the application (it throws), and hiding
// the active sheet makes another one active.
LONG sheetVisibility(IDispatch* worksheet);
void setSheetVisibility(IDispatch* worksheet, LONG visibility);
DispatchPtr rows(IDispatch* worksheetOrRange);
// The last row of the worksheet's used range (UsedRange.Row + UsedRange.Rows.Count - 1).
LONG lastUsedRow(IDispatch* worksheet);
// The last column of the worksheet's used range.
LONG lastUsedColumn(IDispatch* worksheet);

// How cell coordinates travel. Export writes with 16-bit numbers; a row past 32767
// would wrap into a negative row there, so such a number goes as a 32-bit one.
enum class CellIndex { Short, Long };
// Range.Item(row, column) of the Cells range: the one-cell range, counting from 1.
DispatchPtr cell(IDispatch* cellsRange, LONG row, LONG column, CellIndex index = CellIndex::Long);

// Range
platform::Variant value(IDispatch* range);
void setValue(IDispatch* range, const platform::Variant& value);
// The displayed text, as the application gives it (normally VT_BSTR).
platform::Variant text(IDispatch* range);
DispatchPtr comment(IDispatch* range);  // null when the cell has none
DispatchPtr addComment(IDispatch* range, const std::u16string& text);
DispatchPtr entireRow(IDispatch* range);
DispatchPtr font(IDispatch* range);
void setNumberFormat(IDispatch* range, const std::u16string& format);
void autoFit(IDispatch* range);
LONG row(IDispatch* range);
LONG column(IDispatch* range);
DispatchPtr worksheet(IDispatch* range);
DispatchPtr parent(IDispatch* object);
// Range.MergeCells: whether the range's cells lie in merged areas, none, all or
// some of them (the application answers true, false or null).
enum class MergeState { None, All, Some };
MergeState mergeState(IDispatch* range);
// Range.MergeArea: the merged area holding the cell, or the cell itself when it is
// not merged.
DispatchPtr mergeArea(IDispatch* cell);

// Range.WrapText: whether texts show their lines, set on every cell of the range.
// Read on one cell; a range whose cells differ may answer null, read as false.
void setWrapText(IDispatch* range, bool wrap);
bool isWrapText(IDispatch* range);

// Font
void setBold(IDispatch* font, bool bold);
bool isBold(IDispatch* font);

// Comment.Text: with every argument missing it reads the text; with the first one
// it sets it (start and overwrite missing).
std::u16string commentText(IDispatch* comment);
void setCommentText(IDispatch* comment, const std::u16string& text);
void deleteComment(IDispatch* comment);

}  // namespace xl
}  // namespace tabro
