// The link timer: once a second on the main thread, hands queued cell edits to the
// TABRO command when the drawing is idle.
#pragma once

#include "platform/Timer.h"

namespace tabro {

// Does nothing while the change queue is empty, when no drawing is current, or while
// the current drawing is busy; otherwise sends it "tabro\n_import2\n".
void linkTimerProc(HWND hwnd, UINT msg, UINT_PTR id, DWORD timeMs);

}  // namespace tabro
