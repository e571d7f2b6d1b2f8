// The handles of the live link: its event handler's proxy, its thread and the
// events between the two, and the link timer. The module's application object
// holds them (it derives from this, and lives as long as the module is loaded); the
// link reaches them through linkHandles(). Main thread, except where the link thread
// reads linkStarted and linkStop.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Handle.h"
#include "platform/Unknown.h"

namespace tabro {

struct LinkHandles {
    platform::ComPtr<IDispatch> linkHandler;  // main-thread proxy of the link's event handler
    platform::UniqueHandle linkThread;        // the link thread, once created
    platform::UniqueHandle linkStarted;       // set by the link thread when its handler is ready
    platform::UniqueHandle linkStop;          // tells the link thread to end
    UINT_PTR timerId = 0;                     // the link timer; 0 = none
};

// The application object's handles. Defined with the application object, which is
// made on first use: the link below it only names the handles it needs.
LinkHandles* linkHandles();

}  // namespace tabro
