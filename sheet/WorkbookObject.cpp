// Workbook: Worksheets (also as Sheets), ActiveSheet, Name, FullName (the file, or
// the name while it has none), ReadOnly and Activate.
#include "sheet/WorkbookObject.h"

#include "sheet/AutomationObject.h"
#include "sheet/BookLifecycle.h"
#include "sheet/Utf.h"
#include "sheet/WorksheetObject.h"
#include "sheet/WorksheetsObject.h"

using platform::Variant;

namespace sheet {
namespace {

class WorkbookObject final : public AutomationObject<ObjectClass::Workbook> {
public:
    WorkbookObject(std::shared_ptr<AppState> app, std::shared_ptr<Book> book)
        : AutomationObject(std::move(app)), book_(std::move(book)) {}

private:
    // The workbook's own dual interface, which event handlers ask a sheet's parent
    // for; its members are this object's.
    void* queryExtra(REFIID riid) override {
        return riid == kWorkbookInterfaceIid ? static_cast<IDispatch*>(this) : nullptr;
    }

    // Another program's changes to the files are taken in before a lookup.
    void beforeLock(DISPID id) override {
        if (id == dispid::Worksheets || id == dispid::Sheets || id == dispid::ActiveSheet) refreshFromDisk(app_);
    }

    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
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
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<Book> book_;
};

}  // namespace

platform::ComPtr<IDispatch> makeWorkbookObject(const std::shared_ptr<AppState>& app,
                                               const std::shared_ptr<Book>& book) {
    return platform::ComPtr<IDispatch>(platform::makeCom<WorkbookObject>(app, book).get());
}

}  // namespace sheet
