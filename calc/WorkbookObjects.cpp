// Application, Workbooks, Workbook, Worksheets and Worksheet over the office's
// documents and sheets.
#include "calc/CalcState.h"
#include "calc/UnoText.h"
#include "platform/ConnectionPoint.h"
#include "sheet/Book.h"
#include "automation/CellRef.h"
#include "sheet/SheetVisibility.h"

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <cstdlib>

namespace css = ::com::sun::star;
namespace beans = css::beans;
namespace container = css::container;
namespace table = css::table;
namespace util = css::util;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::UNO_QUERY;
using ::com::sun::star::uno::UNO_QUERY_THROW;
using platform::ComPtr;
using platform::Variant;
using ::sheet::applicationError;
using ::sheet::failWith;

namespace calc {
namespace {

std::string quotedName(const std::u16string& name) { return "'" + toUtf8(toOUString(name)) + "'"; }

Variant object(const ComPtr<IDispatch>& p) { return Variant::dispatch(p.get()); }

Reference<container::XIndexAccess> sheetsOf(const Doc& doc) {
    return Reference<container::XIndexAccess>(doc.spreadsheet->getSheets(), UNO_QUERY_THROW);
}

std::u16string sheetName(const Reference<css::sheet::XSpreadsheet>& sheet) {
    return toU16(Reference<container::XNamed>(sheet, UNO_QUERY_THROW)->getName());
}

// The sheet's position among its document's sheets, from 0.
sal_Int32 indexOf(const Reference<css::sheet::XSpreadsheet>& sheet) {
    Reference<css::sheet::XCellRangeAddressable> addressable(sheet, UNO_QUERY_THROW);
    return addressable->getRangeAddress().Sheet;
}

// Calc knows a sheet as shown or hidden: it has no very hidden state of its own, and
// stores a hidden sheet as hidden.
bool isVisible(const Reference<css::sheet::XSpreadsheet>& sheet) {
    bool visible = true;
    Reference<beans::XPropertySet>(sheet, UNO_QUERY_THROW)->getPropertyValue("IsVisible") >>= visible;
    return visible;
}

// The visible sheet that becomes active when the one at index is hidden: the next
// one, else the nearest before it; null when no other sheet is visible.
Reference<css::sheet::XSpreadsheet> visibleNeighbour(const Reference<container::XIndexAccess>& sheets,
                                                     sal_Int32 index) {
    const sal_Int32 count = sheets->getCount();
    for (sal_Int32 i = index + 1; i < count; ++i) {
        Reference<css::sheet::XSpreadsheet> s(sheets->getByIndex(i), UNO_QUERY_THROW);
        if (isVisible(s)) return s;
    }
    for (sal_Int32 i = index - 1; i >= 0; --i) {
        Reference<css::sheet::XSpreadsheet> s(sheets->getByIndex(i), UNO_QUERY_THROW);
        if (isVisible(s)) return s;
    }
    return {};
}

class ApplicationObject final : public CalcObject<ObjectClass::Application, IConnectionPointContainer> {
public:
    explicit ApplicationObject(std::shared_ptr<CalcState> state) : CalcObject(std::move(state)) {
        std::lock_guard lock(state_->mutex);
        state_->application = this;
    }
    ~ApplicationObject() override {
        std::lock_guard lock(state_->mutex);
        state_->application = nullptr;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        return state_->points.find(riid, point);
    }

private:
    bool isOfConnection() const override { return false; }
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        switch (id) {
        case dispid::ActiveWorkbook: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            auto doc = state_->activeWorkbook();
            return object(doc ? makeWorkbook(state_, doc) : nullptr);
        }
        case dispid::Workbooks:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return object(makeWorkbooks(state_));
        case dispid::ActiveSheet: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            auto doc = state_->activeWorkbook();
            return object(doc ? makeWorksheet(state_, doc, activeSheetOf(*doc)) : nullptr);
        }
        case dispid::Worksheets: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            auto doc = state_->activeWorkbook();
            return object(doc ? makeWorksheets(state_, doc) : nullptr);
        }
        case dispid::Visible:
        case dispid::Interactive:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                bool on = args.boolean(0);
                if (id == dispid::Visible) visible_ = on;
                // A headless office has nothing to show; a windowed one shows the
                // documents it was asked for as they are made.
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            return Variant::boolean(id == dispid::Visible ? visible_ : true);
        case dispid::UserName: {
            if (!isKind(flags, Kind::Get)) break;
            const char* user = std::getenv("USER");
            return Variant::bstr(toU16(toOUString(user ? user : "")));
        }
        case dispid::Name:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::bstr(u"LibreOffice Calc");
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(this);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    bool visible_ = false;
};

class WorkbooksObject final : public CalcObject<ObjectClass::Workbooks> {
public:
    explicit WorkbooksObject(std::shared_ptr<CalcState> state) : CalcObject(std::move(state)) {}

private:
    bool isOfConnection() const override { return false; }
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        switch (id) {
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(static_cast<LONG>(state_->workbooks().size()));
        case DISPID_VALUE:
        case dispid::Item: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 1);
            auto books = state_->workbooks();
            if (args.at(0).vt() == VT_BSTR) {
                for (const auto& b : books)
                    if (::sheet::sameNameIgnoringCase(b->name, args.at(0).bstrVal()))
                        return object(makeWorkbook(state_, b));
                failWith(DISP_E_BADINDEX);
            }
            std::int32_t index = args.integer(0);
            if (index < 1 || static_cast<std::size_t>(index) > books.size()) failWith(DISP_E_BADINDEX);
            return object(makeWorkbook(state_, books[index - 1]));
        }
        case dispid::Add:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 1);
            return object(makeWorkbook(state_, state_->addWorkbook()));
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(state_->application);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }
};

class WorkbookObject final : public CalcObject<ObjectClass::Workbook> {
public:
    WorkbookObject(std::shared_ptr<CalcState> state, std::shared_ptr<Doc> doc)
        : CalcObject(std::move(state)), doc_(std::move(doc)) {}

    void* queryExtra(REFIID riid) override {
        // The workbook's own dual interface, which a worksheet's Parent is asked for.
        return riid == ::sheet::kWorkbookInterfaceIid ? static_cast<IDispatch*>(this) : nullptr;
    }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Doc& doc = *doc_;
        switch (id) {
        case dispid::Name:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(doc.name);
        case dispid::FullName:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::bstr(doc.path.empty() ? doc.name : toU16(toOUString(doc.path)));
        case dispid::Worksheets:
        case dispid::Sheets:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            state_->checkAlive(doc);
            return object(makeWorksheets(state_, doc_));
        case dispid::ActiveSheet:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            state_->checkAlive(doc);
            return object(makeWorksheet(state_, doc_, activeSheetOf(doc)));
        case dispid::Activate:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            state_->checkAlive(doc);
            state_->activate(doc_);
            return {};
        case kSave:
            if (!isKind(flags, Kind::Method)) break;
            state_->checkAlive(doc);
            if (doc.path.empty())
                applicationError("The workbook " + quotedName(doc.name) + " has no .xlsx file to save to.");
            // Comments added in this command go into the stored file too.
            state_->placeNotes();
            Reference<util::XModifiable>(doc.model, UNO_QUERY_THROW)->setModified(true);
            if (std::string problem = state_->store(doc); !problem.empty()) applicationError(problem);
            return {};
        case dispid::ReadOnly:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::boolean(doc.path.empty());
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(state_->application);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }
    // Workbook.Save
    static constexpr DISPID kSave = 0x11B;

    std::shared_ptr<Doc> doc_;
};

class WorksheetsObject final : public CalcObject<ObjectClass::Worksheets> {
public:
    WorksheetsObject(std::shared_ptr<CalcState> state, std::shared_ptr<Doc> doc)
        : CalcObject(std::move(state)), doc_(std::move(doc)) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Doc& doc = *doc_;
        state_->checkAlive(doc);
        switch (id) {
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(sheetsOf(doc)->getCount());
        case DISPID_VALUE:
        case dispid::Item: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 1);
            auto sheets = sheetsOf(doc);
            if (args.at(0).vt() == VT_BSTR) {
                const std::u16string& wanted = args.at(0).bstrVal();
                for (sal_Int32 i = 0, n = sheets->getCount(); i < n; ++i) {
                    Reference<css::sheet::XSpreadsheet> s(sheets->getByIndex(i), UNO_QUERY_THROW);
                    if (::sheet::sameNameIgnoringCase(sheetName(s), wanted))
                        return object(makeWorksheet(state_, doc_, s));
                }
                failWith(DISP_E_BADINDEX);
            }
            std::int32_t index = args.integer(0);
            if (index < 1 || index > sheets->getCount()) failWith(DISP_E_BADINDEX);
            Reference<css::sheet::XSpreadsheet> s(sheets->getByIndex(index - 1), UNO_QUERY_THROW);
            return object(makeWorksheet(state_, doc_, s));
        }
        case dispid::Add: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 4);
            // A sheet goes before the active one unless Before or After says otherwise.
            sal_Int32 at = indexOf(activeSheetOf(doc));
            for (std::size_t i = 0; i < 2; ++i) {
                if (!args.isPresent(i)) continue;
                if (args.at(i).vt() != VT_DISPATCH) failWith(DISP_E_TYPEMISMATCH);
                ComPtr<IDispatch> target(args.at(i).pdispVal());
                Variant index;
                if (!target || FAILED(target->Invoke(dispid::Index, DISPATCH_PROPERTYGET, {}, &index, nullptr)) ||
                    index.vt() != VT_I4)
                    failWith(DISP_E_TYPEMISMATCH);
                at = index.lVal() - 1 + static_cast<sal_Int32>(i);
            }
            if (args.isPresent(2) && args.integer(2) != 1) applicationError("Sheets are added one at a time here.");
            if (args.isPresent(3) && args.integer(3) != -4167)
                applicationError("Only worksheets can be added to a workbook here.");
            Reference<css::sheet::XSpreadsheets> sheets = doc.spreadsheet->getSheets();
            std::u16string name;
            for (int n = sheetsOf(doc)->getCount() + 1;; ++n) {
                name = u"Sheet" + toU16(OUString::number(n));
                if (!sheets->hasByName(toOUString(name))) break;
            }
            sheets->insertNewByName(toOUString(name), static_cast<sal_Int16>(at));
            Reference<css::sheet::XSpreadsheet> added(sheets->getByName(toOUString(name)), UNO_QUERY_THROW);
            Reference<css::sheet::XSpreadsheetView> view(doc.model->getCurrentController(), UNO_QUERY);
            if (view.is()) view->setActiveSheet(added);
            return object(makeWorksheet(state_, doc_, added));
        }
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            return object(makeWorkbook(state_, doc_));
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(state_->application);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<Doc> doc_;
};

class WorksheetObject final : public CalcObject<ObjectClass::Worksheet> {
public:
    WorksheetObject(std::shared_ptr<CalcState> state, std::shared_ptr<Doc> doc,
                    Reference<css::sheet::XSpreadsheet> sheet)
        : CalcObject(std::move(state)), doc_(std::move(doc)), sheet_(std::move(sheet)) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Doc& doc = *doc_;
        state_->checkAlive(doc);
        switch (id) {
        case dispid::Name:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                std::u16string name = args.text(0);
                // The names the workbook's file format allows, as the stand-in
                // checks them: the office itself would take longer ones that the
                // stored .xlsx then cannot hold.
                std::string problem = ::sheet::sheetNameProblem(name);
                if (!problem.empty())
                    applicationError("The name " + quotedName(name) + " is not allowed: " + problem + ".");
                Reference<container::XNamed> named(sheet_, UNO_QUERY_THROW);
                if (toU16(named->getName()) == name) return {};
                auto sheets = sheetsOf(doc);
                for (sal_Int32 i = 0, n = sheets->getCount(); i < n; ++i) {
                    Reference<css::sheet::XSpreadsheet> s(sheets->getByIndex(i), UNO_QUERY_THROW);
                    if (s != sheet_ && ::sheet::sameNameIgnoringCase(sheetName(s), name))
                        applicationError("The name " + quotedName(name) +
                                         " is already taken by another sheet of the workbook.");
                }
                named->setName(toOUString(name));
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(sheetName(sheet_));
        case dispid::Index:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::i4(indexOf(sheet_) + 1);
        case dispid::Visible: {
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                const bool show = ::sheet::visibilityArgument(args.at(0)) == ::sheet::Visibility::Visible;
                if (show == isVisible(sheet_)) return {};
                if (!show) {
                    // The rules the stand-in keeps, checked here: the office would
                    // quietly leave the last visible sheet shown, and would not say
                    // which sheet it makes active in a hidden one's place.
                    auto neighbour = visibleNeighbour(sheetsOf(doc), indexOf(sheet_));
                    if (!neighbour.is())
                        applicationError("Sheet " + quotedName(sheetName(sheet_)) +
                                         " cannot be hidden: a workbook must keep at least one visible sheet.");
                    Reference<css::sheet::XSpreadsheetView> view(doc.model->getCurrentController(), UNO_QUERY);
                    if (view.is() && indexOf(view->getActiveSheet()) == indexOf(sheet_))
                        view->setActiveSheet(neighbour);
                }
                Reference<beans::XPropertySet>(sheet_, UNO_QUERY_THROW)
                    ->setPropertyValue("IsVisible", css::uno::Any(show));
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(isVisible(sheet_) ? ::sheet::kSheetVisible : ::sheet::kSheetHidden);
        }
        case dispid::Activate: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            if (!isVisible(sheet_))
                applicationError("Sheet " + quotedName(sheetName(sheet_)) +
                                 " is hidden; a hidden sheet cannot be activated.");
            state_->activate(doc_);
            Reference<css::sheet::XSpreadsheetView> view(doc.model->getCurrentController(), UNO_QUERY);
            if (view.is()) view->setActiveSheet(sheet_);
            return {};
        }
        case dispid::Cells:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return object(makeRange(state_, doc_, sheet_, Area{1, 1, ::sheet::kMaxRows, ::sheet::kMaxColumns}));
        case dispid::Columns:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return object(makeRange(state_, doc_, sheet_,
                                    Area{1, 1, ::sheet::kMaxRows, ::sheet::kMaxColumns, Area::Shape::Columns}));
        case dispid::Rows:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return object(makeRange(state_, doc_, sheet_,
                                    Area{1, 1, ::sheet::kMaxRows, ::sheet::kMaxColumns, Area::Shape::Rows}));
        case DISPID_VALUE:
        case dispid::Range:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 2);
            return object(makeRange(state_, doc_, sheet_, areaOf(args)));
        case dispid::UsedRange: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            Reference<css::sheet::XSheetCellCursor> cursor = sheet_->createCursor();
            Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
            used->gotoStartOfUsedArea(false);
            used->gotoEndOfUsedArea(true);
            table::CellRangeAddress a =
                Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
            return object(makeRange(state_, doc_, sheet_,
                                    Area{a.StartRow + 1, a.StartColumn + 1, a.EndRow + 1, a.EndColumn + 1}));
        }
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            return object(makeWorkbook(state_, doc_));
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(state_->application);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    // Range("A1"), Range("A1:C3"), Range("A1", "C3").
    static Area areaOf(const Args& args) {
        auto corner = [](const std::u16string& text) {
            auto ref = ::sheet::parseCellRef(toUtf8(toOUString(text)));
            if (!ref) applicationError("'" + toUtf8(toOUString(text)) + "' is not a cell reference.");
            return *ref;
        };
        std::u16string first = args.text(0);
        std::u16string second;
        if (args.size() > 1 && args.isPresent(1)) {
            second = args.text(1);
        } else if (auto colon = first.find(u':'); colon != std::u16string::npos) {
            second = first.substr(colon + 1);
            first.resize(colon);
        } else {
            second = first;
        }
        ::sheet::CellRef a = corner(first), b = corner(second);
        return Area{std::min(a.row, b.row), std::min(a.column, b.column), std::max(a.row, b.row),
                    std::max(a.column, b.column)};
    }

    std::shared_ptr<Doc> doc_;
    Reference<css::sheet::XSpreadsheet> sheet_;
};

}  // namespace

ComPtr<IDispatch> makeApplication(const std::shared_ptr<CalcState>& state) {
    return ComPtr<IDispatch>(platform::makeCom<ApplicationObject>(state).get());
}
ComPtr<IDispatch> makeWorkbooks(const std::shared_ptr<CalcState>& state) {
    return ComPtr<IDispatch>(platform::makeCom<WorkbooksObject>(state).get());
}
ComPtr<IDispatch> makeWorkbook(const std::shared_ptr<CalcState>& state, const std::shared_ptr<Doc>& doc) {
    return ComPtr<IDispatch>(platform::makeCom<WorkbookObject>(state, doc).get());
}
ComPtr<IDispatch> makeWorksheets(const std::shared_ptr<CalcState>& state, const std::shared_ptr<Doc>& doc) {
    return ComPtr<IDispatch>(platform::makeCom<WorksheetsObject>(state, doc).get());
}
ComPtr<IDispatch> makeWorksheet(const std::shared_ptr<CalcState>& state, const std::shared_ptr<Doc>& doc,
                                const Reference<css::sheet::XSpreadsheet>& sheet) {
    return ComPtr<IDispatch>(platform::makeCom<WorksheetObject>(state, doc, sheet).get());
}

}  // namespace calc
