// Workbooks: Count, Item by index (from 1) or by name in any letter case, and Add,
// which makes a new workbook with its file reserved in the current folder.
#include "sheet/WorkbooksObject.h"

#include "sheet/AutomationObject.h"
#include "sheet/BookLifecycle.h"
#include "sheet/WorkbookObject.h"

using platform::Variant;

namespace sheet {
namespace {

class WorkbooksObject final : public AutomationObject<ObjectClass::Workbooks> {
public:
    explicit WorkbooksObject(std::shared_ptr<AppState> app) : AutomationObject(std::move(app)) {}

private:
    // Another program's changes to the files are taken in before a lookup.
    void beforeLock(DISPID id) override {
        if (id == dispid::Item || id == DISPID_VALUE || id == dispid::Count) refreshFromDisk(app_);
    }

    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
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
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }
};

}  // namespace

platform::ComPtr<IDispatch> makeWorkbooksObject(const std::shared_ptr<AppState>& app) {
    return platform::ComPtr<IDispatch>(platform::makeCom<WorkbooksObject>(app).get());
}

}  // namespace sheet
