// Thread messages over the per-thread message queues.
#include "platform/Messages.h"

#include "platform/LastError.h"
#include "platform/MessageQueue.h"

namespace {

// The platform's "messages with no window" handle: all messages here are such.
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

platform::QueuedMessage queuedOf(const MSG& msg) { return {msg.message, msg.wParam, msg.lParam, msg.time}; }

}  // namespace

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (hwnd && hwnd != kThreadMessagesOnly) return FALSE;
    if (filterMin > filterMax) return FALSE;
    auto taken = platform::MessageQueue::current().peek(filterMin, filterMax, (removeFlags & PM_REMOVE) != 0);
    if (!taken) return FALSE;
    *msg = MSG{nullptr, taken->message, taken->wParam, taken->lParam, taken->time};
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || msg->hwnd) return 0;
    platform::MessageQueue::current().dispatchTaken(queuedOf(*msg));
    return 0;
}

void PostQuitMessage(int exitCode) { platform::MessageQueue::current().postQuit(exitCode); }

BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto queue = threadId ? platform::MessageQueue::ofThread(threadId) : nullptr;
    if (!queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    switch (queue->postMessage(msg, wParam, lParam)) {
    case platform::MessageQueue::PostStatus::posted:
        return TRUE;
    case platform::MessageQueue::PostStatus::full:
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    case platform::MessageQueue::PostStatus::closed:
        break;
    }
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
}
