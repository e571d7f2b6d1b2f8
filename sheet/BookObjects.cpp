// Workbooks, Workbook and Worksheets: the collections through which callers find
// and add workbooks and sheets.
#include "sheet/Objects.h"

#include "sheet/DispatchSupport.h"
#include "sheet/Utf.h"

#include <algorithm>

using platform::ComPtr;
using platform::Variant;

namespace sheet {
namespace {

namespace dispid {
constexpr DISPID Name = 0x6E, Parent = 0x96, Application = 0x94, Item = 0xAA, Count = 0x76, Add = 0xB5;
constexpr DISPID Activate = 0x130, Worksheets = 0x1EE, Sheets = 0x1E5, ActiveSheet = 0x133, FullName = 0x121, Path = 0x123;
constexpr DISPID ReadOnly = 0x128;
}  // namespace dispid

class WorksheetsObject final : public platform::ComObject<IDispatch> {
public:
    WorksheetsObject(std::shared_ptr<AppState> app, std::shared_ptr<Book> book) : app_(std::move(app)), book_(std::move(book)) {}

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        return lockedInvoke(app_->mutex, excep, result, [&] { return dispatch(id, flags, Args(args)); });
    }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) {
        Book& book = *book_;
        auto& sheets = book.sheets();
        switch (id) {
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(static_cast<LONG>(sheets.size()));
        case DISPID_VALUE:
        case dispid::Item: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 1);
            if (args.at(0).vt() == VT_BSTR) {
                auto index = book.findSheet(args.at(0).bstrVal());
                if (!index) failWith(DISP_E_BADINDEX);
                return Variant::dispatch(makeWorksheetObject(app_, sheets[*index]).get());
            }
            std::int32_t index = args.integer(0);
            if (index < 1 || static_cast<std::size_t>(index) > sheets.size()) failWith(DISP_E_BADINDEX);
            return Variant::dispatch(makeWorksheetObject(app_, sheets[index - 1]).get());
        }
        case dispid::Add: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 4);
            // Before, After, Count, Type; a sheet is added before the active one
            // unless a Before or After sheet says otherwise.
            std::size_t at = book.activeIndex();
            for (std::size_t i = 0; i < 2; ++i) {
                if (!args.isPresent(i)) continue;
                if (args.at(i).vt() != VT_DISPATCH) failWith(DISP_E_TYPEMISMATCH);
                auto target = sheetOf(args.at(i).pdispVal());
                auto it = std::find(sheets.begin(), sheets.end(), target);
                if (!target || it == sheets.end()) failWith(DISP_E_TYPEMISMATCH);
                at = static_cast<std::size_t>(it - sheets.begin()) + i;
            }
            std::int32_t count = args.isPresent(2) ? args.integer(2) : 1;
            if (count < 1 || count > 255) failWith(E_INVALIDARG);
            if (args.isPresent(3)) {
                // Only worksheets (xlWorksheet = -4167) exist here.
                if (args.integer(3) != -4167) applicationError("Only worksheets can be added to a workbook here.");
            }
            AppState::checkWritable(book);
            std::shared_ptr<Sheet> added;
            for (std::int32_t i = 0; i < count; ++i) added = book.insertSheet(at, book.nextSheetName());
            auto it = std::find(sheets.begin(), sheets.end(), added);
            book.setActiveIndex(static_cast<std::size_t>(it - sheets.begin()));
            return Variant::dispatch(makeWorksheetObject(app_, added).get());
        }
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(makeWorkbookObject(app_, book_).get());
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(app_->application);
        default: break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<AppState> app_;
    std::shared_ptr<Book> book_;
};

class WorkbookObject final : public platform::ComObject<IDispatch> {
public:
    WorkbookObject(std::shared_ptr<AppState> app, std::shared_ptr<Book> book) : app_(std::move(app)), book_(std::move(book)) {}

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        // Another program's changes to the files are taken in before a lookup.
        auto refresh = [&] {
            if (id == dispid::Worksheets || id == dispid::Sheets || id == dispid::ActiveSheet) refreshFromDisk(app_);
        };
        return lockedInvoke(app_->mutex, excep, result, refresh, [&] { return dispatch(id, flags, Args(args)); });
    }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) {
        Book& book = *book_;
        switch (id) {
        case dispid::Worksheets:
        case dispid::Sheets:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::dispatch(makeWorksheetsObject(app_, book_).get());
        case dispid::ActiveSheet: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            auto sheet = book.activeSheet();
            return Variant::dispatch(sheet ? makeWorksheetObject(app_, sheet).get() : nullptr);
        }
        case dispid::Name:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(book.name());
        case dispid::FullName:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::bstr(book.path.empty() ? book.name() : utf8ToUtf16(book.path));
        case dispid::ReadOnly:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::boolean(!book.readOnlyReason.empty());
        case dispid::Activate:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            activateBook(*app_, book_);
            return {};
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(app_->application);
        default: break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<AppState> app_;
    std::shared_ptr<Book> book_;
};

class WorkbooksObject final : public platform::ComObject<IDispatch> {
public:
    explicit WorkbooksObject(std::shared_ptr<AppState> app) : app_(std::move(app)) {}

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        // Another program's changes to the files are taken in before a lookup.
        auto refresh = [&] {
            if (id == dispid::Item || id == DISPID_VALUE || id == dispid::Count) refreshFromDisk(app_);
        };
        return lockedInvoke(app_->mutex, excep, result, refresh, [&] { return dispatch(id, flags, Args(args)); });
    }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) {
        auto& books = app_->books;
        switch (id) {
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(static_cast<LONG>(books.size()));
        case DISPID_VALUE:
        case dispid::Item: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 1);
            if (args.at(0).vt() == VT_BSTR) {
                for (const auto& b : books)
                    if (sameNameIgnoringCase(b->name(), args.at(0).bstrVal()))
                        return Variant::dispatch(makeWorkbookObject(app_, b).get());
                failWith(DISP_E_BADINDEX);
            }
            std::int32_t index = args.integer(0);
            if (index < 1 || static_cast<std::size_t>(index) > books.size()) failWith(DISP_E_BADINDEX);
            return Variant::dispatch(makeWorkbookObject(app_, books[index - 1]).get());
        }
        case dispid::Add: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 1);
            if (args.isPresent(0)) applicationError("Workbooks are added here without a template.");
            auto book = addNewBook(*app_);
            return Variant::dispatch(makeWorkbookObject(app_, book).get());
        }
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(app_->application);
        default: break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<AppState> app_;
};

}  // namespace

ComPtr<IDispatch> makeWorkbooksObject(const std::shared_ptr<AppState>& app) {
    return ComPtr<IDispatch>(platform::makeCom<WorkbooksObject>(app).get());
}
ComPtr<IDispatch> makeWorkbookObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Book>& book) {
    return ComPtr<IDispatch>(platform::makeCom<WorkbookObject>(app, book).get());
}
ComPtr<IDispatch> makeWorksheetsObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Book>& book) {
    return ComPtr<IDispatch>(platform::makeCom<WorksheetsObject>(app, book).get());
}

void activateBook(AppState& app, const std::shared_ptr<Book>& book) {
    if (std::find(app.books.begin(), app.books.end(), book) == app.books.end()) app.books.push_back(book);
    app.activeBook = book;
}

}  // namespace sheet
