// Internal to the platform library: tearing down a thread's platform state (error
// information, apartment, message queue) before its thread handle is signalled, so
// that a waiter sees nothing of the thread still alive.
#pragma once

namespace platform::detail {

void clearThreadErrorInfo() noexcept;
// Leaves the thread's apartment (however deeply entered), closes its message queue,
// clears its error information.
void endThreadState() noexcept;

}  // namespace platform::detail
