#include "module/export/SheetWriter.h"

#include "module/settings/Settings.h"
#include "module/spreadsheet/CellValue.h"
#include "module/spreadsheet/Connect.h"

#include <algorithm>
#include <cstdio>

namespace tabro {

namespace {

using platform::Variant;

constexpr std::int32_t kLastSearchedRow = 65535;
constexpr std::int32_t kLastSearchedColumn = 255;

// Cell text for the spreadsheet. Plain ASCII, what most cells hold, is widened
// directly; anything else goes through the code set conversion.
std::u16string cellText(const std::string& text) {
    std::u16string out(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) return toWide(text);
        out[i] = c;
    }
    return out;
}

// A comment is replaced when the cell has one, else added.
void setCellComment(IDispatch* target, const std::string& text) {
    if (DispatchPtr existing = xl::comment(target))
        xl::setCommentText(existing.get(), cellText(text));
    else
        xl::addComment(target, cellText(text));
}

DispatchPtr runningApp() {
    DispatchPtr app;
    if (FAILED(attachSpreadsheetApp(app))) return {};
    return app;
}

}  // namespace

void writeSheetRow(std::int32_t& nextRow, bool isHeader, const ExportOptions& options,
                   std::span<const std::string> texts, std::span<const std::string> markers,
                   std::span<const std::u16string> ownMarkers) {
    DispatchPtr app = runningApp();
    if (!app) return;
    DispatchPtr sheet = xl::activeSheet(app.get());
    DispatchPtr cells = xl::cells(sheet.get());
    const std::int32_t row = nextRow;
    auto cellAt = [&](std::int32_t column) { return xl::cell(cells.get(), row, column, xl::CellIndex::Short); };

    std::size_t first = 0;
    if (isHeader) {
        for (std::size_t i = 0; i < markers.size(); ++i)
            if (!markers[i].empty()) setCellComment(cellAt(static_cast<std::int32_t>(i) + 1).get(), markers[i]);
        if (!ownMarkers.empty()) {
            for (std::int32_t column = 1; column <= kLastSearchedColumn; ++column) {
                const auto i = static_cast<std::size_t>(column - 1);
                if (i < markers.size() && !markers[i].empty()) continue;
                DispatchPtr target = cellAt(column);
                DispatchPtr existing = xl::comment(target.get());
                if (!existing) continue;
                const std::u16string text = xl::commentText(existing.get());
                if (std::find(ownMarkers.begin(), ownMarkers.end(), text) != ownMarkers.end())
                    xl::deleteComment(existing.get());
            }
        }
    } else if (!texts.empty()) {
        setCellComment(cellAt(1).get(), texts[0]);
        first = 1;
    }

    static const std::u16string textFormat = u"@";
    std::int32_t column = 1;
    for (std::size_t i = first; i < texts.size(); ++i, ++column) {
        DispatchPtr target = cellAt(column);
        if (options.AsText) xl::setNumberFormat(target.get(), textFormat);
        xl::setValue(target.get(), Variant::bstr(cellText(texts[i])));
    }

    if (isHeader) {
        char address[24];
        std::snprintf(address, sizeof address, "A%d", static_cast<int>(row));
        const std::u16string corner = cellText(address);
        DispatchPtr range = xl::range(sheet.get(), corner, corner);
        DispatchPtr entireRow = xl::entireRow(range.get());
        xl::setBold(xl::font(entireRow.get()).get(), true);
    }
    nextRow = row + 1;
}

void writeHeaderTitle(std::int32_t row, std::int32_t column, const ExportOptions& options, const std::string& title) {
    DispatchPtr app = runningApp();
    if (!app) return;
    DispatchPtr sheet = xl::activeSheet(app.get());
    DispatchPtr cells = xl::cells(sheet.get());
    DispatchPtr target = xl::cell(cells.get(), row, column, xl::CellIndex::Long);
    if (options.AsText) xl::setNumberFormat(target.get(), u"@");
    xl::setValue(target.get(), Variant::bstr(cellText(title)));
    xl::setBold(xl::font(target.get()).get(), true);
}

std::optional<std::int32_t> findNextBlankRow(IDispatch* workbook) {
    DispatchPtr sheet = xl::activeSheet(workbook);
    if (!sheet) return 1;
    DispatchPtr cells = xl::cells(sheet.get());
    auto displaysNothing = [&](std::int32_t r, std::int32_t c) {
        Variant shown = xl::text(xl::cell(cells.get(), r, c, xl::CellIndex::Long).get());
        return shown.vt() == VT_EMPTY || (shown.vt() == VT_BSTR && shown.bstrVal().empty());
    };
    for (std::int32_t r = 1; r <= kLastSearchedRow; ++r) {
        if (!displaysNothing(r, 1)) continue;
        std::int32_t c = 2;
        while (c <= kLastSearchedColumn && displaysNothing(r, c)) ++c;
        if (c > kLastSearchedColumn) return r;
    }
    return std::nullopt;
}

void autofitColumns() {
    DispatchPtr app = runningApp();
    if (!app) return;
    DispatchPtr sheet = xl::activeSheet(app.get());
    xl::autoFit(xl::columns(sheet.get()).get());
}

}  // namespace tabro
