// TABRO Import and TABRO Import2.
#include "module/cmd/cmdimport.h"

#include "host/Editor.h"
#include "module/cmd/RowApplier.h"
#include "module/cmd/SheetReader.h"
#include "module/drawing/ReferenceEditing.h"
#include "module/drawing/TagText.h"
#include "module/link/ChangeQueue.h"
#include "module/settings/Settings.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellValue.h"
#include "module/spreadsheet/Connect.h"
#include "platform/ComError.h"

#include <string>
#include <vector>

namespace tabro {

namespace {

using platform::Variant;

// Rows between two progress lines; an import this long takes long enough for the
// user to wonder whether it still runs.
constexpr long kProgressRows = 10000;

// Rows whose tags the block partly lacks are not counted: the block-name column
// that export writes reads as such a tag, so nearly every row would be one.
struct ImportTally {
    long rows = 0;
    long notFound = 0;
    long sheets = 0;
};

void importSheet(IDispatch* worksheet, const ImportOptions& options, const ImportMarkers& markers,
                 ImportTally& tally) {
    ++tally.sheets;
    readSheetRows(worksheet, options.StartRow, options.StartCol, markers, [&](const ImportRow& row) {
        if (applyRow(row, options.IgnoreProps) == RowOutcome::NotFound) ++tally.notFound;
        if (++tally.rows % kProgressRows == 0) acutPrintf("\nImported %ld rows...", tally.rows);
    });
}

// Names compare exactly: same UTF-16 code units, same case.
DispatchPtr findByName(IDispatch* active, IDispatch* collection, const std::u16string& wanted) {
    if (active && sameText(xl::name(active), wanted)) return DispatchPtr(active);
    for (LONG i = 1, n = xl::count(collection); i <= n; ++i) {
        DispatchPtr candidate = xl::item(collection, i);
        if (sameText(xl::name(candidate.get()), wanted)) return candidate;
    }
    return {};
}

}  // namespace

void Import(const ImportOptions& options) {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return;
    Import(options, ImportMarkers::load());
}

void Import(const ImportOptions& options, const ImportMarkers& markers) {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return;
    ImportTally tally;
    if (options.ImportSettings == 1) {
        DispatchPtr book = xl::activeWorkbook(app.get());
        if (!book) throw _com_error(E_POINTER);
        DispatchPtr sheets = xl::worksheets(book.get());
        for (LONG i = 1, n = xl::count(sheets.get()); i <= n; ++i)
            importSheet(xl::item(sheets.get(), i).get(), options, markers, tally);
    } else {
        DispatchPtr sheet = xl::activeSheet(app.get());
        if (!sheet) throw _com_error(E_POINTER);
        importSheet(sheet.get(), options, markers, tally);
    }
    acutPrintf("\nImported %ld rows from %ld sheet(s)", tally.rows, tally.sheets);
    if (tally.notFound) acutPrintf("; %ld named no block reference of this drawing", tally.notFound);
    acutPrintf(".\n");
}

bool Import2() {
    bool result = false;
    while (std::optional<ChangedCell> change = changeQueue().takeNewest()) result = importChangedCell(*change);
    return result;
}

bool importChangedCell(const ChangedCell& change) {
    if (change.row < 1 || change.column < 1 || !change.sheetName || !change.workbookName) return false;
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return false;
    DispatchPtr book =
        findByName(xl::activeWorkbook(app.get()).get(), xl::workbooks(app.get()).get(), *change.workbookName);
    if (!book) return false;
    DispatchPtr sheet =
        findByName(xl::activeSheet(book.get()).get(), xl::worksheets(book.get()).get(), *change.sheetName);
    if (!sheet) return false;

    DispatchPtr cells = xl::cells(sheet.get());
    Variant value = xl::value(xl::cell(cells.get(), change.row, change.column).get());
    std::optional<std::u16string> handle = cellCommentText(xl::cell(cells.get(), change.row, 1).get());
    if (!handle) return false;

    std::vector<std::string> tags, values;
    int occurrence = 0;
    DispatchPtr headerCell = xl::cell(cells.get(), 1, change.column);
    if (!cellCommentText(headerCell.get())) {
        std::u16string text = toText(value);
        std::u16string title = toText(xl::text(headerCell.get()));
        if (!title.empty()) {
            tags.push_back(toMultibyte(title));
            values.push_back(toMultibyte(text));
            // A tag that heads several columns: this column's place among them
            // decides which of the reference's namesake attributes it holds.
            for (LONG c = 1; c < change.column; ++c) {
                DispatchPtr other = xl::cell(cells.get(), 1, c);
                if (cellCommentText(other.get())) continue;
                std::string otherTitle = toMultibyte(toText(xl::text(other.get())));
                if (sameTagText(otherTitle.c_str(), tags[0].c_str())) ++occurrence;
            }
        }
    }
    return applyAttributes(toMultibyte(*handle), tags, values, occurrence);
}

}  // namespace tabro
