// The dispatch ids the application's objects answer, with the application's own
// values (callers bind to these numbers, not to names), the classes of its object
// model and the class it is registered as.
#pragma once

#include "platform/Guid.h"
#include "platform/WinTypes.h"

namespace automation {

// The application class, as callers create it by name or by class id.
constexpr CLSID kApplicationClsid{0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr char16_t kApplicationProgId[] = u"Excel.Application";

// The automation classes; a fault or a logged call names the class it is about.
enum class ObjectClass { Application, Workbooks, Workbook, Worksheets, Worksheet, Range, Font, Comment };

// The application events dispatch interface (its SheetChange member is below).
constexpr IID kAppEventsIid{0x00024413, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The workbook object's dual interface.
constexpr IID kWorkbookInterfaceIid{0x000208DA, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace dispid {

// Answered by most classes.
constexpr DISPID Application = 0x94;
constexpr DISPID Parent = 0x96;
constexpr DISPID Name = 0x6E;       // application, workbook, worksheet
constexpr DISPID Activate = 0x130;  // workbook, worksheet
// Workbooks, Worksheets
constexpr DISPID Count = 0x76;  // also of a range
constexpr DISPID Item = 0xAA;   // also of a range: Item(row, column) or Item(index)
constexpr DISPID Add = 0xB5;
// Application
constexpr DISPID ActiveWorkbook = 0x134;
constexpr DISPID Workbooks = 0x23C;
constexpr DISPID ActiveSheet = 0x133;  // also of a workbook
constexpr DISPID Worksheets = 0x1EE;   // also of a workbook
constexpr DISPID Visible = 0x22E;      // also of a worksheet
constexpr DISPID Interactive = 0x169;
constexpr DISPID UserName = 0x187;
// Workbook
constexpr DISPID Sheets = 0x1E5;
constexpr DISPID FullName = 0x121;
constexpr DISPID ReadOnly = 0x128;
constexpr DISPID Save = 0x11B;
// Worksheet
constexpr DISPID Index = 0x1E6;
constexpr DISPID Cells = 0xEE;    // also of a range
constexpr DISPID Columns = 0xF1;  // also of a range
constexpr DISPID Rows = 0x102;    // also of a range
constexpr DISPID Range = 0xC5;
constexpr DISPID UsedRange = 0x19C;
// Range
constexpr DISPID Value = 6;
constexpr DISPID Text = 0x8A;  // also Comment.Text, a method there
constexpr DISPID Comment = 0x38E;
constexpr DISPID AddComment = 0x56D;
constexpr DISPID ClearComments = 0x56E;
constexpr DISPID EntireRow = 0xF7;
constexpr DISPID EntireColumn = 0xF6;
constexpr DISPID Font = 0x92;
constexpr DISPID NumberFormat = 0xC1;
constexpr DISPID AutoFit = 0xED;
constexpr DISPID Row = 0x101;
constexpr DISPID Column = 0xF0;
constexpr DISPID Address = 0xEC;
constexpr DISPID Worksheet = 0x15C;
constexpr DISPID MergeCells = 0xD0;
constexpr DISPID MergeArea = 0x569;
constexpr DISPID WrapText = 0x114;
// Font
constexpr DISPID Bold = 0x60;
// Comment
constexpr DISPID Author = 0x23E;
constexpr DISPID Delete = 0x75;
// The application events interface
constexpr DISPID SheetChange = 0x61C;

}  // namespace dispid
}  // namespace automation
