// Waitable kernel objects (events, threads) behind HANDLE values: waiting, closing,
// and a scope that closes. A HANDLE is a number in a process-wide table, so a stale
// or made-up handle is refused (ERROR_INVALID_HANDLE) instead of touching freed memory.
#pragma once

#include "platform/LastError.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <utility>

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Wake masks of MsgWaitForMultipleObjects: any of them means "a posted task, a
// thread message, a quit request or a due timer in the calling thread's queue wakes
// the wait".
constexpr DWORD QS_TIMER = 0x0010;
constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
constexpr DWORD QS_ALLINPUT = 0x04FF;

// Frees the handle; the object itself goes when its last handle is closed (a
// thread keeps running when its handle is closed). FALSE with ERROR_INVALID_HANDLE
// for an unknown or already closed handle.
BOOL CloseHandle(HANDLE handle);

// WAIT_OBJECT_0 when the object is (or becomes) signalled within ms (INFINITE for no
// limit), WAIT_TIMEOUT otherwise, WAIT_FAILED (ERROR_INVALID_HANDLE) for a bad
// handle. Waiting consumes the signal of an auto-reset event.
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
// Any-of (WAIT_OBJECT_0 + index of the first signalled) or all-of (WAIT_OBJECT_0).
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
// As WaitForMultipleObjects, and also returns WAIT_OBJECT_0 + count when wakeMask is
// not 0 and the calling thread's message queue has a posted task, a thread message
// (PostThreadMessageA, PostQuitMessage) or a due timer. Nothing is pumped: the
// caller pumps or peeks its queue afterwards. The wake is level-triggered: what was
// only looked at with PM_NOREMOVE wakes the next wait too.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms, DWORD wakeMask);

namespace platform {

// Owns one handle and closes it on every way out.
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(HANDLE h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.h_, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != nullptr; }
    HANDLE release() noexcept { return std::exchange(h_, nullptr); }
    void reset(HANDLE h = nullptr) noexcept {
        if (HANDLE old = std::exchange(h_, h)) CloseHandle(old);
    }

private:
    HANDLE h_ = nullptr;
};

// Open handles of the process (events and threads), for leak checks.
std::size_t liveHandles() noexcept;

}  // namespace platform
