// Range: Value of one cell or of a block (an array), Text of its first cell, values
// assigned to every cell or from an array, Item by cell, column or row, the entire
// rows and columns, number formats, fonts, comments, column widths and its address.
#include "sheet/RangeObject.h"

#include "sheet/AutomationObject.h"
#include "sheet/CommentObject.h"
#include "sheet/DateFormat.h"
#include "sheet/FontObject.h"
#include "sheet/NumberText.h"
#include "sheet/Utf.h"
#include "sheet/WorksheetObject.h"

#include <algorithm>

using platform::Variant;

namespace sheet {
namespace {

// The cells one call changes one by one: a stray whole-sheet range would otherwise
// make billions of cells.
constexpr std::int64_t kMaxCellsPerCall = 1 << 22;
constexpr std::size_t kMaxCellText = 32767;

class RangeObject final : public AutomationObject<ObjectClass::Range> {
public:
    RangeObject(std::shared_ptr<AppState> app, std::shared_ptr<Sheet> sheet, Area area)
        : AutomationObject(std::move(app)), sheet_(std::move(sheet)), area_(area) {}

    const std::shared_ptr<Sheet>& sheet() const { return sheet_; }
    const Area& area() const { return area_; }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Sheet& s = *sheet_;
        switch (id) {
        case DISPID_VALUE:
        case dispid::Value:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 2);
                putValue(args.assigned());
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 1);
            if (id == DISPID_VALUE && args.size() > 0) return item(args);
            if (area_.top == area_.bottom && area_.left == area_.right) return valueOf(area_.top, area_.left);
            return values();
        case dispid::Item:
            if (!isKind(flags, Kind::Get)) break;
            return item(args);
        case dispid::Text:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(s.displayText(area_.top, area_.left));
        case dispid::Comment: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            if (!s.comment(area_.top, area_.left)) return Variant::dispatch(nullptr);
            return commentObject();
        }
        case dispid::AddComment: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 1);
            checkCommentsWritable(s);
            if (s.comment(area_.top, area_.left))
                applicationError("Cell " + cellRefText(area_.top, area_.left) + " of sheet " + quoted(s.name()) +
                                 " already has a comment; change its text instead.");
            std::u16string text = args.isPresent(0) ? args.text(0) : std::u16string();
            s.setComment(area_.top, area_.left, Comment{std::move(text), app_->userName});
            return commentObject();
        }
        case dispid::EntireRow:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{area_.top, 1, area_.bottom, kMaxColumns, Area::Shape::Rows});
        case dispid::EntireColumn:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{1, area_.left, kMaxRows, area_.right, Area::Shape::Columns});
        case dispid::Cells:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{area_.top, area_.left, area_.bottom, area_.right, Area::Shape::Cells});
        case dispid::Columns:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{area_.top, area_.left, area_.bottom, area_.right, Area::Shape::Columns});
        case dispid::Rows:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{area_.top, area_.left, area_.bottom, area_.right, Area::Shape::Rows});
        case dispid::Font:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return fontObject();
        case dispid::NumberFormat:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                const Variant& v = args.assigned();
                if (v.vt() != VT_BSTR) failWith(DISP_E_TYPEMISMATCH);
                // The text format is what callers set cell by cell; spare it the conversion.
                std::string code = v.bstrVal() == u"@" ? std::string("@") : utf16ToUtf8(v.bstrVal());
                if (code.empty() || code.size() > 255)
                    applicationError(quoted(code) + " is not a number format the application accepts.");
                AppState::checkWritable(s.book());
                Styles& styles = s.book().styles;
                restyle([&](std::uint32_t old) { return styles.withFormatCode(old, code); });
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(utf8ToUtf16(s.book().styles.formatCode(s.styleAt(area_.top, area_.left))));
        case dispid::AutoFit:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            AppState::checkWritable(s.book());
            // Row heights follow their text by themselves here; only columns change.
            if (area_.shape != Area::Shape::Rows) s.autoFit(area_.left, area_.right);
            return Variant::boolean(true);
        case dispid::MergeCells:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            // Null, as the application answers a property its cells differ in.
            switch (s.mergedAreas().coverage(rect())) {
            case MergedAreas::Coverage::None:
                return Variant::boolean(false);
            case MergedAreas::Coverage::All:
                return Variant::boolean(true);
            case MergedAreas::Coverage::Some:
                return Variant::null();
            }
            break;
        case dispid::MergeArea: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            // A range that no one merged area holds is its own merge area.
            const auto merged = s.mergedAreas().containing(rect());
            if (!merged) return range(Area{area_.top, area_.left, area_.bottom, area_.right, Area::Shape::Cells});
            return range(Area{merged->top, merged->left, merged->bottom, merged->right, Area::Shape::Cells});
        }
        case dispid::Row:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(area_.top);
        case dispid::Column:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(area_.left);
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(count());
        case dispid::Address:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::bstr(utf8ToUtf16(address()));
        case dispid::Worksheet:
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::dispatch(makeWorksheetObject(app_, sheet_).get());
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(app_->application);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    CellRect rect() const { return CellRect{area_.top, area_.left, area_.bottom, area_.right}; }

    std::int32_t count() const {
        std::int64_t rows = area_.bottom - area_.top + 1, cols = area_.right - area_.left + 1;
        if (area_.shape == Area::Shape::Columns) return static_cast<std::int32_t>(cols);
        if (area_.shape == Area::Shape::Rows) return static_cast<std::int32_t>(rows);
        return static_cast<std::int32_t>(std::min<std::int64_t>(rows * cols, INT32_MAX));
    }

    std::string address() const {
        std::string a = "$" + columnName(area_.left) + "$" + std::to_string(area_.top);
        if (area_.top == area_.bottom && area_.left == area_.right) return a;
        return a + ":$" + columnName(area_.right) + "$" + std::to_string(area_.bottom);
    }

    Variant range(Area a) { return Variant::dispatch(makeRangeObject(app_, sheet_, a).get()); }

    Variant item(const Args& args) {
        args.expect(1, 2);
        std::int64_t row = 0, column = 0;
        if (args.size() == 2 && args.isPresent(1)) {
            row = area_.top + static_cast<std::int64_t>(args.integer(0)) - 1;
            column = area_.left + static_cast<std::int64_t>(args.integer(1)) - 1;
        } else {
            std::int64_t index = args.integer(0);
            if (area_.shape == Area::Shape::Columns) {
                column = area_.left + index - 1;
                if (column < 1 || column > kMaxColumns) failWith(DISP_E_BADINDEX);
                return range(Area{area_.top, static_cast<std::int32_t>(column), area_.bottom,
                                  static_cast<std::int32_t>(column), Area::Shape::Columns});
            }
            if (area_.shape == Area::Shape::Rows) {
                row = area_.top + index - 1;
                if (row < 1 || row > kMaxRows) failWith(DISP_E_BADINDEX);
                return range(Area{static_cast<std::int32_t>(row), area_.left, static_cast<std::int32_t>(row),
                                  area_.right, Area::Shape::Rows});
            }
            std::int64_t width = area_.right - area_.left + 1;
            if (index < 1) failWith(DISP_E_BADINDEX);
            row = area_.top + (index - 1) / width;
            column = area_.left + (index - 1) % width;
        }
        if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) failWith(DISP_E_BADINDEX);
        auto r = static_cast<std::int32_t>(row);
        auto c = static_cast<std::int32_t>(column);
        return range(Area{r, c, r, c, Area::Shape::Cells});
    }

    Variant valueOf(std::int32_t row, std::int32_t column) const {
        const Cell* c = sheet_->find(row, column);
        if (!c) return {};
        return valueOf(*c);
    }

    Variant valueOf(const Cell& cell) const {
        const Cell* c = &cell;
        switch (c->kind) {
        case CellKind::Empty:
            // A formula stored without its result (scripts write them so) has a value
            // this application does not compute; it answers "not available" rather
            // than pretend the cell is empty.
            if (c->flags & Cell::kHasFormula) return Variant::error(errorScode(kErrorNotAvailable));
            return {};
        case CellKind::Number:
            // A number shown as a date or time is a date; one its format cannot show
            // as a date stays a number.
            if (sheet_->book().styles.isDateFormat(c->style))
                if (auto date = automationDateOfSerial(c->number, sheet_->book().isDate1904))
                    return Variant::date(*date);
            return Variant::r8(c->number);
        case CellKind::Text:
            return Variant::bstr(std::u16string(sheet_->book().strings.text(c->text)));
        case CellKind::Boolean:
            return Variant::boolean(c->number != 0);
        case CellKind::Error:
            return Variant::error(errorScode(c->error));
        }
        return {};
    }

    void putValue(const Variant& v) {
        Sheet& s = *sheet_;
        AppState::checkWritable(s.book());
        std::int64_t cells = static_cast<std::int64_t>(area_.bottom - area_.top + 1) * (area_.right - area_.left + 1);
        if (cells > kMaxCellsPerCall)
            applicationError("A value cannot be assigned to " + std::to_string(cells) + " cells at once.");
        // Check the whole assignment before changing any cell.
        const Block block = blockOf(v);
        if (block.array) {
            for (const Variant* element : block.elements) checkAssignable(*element);
        } else {
            checkAssignable(v);
        }
        for (std::int32_t r = area_.top; r <= area_.bottom && s.hasFormulas(); ++r)
            for (std::int32_t c = area_.left; c <= area_.right; ++c) {
                const Cell* cell = s.find(r, c);
                if (!cell || !(cell->flags & Cell::kHasFormula)) continue;
                const Formula* f = s.formula(r, c);
                if (f && f->isAnchor())
                    applicationError("Cell " + cellRefText(r, c) + " of sheet " + quoted(s.name()) +
                                     " holds a formula other cells share; it cannot be replaced here.");
            }
        if (!block.array) {
            for (std::int32_t r = area_.top; r <= area_.bottom; ++r) {
                Sheet::RowCursor cursor(s, r);
                for (std::int32_t c = area_.left; c <= area_.right; ++c) assignCell(cursor, c, v);
            }
            return;
        }
        // An array goes element by element from the range's top-left cell, as the
        // spreadsheet lays it out: the first dimension down the rows, the second
        // across the columns. A one-dimensional array is a row, repeated on every
        // row of the range. Cells the array does not reach show "not available";
        // elements beyond the range are left out.
        static const Variant notAvailable = Variant::error(errorScode(kErrorNotAvailable));
        for (std::int32_t r = area_.top; r <= area_.bottom; ++r) {
            const std::int64_t i = block.rows == 0 ? 0 : r - area_.top;
            Sheet::RowCursor cursor(s, r);
            for (std::int32_t c = area_.left; c <= area_.right; ++c) {
                const std::int64_t j = c - area_.left;
                const bool inside = (block.rows == 0 || i < block.rows) && j < block.columns;
                assignCell(cursor, c,
                           inside ? *block.elements[static_cast<std::size_t>(i * block.columns + j)] : notAvailable);
            }
        }
    }

    // An assigned value that is an array, read out in row order: rows 0 for a
    // one-dimensional array. Arrays of more dimensions, or of arrays, do not fit a
    // sheet's cells.
    struct Block {
        bool array = false;
        std::int64_t rows = 0, columns = 0;
        std::vector<const Variant*> elements;  // into the assigned array, which outlives the call
    };
    static Block blockOf(const Variant& v) {
        Block block;
        if (!v.isArray()) return block;
        SAFEARRAY* a = v.parray();
        const UINT dims = platform::SafeArrayGetDim(a);
        if (v.vt() != (VT_ARRAY | VT_VARIANT) || !a || dims < 1 || dims > 2) failWith(DISP_E_TYPEMISMATCH);
        LONG low[2] = {0, 0}, high[2] = {-1, -1};
        for (UINT d = 0; d < dims; ++d) {
            platform::SafeArrayGetLBound(a, d + 1, &low[d]);
            platform::SafeArrayGetUBound(a, d + 1, &high[d]);
        }
        block.array = true;
        block.rows = dims == 2 ? static_cast<std::int64_t>(high[0]) - low[0] + 1 : 0;
        block.columns = static_cast<std::int64_t>(high[dims - 1]) - low[dims - 1] + 1;
        if (std::max<std::int64_t>(block.rows, 1) * block.columns > kMaxCellsPerCall)
            applicationError("An array of more than " + std::to_string(kMaxCellsPerCall) +
                             " values cannot be assigned at once.");
        block.elements.resize(static_cast<std::size_t>(std::max<std::int64_t>(block.rows, 1) * block.columns));
        std::size_t at = 0;
        LONG index[2] = {low[0], low[1]};
        for (std::int64_t i = 0; i < std::max<std::int64_t>(block.rows, 1); ++i)
            for (std::int64_t j = 0; j < block.columns; ++j) {
                if (dims == 2) {
                    index[0] = static_cast<LONG>(low[0] + i);
                    index[1] = static_cast<LONG>(low[1] + j);
                } else {
                    index[0] = static_cast<LONG>(low[0] + j);
                }
                Variant* element = nullptr;
                if (FAILED(platform::SafeArrayPtrOfIndex(a, index, &element))) failWith(DISP_E_BADINDEX);
                if (element->isArray()) failWith(DISP_E_TYPEMISMATCH);
                block.elements[at++] = element;
            }
        return block;
    }

    // The values of every cell of the range: a two-dimensional array counting from
    // 1 in both dimensions, rows first.
    Variant values() const {
        const std::int64_t rows = static_cast<std::int64_t>(area_.bottom) - area_.top + 1;
        const std::int64_t columns = static_cast<std::int64_t>(area_.right) - area_.left + 1;
        if (rows * columns > kMaxCellsPerCall)
            applicationError("The values of " + std::to_string(rows * columns) + " cells cannot be read at once.");
        const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 1}, {static_cast<ULONG>(columns), 1}};
        Variant out = Variant::array(platform::SafeArrayCreate(VT_VARIANT, 2, bounds));
        if (!out.isArray()) failWith(E_OUTOFMEMORY);
        const Sheet& s = *sheet_;
        LONG index[2] = {1, 1};
        for (std::int32_t r = area_.top; r <= area_.bottom; ++r) {
            const Sheet::Row* cells = s.findRow(r);
            if (!cells) continue;  // the elements are empty already
            index[0] = r - area_.top + 1;
            auto it = std::lower_bound(cells->begin(), cells->end(), area_.left,
                                       [](const Cell& cell, std::int32_t column) { return cell.column < column; });
            for (; it != cells->end() && it->column <= area_.right; ++it) {
                index[1] = it->column - area_.left + 1;
                Variant* element = nullptr;
                platform::SafeArrayPtrOfIndex(out.parray(), index, &element);
                *element = valueOf(*it);
            }
        }
        return out;
    }

    static void checkAssignable(const Variant& v) {
        switch (v.vt()) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_BSTR:
        case VT_R8:
        case VT_R4:
        case VT_I2:
        case VT_I4:
        case VT_BOOL:
        case VT_DATE:
            break;
        case VT_ERROR: {
            auto number = static_cast<std::uint32_t>(v.scode()) & 0xFFFFu;
            if ((static_cast<std::uint32_t>(v.scode()) & 0xFFFF0000u) != 0x800A0000u ||
                !errorByNumber(static_cast<std::int32_t>(number)))
                failWith(DISP_E_TYPEMISMATCH);
            break;
        }
        default:
            failWith(DISP_E_TYPEMISMATCH);
        }
        if (v.vt() == VT_BSTR && v.bstrVal().size() > kMaxCellText)
            applicationError("A cell holds at most 32,767 characters; the text has " +
                             std::to_string(v.bstrVal().size()) + ".");
    }

    void assignCell(Sheet::RowCursor& cells, std::int32_t c, const Variant& v) {
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
            assignDate(cells, c, v);
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
            if (!sheet_->book().styles.isTextFormat(cells.styleAt(c)))
                if (auto number = parseGeneralNumber(text)) {
                    cells.setNumber(c, *number);
                    return;
                }
            cells.setText(c, text);
            return;
        }
        default:
            failWith(DISP_E_TYPEMISMATCH);
        }
    }

    // A date is stored as its serial, and a General cell takes a date format for it
    // as the application gives one. A date the workbook's system cannot count is
    // stored as its text.
    void assignDate(Sheet::RowCursor& cells, std::int32_t c, const Variant& v) {
        Book& book = sheet_->book();
        const auto serial = serialOfAutomationDate(v.date(), book.isDate1904);
        if (!serial) {
            Variant text;
            if (FAILED(platform::VariantChangeType(text, v, 0, VT_BSTR))) failWith(DISP_E_TYPEMISMATCH);
            cells.setText(c, text.bstrVal());
            return;
        }
        const std::uint32_t style = cells.styleAt(c);
        if (book.styles.formatCode(style) == "General")
            cells.setStyle(c, book.styles.withFormatCode(style, formatCodeForAssignedDate(v.date())));
        cells.setNumber(c, *serial);
    }

    template <class Change>
    void restyle(Change&& change) {
        if (area_.top == area_.bottom && area_.left == area_.right) {
            sheet_->setStyle(area_.top, area_.left, change(sheet_->styleAt(area_.top, area_.left)));
            return;
        }
        checkFormatArea(area_);
        sheet_->restyle(area_.top, area_.left, area_.bottom, area_.right, area_.isWholeRows(), area_.isWholeColumns(),
                        change);
    }

    Variant fontObject() {
        return Variant::dispatch(makeFontObject(app_, platform::ComPtr<IDispatch>(this), sheet_, area_).get());
    }
    Variant commentObject() { return Variant::dispatch(makeCommentObject(app_, sheet_, area_.top, area_.left).get()); }

    std::shared_ptr<Sheet> sheet_;
    Area area_;
};

}  // namespace

platform::ComPtr<IDispatch> makeRangeObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet,
                                            Area area) {
    auto range = platform::makeCom<RangeObject>(app, sheet, area);
    return platform::ComPtr<IDispatch>::adopt(range.detach());
}

bool rangeOf(IDispatch* object, std::shared_ptr<Sheet>& sheet, Area& area) {
    auto* range = dynamic_cast<RangeObject*>(object);
    if (!range) return false;
    sheet = range->sheet();
    area = range->area();
    return true;
}

void checkFormatArea(const Area& area) {
    std::int64_t cells = static_cast<std::int64_t>(area.bottom - area.top + 1) * (area.right - area.left + 1);
    if (!area.isWholeColumns() && !area.isWholeRows() && cells > kMaxCellsPerCall)
        applicationError("A format cannot be set on " + std::to_string(cells) + " cells at once.");
}

}  // namespace sheet
