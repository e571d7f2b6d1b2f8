// The process's one running application: started on demand, entered in the
// running-object table, and made by the class registry for "Excel.Application".
#include "sheet/Spreadsheet.h"

#include "automation/DispatchIds.h"
#include "platform/ClassRegistry.h"
#include "sheet/BookLifecycle.h"

using platform::ComPtr;

namespace sheet {
namespace {

using Lock = std::lock_guard<std::mutex>;

struct Running {
    std::mutex mutex;
    ComPtr<IDispatch> application;
    std::shared_ptr<MemoryBackend> backend;
    std::shared_ptr<automation::Front> front;
    DWORD registration = 0;
};

Running& running() {
    static Running r;
    return r;
}

}  // namespace

std::shared_ptr<automation::Front> runningFront() {
    Running& r = running();
    Lock lock(r.mutex);
    return r.front;
}

std::shared_ptr<MemoryBackend> runningBackend() {
    Running& r = running();
    Lock lock(r.mutex);
    return r.backend;
}

ComPtr<IDispatch> startSpreadsheetApplication() {
    Running& r = running();
    Lock lock(r.mutex);
    if (!r.application) {
        r.backend = std::make_shared<MemoryBackend>();
        r.front = automation::Front::make(r.backend);
        r.application = r.front->application();
        DWORD registration = 0;
        if (SUCCEEDED(RegisterActiveObject(r.application.get(), automation::kApplicationClsid, ACTIVEOBJECT_STRONG,
                                           &registration)))
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
    std::shared_ptr<MemoryBackend> backend;
    std::shared_ptr<automation::Front> front;
    {
        Running& r = running();
        Lock lock(r.mutex);
        if (r.registration) RevokeActiveObject(r.registration, nullptr);
        r.registration = 0;
        application = std::move(r.application);
        backend = std::move(r.backend);
        front = std::move(r.front);
    }
    if (backend) {
        std::vector<std::shared_ptr<Book>> books;
        {
            Lock lock(backend->mutex);
            books.swap(backend->openBooks);
            backend->active.reset();
        }
    }
    // The books and the application are released here, outside every lock.
}

HRESULT registerSpreadsheetApplication() {
    return platform::registerServerClass(automation::kApplicationClsid, automation::kApplicationProgId,
                                         [](REFIID riid, void** object) -> HRESULT {
                                             if (!object) return E_POINTER;
                                             auto app = startSpreadsheetApplication();
                                             return app->QueryInterface(riid, object);
                                         });
}

HRESULT revokeSpreadsheetApplication() {
    stopSpreadsheetApplication();
    return platform::revokeServerClass(automation::kApplicationClsid);
}

}  // namespace sheet
