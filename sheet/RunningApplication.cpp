// The process's one running application: started on demand, entered in the
// running-object table, and made by the class registry for "Excel.Application".
#include "sheet/Spreadsheet.h"

#include "platform/ClassRegistry.h"
#include "sheet/ApplicationObject.h"
#include "sheet/BookLifecycle.h"

using platform::ComPtr;

namespace sheet {
namespace {

using Lock = std::lock_guard<std::mutex>;

struct Running {
    std::mutex mutex;
    ComPtr<IDispatch> application;
    std::shared_ptr<AppState> state;
    DWORD registration = 0;
};

Running& running() {
    static Running r;
    return r;
}

}  // namespace

std::shared_ptr<AppState> runningState() {
    Running& r = running();
    Lock lock(r.mutex);
    return r.state;
}

ComPtr<IDispatch> startSpreadsheetApplication() {
    Running& r = running();
    Lock lock(r.mutex);
    if (!r.application) {
        auto state = std::make_shared<AppState>();
        state->events = state->points.add(kAppEventsIid);
        r.application = makeApplicationObject(state);
        r.state = std::move(state);
        DWORD registration = 0;
        if (SUCCEEDED(RegisterActiveObject(r.application.get(), kApplicationClsid, ACTIVEOBJECT_STRONG, &registration)))
            r.registration = registration;
    }
    return r.application;
}

ComPtr<IDispatch> runningSpreadsheetApplication() {
    Running& r = running();
    Lock lock(r.mutex);
    return r.application;
}

void stopSpreadsheetApplication() {
    ComPtr<IDispatch> application;
    std::shared_ptr<AppState> state;
    {
        Running& r = running();
        Lock lock(r.mutex);
        if (r.registration) RevokeActiveObject(r.registration, nullptr);
        r.registration = 0;
        application = std::move(r.application);
        r.application = nullptr;
        state = std::move(r.state);
        r.state = nullptr;
    }
    if (state) {
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
    return platform::registerServerClass(kApplicationClsid, kApplicationProgId,
                                         [](REFIID riid, void** object) -> HRESULT {
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
