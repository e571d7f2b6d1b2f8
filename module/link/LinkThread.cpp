// The link thread procedure.
#include "module/link/LinkThread.h"

#include "module/link/AppEventHandler.h"
#include "module/link/LinkHandles.h"
#include "platform/Apartment.h"
#include "platform/Event.h"
#include "platform/Handle.h"
#include "platform/Marshal.h"
#include "platform/Messages.h"

namespace tabro {

DWORD linkThreadProc(void* streamSlot) {
    CoInitialize(nullptr);
    platform::ComPtr<AppEventHandler> handler(AppEventHandler::create());  // holds the one reference
    auto* stream = static_cast<IStream**>(streamSlot);
    if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IAppEventHandler, handler.get(), stream))) {
        handler.reset();
        return 1;
    }
    LinkHandles& app = *linkHandles();
    SetEvent(app.linkStarted.get());
    const HANDLE stop = app.linkStop.get();
    for (;;) {
        // No message class wakes the wait: messages are looked for every few
        // milliseconds instead.
        if (MsgWaitForMultipleObjects(1, &stop, FALSE, kLinkWakeMs, 0) == WAIT_OBJECT_0) {
            CoUninitialize();
            handler.reset();
            return 0;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                handler.reset();
                return 1;
            }
            DispatchMessageA(&message);
        }
    }
}

}  // namespace tabro
