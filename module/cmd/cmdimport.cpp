// TABRO Import and TABRO Import2.
#include "module/cmd/cmdimport.h"

#include "host/Editor.h"
#include "module/cmd/RowApplier.h"
#include "module/cmd/SheetReader.h"
#include "module/drawing/ReferenceEditing.h"
#include "module/drawing/TagText.h"
#include "module/link/ChangeQueue.h"
#include "module/settings/Settings.h"
#include "platform/ComError.h"
#include "module/cmd/ImportCells.h"

#include <string>
#include <vector>

namespace tabro {

namespace {

using namespace importcells;

// Rows between two progress lines; an import this long takes long enough for the
// user to wonder whether it still runs.
constexpr long kProgressRows = 10000;

struct ImportTally {
    long rows = 0;
    long partial = 0;
    long notFound = 0;
    long sheets = 0;
};

void importSheet(IDispatch* worksheet, const ImportOptions& options, const ImportMarkers& markers,
                 ImportTally& tally) {
    ++tally.sheets;
    readSheetRows(worksheet, options.StartRow, options.StartCol, markers, [&](const ImportRow& row) {
        switch (applyRow(row, options.IgnoreProps)) {
        case RowOutcome::Applied: break;
        case RowOutcome::Partial: ++tally.partial; break;
        case RowOutcome::NotFound: ++tally.notFound; break;
        }
        if (++tally.rows % kProgressRows == 0) acutPrintf("\nImported %ld rows...", tally.rows);
    });
}

// Names compare exactly: same UTF-16 code units, same case.
ComPtr<IDispatch> findByName(IDispatch* active, IDispatch* collection, const std::u16string& wanted) {
    if (active && name(active) == wanted) return ComPtr<IDispatch>(active);
    for (std::int32_t i = 1, n = count(collection); i <= n; ++i) {
        ComPtr<IDispatch> candidate = item(collection, i);
        if (name(candidate.get()) == wanted) return candidate;
    }
    return {};
}

}  // namespace

void Import(const ImportOptions& options) {
    ComPtr<IDispatch> app;
    if (FAILED(attachApp(app)) || !app) return;
    const ImportMarkers markers = ImportMarkers::load();
    ImportTally tally;
    if (options.ImportSettings == 1) {
        ComPtr<IDispatch> book = activeWorkbook(app.get());
        if (!book) throw _com_error(E_POINTER);
        ComPtr<IDispatch> sheets = worksheets(book.get());
        for (std::int32_t i = 1, n = count(sheets.get()); i <= n; ++i)
            importSheet(item(sheets.get(), i).get(), options, markers, tally);
    } else {
        ComPtr<IDispatch> sheet = activeSheet(app.get());
        if (!sheet) throw _com_error(E_POINTER);
        importSheet(sheet.get(), options, markers, tally);
    }
    acutPrintf("\nImported %ld rows from %ld sheet(s)", tally.rows, tally.sheets);
    if (tally.partial) acutPrintf("; %ld lacked some of the sheet's attribute tags", tally.partial);
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
    ComPtr<IDispatch> app;
    if (FAILED(attachApp(app)) || !app) return false;
    ComPtr<IDispatch> book =
        findByName(activeWorkbook(app.get()).get(), workbooks(app.get()).get(), *change.workbookName);
    if (!book) return false;
    ComPtr<IDispatch> sheet = findByName(activeSheet(book.get()).get(), worksheets(book.get()).get(), *change.sheetName);
    if (!sheet) return false;

    ComPtr<IDispatch> sheetCells = cells(sheet.get());
    Variant value = importcells::value(cell(sheetCells.get(), change.row, change.column).get());
    std::optional<std::u16string> handle = commentText(cell(sheetCells.get(), change.row, 1).get());
    if (!handle) return false;

    std::vector<std::string> tags, values;
    int occurrence = 0;
    ComPtr<IDispatch> headerCell = cell(sheetCells.get(), 1, change.column);
    if (!commentText(headerCell.get())) {
        std::u16string text = toTextStrict(value);
        std::u16string title = toTextStrict(displayed(headerCell.get()));
        if (!title.empty()) {
            tags.push_back(toMultibyte(title));
            values.push_back(toMultibyte(text));
            // A tag that heads several columns: this column's place among them
            // decides which of the reference's namesake attributes it holds.
            for (std::int32_t c = 1; c < change.column; ++c) {
                ComPtr<IDispatch> other = cell(sheetCells.get(), 1, c);
                if (commentText(other.get())) continue;
                std::string otherTitle = toMultibyte(toTextStrict(displayed(other.get())));
                if (sameTagText(otherTitle.c_str(), tags[0].c_str())) ++occurrence;
            }
        }
    }
    return applyAttributes(toMultibyte(*handle), tags, values, occurrence);
}

}  // namespace tabro
