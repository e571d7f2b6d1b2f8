// The Application object: the active workbook and sheet, the workbooks, and the
// application's own settings (Visible, Interactive, UserName).
#include "sheet/ApplicationObject.h"

#include "platform/ConnectionPoint.h"
#include "sheet/AutomationObject.h"
#include "sheet/BookLifecycle.h"
#include "sheet/WorkbookObject.h"
#include "sheet/WorkbooksObject.h"
#include "sheet/WorksheetObject.h"
#include "sheet/WorksheetsObject.h"

using platform::Variant;

namespace sheet {
namespace {

using Lock = std::lock_guard<std::mutex>;

class ApplicationObject final : public AutomationObject<ObjectClass::Application, IConnectionPointContainer> {
public:
    explicit ApplicationObject(std::shared_ptr<AppState> app) : AutomationObject(std::move(app)) {
        Lock lock(app_->mutex);
        app_->application = this;
    }
    ~ApplicationObject() override {
        Lock lock(app_->mutex);
        app_->application = nullptr;
    }

    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        return app_->points.find(riid, point);
    }

private:
    // Another program's changes to the files are taken in before a lookup.
    void beforeLock(DISPID id) override {
        if (id == dispid::ActiveWorkbook || id == dispid::ActiveSheet || id == dispid::Workbooks ||
            id == dispid::Worksheets)
            refreshFromDisk(app_);
    }

    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        AppState& app = *app_;
        switch (id) {
        case dispid::ActiveWorkbook:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::dispatch(app.activeBook ? makeWorkbookObject(app_, app.activeBook).get() : nullptr);
        case dispid::Workbooks:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::dispatch(makeWorkbooksObject(app_).get());
        case dispid::ActiveSheet: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            auto sheet = app.activeBook ? app.activeBook->activeSheet() : nullptr;
            return Variant::dispatch(sheet ? makeWorksheetObject(app_, sheet).get() : nullptr);
        }
        case dispid::Worksheets:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            if (!app.activeBook) applicationError("There is no active workbook.");
            return Variant::dispatch(makeWorksheetsObject(app_, app.activeBook).get());
        case dispid::Visible:
        case dispid::Interactive: {
            bool& flag = id == dispid::Visible ? app.isVisible : app.isInteractive;
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                flag = args.boolean(0);
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::boolean(flag);
        }
        case dispid::UserName:
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                app.userName = args.text(0);
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            return Variant::bstr(app.userName);
        case dispid::Name:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(u"Spreadsheet stand-in");
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(this);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }
};

}  // namespace

platform::ComPtr<IDispatch> makeApplicationObject(const std::shared_ptr<AppState>& state) {
    auto application = platform::makeCom<ApplicationObject>(state);
    return platform::ComPtr<IDispatch>(static_cast<IDispatch*>(application.get()));
}

}  // namespace sheet
