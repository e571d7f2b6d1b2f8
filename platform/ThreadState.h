// Internal to the platform library: tearing down a thread's platform state (error
// information, apartment, message queue) before its thread handle is signalled, so
// that a waiter sees nothing of the thread still alive.
#pragma once

#include "platform/WinTypes.h"

#include <memory>

namespace platform {
class MessageQueue;
}

namespace platform::detail {

void clearThreadErrorInfo() noexcept;
void closeCurrentQueue() noexcept;
// Leaves the thread's apartment however deeply it was entered.
void leaveApartment() noexcept;
// All three, apartment first (its close handlers may still post or release).
void endThreadState() noexcept;

// The queue that owns a timer id, or null.
std::shared_ptr<MessageQueue> timerOwner(UINT_PTR id);

}  // namespace platform::detail
