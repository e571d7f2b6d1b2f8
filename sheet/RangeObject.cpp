// Range: Value and Text of its first cell, values assigned to every cell, Item by
// cell, column or row, the entire rows and columns, number formats, fonts,
// comments, column widths and its address.
#include "sheet/RangeObject.h"

#include "sheet/AutomationObject.h"
#include "sheet/CommentObject.h"
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
            return valueOf(area_.top, area_.left);
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
                    applicationError("'" + code + "' is not a number format the application accepts.");
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
        switch (c->kind) {
        case CellKind::Empty:
            // A formula stored without its result (scripts write them so) has a value
            // this application does not compute; it answers "not available" rather
            // than pretend the cell is empty.
            if (c->flags & Cell::kHasFormula) return Variant::error(errorScode(kErrorNotAvailable));
            return {};
        case CellKind::Number:
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
        switch (v.vt()) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_BSTR:
        case VT_R8:
        case VT_R4:
        case VT_I2:
        case VT_I4:
        case VT_BOOL:
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
        for (std::int32_t r = area_.top; r <= area_.bottom && s.hasFormulas(); ++r)
            for (std::int32_t c = area_.left; c <= area_.right; ++c) {
                const Cell* cell = s.find(r, c);
                if (!cell || !(cell->flags & Cell::kHasFormula)) continue;
                const Formula* f = s.formula(r, c);
                if (f && f->isAnchor())
                    applicationError("Cell " + cellRefText(r, c) + " of sheet " + quoted(s.name()) +
                                     " holds a formula other cells share; it cannot be replaced here.");
            }
        for (std::int32_t r = area_.top; r <= area_.bottom; ++r)
            for (std::int32_t c = area_.left; c <= area_.right; ++c) assignCell(r, c, v);
    }

    void assignCell(std::int32_t r, std::int32_t c, const Variant& v) {
        Sheet& s = *sheet_;
        switch (v.vt()) {
        case VT_EMPTY:
        case VT_NULL:
            s.clearValue(r, c);
            return;
        case VT_R8:
            s.setNumber(r, c, v.dblVal());
            return;
        case VT_R4:
            s.setNumber(r, c, v.fltVal());
            return;
        case VT_I2:
            s.setNumber(r, c, v.iVal());
            return;
        case VT_I4:
            s.setNumber(r, c, v.lVal());
            return;
        case VT_BOOL:
            s.setBoolean(r, c, v.boolVal() != 0);
            return;
        case VT_ERROR:
            s.setError(r, c, static_cast<std::int32_t>(static_cast<std::uint32_t>(v.scode()) & 0xFFFFu));
            return;
        case VT_BSTR: {
            const std::u16string& text = v.bstrVal();
            if (text.empty()) {
                s.clearValue(r, c);
                return;
            }
            // Text typed into a General cell that reads as a number is stored as that
            // number; the text format ("@") keeps it as typed.
            if (!s.book().styles.isTextFormat(s.styleAt(r, c)))
                if (auto number = parseGeneralNumber(text)) {
                    s.setNumber(r, c, *number);
                    return;
                }
            s.setText(r, c, text);
            return;
        }
        default:
            failWith(DISP_E_TYPEMISMATCH);
        }
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
