// Window-less timers on the calling thread's message queue.
#include "platform/Timer.h"

#include "platform/Text.h"
#include "platform/Thread.h"
#include "platform/ThreadState.h"

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    if (hwnd || !proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return platform::MessageQueue::current().setTimer(
        id, elapseMs, [proc](UINT_PTR timerId) { proc(nullptr, WM_TIMER, timerId, GetTickCount()); });
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    if (hwnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto queue = platform::detail::timerOwner(id);
    if (!queue || !queue->killTimer(id)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
