// Window-less timers, spelt as the platform spells them. A timer set without a
// window belongs to the calling thread's message queue and fires only while that
// queue is pumped; a tick that finds the callback still running, or the queue not
// pumped, is not queued up again (ticks coalesce, as WM_TIMER does).
#pragma once

#include "platform/MessageQueue.h"

#include <cstddef>

constexpr UINT WM_TIMER = 0x0113;
constexpr UINT USER_TIMER_MINIMUM = 10;

// msg is WM_TIMER, id the timer's id, timeMs GetTickCount() at the tick.
using TIMERPROC = void (*)(HWND hwnd, UINT msg, UINT_PTR id, DWORD timeMs);

// hwnd must be null (window timers are not supported: 0 with ERROR_INVALID_PARAMETER).
// With id naming an existing timer of the calling thread, that timer is reset and
// its id returned; otherwise a new non-zero id. elapseMs below 10 counts as 10.
// A null proc is refused (0) since there is no window to post WM_TIMER to.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
// May be called from the timer's own callback and from any thread. FALSE for an
// unknown id.
BOOL KillTimer(HWND hwnd, UINT_PTR id);

namespace platform {

// Timers set and not killed, across all queues.
std::size_t liveTimers() noexcept;

}  // namespace platform
