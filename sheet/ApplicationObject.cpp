// The Application object, its registration as a class and in the running-object
// table, and the process's one running instance.
#include "sheet/Spreadsheet.h"

#include "platform/ClassRegistry.h"
#include "platform/ConnectionPoint.h"
#include "sheet/DispatchSupport.h"
#include "sheet/Objects.h"
#include "sheet/Utf.h"

using platform::ComPtr;
using platform::Variant;

namespace sheet {
namespace {

namespace dispid {
constexpr DISPID ActiveWorkbook = 0x134, Workbooks = 0x23C, ActiveSheet = 0x133, Visible = 0x22E, Interactive = 0x169;
constexpr DISPID Name = 0x6E, Parent = 0x96, Application = 0x94, UserName = 0x187, Worksheets = 0x1EE;
}  // namespace dispid

using Lock = std::lock_guard<std::mutex>;

class ApplicationObject final : public platform::ComObject<IDispatch, IConnectionPointContainer> {
public:
    explicit ApplicationObject(std::shared_ptr<AppState> app) : app_(std::move(app)) {
        Lock lock(app_->mutex);
        app_->application = this;
    }
    ~ApplicationObject() override {
        Lock lock(app_->mutex);
        app_->application = nullptr;
    }
    const std::shared_ptr<AppState>& state() const { return app_; }

    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override { return app_->points.find(riid, point); }

    HRESULT Invoke(DISPID id, WORD flags, std::span<const Variant> args, Variant* result, EXCEPINFO* excep) override {
        // Another program's changes to the files are taken in before a lookup.
        auto refresh = [&] {
            if (id == dispid::ActiveWorkbook || id == dispid::ActiveSheet || id == dispid::Workbooks ||
                id == dispid::Worksheets)
                refreshFromDisk(app_);
        };
        return lockedInvoke(app_->mutex, excep, result, refresh, [&] { return dispatch(id, flags, Args(args)); });
    }

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) {
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
        default: break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<AppState> app_;
};

struct Running {
    std::mutex mutex;
    ComPtr<ApplicationObject> application;
    DWORD registration = 0;
};

Running& running() {
    static Running r;
    return r;
}

}  // namespace

// For the file lifecycle: the state of the running application, or null.
std::shared_ptr<AppState> runningState() {
    Running& r = running();
    Lock lock(r.mutex);
    return r.application ? r.application->state() : nullptr;
}

ComPtr<IDispatch> startSpreadsheetApplication() {
    Running& r = running();
    Lock lock(r.mutex);
    if (!r.application) {
        auto state = std::make_shared<AppState>();
        state->events = state->points.add(kAppEventsIid);
        r.application = platform::makeCom<ApplicationObject>(state);
        DWORD registration = 0;
        if (SUCCEEDED(RegisterActiveObject(static_cast<IDispatch*>(r.application.get()), kApplicationClsid,
                                           ACTIVEOBJECT_STRONG, &registration)))
            r.registration = registration;
    }
    return ComPtr<IDispatch>(static_cast<IDispatch*>(r.application.get()));
}

ComPtr<IDispatch> runningSpreadsheetApplication() {
    Running& r = running();
    Lock lock(r.mutex);
    return r.application ? ComPtr<IDispatch>(static_cast<IDispatch*>(r.application.get())) : nullptr;
}

void stopSpreadsheetApplication() {
    ComPtr<ApplicationObject> application;
    std::shared_ptr<AppState> state;
    {
        Running& r = running();
        Lock lock(r.mutex);
        if (r.registration) RevokeActiveObject(r.registration, nullptr);
        r.registration = 0;
        application = std::move(r.application);
        r.application = nullptr;
    }
    if (application) {
        state = application->state();
        std::vector<std::shared_ptr<Book>> books;
        {
            Lock lock(state->mutex);
            books.swap(state->books);
            state->activeBook.reset();
        }
    }
    // The books and the application are released here, outside every lock.
}

HRESULT registerSpreadsheetApplication() {
    return platform::registerServerClass(kApplicationClsid, kApplicationProgId, [](REFIID riid, void** object) -> HRESULT {
        if (!object) return E_POINTER;
        auto app = startSpreadsheetApplication();
        return app->QueryInterface(riid, object);
    });
}

HRESULT revokeSpreadsheetApplication() {
    stopSpreadsheetApplication();
    return platform::revokeServerClass(kApplicationClsid);
}

}  // namespace sheet
