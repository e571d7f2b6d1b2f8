#include "module/import/RegisterRows.h"

#include "module/base/WideText.h"
#include "module/spreadsheet/Automation.h"

#include <algorithm>

namespace tabro {

RegisterRows& registerRows() {
    static RegisterRows rows;
    return rows;
}

void RegisterRows::read(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn,
                        const ImportMarkers& markers, const std::function<bool(const std::string&)>& isOurs,
                        const std::function<void(const ImportRow&)>& apply, ImportReport* report) {
    DispatchPtr book = xl::parent(worksheet);
    const auto key = std::make_pair(book ? xl::fullName(book.get()) : std::u16string(), xl::name(worksheet));
    const LONG lastRow = xl::lastUsedRow(worksheet), lastColumn = xl::lastUsedColumn(worksheet);
    auto found = sheets_.find(key);
    if (found != sheets_.end() && found->second.lastRow == lastRow && found->second.lastColumn == lastColumn &&
        found->second.startRow == startRow && found->second.startColumn == startColumn) {
        const Sheet& sheet = found->second;
        // The drawing's rows in sheet order, as a whole read hands them on.
        std::vector<const Row*> ours;
        for (const auto& [drawing, rows] : sheet.byDrawing)
            if (drawing == kEveryDrawing || isOurs(drawing))
                for (const Row& row : rows) ours.push_back(&row);
        std::sort(ours.begin(), ours.end(), [](const Row* a, const Row* b) { return a->sheetRow < b->sheetRow; });
        if (ours.empty()) return;
        DispatchPtr cells = xl::cells(worksheet);
        SheetValues values(worksheet, cells.get(), std::clamp<LONG>(lastRow, 1, kLastSheetRow));
        ImportRow row;
        for (const Row* kept : ours) {
            row.clear();
            row.handle = kept->handle;
            row.handleColumn = kept->handleColumn;
            readRowCells(values, kept->sheetRow, sheet.headers[kept->header], row);
            apply(row);
        }
        return;
    }
    Sheet& sheet = sheets_[key];
    sheet = Sheet{lastRow, lastColumn, startRow, startColumn, {}, {}};
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
