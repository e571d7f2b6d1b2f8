// Worksheet: Name (under the application's naming rules), Visible, Activate, Index,
// and the ranges Cells, Columns, Rows, UsedRange and Range("A1"[, "B2"]).
#include "sheet/WorksheetObject.h"

#include "sheet/AutomationObject.h"
#include "sheet/BookLifecycle.h"
#include "sheet/RangeObject.h"
#include "sheet/SheetVisibility.h"
#include "sheet/Utf.h"
#include "sheet/WorkbookObject.h"

#include <algorithm>

using platform::Variant;

namespace sheet {
namespace {

std::shared_ptr<Book> bookHandle(const AppState& app, const Sheet& sheet) {
    for (const auto& b : app.books)
        if (b.get() == &sheet.book()) return b;
    return nullptr;
}

class WorksheetObject final : public AutomationObject<ObjectClass::Worksheet> {
public:
    WorksheetObject(std::shared_ptr<AppState> app, std::shared_ptr<Sheet> sheet)
        : AutomationObject(std::move(app)), sheet_(std::move(sheet)) {}
    const std::shared_ptr<Sheet>& sheet() const { return sheet_; }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Sheet& s = *sheet_;
        Book& book = s.book();
        switch (id) {
        case dispid::Name:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                std::u16string name = args.text(0);
                std::string problem = sheetNameProblem(name);
                if (!problem.empty())
                    applicationError("The name " + quoted(name) + " is not allowed: " + problem + ".");
                auto existing = book.findSheet(name);
                if (existing && book.sheets()[*existing] != sheet_)
                    applicationError("The name " + quoted(name) +
                                     " is already taken by another sheet of the workbook.");
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
            if (it == sheets.end())
                applicationError("Sheet " + quoted(s.name()) + " is no longer part of its workbook.");
            if (!s.isVisible())
                applicationError("Sheet " + quoted(s.name()) + " is hidden; a hidden sheet cannot be activated.");
            book.setActiveIndex(static_cast<std::size_t>(it - sheets.begin()));
            if (handle) activateBook(*app_, handle);
            return {};
        }
        case dispid::Visible: {
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                const Visibility wanted = visibilityArgument(args.at(0));
                auto& sheets = book.sheets();
                auto it = std::find(sheets.begin(), sheets.end(), sheet_);
                if (it == sheets.end())
                    applicationError("Sheet " + quoted(s.name()) + " is no longer part of its workbook.");
                if (wanted == s.visibility()) return {};
                AppState::checkWritable(book);
                std::string problem = book.setSheetVisibility(static_cast<std::size_t>(it - sheets.begin()), wanted);
                if (!problem.empty())
                    applicationError("Sheet " + quoted(s.name()) + " cannot be hidden: " + problem + ".");
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(automationValue(s.visibility()));
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
        default:
            break;
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
        if (!a || !b) applicationError(quoted(text) + " is not a cell reference of the form A1 or A1:B2.");
        return Area{std::min(a->row, b->row), std::min(a->column, b->column), std::max(a->row, b->row),
                    std::max(a->column, b->column)};
    }

    Variant range(Area a) { return Variant::dispatch(makeRangeObject(app_, sheet_, a).get()); }

    std::shared_ptr<Sheet> sheet_;
};

}  // namespace

platform::ComPtr<IDispatch> makeWorksheetObject(const std::shared_ptr<AppState>& app,
                                                const std::shared_ptr<Sheet>& sheet) {
    return platform::ComPtr<IDispatch>(platform::makeCom<WorksheetObject>(app, sheet).get());
}

std::shared_ptr<Sheet> sheetOf(IDispatch* object) {
    if (auto* ws = dynamic_cast<WorksheetObject*>(object)) return ws->sheet();
    return nullptr;
}

}  // namespace sheet
