// Worksheet, Range, Font and Comment: one sheet's name, place and visibility, its
// ranges (Cells, Columns, Rows, UsedRange, Range("A1"[, "B2"])), the values of one
// cell or of a block, number formats, bold, comments, column widths, merged areas
// and addresses.
#include "automation/Names.h"
#include "automation/NumberText.h"
#include "automation/Objects.h"
#include "automation/Utf.h"
#include "platform/SafeArray.h"

#include <algorithm>
#include <string>

using platform::ComPtr;
using platform::Variant;

namespace automation {
namespace {

// The cells one call changes or reads one by one: a stray whole-sheet range would
// otherwise make billions of cells.
constexpr std::int64_t kMaxCellsPerCall = 1 << 22;
constexpr std::size_t kMaxCellText = 32767;

Variant object(const ComPtr<IDispatch>& p) { return Variant::dispatch(p.get()); }

std::string cellOfSheet(Backend& backend, const SheetHandle& sheet, std::int32_t row, std::int32_t column) {
    return "cell " + cellRefText(row, column) + " of sheet " + quoted(backend.sheetName(sheet));
}

// Throws the application's error for a format set cell by cell on more cells than
// one call may change; whole rows and columns are formatted as such and pass.
void checkFormatArea(const Area& area) {
    if (!area.isOneCell() && !area.isWholeColumns() && !area.isWholeRows() && area.cellCount() > kMaxCellsPerCall)
        applicationError("A format cannot be set on " + std::to_string(area.cellCount()) + " cells at once.");
}

void checkCommentsWritable(Backend& backend, const SheetHandle& sheet) {
    checkWritable(backend, sheet);
    backend.checkCommentsWritable(sheet);
}

class WorksheetObject final : public FrontObject<ObjectClass::Worksheet> {
public:
    WorksheetObject(std::shared_ptr<Front> front, SheetPtr sheet)
        : FrontObject(std::move(front)), sheet_(std::move(sheet)) {}
    const SheetPtr& sheet() const { return sheet_; }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        SheetHandle& s = *sheet_;
        backend().checkLive(s);
        switch (id) {
        case dispid::Name:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                rename(args.text(0));
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(backend().sheetName(s));
        case dispid::Activate: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            checkInWorkbook();
            if (backend().visibility(s) != Visibility::Visible)
                applicationError("Sheet " + quoted(backend().sheetName(s)) +
                                 " is hidden; a hidden sheet cannot be activated.");
            backend().activateSheet(sheet_);
            if (BookPtr book = backend().bookOf(s)) backend().activateBook(book);
            return {};
        }
        case dispid::Visible: {
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                const Visibility wanted = visibilityArgument(args.at(0));
                checkInWorkbook();
                if (wanted == backend().visibility(s)) return {};
                checkWritable(backend(), s);
                std::string problem = backend().setVisibility(s, wanted);
                if (!problem.empty())
                    applicationError("Sheet " + quoted(backend().sheetName(s)) + " cannot be hidden: " + problem + ".");
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(automationValue(backend().visibility(s)));
        }
        case dispid::Index: {
            if (!isKind(flags, Kind::Get)) break;
            auto index = backend().sheetIndex(s);
            return Variant::i4(index ? static_cast<LONG>(*index + 1) : 0);
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
        case dispid::UsedRange:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(backend().usedArea(s));
        case DISPID_VALUE:
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
            BookPtr book = backend().bookOf(s);
            return object(book ? makeWorkbookObject(front_, book) : nullptr);
        }
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(application());
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    // Names follow the application's rules, which the workbook's file format keeps
    // too, whatever the spreadsheet itself would take.
    void rename(std::u16string name) {
        SheetHandle& s = *sheet_;
        std::string problem = sheetNameProblem(name);
        if (!problem.empty()) applicationError("The name " + quoted(name) + " is not allowed: " + problem + ".");
        if (BookPtr book = backend().bookOf(s))
            for (std::size_t i = 0, n = backend().sheetCount(*book); i < n; ++i) {
                SheetPtr other = backend().sheetAt(*book, i);
                if (!backend().isSameSheet(*other, s) && sameNameIgnoringCase(backend().sheetName(*other), name))
                    applicationError("The name " + quoted(name) +
                                     " is already taken by another sheet of the workbook.");
            }
        checkWritable(backend(), s);
        if (name != backend().sheetName(s)) backend().renameSheet(s, std::move(name));
    }

    void checkInWorkbook() {
        if (!backend().sheetIndex(*sheet_))
            applicationError("Sheet " + quoted(backend().sheetName(*sheet_)) + " is no longer part of its workbook.");
    }

    // A corner: "B7", "A1:C3", or a range of this sheet.
    Area corner(const Args& args, std::size_t i) {
        const Variant& v = args.at(i);
        if (v.vt() == VT_DISPATCH) {
            SheetPtr other;
            Area a;
            if (!rangeOf(v.pdispVal(), other, a) || !backend().isSameSheet(*other, *sheet_))
                failWith(DISP_E_TYPEMISMATCH);
            return a;
        }
        std::string text = utf16ToUtf8(args.text(i));
        auto colon = text.find(':');
        auto a = parseCellRef(text.substr(0, colon));
        auto b = colon == std::string::npos ? a : parseCellRef(text.substr(colon + 1));
        if (!a || !b) applicationError(quoted(text) + " is not a cell reference of the form A1 or A1:B2.");
        return Area{std::min(a->row, b->row), std::min(a->column, b->column), std::max(a->row, b->row),
                    std::max(a->column, b->column)};
    }

    Variant range(Area a) { return object(makeRangeObject(front_, sheet_, a)); }

    SheetPtr sheet_;
};

class CommentObject final : public FrontObject<ObjectClass::Comment> {
public:
    CommentObject(std::shared_ptr<Front> front, SheetPtr sheet, std::int32_t row, std::int32_t column)
        : FrontObject(std::move(front)), sheet_(std::move(sheet)), row_(row), column_(column) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        SheetHandle& s = *sheet_;
        backend().checkLive(s);
        std::optional<std::u16string> text = backend().commentText(s, row_, column_);
        if (!text)
            applicationError("The comment of " + cellOfSheet(backend(), s, row_, column_) + " has been deleted.");
        switch (id) {
        case dispid::Text:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 3);
            if (args.isPresent(0)) {
                std::u16string updated = args.text(0);
                if (args.isPresent(1)) {
                    // Start counts from 1; overwrite replaces from there, else inserts.
                    std::int32_t start = args.integer(1);
                    if (start < 1) failWith(E_INVALIDARG);
                    bool overwrite = args.isPresent(2) && args.boolean(2);
                    std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(start - 1), text->size());
                    updated = text->substr(0, at) + updated + (overwrite ? std::u16string() : text->substr(at));
                }
                checkCommentsWritable(backend(), s);
                backend().setCommentText(s, row_, column_, updated);
                text = std::move(updated);
            }
            return Variant::bstr(*text);
        case dispid::Author:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::bstr(backend().commentAuthor(s, row_, column_));
        case dispid::Delete:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            checkCommentsWritable(backend(), s);
            backend().clearComments(s, Area{row_, column_, row_, column_});
            return {};
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            return object(makeRangeObject(front_, sheet_, Area{row_, column_, row_, column_}));
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(application());
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    SheetPtr sheet_;
    std::int32_t row_, column_;
};

class FontObject final : public FrontObject<ObjectClass::Font> {
public:
    // range is the range object asked, answered again as the font's Parent.
    FontObject(std::shared_ptr<Front> front, ComPtr<IDispatch> range, SheetPtr sheet, Area area)
        : FrontObject(std::move(front)), range_(std::move(range)), sheet_(std::move(sheet)), area_(area) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        SheetHandle& s = *sheet_;
        backend().checkLive(s);
        switch (id) {
        case dispid::Bold:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                bool bold = args.boolean(0);
                checkWritable(backend(), s);
                checkFormatArea(area_);
                backend().setBold(s, area_, bold);
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::boolean(backend().isBold(s, area_.top, area_.left));
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(range_.get());
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(application());
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    ComPtr<IDispatch> range_;
    SheetPtr sheet_;
    Area area_;
};

class RangeObject final : public FrontObject<ObjectClass::Range> {
public:
    RangeObject(std::shared_ptr<Front> front, SheetPtr sheet, Area area)
        : FrontObject(std::move(front)), sheet_(std::move(sheet)), area_(area) {}

    const SheetPtr& sheet() const { return sheet_; }
    const Area& area() const { return area_; }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        SheetHandle& s = *sheet_;
        const Area& a = area_;
        backend().checkLive(s);
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
            return values();
        case dispid::Item:
            if (!isKind(flags, Kind::Get)) break;
            return item(args);
        case dispid::Text:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(backend().displayText(s, a.top, a.left));
        case dispid::Comment:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            if (!backend().commentText(s, a.top, a.left)) return Variant::dispatch(nullptr);
            return commentObject();
        case dispid::AddComment: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 1);
            checkCommentsWritable(backend(), s);
            if (backend().commentText(s, a.top, a.left))
                applicationError("Cell " + cellRefText(a.top, a.left) + " of sheet " + quoted(backend().sheetName(s)) +
                                 " already has a comment; change its text instead.");
            std::u16string text = args.isPresent(0) ? args.text(0) : std::u16string();
            std::u16string author;
            {
                std::lock_guard lock(FrontAccess::mutex(*front_));
                author = FrontAccess::userName(*front_);
            }
            backend().addComment(s, a.top, a.left, std::move(text), author);
            return commentObject();
        }
        case dispid::ClearComments:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            checkCommentsWritable(backend(), s);
            backend().clearComments(s, a);
            return {};
        case dispid::EntireRow:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{a.top, 1, a.bottom, kMaxColumns, Area::Shape::Rows});
        case dispid::EntireColumn:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{1, a.left, kMaxRows, a.right, Area::Shape::Columns});
        case dispid::Cells:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{a.top, a.left, a.bottom, a.right, Area::Shape::Cells});
        case dispid::Columns:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{a.top, a.left, a.bottom, a.right, Area::Shape::Columns});
        case dispid::Rows:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return range(Area{a.top, a.left, a.bottom, a.right, Area::Shape::Rows});
        case dispid::Font:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return object(platform::makeCom<FontObject>(front_, ComPtr<IDispatch>(this), sheet_, a));
        case dispid::NumberFormat:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                const Variant& v = args.assigned();
                if (v.vt() != VT_BSTR) failWith(DISP_E_TYPEMISMATCH);
                const std::u16string& code = v.bstrVal();
                if (code.empty() || code.size() > 255)
                    applicationError(quoted(code) + " is not a number format the application accepts.");
                checkWritable(backend(), s);
                checkFormatArea(a);
                backend().setNumberFormat(s, a, code);
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(backend().numberFormat(s, a.top, a.left));
        case dispid::WrapText:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                bool wrap = args.boolean(0);
                checkWritable(backend(), s);
                checkFormatArea(a);
                backend().setWrapped(s, a, wrap);
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::boolean(backend().isWrapped(s, a.top, a.left));
        case dispid::AutoFit:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            checkWritable(backend(), s);
            // Row heights follow their text by themselves; only columns change.
            if (a.shape != Area::Shape::Rows) backend().autoFitColumns(s, a);
            return Variant::boolean(true);
        case dispid::MergeCells:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            // Null, as the application answers a property its cells differ in.
            switch (backend().mergeCoverage(s, a)) {
            case MergeCoverage::None:
                return Variant::boolean(false);
            case MergeCoverage::All:
                return Variant::boolean(true);
            case MergeCoverage::Some:
                return Variant::null();
            }
            break;
        case dispid::MergeArea: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            // A range that no one merged area holds is its own merge area.
            const auto merged = backend().mergeAreaContaining(s, a);
            if (!merged) return range(Area{a.top, a.left, a.bottom, a.right, Area::Shape::Cells});
            return range(Area{merged->top, merged->left, merged->bottom, merged->right, Area::Shape::Cells});
        }
        case dispid::Row:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(a.top);
        case dispid::Column:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(a.left);
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
            return object(makeWorksheetObject(front_, sheet_));
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(application());
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::int32_t count() const {
        if (area_.shape == Area::Shape::Columns) return static_cast<std::int32_t>(area_.columnCount());
        if (area_.shape == Area::Shape::Rows) return static_cast<std::int32_t>(area_.rowCount());
        return static_cast<std::int32_t>(std::min<std::int64_t>(area_.cellCount(), INT32_MAX));
    }

    std::string address() const {
        std::string a = "$" + columnName(area_.left) + "$" + std::to_string(area_.top);
        if (area_.isOneCell()) return a;
        return a + ":$" + columnName(area_.right) + "$" + std::to_string(area_.bottom);
    }

    Variant range(Area a) { return object(makeRangeObject(front_, sheet_, a)); }

    Variant commentObject() {
        return object(ComPtr<IDispatch>(platform::makeCom<CommentObject>(front_, sheet_, area_.top, area_.left).get()));
    }

    // Item(row, column) from the range's top-left cell, or Item(index): by column or
    // row of Columns and Rows, else by cell, row by row.
    Variant item(const Args& args) {
        const Area& a = area_;
        args.expect(1, 2);
        std::int64_t row = 0, column = 0;
        if (args.size() == 2 && args.isPresent(1)) {
            row = a.top + static_cast<std::int64_t>(args.integer(0)) - 1;
            column = a.left + static_cast<std::int64_t>(args.integer(1)) - 1;
        } else {
            std::int64_t index = args.integer(0);
            if (a.shape == Area::Shape::Columns) {
                column = a.left + index - 1;
                if (column < 1 || column > kMaxColumns) failWith(DISP_E_BADINDEX);
                auto c = static_cast<std::int32_t>(column);
                return range(Area{a.top, c, a.bottom, c, Area::Shape::Columns});
            }
            if (a.shape == Area::Shape::Rows) {
                row = a.top + index - 1;
                if (row < 1 || row > kMaxRows) failWith(DISP_E_BADINDEX);
                auto r = static_cast<std::int32_t>(row);
                return range(Area{r, a.left, r, a.right, Area::Shape::Rows});
            }
            if (index < 1) failWith(DISP_E_BADINDEX);
            row = a.top + (index - 1) / a.columnCount();
            column = a.left + (index - 1) % a.columnCount();
        }
        if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) failWith(DISP_E_BADINDEX);
        auto r = static_cast<std::int32_t>(row);
        auto c = static_cast<std::int32_t>(column);
        return range(Area{r, c, r, c, Area::Shape::Cells});
    }

    // The value of one cell, or of every cell of the range: a two-dimensional array
    // counting from 1 in both dimensions, rows first.
    Variant values() {
        if (area_.isOneCell()) return backend().readCell(*sheet_, area_.top, area_.left);
        if (area_.cellCount() > kMaxCellsPerCall)
            applicationError("The values of " + std::to_string(area_.cellCount()) + " cells cannot be read at once.");
        const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(area_.rowCount()), 1},
                                          {static_cast<ULONG>(area_.columnCount()), 1}};
        Variant out = Variant::array(platform::SafeArrayCreate(VT_VARIANT, 2, bounds));
        if (!out.isArray()) failWith(E_OUTOFMEMORY);
        backend().readBlock(*sheet_, area_, out);
        return out;
    }

    void checkAssignable(const Variant& v) const {
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
        case VT_DATE:
            if (!backend().canStore(VT_DATE)) failWith(DISP_E_TYPEMISMATCH);
            break;
        case VT_ERROR: {
            // The application's own error values only.
            auto number = static_cast<std::uint32_t>(v.scode()) & 0xFFFFu;
            if ((static_cast<std::uint32_t>(v.scode()) & 0xFFFF0000u) != 0x800A0000u ||
                !errorByNumber(static_cast<std::int32_t>(number)) || !backend().canStore(VT_ERROR))
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

    // The whole assignment is checked before any cell changes.
    void putValue(const Variant& v) {
        checkWritable(backend(), *sheet_);
        if (area_.cellCount() > kMaxCellsPerCall)
            applicationError("A value cannot be assigned to " + std::to_string(area_.cellCount()) + " cells at once.");
        ValueBlock block = blockOf(v);
        if (block.isArray()) {
            for (const Variant* element : block.elements) checkAssignable(*element);
        } else {
            checkAssignable(v);
        }
        backend().writeBlock(*sheet_, area_, block);
    }

    // An assigned value: one for every cell, or an array read out in row order.
    // Arrays of more dimensions, or of arrays, do not fit a range.
    static ValueBlock blockOf(const Variant& v) {
        ValueBlock block;
        if (!v.isArray()) {
            block.single = &v;
            return block;
        }
        SAFEARRAY* a = v.parray();
        const UINT dims = platform::SafeArrayGetDim(a);
        if (v.vt() != (VT_ARRAY | VT_VARIANT) || dims < 1 || dims > 2) failWith(DISP_E_TYPEMISMATCH);
        LONG low[2] = {0, 0}, high[2] = {-1, -1};
        for (UINT d = 0; d < dims; ++d) {
            platform::SafeArrayGetLBound(a, d + 1, &low[d]);
            platform::SafeArrayGetUBound(a, d + 1, &high[d]);
        }
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

    SheetPtr sheet_;
    Area area_;
};

}  // namespace

ComPtr<IDispatch> makeWorksheetObject(const std::shared_ptr<Front>& front, const SheetPtr& sheet) {
    return ComPtr<IDispatch>(platform::makeCom<WorksheetObject>(front, sheet).get());
}

ComPtr<IDispatch> makeRangeObject(const std::shared_ptr<Front>& front, const SheetPtr& sheet, Area area) {
    auto range = platform::makeCom<RangeObject>(front, sheet, area);
    return ComPtr<IDispatch>::adopt(range.detach());
}

SheetPtr sheetOf(IDispatch* object) {
    if (auto* ws = dynamic_cast<WorksheetObject*>(object)) return ws->sheet();
    return nullptr;
}

bool rangeOf(IDispatch* object, SheetPtr& sheet, Area& area) {
    auto* range = dynamic_cast<RangeObject*>(object);
    if (!range) return false;
    sheet = range->sheet();
    area = range->area();
    return true;
}

void checkWritable(Backend& backend, const BookHandle& book) {
    if (const std::string file = backend.readOnlyFile(book); !file.empty())
        applicationError(file + " is read-only; the workbook was not saved");
    const std::string reason = backend.readOnlyReason(book);
    if (!reason.empty())
        applicationError("The workbook " + quoted(backend.bookName(book)) + " is open read-only because " + reason +
                         "; changing it here would lose that content when it is saved.");
}

void checkWritable(Backend& backend, const SheetHandle& sheet) {
    if (BookPtr book = backend.bookOf(sheet)) checkWritable(backend, *book);
}

}  // namespace automation
