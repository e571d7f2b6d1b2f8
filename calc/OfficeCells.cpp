// The office's cells as the front asks for them: values one cell or a block at a
// time (one data array per block), displayed text, number formats, bold, notes as
// comments, optimal column widths and merged areas.
#include "automation/DispatchSupport.h"
#include "automation/NumberText.h"
#include "calc/OfficeBackend.h"
#include "calc/UnoText.h"
#include "platform/SafeArray.h"

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertyState.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/XUndoManager.hpp>
#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetAnnotation.hpp>
#include <com/sun/star/sheet/XSheetAnnotationAnchor.hpp>
#include <com/sun/star/sheet/XSheetAnnotations.hpp>
#include <com/sun/star/sheet/XSheetAnnotationsSupplier.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetCellRange.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSheetOperation.hpp>
#include <com/sun/star/sheet/XUniqueCellFormatRangesSupplier.hpp>
#include <com/sun/star/table/CellAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/XSimpleText.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XMergeable.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace css = ::com::sun::star;
namespace awt = css::awt;
namespace beans = css::beans;
namespace container = css::container;
namespace document = css::document;
namespace lang = css::lang;
namespace table = css::table;
namespace text = css::text;
namespace uno = css::uno;
namespace util = css::util;
using automation::applicationError;
using automation::failWith;
using automation::SheetHandle;
using ::com::sun::star::uno::Any;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::Sequence;
using ::com::sun::star::uno::UNO_QUERY;
using ::com::sun::star::uno::UNO_QUERY_THROW;
using platform::Variant;

namespace calc {
namespace {

// A range's place: its document, sheet and area, resolved to the office's objects
// only when a member needs them.
struct Place;

// A value put into a hidden sheet is the program's own bookkeeping (the record an
// export keeps): the office's Undo must not take it back in place of the user's
// last edit, so the document's undo manager is locked while it is written.
class HiddenSheetUndoLock {
public:
    explicit HiddenSheetUndoLock(const Place& place);
    bool isHidden() const { return isHidden_; }
    HiddenSheetUndoLock(const HiddenSheetUndoLock&) = delete;
    HiddenSheetUndoLock& operator=(const HiddenSheetUndoLock&) = delete;
    ~HiddenSheetUndoLock() {
        if (!undo_.is()) return;
        try {
            undo_->unlock();
        } catch (const uno::Exception&) {
            // The document went away while it was written: nothing to unlock.
        }
    }

private:
    Reference<document::XUndoManager> undo_;
    bool isHidden_ = false;
};

struct Place {
    std::shared_ptr<Doc> doc;
    Reference<css::sheet::XSpreadsheet> sheet;
    Area area;

    Reference<table::XCellRange> range(const CalcState& state) const {
        // Whole rows and columns end at the office's grid, which may be smaller
        // than the file format's.
        sal_Int32 right = std::min<sal_Int32>(area.right - 1, state.lastColumn);
        sal_Int32 bottom = std::min<sal_Int32>(area.bottom - 1, state.lastRow);
        if (area.left - 1 > right || area.top - 1 > bottom)
            applicationError("The range is beyond the sheet's last cell in LibreOffice.");
        return sheet->getCellRangeByPosition(area.left - 1, area.top - 1, right, bottom);
    }
    Reference<table::XCell> topLeft() const { return sheet->getCellByPosition(area.left - 1, area.top - 1); }
    Reference<beans::XPropertySet> properties(const CalcState& state) const {
        return Reference<beans::XPropertySet>(range(state), UNO_QUERY_THROW);
    }
    // Sets a cell property over the area. Whole rows and whole columns take it as
    // rows and columns do, so that the stored workbook says "this row is bold" once
    // instead of for each of the row's cells.
    void setProperty(const CalcState& state, const char* name, const Any& value) const {
        const bool wholeRows = area.left == 1 && area.right >= automation::kMaxColumns;
        const bool wholeColumns = area.top == 1 && area.bottom >= automation::kMaxRows;
        if ((wholeRows && area.bottom - area.top < kMaxLines) || (wholeColumns && area.right - area.left < kMaxLines)) {
            Reference<table::XColumnRowRange> lines(
                wholeRows ? sheet->getCellRangeByPosition(0, area.top - 1, 0, area.bottom - 1)
                          : sheet->getCellRangeByPosition(area.left - 1, 0, area.right - 1, 0),
                UNO_QUERY_THROW);
            Reference<container::XIndexAccess> each(
                wholeRows ? Reference<container::XIndexAccess>(lines->getRows(), UNO_QUERY_THROW)
                          : Reference<container::XIndexAccess>(lines->getColumns(), UNO_QUERY_THROW));
            for (sal_Int32 i = 0, n = each->getCount(); i < n; ++i)
                Reference<beans::XPropertySet>(each->getByIndex(i), UNO_QUERY_THROW)
                    ->setPropertyValue(OUString::createFromAscii(name), value);
            return;
        }
        properties(state)->setPropertyValue(OUString::createFromAscii(name), value);
    }
    static constexpr std::int32_t kMaxLines = 256;
};

HiddenSheetUndoLock::HiddenSheetUndoLock(const Place& place) {
    bool visible = true;
    Reference<beans::XPropertySet> sheet(place.sheet, UNO_QUERY);
    if (!sheet.is() || !(sheet->getPropertyValue("IsVisible") >>= visible) || visible) return;
    isHidden_ = true;
    Reference<document::XUndoManagerSupplier> supplier(place.doc->model, UNO_QUERY);
    if (!supplier.is()) return;
    Reference<document::XUndoManager> undo = supplier->getUndoManager();
    if (!undo.is()) return;
    undo->lock();
    undo_ = undo;
}

Reference<css::sheet::XSheetAnnotation> annotationOf(const Place& place) {
    Reference<css::sheet::XSheetAnnotationAnchor> anchor(place.topLeft(), UNO_QUERY_THROW);
    return anchor->getAnnotation();
}

void clearAnnotations(const CalcState& state, const Place& place) {
    Reference<css::sheet::XSheetOperation>(place.range(state), UNO_QUERY_THROW)
        ->clearContents(css::sheet::CellFlags::ANNOTATION);
}

// Clears the notes of the area, in the office only where some were placed.
void clearNotes(CalcState& state, const Place& place) {
    if (state.notesOf(*place.doc, place.sheet).forget(place.area)) clearAnnotations(state, place);
}

// A range of a sheet and what the backend's members do with it.
struct Cells {
    CalcState& state;
    Place place;

    // A cell's value as automation gives it: numbers as R8 (dates as DATE and truth
    // values as BOOL, as the application has them), text as BSTR, an empty cell as
    // EMPTY. The office's null date is the automation dates' day 0, 1899-12-30, so
    // its numbers are automation dates as they are.
    static Variant valueOf(const Any& any, Shown shown = Shown::Number) {
        double number = 0;
        if (any >>= number) {
            if (shown == Shown::Boolean) return Variant::boolean(number != 0);
            if (shown == Shown::Date && number >= platform::kFirstDate && number < platform::kDateEnd)
                return Variant::date(number);
            return Variant::r8(number);
        }
        OUString text;
        if ((any >>= text) && !text.isEmpty()) return Variant::bstr(toU16(text));
        return {};
    }

    Shown shownAs(sal_Int32 key, const Reference<util::XNumberFormats>& formats) {
        auto known = place.doc->shownByKey.find(key);
        if (known != place.doc->shownByKey.end()) return known->second;
        sal_Int16 type = 0;
        Reference<beans::XPropertySet> format = formats->getByKey(key);
        if (format.is()) format->getPropertyValue("Type") >>= type;
        const Shown shown = (type & util::NumberFormat::LOGICAL)                             ? Shown::Boolean
                            : (type & (util::NumberFormat::DATE | util::NumberFormat::TIME)) ? Shown::Date
                                                                                             : Shown::Number;
        place.doc->shownByKey.emplace(key, shown);
        return shown;
    }

    // The cells of the range whose numbers show as dates or truth values, 0-based
    // within the range. A range of one format (the usual block) costs two calls;
    // one of several asks the office for its groups of equally formatted cells and
    // each group's format once, never cell by cell.
    struct ShownCell {
        sal_Int32 row, column;
        Shown shown;
    };
    std::vector<ShownCell> shownCells(const Reference<table::XCellRange>& cells) {
        std::vector<ShownCell> found;
        const Area& a = place.area;
        Reference<util::XNumberFormats> formats =
            Reference<util::XNumberFormatsSupplier>(place.doc->model, UNO_QUERY_THROW)->getNumberFormats();
        auto addAll = [&](const table::CellRangeAddress& r, Shown shown) {
            for (sal_Int32 row = std::max(r.StartRow, a.top - 1); row <= std::min(r.EndRow, a.bottom - 1); ++row)
                for (sal_Int32 column = std::max(r.StartColumn, a.left - 1);
                     column <= std::min(r.EndColumn, a.right - 1); ++column)
                    found.push_back(ShownCell{row - (a.top - 1), column - (a.left - 1), shown});
        };
        Reference<beans::XPropertyState> state(cells, UNO_QUERY_THROW);
        if (state->getPropertyState("NumberFormat") != beans::PropertyState_AMBIGUOUS_VALUE) {
            sal_Int32 key = 0;
            Reference<beans::XPropertySet>(cells, UNO_QUERY_THROW)->getPropertyValue("NumberFormat") >>= key;
            const Shown shown = shownAs(key, formats);
            if (shown != Shown::Number)
                addAll(Reference<css::sheet::XCellRangeAddressable>(cells, UNO_QUERY_THROW)->getRangeAddress(), shown);
            return found;
        }
        Reference<container::XIndexAccess> groups =
            Reference<css::sheet::XUniqueCellFormatRangesSupplier>(cells, UNO_QUERY_THROW)->getUniqueCellFormatRanges();
        for (sal_Int32 i = 0, n = groups->getCount(); i < n; ++i) {
            Reference<css::sheet::XSheetCellRanges> group(groups->getByIndex(i), UNO_QUERY_THROW);
            sal_Int32 key = 0;
            Reference<beans::XPropertySet>(group, UNO_QUERY_THROW)->getPropertyValue("NumberFormat") >>= key;
            const Shown shown = shownAs(key, formats);
            if (shown == Shown::Number) continue;
            for (const table::CellRangeAddress& r : group->getRangeAddresses()) addAll(r, shown);
        }
        return found;
    }

    // The value of the area's one cell.
    Variant one() {
        Reference<table::XCellRange> cells = place.range(state);
        Sequence<Sequence<Any>> rows = Reference<css::sheet::XCellRangeData>(cells, UNO_QUERY_THROW)->getDataArray();
        const auto errors = errorsIn(cells);
        if (!errors.empty()) return errors.front().second;
        const auto shown = shownCells(cells);
        return rows.getLength() > 0 && rows[0].getLength() > 0
                   ? valueOf(rows[0][0], shown.empty() ? Shown::Number : shown.front().shown)
                   : Variant();
    }

    // The values of the area's cells into a two-dimensional array counting from 1,
    // rows first.
    void fill(Variant& out) {
        Reference<table::XCellRange> cells = place.range(state);
        Sequence<Sequence<Any>> rows = Reference<css::sheet::XCellRangeData>(cells, UNO_QUERY_THROW)->getDataArray();
        const auto errors = errorsIn(cells);
        const auto shown = shownCells(cells);
        const Area& a = place.area;
        LONG index[2];
        for (sal_Int32 r = 0; r < rows.getLength(); ++r) {
            const Sequence<Any>& row = rows[r];
            index[0] = r + 1;
            for (sal_Int32 c = 0; c < row.getLength(); ++c) {
                Variant value = valueOf(row[c]);
                if (value.isEmpty()) continue;
                index[1] = c + 1;
                Variant* element = nullptr;
                platform::SafeArrayPtrOfIndex(out.parray(), index, &element);
                *element = std::move(value);
            }
        }
        for (const ShownCell& cell : shown) {
            if (cell.row >= rows.getLength() || cell.column >= rows[cell.row].getLength()) continue;
            LONG at[2] = {cell.row + 1, cell.column + 1};
            Variant* element = nullptr;
            if (SUCCEEDED(platform::SafeArrayPtrOfIndex(out.parray(), at, &element)))
                *element = valueOf(rows[cell.row][cell.column], cell.shown);
        }
        for (const auto& [cell, error] : errors) {
            LONG at[2] = {cell.first - a.top + 1, cell.second - a.left + 1};
            Variant* element = nullptr;
            if (SUCCEEDED(platform::SafeArrayPtrOfIndex(out.parray(), at, &element))) *element = error;
        }
    }

    // The cells of the range whose formula gives an error (an error value typed or
    // read from a file is such a formula in the office), with the application's
    // error value for each: a data array leaves them empty, which would read as a
    // cleared cell.
    std::vector<std::pair<SheetNotes::Cell, Variant>> errorsIn(const Reference<table::XCellRange>& cells) {
        std::vector<std::pair<SheetNotes::Cell, Variant>> errors;
        Reference<css::sheet::XSheetCellRanges> found = Reference<css::sheet::XCellRangesQuery>(cells, UNO_QUERY_THROW)
                                                            ->queryFormulaCells(css::sheet::FormulaResult::ERROR);
        if (!found.is()) return errors;
        const Sequence<table::CellRangeAddress> addresses = found->getRangeAddresses();
        for (const table::CellRangeAddress& r : addresses)
            for (sal_Int32 row = r.StartRow; row <= r.EndRow; ++row)
                for (sal_Int32 column = r.StartColumn; column <= r.EndColumn; ++column) {
                    const std::string shown =
                        toUtf8(Reference<text::XText>(place.sheet->getCellByPosition(column, row), UNO_QUERY_THROW)
                                   ->getString());
                    // The office's own errors ("Err:504") have no name in the
                    // application; they are values it cannot compute.
                    auto known = automation::errorByText(shown);
                    errors.emplace_back(SheetNotes::Cell{row + 1, column + 1},
                                        Variant::error(automation::errorScode(known ? known->number : 2015)));
                }
        return errors;
    }

    // What a value becomes in a cell: text typed into a cell that is not formatted
    // as text and reads as a number is that number, as the application takes it.
    static Any cellValue(const Variant& v, bool isTextCell) {
        switch (v.vt()) {
        case VT_R8:
            return Any(v.dblVal());
        case VT_R4:
            return Any(static_cast<double>(v.fltVal()));
        case VT_I2:
            return Any(static_cast<double>(v.iVal()));
        case VT_I4:
            return Any(static_cast<double>(v.lVal()));
        case VT_BOOL:
            return Any(v.boolVal() ? 1.0 : 0.0);
        case VT_BSTR:
            if (!isTextCell)
                if (auto number = automation::parseGeneralNumber(v.bstrVal())) return Any(*number);
            return Any(toOUString(v.bstrVal()));
        default:
            return Any(OUString());
        }
    }

    // The number formats of the range's cells: read once per column, and cell by
    // cell in a column of mixed formats.
    struct ColumnFormats {
        bool isUniform = true;
        sal_Int32 key = 0;            // when uniform
        std::vector<sal_Int32> keys;  // otherwise, one per row
        sal_Int32 at(sal_Int32 row) const { return isUniform ? key : keys[static_cast<std::size_t>(row)]; }
    };
    std::vector<ColumnFormats> formatsOf(sal_Int32 rows, sal_Int32 columns) {
        const Area& a = place.area;
        std::vector<ColumnFormats> result(static_cast<std::size_t>(columns));
        for (sal_Int32 c = 0; c < columns; ++c) {
            Reference<beans::XPropertySet> column(
                place.sheet->getCellRangeByPosition(a.left - 1 + c, a.top - 1, a.left - 1 + c, a.top - 2 + rows),
                UNO_QUERY_THROW);
            Reference<beans::XPropertyState> state(column, UNO_QUERY_THROW);
            if (state->getPropertyState("NumberFormat") != beans::PropertyState_AMBIGUOUS_VALUE &&
                (column->getPropertyValue("NumberFormat") >>= result[c].key))
                continue;
            result[c].isUniform = false;
            result[c].keys.resize(static_cast<std::size_t>(rows));
            for (sal_Int32 r = 0; r < rows; ++r)
                Reference<beans::XPropertySet>(place.sheet->getCellByPosition(a.left - 1 + c, a.top - 1 + r),
                                               UNO_QUERY_THROW)
                    ->getPropertyValue("NumberFormat") >>= result[c].keys[static_cast<std::size_t>(r)];
        }
        return result;
    }

    // The office formats a cell as text when text it would read otherwise ("50%",
    // "=1+1", a date) is written into it. The application leaves the cell's format
    // as it was, so the formats are put back where that can have happened.
    void restoreFormats(const std::vector<ColumnFormats>& formats, const std::vector<std::vector<bool>>& wroteText) {
        const Area& a = place.area;
        for (std::size_t c = 0; c < formats.size(); ++c) {
            const auto& rows = wroteText[c];
            if (std::find(rows.begin(), rows.end(), true) == rows.end()) continue;
            const auto column = static_cast<sal_Int32>(a.left - 1 + static_cast<sal_Int32>(c));
            if (formats[c].isUniform) {
                Reference<beans::XPropertySet>(
                    place.sheet->getCellRangeByPosition(column, a.top - 1, column,
                                                        a.top - 2 + static_cast<sal_Int32>(rows.size())),
                    UNO_QUERY_THROW)
                    ->setPropertyValue("NumberFormat", Any(formats[c].key));
                continue;
            }
            for (std::size_t r = 0; r < rows.size(); ++r)
                if (rows[r])
                    Reference<beans::XPropertySet>(
                        place.sheet->getCellByPosition(column, a.top - 1 + static_cast<sal_Int32>(r)), UNO_QUERY_THROW)
                        ->setPropertyValue("NumberFormat", Any(formats[c].at(static_cast<sal_Int32>(r))));
        }
    }

    // Every cell of the area in one data array; cells an array does not reach are
    // left empty.
    void write(const automation::ValueBlock& block) {
        const Area& a = place.area;
        const sal_Int32 rows = a.bottom - a.top + 1, columns = a.right - a.left + 1;
        std::vector<const Variant*> elements(static_cast<std::size_t>(rows) * columns, nullptr);
        static const Variant empty;
        for (sal_Int32 r = 0; r < rows; ++r)
            for (sal_Int32 c = 0; c < columns; ++c)
                elements[static_cast<std::size_t>(r) * columns + c] = block.at(r, c);
        bool anyText = false;
        for (const Variant* e : elements) anyText = anyText || (e && e->vt() == VT_BSTR && !e->bstrVal().empty());
        std::vector<ColumnFormats> formats;
        if (anyText) formats = formatsOf(rows, columns);
        const sal_Int32 textKey = anyText ? state.textFormatKey(*place.doc) : -1;
        // Where text went into a cell not formatted as text.
        std::vector<std::vector<bool>> wroteText(static_cast<std::size_t>(anyText ? columns : 0),
                                                 std::vector<bool>(static_cast<std::size_t>(rows)));
        Sequence<Sequence<Any>> data(rows);
        for (sal_Int32 r = 0; r < rows; ++r) {
            Sequence<Any> row(columns);
            Any* cells = row.getArray();
            for (sal_Int32 c = 0; c < columns; ++c) {
                const Variant* e = elements[static_cast<std::size_t>(r) * columns + c];
                const bool isTextCell = anyText && formats[c].at(r) == textKey;
                cells[c] = cellValue(e ? *e : empty, isTextCell);
                if (anyText && !isTextCell && cells[c].getValueTypeClass() == uno::TypeClass_STRING &&
                    !cells[c].get<OUString>().isEmpty())
                    wroteText[c][r] = true;
            }
            data.getArray()[r] = row;
        }
        state.holdUpdates(*place.doc);
        SheetNotes& notes = state.notesOf(*place.doc, place.sheet);
        const auto dropped = notes.placedWithin(a);
        Reference<css::sheet::XCellRangeData>(place.range(state), UNO_QUERY_THROW)->setDataArray(data);
        // The module's own values: no change of the user's to tell it of.
        state.snapshots.wrote(place.doc, place.sheet, a, data);
        if (anyText) restoreFormats(formats, wroteText);
        notes.place(state, dropped, &a);
    }

    // The merged area holding a cell (0-based), the cell itself when it is not
    // merged: a cursor on the cell grown to the merged area it lies in.
    table::CellRangeAddress mergedAreaAt(sal_Int32 column, sal_Int32 row) {
        Reference<css::sheet::XSheetCellRange> cell(place.sheet->getCellRangeByPosition(column, row, column, row),
                                                    UNO_QUERY_THROW);
        Reference<css::sheet::XSheetCellCursor> cursor = place.sheet->createCursorByRange(cell);
        cursor->collapseToMergedArea();
        return Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
    }

    // MergeCells: true when every cell lies in a merged area, false when none does,
    // null when some do. A range that holds no start of a merged area and does not
    // grow when grown to the merged areas it touches has none: a few calls for a
    // block of any size. Otherwise the cells are walked area by area.
    automation::MergeCoverage mergeCoverage() {
        Reference<table::XCellRange> cells = place.range(state);
        const table::CellRangeAddress own =
            Reference<css::sheet::XCellRangeAddressable>(cells, UNO_QUERY_THROW)->getRangeAddress();
        Reference<css::sheet::XSheetCellCursor> cursor =
            place.sheet->createCursorByRange(Reference<css::sheet::XSheetCellRange>(cells, UNO_QUERY_THROW));
        cursor->collapseToMergedArea();
        const table::CellRangeAddress grown =
            Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
        const bool didGrow = grown.StartColumn != own.StartColumn || grown.StartRow != own.StartRow ||
                             grown.EndColumn != own.EndColumn || grown.EndRow != own.EndRow;
        if (!didGrow && !Reference<util::XMergeable>(cells, UNO_QUERY_THROW)->getIsMerged())
            return automation::MergeCoverage::None;
        std::vector<table::CellRangeAddress> areas;
        bool anyMerged = false, anyAlone = false;
        for (sal_Int32 row = own.StartRow; row <= own.EndRow && !(anyMerged && anyAlone); ++row)
            for (sal_Int32 column = own.StartColumn; column <= own.EndColumn && !(anyMerged && anyAlone);) {
                auto covering = std::find_if(areas.begin(), areas.end(), [&](const table::CellRangeAddress& m) {
                    return m.StartRow <= row && row <= m.EndRow && m.StartColumn <= column && column <= m.EndColumn;
                });
                if (covering != areas.end()) {
                    column = covering->EndColumn + 1;
                    continue;
                }
                const table::CellRangeAddress m = mergedAreaAt(column, row);
                if (m.StartColumn == m.EndColumn && m.StartRow == m.EndRow) {
                    anyAlone = true;
                    ++column;
                    continue;
                }
                anyMerged = true;
                areas.push_back(m);
                column = m.EndColumn + 1;
            }
        if (anyMerged && anyAlone) return automation::MergeCoverage::Some;
        return anyMerged ? automation::MergeCoverage::All : automation::MergeCoverage::None;
    }

    sal_Int32 formatKey(const std::u16string& code) {
        if (code == u"@") return state.textFormatKey(*place.doc);
        Reference<util::XNumberFormats> formats =
            Reference<util::XNumberFormatsSupplier>(place.doc->model, UNO_QUERY_THROW)->getNumberFormats();
        lang::Locale enUs("en", "US", "");
        sal_Int32 key = formats->queryKey(toOUString(code), enUs, false);
        if (key < 0) key = formats->addNew(toOUString(code), enUs);
        return key;
    }

    std::u16string formatCode() {
        sal_Int32 key = 0;
        Reference<beans::XPropertySet>(place.topLeft(), UNO_QUERY_THROW)->getPropertyValue("NumberFormat") >>= key;
        Reference<util::XNumberFormats> formats =
            Reference<util::XNumberFormatsSupplier>(place.doc->model, UNO_QUERY_THROW)->getNumberFormats();
        OUString code;
        formats->getByKey(key)->getPropertyValue("FormatString") >>= code;
        return toU16(code);
    }
};

Place placeOf(const SheetHandle& handle, const Area& area) {
    const DocSheet& s = sheetOf(handle);
    return Place{s.doc, s.sheet, area};
}

}  // namespace

Variant OfficeBackend::readCell(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    state_->snapshots.sawSheet(sheetOf(sheet).doc, sheetOf(sheet).sheet);
    return Cells{*state_, placeOf(sheet, Area{row, column, row, column})}.one();
}

void OfficeBackend::readBlock(SheetHandle& sheet, const Area& area, Variant& array) {
    state_->snapshots.sawSheet(sheetOf(sheet).doc, sheetOf(sheet).sheet);
    Cells{*state_, placeOf(sheet, area)}.fill(array);
}

void OfficeBackend::writeBlock(SheetHandle& sheet, const Area& area, const automation::ValueBlock& values) {
    Cells cells{*state_, placeOf(sheet, area)};
    HiddenSheetUndoLock undoLock(cells.place);
    state_->noteChange(*cells.place.doc, !undoLock.isHidden());
    cells.write(values);
}

std::u16string OfficeBackend::displayText(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    const Place place = placeOf(sheet, Area{row, column, row, column});
    return toU16(Reference<text::XText>(place.topLeft(), UNO_QUERY_THROW)->getString());
}

std::u16string OfficeBackend::numberFormat(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    return Cells{*state_, placeOf(sheet, Area{row, column, row, column})}.formatCode();
}

void OfficeBackend::setNumberFormat(SheetHandle& sheet, const Area& area, const std::u16string& code) {
    Cells cells{*state_, placeOf(sheet, area)};
    HiddenSheetUndoLock undoLock(cells.place);
    state_->noteChange(*cells.place.doc, !undoLock.isHidden());
    cells.place.setProperty(*state_, "NumberFormat", Any(cells.formatKey(code)));
}

bool OfficeBackend::isBold(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    float weight = 0;
    Reference<beans::XPropertySet>(placeOf(sheet, Area{row, column, row, column}).topLeft(), UNO_QUERY_THROW)
        ->getPropertyValue("CharWeight") >>= weight;
    return weight >= awt::FontWeight::BOLD;
}

void OfficeBackend::setBold(SheetHandle& sheet, const Area& area, bool bold) {
    float weight = bold ? awt::FontWeight::BOLD : awt::FontWeight::NORMAL;
    const Place place = placeOf(sheet, area);
    state_->noteChange(*place.doc);
    place.setProperty(*state_, "CharWeight", Any(weight));
}

bool OfficeBackend::isWrapped(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    bool wrapped = false;
    Reference<beans::XPropertySet>(placeOf(sheet, Area{row, column, row, column}).topLeft(), UNO_QUERY_THROW)
        ->getPropertyValue("IsTextWrapped") >>= wrapped;
    return wrapped;
}

void OfficeBackend::setWrapped(SheetHandle& sheet, const Area& area, bool wrap) {
    const Place place = placeOf(sheet, area);
    state_->noteChange(*place.doc);
    place.setProperty(*state_, "IsTextWrapped", Any(wrap));
}

void OfficeBackend::autoFitColumns(SheetHandle& sheet, const Area& area) {
    const Place place = placeOf(sheet, area);
    state_->noteChange(*place.doc);
    Reference<table::XColumnRowRange> columns(place.range(*state_), UNO_QUERY_THROW);
    Reference<beans::XPropertySet>(columns->getColumns(), UNO_QUERY_THROW)->setPropertyValue("OptimalWidth", Any(true));
}

automation::MergeCoverage OfficeBackend::mergeCoverage(SheetHandle& sheet, const Area& area) {
    return Cells{*state_, placeOf(sheet, area)}.mergeCoverage();
}

std::optional<Area> OfficeBackend::mergeAreaContaining(SheetHandle& sheet, const Area& a) {
    const table::CellRangeAddress m = Cells{*state_, placeOf(sheet, a)}.mergedAreaAt(a.left - 1, a.top - 1);
    if (m.StartColumn > a.left - 1 || m.StartRow > a.top - 1 || m.EndColumn < a.right - 1 || m.EndRow < a.bottom - 1)
        return std::nullopt;
    return Area{m.StartRow + 1, m.StartColumn + 1, m.EndRow + 1, m.EndColumn + 1, Area::Shape::Cells};
}

std::optional<std::u16string> OfficeBackend::commentText(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    const SheetNotes& notes = state_->notesOf(*sheetOf(sheet).doc, sheetOf(sheet).sheet);
    auto known = notes.texts.find({row, column});
    if (known == notes.texts.end()) return std::nullopt;
    return known->second;
}

std::u16string OfficeBackend::commentAuthor(SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    return toU16(annotationOf(placeOf(sheet, Area{row, column, row, column}))->getAuthor());
}

// The office gives a note its own author.
void OfficeBackend::addComment(SheetHandle& sheet, std::int32_t row, std::int32_t column, std::u16string text,
                               const std::u16string&) {
    state_->noteChange(*sheetOf(sheet).doc);
    SheetNotes& notes = state_->notesOf(*sheetOf(sheet).doc, sheetOf(sheet).sheet);
    notes.texts[{row, column}] = std::move(text);
    notes.unplaced.insert({row, column});
}

void OfficeBackend::setCommentText(SheetHandle& sheet, std::int32_t row, std::int32_t column, std::u16string text) {
    state_->noteChange(*sheetOf(sheet).doc);
    SheetNotes& notes = state_->notesOf(*sheetOf(sheet).doc, sheetOf(sheet).sheet);
    const auto key = std::make_pair(row, column);
    if (notes.texts.count(key) && !notes.unplaced.count(key))
        Reference<text::XSimpleText>(annotationOf(placeOf(sheet, Area{row, column, row, column})), UNO_QUERY_THROW)
            ->setString(toOUString(text));
    notes.texts[key] = std::move(text);
}

void OfficeBackend::clearComments(SheetHandle& sheet, const Area& area) {
    const Place place = placeOf(sheet, area);
    state_->noteChange(*place.doc);
    clearNotes(*state_, place);
}

}  // namespace calc
