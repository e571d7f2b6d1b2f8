// The link timer's tick.
#include "module/link/LinkTimer.h"

#include "host/AcApDocManager.h"
#include "module/link/ChangeQueue.h"

namespace tabro {

void linkTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    if (changeQueue().count() == 0) return;
    AcApDocument* document = acDocManager->curDocument();
    if (!document || !document->isQuiescent()) return;
    acDocManager->sendStringToExecute(document, "tabro\n_import2\n", false, true, true);
}

}  // namespace tabro
