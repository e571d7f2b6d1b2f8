// Worksheet, Range, Font and Comment: the objects through which cells are written
// and read.
#include "sheet/Objects.h"

#include "sheet/CellRef.h"
#include "sheet/DispatchSupport.h"
#include "sheet/NumberText.h"
#include "sheet/Utf.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/Package.h"

#include <algorithm>

using platform::ComPtr;
using platform::Variant;

namespace sheet {
namespace {

namespace dispid {
constexpr DISPID Value = 6, Text = 0x8A, Name = 0x6E, Parent = 0x96, Application = 0x94, Item = 0xAA, Count = 0x76;
constexpr DISPID Activate = 0x130, Cells = 0xEE, Columns = 0xF1, Rows = 0x102, Range = 0xC5, Index = 0x1E6;
constexpr DISPID Comment = 0x38E, AddComment = 0x56D, EntireRow = 0xF7, EntireColumn = 0xF6, Font = 0x92;
constexpr DISPID NumberFormat = 0xC1, AutoFit = 0xED, Row = 0x101, Column = 0xF0, Worksheet = 0x15C;
constexpr DISPID Bold = 0x60, Author = 0x23E, Address = 0xEC, Delete = 0x75, UsedRange = 0x19C;
}  // namespace dispid

constexpr std::int64_t kMaxCellsPerCall = 1 << 22;
constexpr std::size_t kMaxCellText = 32767;

using Lock = std::lock_guard<std::mutex>;

std::string nameOf(const Sheet& sheet) { return "'" + utf16ToUtf8(sheet.name()) + "'"; }

std::shared_ptr<Book> bookHandle(const AppState& app, const Sheet& sheet) {
    for (const auto& b : app.books)
        if (b.get() == &sheet.book()) return b;
    return nullptr;
}

void checkCommentsWritable(const Sheet& sheet) {
    AppState::checkWritable(sheet.book());
    if (sheet.carry) xlsx::checkCommentDrawing(sheet.book(), *sheet.carry);
    if (sheet.carry && !sheet.carry->commentsLockedReason.empty())
        applicationError("The comments of sheet " + nameOf(sheet) + " cannot be changed: " + sheet.carry->commentsLockedReason +
                         ", which would be lost.");
}

class WorksheetObject;

class RangeObject final : public platform::ComObject<IDispatch> {
public:
    RangeObject(std::shared_ptr<AppState> app, std::shared_ptr<Sheet> sheet, Area area)
        : app_(std::move(app)), sheet_(std::move(sheet)), area_(area) {}

    const std::shared_ptr<Sheet>& sheet() const { return sheet_; }
    const Area& area() const { return area_; }

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        return lockedInvoke(app_->mutex, excep, result, [&] { return dispatch(id, flags, Args(args)); });
    }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) {
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
                applicationError("Cell " + cellRefText(area_.top, area_.left) + " of sheet " + nameOf(s) +
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
                if (code.empty() || code.size() > 255) applicationError("'" + code + "' is not a number format the application accepts.");
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
        default: break;
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
                return range(Area{area_.top, static_cast<std::int32_t>(column), area_.bottom, static_cast<std::int32_t>(column),
                                  Area::Shape::Columns});
            }
            if (area_.shape == Area::Shape::Rows) {
                row = area_.top + index - 1;
                if (row < 1 || row > kMaxRows) failWith(DISP_E_BADINDEX);
                return range(Area{static_cast<std::int32_t>(row), area_.left, static_cast<std::int32_t>(row), area_.right,
                                  Area::Shape::Rows});
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
        case CellKind::Number: return Variant::r8(c->number);
        case CellKind::Text: return Variant::bstr(std::u16string(sheet_->book().strings.text(c->text)));
        case CellKind::Boolean: return Variant::boolean(c->number != 0);
        case CellKind::Error: return Variant::error(errorScode(c->error));
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
        case VT_EMPTY: case VT_NULL: case VT_BSTR: case VT_R8: case VT_R4: case VT_I2: case VT_I4: case VT_BOOL: break;
        case VT_ERROR: {
            auto number = static_cast<std::uint32_t>(v.scode()) & 0xFFFFu;
            if ((static_cast<std::uint32_t>(v.scode()) & 0xFFFF0000u) != 0x800A0000u || !errorByNumber(static_cast<std::int32_t>(number)))
                failWith(DISP_E_TYPEMISMATCH);
            break;
        }
        default: failWith(DISP_E_TYPEMISMATCH);
        }
        if (v.vt() == VT_BSTR && v.bstrVal().size() > kMaxCellText)
            applicationError("A cell holds at most 32,767 characters; the text has " + std::to_string(v.bstrVal().size()) + ".");
        for (std::int32_t r = area_.top; r <= area_.bottom && s.hasFormulas(); ++r)
            for (std::int32_t c = area_.left; c <= area_.right; ++c) {
                const Cell* cell = s.find(r, c);
                if (!cell || !(cell->flags & Cell::kHasFormula)) continue;
                const Formula* f = s.formula(r, c);
                if (f && f->isAnchor())
                    applicationError("Cell " + cellRefText(r, c) + " of sheet " + nameOf(s) +
                                     " holds a formula other cells share; it cannot be replaced here.");
            }
        for (std::int32_t r = area_.top; r <= area_.bottom; ++r)
            for (std::int32_t c = area_.left; c <= area_.right; ++c) assignCell(r, c, v);
    }

    void assignCell(std::int32_t r, std::int32_t c, const Variant& v) {
        Sheet& s = *sheet_;
        switch (v.vt()) {
        case VT_EMPTY:
        case VT_NULL: s.clearValue(r, c); return;
        case VT_R8: s.setNumber(r, c, v.dblVal()); return;
        case VT_R4: s.setNumber(r, c, v.fltVal()); return;
        case VT_I2: s.setNumber(r, c, v.iVal()); return;
        case VT_I4: s.setNumber(r, c, v.lVal()); return;
        case VT_BOOL: s.setBoolean(r, c, v.boolVal() != 0); return;
        case VT_ERROR: s.setError(r, c, static_cast<std::int32_t>(static_cast<std::uint32_t>(v.scode()) & 0xFFFFu)); return;
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
        default: failWith(DISP_E_TYPEMISMATCH);
        }
    }

    template <class Change>
    void restyle(Change&& change) {
        if (area_.top == area_.bottom && area_.left == area_.right) {
            sheet_->setStyle(area_.top, area_.left, change(sheet_->styleAt(area_.top, area_.left)));
            return;
        }
        std::int64_t cells = static_cast<std::int64_t>(area_.bottom - area_.top + 1) * (area_.right - area_.left + 1);
        bool wholeColumns = area_.isWholeColumns(), wholeRows = area_.isWholeRows();
        if (!wholeColumns && !wholeRows && cells > kMaxCellsPerCall)
            applicationError("A format cannot be set on " + std::to_string(cells) + " cells at once.");
        sheet_->restyle(area_.top, area_.left, area_.bottom, area_.right, wholeRows, wholeColumns, change);
    }

    Variant fontObject();
    Variant commentObject();

    std::shared_ptr<AppState> app_;
    std::shared_ptr<Sheet> sheet_;
    Area area_;
};

class FontObject final : public platform::ComObject<IDispatch> {
public:
    FontObject(std::shared_ptr<AppState> app, ComPtr<RangeObject> range) : app_(std::move(app)), range_(std::move(range)) {}

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        return guardedInvoke(excep, [&] {
            Lock lock(app_->mutex);
            Args a(args);
            Variant r;
            Sheet& s = *range_->sheet();
            const Area& area = range_->area();
            if (id == dispid::Bold && isKind(flags, Kind::Put)) {
                a.expect(1, 1);
                bool bold = a.boolean(0);
                AppState::checkWritable(s.book());
                std::int64_t cells = static_cast<std::int64_t>(area.bottom - area.top + 1) * (area.right - area.left + 1);
                if (!area.isWholeColumns() && !area.isWholeRows() && cells > kMaxCellsPerCall)
                    applicationError("A format cannot be set on " + std::to_string(cells) + " cells at once.");
                Styles& styles = s.book().styles;
                s.restyle(area.top, area.left, area.bottom, area.right, area.isWholeRows(), area.isWholeColumns(),
                          [&](std::uint32_t old) { return styles.withBold(old, bold); });
            } else if (id == dispid::Bold && isKind(flags, Kind::Get)) {
                a.expect(0, 0);
                r = Variant::boolean(s.book().styles.isBold(s.styleAt(area.top, area.left)));
            } else if (id == dispid::Parent && isKind(flags, Kind::Get)) {
                r = Variant::dispatch(range_.get());
            } else {
                failWith(DISP_E_MEMBERNOTFOUND);
            }
            if (result) *result = std::move(r);
        });
    }

private:
    std::shared_ptr<AppState> app_;
    ComPtr<RangeObject> range_;
};

class CommentObject final : public platform::ComObject<IDispatch> {
public:
    CommentObject(std::shared_ptr<AppState> app, std::shared_ptr<Sheet> sheet, std::int32_t row, std::int32_t column)
        : app_(std::move(app)), sheet_(std::move(sheet)), row_(row), column_(column) {}

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        return guardedInvoke(excep, [&] {
            Lock lock(app_->mutex);
            Args a(args);
            Variant r;
            const Comment* c = sheet_->comment(row_, column_);
            if (!c)
                applicationError("The comment of cell " + cellRefText(row_, column_) + " of sheet " + nameOf(*sheet_) +
                                 " has been deleted.");
            if (id == dispid::Text && isKind(flags, Kind::Method)) {
                a.expect(0, 3);
                if (a.isPresent(0)) {
                    std::u16string text = a.text(0);
                    std::u16string updated = text;
                    if (a.isPresent(1)) {
                        // Start counts from 1; overwrite replaces from there, else inserts.
                        std::int32_t start = a.integer(1);
                        if (start < 1) failWith(E_INVALIDARG);
                        bool overwrite = a.isPresent(2) && a.boolean(2);
                        std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(start - 1), c->text.size());
                        updated = c->text.substr(0, at) + text + (overwrite ? std::u16string() : c->text.substr(at));
                    }
                    checkCommentsWritable(*sheet_);
                    Comment changed = *c;
                    changed.text = std::move(updated);
                    sheet_->setComment(row_, column_, std::move(changed));
                    c = sheet_->comment(row_, column_);
                }
                r = Variant::bstr(c->text);
            } else if (id == dispid::Delete && isKind(flags, Kind::Method)) {
                a.expect(0, 0);
                checkCommentsWritable(*sheet_);
                sheet_->removeComment(row_, column_);
            } else if (id == dispid::Author && isKind(flags, Kind::Get)) {
                r = Variant::bstr(c->author);
            } else if (id == dispid::Parent && isKind(flags, Kind::Get)) {
                r = Variant::dispatch(makeRangeObject(app_, sheet_, Area{row_, column_, row_, column_}).get());
            } else {
                failWith(DISP_E_MEMBERNOTFOUND);
            }
            if (result) *result = std::move(r);
        });
    }

private:
    std::shared_ptr<AppState> app_;
    std::shared_ptr<Sheet> sheet_;
    std::int32_t row_, column_;
};

Variant RangeObject::fontObject() {
    auto font = platform::makeCom<FontObject>(app_, ComPtr<RangeObject>(this));
    return Variant::dispatch(font.get());
}

Variant RangeObject::commentObject() {
    auto comment = platform::makeCom<CommentObject>(app_, sheet_, area_.top, area_.left);
    return Variant::dispatch(comment.get());
}

class WorksheetObject final : public platform::ComObject<IDispatch> {
public:
    WorksheetObject(std::shared_ptr<AppState> app, std::shared_ptr<Sheet> sheet) : app_(std::move(app)), sheet_(std::move(sheet)) {}
    const std::shared_ptr<Sheet>& sheet() const { return sheet_; }

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        return lockedInvoke(app_->mutex, excep, result, [&] { return dispatch(id, flags, Args(args)); });
    }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) {
        Sheet& s = *sheet_;
        Book& book = s.book();
        switch (id) {
        case dispid::Name:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                std::u16string name = args.text(0);
                std::string problem = sheetNameProblem(name);
                if (!problem.empty()) applicationError("The name '" + utf16ToUtf8(name) + "' is not allowed: " + problem + ".");
                auto existing = book.findSheet(name);
                if (existing && book.sheets()[*existing] != sheet_)
                    applicationError("The name '" + utf16ToUtf8(name) + "' is already taken by another sheet of the workbook.");
                AppState::checkWritable(book);
                if (name != s.name()) {
                    s.setName(std::move(name));
                    book.isStructureChanged = true;
                }
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(s.name());
        case dispid::Activate: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            auto handle = bookHandle(*app_, s);
            auto& sheets = book.sheets();
            auto it = std::find(sheets.begin(), sheets.end(), sheet_);
            if (it == sheets.end()) applicationError("Sheet " + nameOf(s) + " is no longer part of its workbook.");
            book.setActiveIndex(static_cast<std::size_t>(it - sheets.begin()));
            if (handle) activateBook(*app_, handle);
            return {};
        }
        case dispid::Index: {
            if (!isKind(flags, Kind::Get)) break;
            auto& sheets = book.sheets();
            auto it = std::find(sheets.begin(), sheets.end(), sheet_);
            return Variant::i4(it == sheets.end() ? 0 : static_cast<LONG>(it - sheets.begin() + 1));
        }
        case dispid::Cells:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{1, 1, kMaxRows, kMaxColumns, Area::Shape::Cells});
        case dispid::Columns:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{1, 1, kMaxRows, kMaxColumns, Area::Shape::Columns});
        case dispid::Rows:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{1, 1, kMaxRows, kMaxColumns, Area::Shape::Rows});
        case dispid::UsedRange: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            Area used{1, 1, 1, 1, Area::Shape::Cells};
            s.usedArea(used.top, used.left, used.bottom, used.right);
            return range(used);
        }
        case dispid::Range: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 2);
            Area first = corner(args, 0);
            if (args.isPresent(1)) {
                Area second = corner(args, 1);
                first = Area{std::min(first.top, second.top), std::min(first.left, second.left),
                             std::max(first.bottom, second.bottom), std::max(first.right, second.right)};
            }
            return range(first);
        }
        case dispid::Parent: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            auto handle = bookHandle(*app_, s);
            return Variant::dispatch(handle ? makeWorkbookObject(app_, handle).get() : nullptr);
        }
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(app_->application);
        default: break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    // A corner: "B7", "A1:C3", or a range of this sheet.
    Area corner(const Args& args, std::size_t i) {
        const Variant& v = args.at(i);
        if (v.vt() == VT_DISPATCH) {
            std::shared_ptr<Sheet> other;
            Area a;
            if (!rangeOf(v.pdispVal(), other, a) || other != sheet_) failWith(DISP_E_TYPEMISMATCH);
            return a;
        }
        std::string text = utf16ToUtf8(args.text(i));
        auto colon = text.find(':');
        auto a = parseCellRef(text.substr(0, colon));
        auto b = colon == std::string::npos ? a : parseCellRef(text.substr(colon + 1));
        if (!a || !b) applicationError("'" + text + "' is not a cell reference of the form A1 or A1:B2.");
        return Area{std::min(a->row, b->row), std::min(a->column, b->column), std::max(a->row, b->row),
                    std::max(a->column, b->column)};
    }

    Variant range(Area a) { return Variant::dispatch(makeRangeObject(app_, sheet_, a).get()); }

    std::shared_ptr<AppState> app_;
    std::shared_ptr<Sheet> sheet_;
};

}  // namespace

ComPtr<IDispatch> makeWorksheetObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet) {
    return ComPtr<IDispatch>(platform::makeCom<WorksheetObject>(app, sheet).get());
}

ComPtr<IDispatch> makeRangeObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet, Area area) {
    auto range = platform::makeCom<RangeObject>(app, sheet, area);
    return ComPtr<IDispatch>::adopt(range.detach());
}

bool rangeOf(IDispatch* object, std::shared_ptr<Sheet>& sheet, Area& area) {
    auto* range = dynamic_cast<RangeObject*>(object);
    if (!range) return false;
    sheet = range->sheet();
    area = range->area();
    return true;
}

std::shared_ptr<Sheet> sheetOf(IDispatch* object) {
    if (auto* ws = dynamic_cast<WorksheetObject*>(object)) return ws->sheet();
    return nullptr;
}

void AppState::checkWritable(const Book& book) {
    if (!book.readOnlyReason.empty())
        applicationError("The workbook '" + utf16ToUtf8(book.name()) + "' is open read-only because " + book.readOnlyReason +
                         "; changing it here would lose that content when it is saved.");
}

}  // namespace sheet
