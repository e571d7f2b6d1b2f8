// Switching the live link on and off.
#include "module/link/LinkControl.h"

#include "module/link/AppEventHandler.h"
#include "module/link/LinkHandles.h"
#include "module/link/LinkNotices.h"
#include "module/link/LinkThread.h"
#include "platform/Event.h"
#include "platform/Marshal.h"
#include "platform/Thread.h"
#include "platform/Variant.h"

namespace tabro {
namespace {

// How long the starter waits for the link thread to hand over its handler. The
// thread does nothing slow before that; the limit only keeps a thread that never
// gets there from hanging the command.
constexpr DWORD kStartWaitMs = 10000;

HRESULT callHandler(IDispatch* handler, DISPID method) {
    platform::Variant result;
    EXCEPINFO excepInfo;
    return handler->Invoke(method, DISPATCH_METHOD, {}, &result, &excepInfo);
}

// Starts the thread and takes its handler's interface; linkHandler stays null when
// the thread could not hand it over.
void startLinkThread(LinkHandles& app) {
    app.linkStarted.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    app.linkStop.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!app.linkStarted || !app.linkStop) return;
    ResetEvent(app.linkStarted.get());
    ResetEvent(app.linkStop.get());

    IStream* stream = nullptr;  // filled by the link thread before it sets linkStarted
    app.linkThread.reset(CreateThread(nullptr, 0, linkThreadProc, &stream, CREATE_SUSPENDED, nullptr));
    if (!app.linkThread) return;
    ResumeThread(app.linkThread.get());

    // A thread that ends without setting linkStarted (its handler could not be
    // marshalled) leaves the link not connected.
    const HANDLE waits[2] = {app.linkStarted.get(), app.linkThread.get()};
    DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kStartWaitMs);
    if (woken == WAIT_TIMEOUT) {
        // The stream slot lives in this frame: the thread must be gone before it is.
        SetEvent(app.linkStop.get());
        WaitForSingleObject(app.linkThread.get(), INFINITE);
        if (stream) stream->Release();
        return;
    }
    if (woken != WAIT_OBJECT_0 || !stream) return;
    platform::ComPtr<IDispatch> handler;
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IAppEventHandler, handler.putVoid())))
        app.linkHandler = std::move(handler);
}

}  // namespace

bool connectLink() {
    LinkHandles& app = *linkHandles();
    if (!app.linkThread) startLinkThread(app);
    if (!app.linkHandler) return false;
    forgetLinkNotices();
    return SUCCEEDED(callHandler(app.linkHandler.get(), kDispidEnable));
}

void disconnectLink() {
    LinkHandles& app = *linkHandles();
    if (!app.linkHandler) return;
    // Disable answers S_OK whenever it runs: a failure means the call never reached
    // the link thread, and a proxy that cannot reach it is of no further use.
    if (FAILED(callHandler(app.linkHandler.get(), kDispidDisable))) app.linkHandler.reset();
}

}  // namespace tabro
