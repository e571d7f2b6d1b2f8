#include "module/import/RegisterRows.h"

#include "module/base/WideText.h"
#include "module/spreadsheet/Automation.h"

#include <algorithm>

namespace tabro {

RegisterRows& registerRows() {
    static RegisterRows rows;
    return rows;
}

bool RegisterRows::readKept(IDispatch* worksheet, const Sheet& sheet,
                            const std::function<bool(const std::string&)>& isOurs,
                            const std::function<void(const ImportRow&)>& apply) {
    // The drawing's rows in sheet order, as a whole read hands them on.
    std::vector<const Row*> ours;
    for (const auto& [drawing, rows] : sheet.byDrawing)
        if (drawing == kEveryDrawing || isOurs(drawing))
            for (const Row& row : rows) ours.push_back(&row);
    std::sort(ours.begin(), ours.end(), [](const Row* a, const Row* b) { return a->sheetRow < b->sheetRow; });
    if (ours.empty()) return true;
    DispatchPtr cells = xl::cells(worksheet);
    // Each row still holds its handle, or the sheet is not what was read: checked
    // for the drawing's rows alone, before any is handed on.
    for (const Row* kept : ours) {
        std::optional<std::u16string> handle =
            cellCommentText(xl::cell(cells.get(), kept->sheetRow, kept->handleColumn).get());
        if (!handle || toMultibyte(*handle) != kept->handle) return false;
    }
    SheetValues values(worksheet, cells.get(), std::clamp<LONG>(sheet.lastRow, 1, kLastSheetRow));
    ImportRow row;
    for (const Row* kept : ours) {
        row.clear();
        row.handle = kept->handle;
        row.handleColumn = kept->handleColumn;
        readRowCells(values, kept->sheetRow, sheet.headers[kept->header], row);
        apply(row);
    }
    return true;
}

void RegisterRows::read(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                        const ImportMarkers& markers, const std::function<bool(const std::string&)>& isOurs,
                        const std::function<void(const ImportRow&)>& apply, ImportReport* report) {
    DispatchPtr book = xl::parent(worksheet);
    const auto key = std::make_pair(book ? xl::fullName(book.get()) : std::u16string(), xl::name(worksheet));
    auto found = sheets_.find(key);
    if (found != sheets_.end() && found->second.startRow == startRow && found->second.startColumn == startColumn &&
        readKept(worksheet, found->second, isOurs, apply))
        return;
    const LONG lastRow = xl::lastUsedRow(worksheet);
    Sheet& sheet = sheets_[key];
    sheet = Sheet{lastRow, startRow, startColumn, {}, {}};
    readSheetRowsWithHeaders(
        worksheet, startRow, startColumn, markers,
        [&](const ImportRow& row, const SheetHeader& header) {
            if (sheet.headers.empty() || sheet.headers.back().row != header.row) sheet.headers.push_back(header);
            const std::string& drawing = row.drawingColumn != 0 ? *row.drawing : std::string(kEveryDrawing);
            sheet.byDrawing[drawing].push_back(
                Row{row.sheetRow, row.handleColumn, static_cast<std::uint32_t>(sheet.headers.size() - 1), row.handle});
            apply(row);
        },
        report);
}

}  // namespace tabro
