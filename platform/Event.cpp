// Events: a signal state under the kernel lock.
#include "platform/Event.h"

#include "platform/KernelObject.h"
#include "platform/Text.h"

using platform::detail::KernelObject;

namespace {

BOOL setState(HANDLE handle, bool signaled) {
    auto object = platform::detail::findHandle(handle);
    if (!object || object->kind != KernelObject::Kind::event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard lock(platform::detail::kernelMutex());
        object->signaled = signaled;
    }
    if (signaled) platform::detail::kernelCondition().notify_all();
    return TRUE;
}

}  // namespace

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char*) {
    auto event = std::make_shared<KernelObject>(KernelObject::Kind::event, manualReset != FALSE);
    event->signaled = initialState != FALSE;
    return platform::detail::addHandle(std::move(event));
}

BOOL SetEvent(HANDLE event) { return setState(event, true); }
BOOL ResetEvent(HANDLE event) { return setState(event, false); }
