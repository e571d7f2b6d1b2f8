// Thread messages, spelt as the platform spells them: PeekMessageA and
// DispatchMessageA over the calling thread's queue (platform/MessageQueue.h), and
// posting to a thread by its id. There are no windows: every message here is a
// thread message, so a loop written for the platform's message pump runs unchanged.
#pragma once

#include "platform/WinTypes.h"

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;
// WM_TIMER is in platform/Timer.h; posted tasks come as platform::WM_PLATFORM_TASK
// (platform/MessageQueue.h).

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;  // GetTickCount() when it was posted (WM_TIMER, WM_QUIT: when taken)
};

// Looks at the calling thread's queue without waiting. hwnd must be null (or
// (HWND)-1, "thread messages only", which is all there is); any other window
// matches nothing. filterMin and filterMax bound the message numbers (both 0: all
// messages; filterMin > filterMax: none), except that WM_QUIT is always taken. In
// this order:
//   - posted tasks (marshalled calls, events: platform::MessageQueue::post) as
//     WM_PLATFORM_TASK, and messages of PostThreadMessageA, in the order posted;
//   - due window-less timers as WM_TIMER, wParam the timer id, earliest due first;
//   - WM_QUIT of PostQuitMessage (wParam the exit code) when nothing else matches.
// With PM_REMOVE the message is taken: a task then belongs to the MSG until
// DispatchMessageA runs it (a task never dispatched is destroyed when the thread
// ends), and a timer is rescheduled from now. With PM_NOREMOVE nothing changes and
// dispatching that MSG runs nothing. FALSE when nothing matches. msg null: FALSE
// with ERROR_INVALID_PARAMETER.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);

// Runs what a message taken by PeekMessageA carries, on the calling thread: the
// task, or the timer's callback (nothing if the timer was killed since). A MSG runs
// its task once, however often it is dispatched; a MSG of another thread runs
// nothing here. Returns 0 (thread messages have no window procedure to answer). An
// exception thrown by the task propagates to the caller.
LRESULT DispatchMessageA(const MSG* msg);

// Asks the calling thread's loop to end: its queue hands out WM_QUIT with exitCode
// once nothing else waits.
void PostQuitMessage(int exitCode);

// Queues a message for the thread threadId names (GetCurrentThreadId,
// platform/Thread.h), in order among what is posted to it; WM_QUIT may be posted so
// and arrives in its turn. A thread has a queue once it has called a message
// function (PeekMessageA with PM_NOREMOVE is the idiom to create one). FALSE with
// ERROR_INVALID_THREAD_ID when the thread has no queue (or has ended), with
// ERROR_NOT_ENOUGH_QUOTA when 10,000 messages wait in it already.
BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
