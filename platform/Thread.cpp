// Threads: a detached std::thread whose handle object is signalled once the thread
// function has returned and the thread's platform state is gone.
#include "platform/Thread.h"

#include "platform/KernelObject.h"
#include "platform/Text.h"
#include "platform/ThreadState.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using platform::detail::KernelObject;

struct ThreadObject : KernelObject {
    ThreadObject() : KernelObject(Kind::thread, true) {}
    DWORD id = 0;
    DWORD exitCode = STILL_ACTIVE;  // under kernelMutex()
    DWORD suspendCount = 0;         // under kernelMutex()
};

std::atomic<DWORD> nextThreadId{1};
std::atomic<std::size_t> runningThreads{0};
thread_local DWORD currentThreadId = 0;

}  // namespace

namespace platform {
std::size_t liveThreads() noexcept { return runningThreads.load(); }
}  // namespace platform

HANDLE CreateThread(void*, std::size_t, LPTHREAD_START_ROUTINE fn, void* arg, DWORD flags, DWORD* threadId) {
    if (!fn) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>();
    object->id = nextThreadId++;
    object->suspendCount = (flags & CREATE_SUSPENDED) ? 1 : 0;
    HANDLE handle = platform::detail::addHandle(object);
    ++runningThreads;
    try {
        std::thread([object, fn, arg] {
            currentThreadId = object->id;
            {
                std::unique_lock lock(platform::detail::kernelMutex());
                platform::detail::kernelCondition().wait(lock, [&] { return object->suspendCount == 0; });
            }
            DWORD rc = fn(arg);
            platform::detail::endThreadState();
            --runningThreads;
            {
                std::lock_guard lock(platform::detail::kernelMutex());
                object->exitCode = rc;
                object->signaled = true;
            }
            platform::detail::kernelCondition().notify_all();
        }).detach();
    } catch (const std::system_error&) {
        --runningThreads;
        CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = object->id;
    return handle;
}

DWORD ResumeThread(HANDLE thread) {
    auto object = platform::detail::findHandle(thread);
    if (!object || object->kind != KernelObject::Kind::thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    auto& t = static_cast<ThreadObject&>(*object);
    DWORD previous;
    {
        std::lock_guard lock(platform::detail::kernelMutex());
        previous = t.suspendCount;
        if (t.suspendCount > 0) --t.suspendCount;
    }
    platform::detail::kernelCondition().notify_all();
    return previous;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    auto object = platform::detail::findHandle(thread);
    if (!object || object->kind != KernelObject::Kind::thread || !exitCode) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(platform::detail::kernelMutex());
    *exitCode = static_cast<ThreadObject&>(*object).exitCode;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (currentThreadId == 0) currentThreadId = nextThreadId++;
    return currentThreadId;
}

void Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

DWORD GetTickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
