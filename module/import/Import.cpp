// TABRO Import and TABRO Import2.
#include "module/import/Import.h"

#include "host/Editor.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/drawing/TagText.h"
#include "module/import/ImportReport.h"
#include "module/import/RowApplier.h"
#include "module/import/SheetReader.h"
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

void importSheet(IDispatch* worksheet, const ImportOptions& options, const ImportMarkers& markers,
                 ApplyContext& context, ImportReport& report) {
    report.beginSheet(toMultibyte(xl::name(worksheet)));
    readSheetRows(
        worksheet, options.StartRow, options.StartCol, markers,
        [&](const ImportRow& row) {
            report.rowRead();
            // A handle of an entity that is no block reference names no row's target
            // either (only its layer can be set, and is).
            const RowOutcome outcome = applyRow(row, context);
            if (outcome == RowOutcome::NotFound || outcome == RowOutcome::NotAReference)
                report.handleNotFound(row.sheetRow);
        },
        &report);
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

void Import(const ImportOptions& options, bool jtsk) {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return;
    Import(options, ImportMarkers::load(), jtsk);
}

void Import(const ImportOptions& options, const ImportMarkers& markers, bool jtsk) {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app)) || !app) return;
    ImportReport report;
    ApplyContext context;
    context.ignoreProps = options.IgnoreProps;
    context.jtsk = jtsk;
    context.report = &report;
    if (options.ImportSettings == 1) {
        DispatchPtr book = xl::activeWorkbook(app.get());
        if (!book) throw _com_error(E_POINTER);
        DispatchPtr sheets = xl::worksheets(book.get());
        for (LONG i = 1, n = xl::count(sheets.get()); i <= n; ++i)
            importSheet(xl::item(sheets.get(), i).get(), options, markers, context, report);
    } else {
        DispatchPtr sheet = xl::activeSheet(app.get());
        if (!sheet) throw _com_error(E_POINTER);
        importSheet(sheet.get(), options, markers, context, report);
    }
    report.print();
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
    // The cell is read against the header row above it, as a whole-sheet import
    // reads it: several blocks may share the sheet, each under its own header.
    const ImportMarkers markers = ImportMarkers::load();
    HeaderTracker headers(cells.get(), 1, markers);
    std::optional<std::u16string> handle;
    for (std::int32_t r = 1; r <= change.row; ++r) handle = headers.feed(r);
    if (!handle || !headers.header()) return false;

    std::vector<std::string> tags, values;
    int occurrence = 0;
    for (const ImportColumn& column : headers.header()->columns) {
        if (column.column == change.column) {
            if (column.role != ColumnRole::Attribute) break;
            // A value the cell does not know leaves the attribute alone.
            if (value.vt() == VT_ERROR) return false;
            tags.push_back(column.tag);
            values.push_back(toMultibyte(toText(value)));
            break;
        }
    }
    // A tag that heads several columns: this column's place among them decides
    // which of the reference's namesake attributes it holds.
    if (!tags.empty())
        for (const ImportColumn& column : headers.header()->columns)
            if (column.column < change.column && column.role == ColumnRole::Attribute &&
                sameTagText(column.tag.c_str(), tags[0].c_str()))
                ++occurrence;
    ReferenceEditor editor;
    if (editor.open(toMultibyte(*handle), AcDb::kForRead) != Acad::eOk) return false;
    return editor.applyAttributes(tags, values, occurrence);
}

}  // namespace tabro
