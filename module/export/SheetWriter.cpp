#include "module/export/SheetWriter.h"

#include "module/settings/Settings.h"
#include "module/spreadsheet/CellBlock.h"
#include "module/spreadsheet/CellValue.h"
#include "platform/ComError.h"

#include <algorithm>

namespace tabro {

namespace {

using platform::Variant;

constexpr std::int32_t kLastSearchedRow = 65535;
constexpr std::int32_t kLastSearchedColumn = 255;
const std::u16string kTextFormat = u"@";

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

// How an application that takes no arrays for Value answers one.
bool refusesArrays(const _com_error& e) { return e.Error() == DISP_E_TYPEMISMATCH || e.Error() == DISP_E_BADVARTYPE; }

}  // namespace

SheetWriter::SheetWriter(IDispatch* app, const ExportOptions& options) : app_(app), options_(options) {}

IDispatch* SheetWriter::sheet() {
    if (!sheet_) sheet_ = xl::activeSheet(app_.get());
    return sheet_.get();
}

IDispatch* SheetWriter::cells() {
    if (!cells_) cells_ = xl::cells(sheet());
    return cells_.get();
}

void SheetWriter::sheetChanged() {
    flush();
    sheet_.reset();
    cells_.reset();
}

void SheetWriter::writeCells(std::int32_t row, std::int32_t column, std::span<const std::string> texts) {
    for (const std::string& text : texts) {
        DispatchPtr target = xl::cell(cells(), row, column++, xl::CellIndex::Short);
        if (options_.AsText) xl::setNumberFormat(target.get(), kTextFormat);
        xl::setValue(target.get(), Variant::bstr(cellText(text)));
    }
}

void SheetWriter::writeHeaderRow(std::int32_t& nextRow, std::span<const std::string> texts,
                                 std::span<const std::string> markers, std::span<const std::u16string> ownMarkers,
                                 const std::string& rowMarker) {
    flush();
    const std::int32_t row = nextRow;
    auto cellAt = [&](std::int32_t column) { return xl::cell(cells(), row, column, xl::CellIndex::Short); };
    const bool marksFirstCell = !rowMarker.empty() && !texts.empty() && (markers.empty() || markers[0].empty());
    if (marksFirstCell) setCellComment(cellAt(1).get(), rowMarker);
    for (std::size_t i = 0; i < markers.size(); ++i)
        if (!markers[i].empty()) setCellComment(cellAt(static_cast<std::int32_t>(i) + 1).get(), markers[i]);
    if (!ownMarkers.empty()) {
        for (std::int32_t column = 1; column <= kLastSearchedColumn; ++column) {
            const auto i = static_cast<std::size_t>(column - 1);
            if (i < markers.size() && !markers[i].empty()) continue;
            if (column == 1 && marksFirstCell) continue;
            DispatchPtr target = cellAt(column);
            DispatchPtr existing = xl::comment(target.get());
            if (!existing) continue;
            const std::u16string text = xl::commentText(existing.get());
            if (std::find(ownMarkers.begin(), ownMarkers.end(), text) != ownMarkers.end())
                xl::deleteComment(existing.get());
        }
    }
    if (!texts.empty()) {
        pendingTop_ = row;
        pendingRows_ = 1;
        pendingWidth_ = texts.size();
        for (const std::string& text : texts) pending_.push_back(cellText(text));
        flush();
    }
    const std::u16string corner = xl::cellAddress(row, 1);
    DispatchPtr range = xl::range(sheet(), corner, corner);
    DispatchPtr entireRow = xl::entireRow(range.get());
    xl::setBold(xl::font(entireRow.get()).get(), true);
    nextRow = row + 1;
}

void SheetWriter::writeDataRow(std::int32_t& nextRow, std::span<const std::string> texts) {
    const std::int32_t row = nextRow;
    if (!texts.empty()) {
        setCellComment(xl::cell(cells(), row, 1, xl::CellIndex::Short).get(), texts[0]);
        const std::span<const std::string> values = texts.subspan(1);
        for (std::size_t i = 0; i < values.size(); ++i)
            if (values[i].find('\n') != std::string::npos)
                multiLineCells_.emplace_back(row, static_cast<std::int32_t>(i) + 1);
        if (arraysRefused_) {
            writeCells(row, 1, values);
            wrapMultiLineCells();
        } else if (!values.empty()) {
            if (pendingRows_ > 0 && (row != pendingTop_ + pendingRows_ || values.size() != pendingWidth_)) flush();
            if (pendingRows_ == 0) {
                pendingTop_ = row;
                pendingWidth_ = values.size();
            }
            for (const std::string& text : values) pending_.push_back(cellText(text));
            if (++pendingRows_ == kRowsPerBlock) flush();
        }
    }
    nextRow = row + 1;
}

void SheetWriter::flush() {
    if (pendingRows_ == 0) return;
    // Taken out first: rows a failure below leaves half written are not written
    // again by the flush after the failure.
    Pending rows{pendingTop_, pendingRows_, static_cast<std::int32_t>(pendingWidth_), {}};
    rows.texts.swap(pending_);
    pendingRows_ = 0;
    if (arraysRefused_)
        writeCellByCell(rows);
    else
        writeBlock(rows);
    wrapMultiLineCells();
}

void SheetWriter::wrapMultiLineCells() {
    // Taken out first, as the rows are: a failure below does not wrap them twice.
    std::vector<std::pair<std::int32_t, std::int32_t>> cellsToWrap;
    cellsToWrap.swap(multiLineCells_);
    for (const auto& [row, column] : cellsToWrap)
        xl::setWrapText(xl::cell(cells(), row, column, xl::CellIndex::Short).get(), true);
}

void SheetWriter::writeBlock(Pending& rows) {
    DispatchPtr target = xl::area(sheet(), rows.top, 1, rows.top + rows.count - 1, rows.width);
    // The format goes first: text typed into a General cell that reads as a number
    // becomes that number.
    if (options_.AsText) xl::setNumberFormat(target.get(), kTextFormat);
    Variant values;
    {
        CellBlock block(rows.count, rows.width);
        std::size_t at = 0;
        for (std::int32_t r = 1; r <= rows.count; ++r)
            for (std::int32_t c = 1; c <= rows.width; ++c) block.at(r, c) = Variant::bstr(std::move(rows.texts[at++]));
        values = block.take();
    }
    try {
        xl::setValue(target.get(), values);
    } catch (const _com_error& e) {
        if (!refusesArrays(e)) throw;
        arraysRefused_ = true;
        // The texts went into the array; they come back from there, one by one.
        std::size_t at = 0;
        LONG index[2] = {1, 1};
        for (index[0] = 1; index[0] <= rows.count; ++index[0])
            for (index[1] = 1; index[1] <= rows.width; ++index[1]) {
                Variant* element = nullptr;
                if (SUCCEEDED(platform::SafeArrayPtrOfIndex(values.parray(), index, &element)))
                    rows.texts[at] = element->bstrVal();
                ++at;
            }
        writeCellByCell(rows);
    }
}

void SheetWriter::writeCellByCell(Pending& rows) {
    std::size_t at = 0;
    for (std::int32_t r = 0; r < rows.count; ++r)
        for (std::int32_t c = 1; c <= rows.width; ++c) {
            DispatchPtr cell = xl::cell(cells(), rows.top + r, c, xl::CellIndex::Short);
            if (options_.AsText) xl::setNumberFormat(cell.get(), kTextFormat);
            xl::setValue(cell.get(), Variant::bstr(std::move(rows.texts[at++])));
        }
}

void SheetWriter::writeHeaderTitle(std::int32_t row, std::int32_t column, const std::string& title) {
    // The rows before it go first: the workbook numbers its texts in the order they
    // arrive, and that order is part of the file.
    flush();
    DispatchPtr target = xl::cell(cells(), row, column, xl::CellIndex::Long);
    if (options_.AsText) xl::setNumberFormat(target.get(), kTextFormat);
    xl::setValue(target.get(), Variant::bstr(cellText(title)));
    xl::setBold(xl::font(target.get()).get(), true);
}

void SheetWriter::autofitColumns() {
    flush();
    xl::autoFit(xl::columns(sheet()).get());
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

}  // namespace tabro
