// The link thread: owns the event handler object in its own apartment and pumps the
// apartment's messages, which carry the application's events and the main thread's
// calls of Enable and Disable.
#pragma once

#include "platform/WinTypes.h"

namespace tabro {

// The thread procedure. `streamSlot` is an IStream** the starter provides; the
// marshalled IAppEventHandler is put there before linkStarted is set. Ends with 0
// when linkStop is set, 1 on WM_QUIT or when the handler could not be marshalled.
DWORD linkThreadProc(void* streamSlot);

// How often the thread looks for messages and the stop event.
constexpr DWORD kLinkWakeMs = 3;

}  // namespace tabro
