// The stand-in's cells as the front asks for them: values of one cell or a block
// (read row by row from the cells present), values assigned row by row, number
// formats, bold, column widths, merged areas and comments.
#include "automation/DispatchSupport.h"
#include "platform/SafeArray.h"
#include "sheet/Automation.h"
#include "sheet/DateFormat.h"
#include "sheet/MemoryBackend.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/Package.h"

#include <algorithm>

using automation::Area;
using automation::SheetHandle;
using platform::Variant;

namespace sheet {
namespace {

CellRect rectOf(const Area& a) { return {a.top, a.left, a.bottom, a.right}; }

Variant valueOf(const Sheet& sheet, const Cell& cell) {
    const Book& book = sheet.book();
    switch (cell.kind) {
    case CellKind::Empty:
        // A formula stored without its result (scripts write them so) has a value
        // this application does not compute; it answers "not available" rather
        // than pretend the cell is empty.
        if (cell.flags & Cell::kHasFormula) return Variant::error(errorScode(kErrorNotAvailable));
        return {};
    case CellKind::Number:
        // A number shown as a date or time is a date; one its format cannot show
        // as a date stays a number.
        if (book.styles.isDateFormat(cell.style))
            if (auto date = automationDateOfSerial(cell.number, book.isDate1904)) return Variant::date(*date);
        return Variant::r8(cell.number);
    case CellKind::Text:
        return Variant::bstr(std::u16string(book.strings.text(cell.text)));
    case CellKind::Boolean:
        return Variant::boolean(cell.number != 0);
    case CellKind::Error:
        return Variant::error(errorScode(cell.error));
    }
    return {};
}

// A date is stored as its serial, and a General cell takes a date format for it
// as the application gives one. A date the workbook's system cannot count is
// stored as its text.
void assignDate(Book& book, Sheet::RowCursor& cells, std::int32_t c, const Variant& v) {
    const auto serial = serialOfAutomationDate(v.date(), book.isDate1904);
    if (!serial) {
        Variant text;
        if (FAILED(platform::VariantChangeType(text, v, 0, VT_BSTR))) automation::failWith(DISP_E_TYPEMISMATCH);
        cells.setText(c, text.bstrVal());
        return;
    }
    const std::uint32_t style = cells.styleAt(c);
    if (book.styles.formatCode(style) == "General")
        cells.setStyle(c, book.styles.withFormatCode(style, formatCodeForAssignedDate(v.date())));
    cells.setNumber(c, *serial);
}

void assignCell(Book& book, Sheet::RowCursor& cells, std::int32_t c, const Variant& v) {
    switch (v.vt()) {
    case VT_EMPTY:
    case VT_NULL:
        cells.clearValue(c);
        return;
    case VT_R8:
        cells.setNumber(c, v.dblVal());
        return;
    case VT_R4:
        cells.setNumber(c, v.fltVal());
        return;
    case VT_I2:
        cells.setNumber(c, v.iVal());
        return;
    case VT_I4:
        cells.setNumber(c, v.lVal());
        return;
    case VT_BOOL:
        cells.setBoolean(c, v.boolVal() != 0);
        return;
    case VT_DATE:
        assignDate(book, cells, c, v);
        return;
    case VT_ERROR:
        cells.setError(c, static_cast<std::int32_t>(static_cast<std::uint32_t>(v.scode()) & 0xFFFFu));
        return;
    case VT_BSTR: {
        const std::u16string& text = v.bstrVal();
        if (text.empty()) {
            cells.clearValue(c);
            return;
        }
        // Text typed into a General cell that reads as a number is stored as that
        // number; the text format ("@") keeps it as typed.
        if (!book.styles.isTextFormat(cells.styleAt(c)))
            if (auto number = parseGeneralNumber(text)) {
                cells.setNumber(c, *number);
                return;
            }
        cells.setText(c, text);
        return;
    }
    default:
        automation::failWith(DISP_E_TYPEMISMATCH);
    }
}

template <class Change>
void restyle(Sheet& sheet, const Area& area, Change&& change) {
    if (area.isOneCell()) {
        sheet.setStyle(area.top, area.left, change(sheet.styleAt(area.top, area.left)));
        return;
    }
    sheet.restyle(area.top, area.left, area.bottom, area.right, area.isWholeRows(), area.isWholeColumns(), change);
}

}  // namespace

Variant MemoryBackend::readCell(SheetHandle& handle, std::int32_t row, std::int32_t column) {
    const Sheet& sheet = sheetOfHandle(handle);
    const Cell* c = sheet.find(row, column);
    return c ? valueOf(sheet, *c) : Variant();
}

void MemoryBackend::readBlock(SheetHandle& handle, const Area& area, Variant& out) {
    const Sheet& sheet = sheetOfHandle(handle);
    LONG index[2] = {1, 1};
    for (std::int32_t r = area.top; r <= area.bottom; ++r) {
        const Sheet::Row* cells = sheet.findRow(r);
        if (!cells) continue;  // the elements are empty already
        index[0] = r - area.top + 1;
        auto it = std::lower_bound(cells->begin(), cells->end(), area.left,
                                   [](const Cell& cell, std::int32_t column) { return cell.column < column; });
        for (; it != cells->end() && it->column <= area.right; ++it) {
            index[1] = it->column - area.left + 1;
            Variant* element = nullptr;
            platform::SafeArrayPtrOfIndex(out.parray(), index, &element);
            *element = valueOf(sheet, *it);
        }
    }
}

void MemoryBackend::writeBlock(SheetHandle& handle, const Area& area, const automation::ValueBlock& block) {
    Sheet& s = sheetOfHandle(handle);
    Book& book = s.book();
    for (std::int32_t r = area.top; r <= area.bottom && s.hasFormulas(); ++r)
        for (std::int32_t c = area.left; c <= area.right; ++c) {
            const Cell* cell = s.find(r, c);
            if (!cell || !(cell->flags & Cell::kHasFormula)) continue;
            const Formula* f = s.formula(r, c);
            if (f && f->isAnchor())
                automation::applicationError("Cell " + cellRefText(r, c) + " of sheet " + automation::quoted(s.name()) +
                                             " holds a formula other cells share; it cannot be replaced here.");
        }
    // Cells an array does not reach show "not available", as the application
    // leaves them; elements beyond the range are left out.
    static const Variant notAvailable = Variant::error(errorScode(kErrorNotAvailable));
    for (std::int32_t r = area.top; r <= area.bottom; ++r) {
        Sheet::RowCursor cursor(s, r);
        for (std::int32_t c = area.left; c <= area.right; ++c) {
            const Variant* v = block.at(r - area.top, c - area.left);
            assignCell(book, cursor, c, v ? *v : notAvailable);
        }
    }
}

std::u16string MemoryBackend::displayText(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    return sheetOfHandle(sheet).displayText(row, column);
}

std::u16string MemoryBackend::numberFormat(SheetHandle& handle, std::int32_t row, std::int32_t column) {
    const Sheet& sheet = sheetOfHandle(handle);
    return utf8ToUtf16(sheet.book().styles.formatCode(sheet.styleAt(row, column)));
}

void MemoryBackend::setNumberFormat(SheetHandle& handle, const Area& area, const std::u16string& format) {
    Sheet& sheet = sheetOfHandle(handle);
    // The text format is what callers set cell by cell; spare it the conversion.
    std::string code = format == u"@" ? std::string("@") : utf16ToUtf8(format);
    Styles& styles = sheet.book().styles;
    restyle(sheet, area, [&](std::uint32_t old) { return styles.withFormatCode(old, code); });
}

bool MemoryBackend::isBold(SheetHandle& handle, std::int32_t row, std::int32_t column) {
    const Sheet& sheet = sheetOfHandle(handle);
    return sheet.book().styles.isBold(sheet.styleAt(row, column));
}

void MemoryBackend::setBold(SheetHandle& handle, const Area& area, bool bold) {
    Sheet& sheet = sheetOfHandle(handle);
    Styles& styles = sheet.book().styles;
    sheet.restyle(area.top, area.left, area.bottom, area.right, area.isWholeRows(), area.isWholeColumns(),
                  [&](std::uint32_t old) { return styles.withBold(old, bold); });
}

bool MemoryBackend::isWrapped(SheetHandle& handle, std::int32_t row, std::int32_t column) {
    const Sheet& sheet = sheetOfHandle(handle);
    return sheet.book().styles.wrapsText(sheet.styleAt(row, column));
}

void MemoryBackend::setWrapped(SheetHandle& handle, const Area& area, bool wrap) {
    Sheet& sheet = sheetOfHandle(handle);
    Styles& styles = sheet.book().styles;
    restyle(sheet, area, [&](std::uint32_t old) { return styles.withWrapText(old, wrap); });
}

void MemoryBackend::autoFitColumns(SheetHandle& sheet, const Area& area) {
    sheetOfHandle(sheet).autoFit(area.left, area.right);
}

automation::MergeCoverage MemoryBackend::mergeCoverage(SheetHandle& sheet, const Area& area) {
    switch (sheetOfHandle(sheet).mergedAreas().coverage(rectOf(area))) {
    case MergedAreas::Coverage::None:
        return automation::MergeCoverage::None;
    case MergedAreas::Coverage::All:
        return automation::MergeCoverage::All;
    case MergedAreas::Coverage::Some:
        break;
    }
    return automation::MergeCoverage::Some;
}

std::optional<Area> MemoryBackend::mergeAreaContaining(SheetHandle& sheet, const Area& area) {
    const auto merged = sheetOfHandle(sheet).mergedAreas().containing(rectOf(area));
    if (!merged) return std::nullopt;
    return Area{merged->top, merged->left, merged->bottom, merged->right, Area::Shape::Cells};
}

void MemoryBackend::checkCommentsWritable(const SheetHandle& handle) {
    const Sheet& sheet = sheetOfHandle(handle);
    if (!sheet.carry) return;
    xlsx::checkCommentDrawing(sheet.book(), *sheet.carry);
    if (!sheet.carry->commentsLockedReason.empty())
        automation::applicationError("The comments of sheet " + automation::quoted(sheet.name()) +
                                     " cannot be changed: " + sheet.carry->commentsLockedReason +
                                     ", which would be lost.");
}

std::optional<std::u16string> MemoryBackend::commentText(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    const Comment* c = sheetOfHandle(sheet).comment(row, column);
    if (!c) return std::nullopt;
    return c->text;
}

std::u16string MemoryBackend::commentAuthor(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    const Comment* c = sheetOfHandle(sheet).comment(row, column);
    return c ? c->author : std::u16string();
}

void MemoryBackend::addComment(SheetHandle& sheet, std::int32_t row, std::int32_t column, std::u16string text,
                               const std::u16string& author) {
    sheetOfHandle(sheet).setComment(row, column, Comment{std::move(text), author});
}

void MemoryBackend::setCommentText(SheetHandle& handle, std::int32_t row, std::int32_t column, std::u16string text) {
    Sheet& sheet = sheetOfHandle(handle);
    const Comment* c = sheet.comment(row, column);
    Comment changed = c ? *c : Comment{};
    changed.text = std::move(text);
    sheet.setComment(row, column, std::move(changed));
}

void MemoryBackend::clearComments(SheetHandle& handle, const Area& area) {
    Sheet& sheet = sheetOfHandle(handle);
    if (area.isOneCell()) {
        sheet.removeComment(area.top, area.left);
        return;
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> within;
    for (const auto& [key, comment] : sheet.sortedComments()) {
        (void)comment;
        const auto row = static_cast<std::int32_t>(key >> 16);
        const auto column = static_cast<std::int32_t>(key & 0xFFFF);
        if (row >= area.top && row <= area.bottom && column >= area.left && column <= area.right)
            within.emplace_back(row, column);
    }
    for (const auto& [row, column] : within) sheet.removeComment(row, column);
}

}  // namespace sheet
