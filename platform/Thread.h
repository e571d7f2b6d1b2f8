// Win32-style threads: a thread handle is waitable and becomes signalled when the
// thread has ended and its per-thread platform state (message queue, apartment,
// error information) has been torn down.
#pragma once

#include "platform/Handle.h"

#include <cstddef>

using LPTHREAD_START_ROUTINE = DWORD (*)(void* arg);
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD STILL_ACTIVE = 259;

// Starts fn(arg) on a new thread (held until ResumeThread with CREATE_SUSPENDED).
// stackSize 0 is the default. The handle must be closed; closing it does not stop
// the thread. *threadId (when given) is the id GetCurrentThreadId gives inside it.
HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE fn, void* arg, DWORD flags,
                    DWORD* threadId);
// Previous suspend count (1 for a thread created suspended, then 0); (DWORD)-1 for
// a handle that is not a thread.
DWORD ResumeThread(HANDLE thread);
// STILL_ACTIVE while the thread runs, then fn's return value.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
// Non-zero, unique in the process for the thread's lifetime.
DWORD GetCurrentThreadId();
void Sleep(DWORD ms);
// Milliseconds since an arbitrary start, wrapping at 2^32 as the platform's does.
DWORD GetTickCount();

namespace platform {

// Threads started with CreateThread that have not ended yet.
std::size_t liveThreads() noexcept;

}  // namespace platform
