// Tearing down a thread's platform state in a fixed order.
#include "platform/ThreadState.h"

namespace platform::detail {

void endThreadState() noexcept {
    leaveApartment();
    closeCurrentQueue();
    clearThreadErrorInfo();
}

}  // namespace platform::detail
