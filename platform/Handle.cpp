// The handle table and waiting on handles.
#include "platform/Handle.h"

#include "platform/KernelObject.h"
#include "platform/MessageQueue.h"
#include "platform/Text.h"

#include <chrono>
#include <unordered_map>
#include <vector>

namespace platform::detail {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x100;
};

// Never destroyed: threads may still close handles while the process exits.
HandleTable& table() {
    static HandleTable* t = new HandleTable;
    return *t;
}

}  // namespace

std::mutex& kernelMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

std::condition_variable& kernelCondition() {
    static std::condition_variable* c = new std::condition_variable;
    return *c;
}

void notifyKernel() {
    { std::lock_guard lock(kernelMutex()); }
    kernelCondition().notify_all();
}

HANDLE addHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    // Multiples of 4 as the platform's; never reused, so a stale handle stays invalid.
    std::uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> findHandle(HANDLE handle) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

}  // namespace platform::detail

namespace platform {

std::size_t liveHandles() noexcept {
    auto& t = detail::table();
    std::lock_guard lock(t.mutex);
    return t.objects.size();
}

}  // namespace platform

using platform::detail::KernelObject;

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;  // freed outside the table's lock
    {
        auto& t = platform::detail::table();
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == t.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        t.objects.erase(it);
    }
    return TRUE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms, DWORD wakeMask) {
    if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles) || (count == 0 && wakeMask == 0 && ms == INFINITE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto object = platform::detail::findHandle(handles[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    platform::MessageQueue* queue = wakeMask ? &platform::MessageQueue::current() : nullptr;
    using Clock = std::chrono::steady_clock;
    const bool isBounded = ms != INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(isBounded ? ms : 0);

    std::unique_lock lock(platform::detail::kernelMutex());
    for (;;) {
        if (waitAll && count > 0) {
            bool all = true;
            for (auto& o : objects) all = all && o->signaled;
            if (all) {
                for (auto& o : objects)
                    if (!o->manualReset) o->signaled = false;
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (objects[i]->signaled) {
                    if (!objects[i]->manualReset) objects[i]->signaled = false;
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        Clock::time_point wakeAt = isBounded ? deadline : Clock::time_point::max();
        if (queue) {
            if (queue->hasReady() || queue->hasMessages()) return WAIT_OBJECT_0 + count;
            if (auto untilTimer = queue->untilNextTimer()) wakeAt = std::min(wakeAt, Clock::now() + *untilTimer);
        }
        if (isBounded && Clock::now() >= deadline) return WAIT_TIMEOUT;
        if (wakeAt == Clock::time_point::max())
            platform::detail::kernelCondition().wait(lock);
        else
            platform::detail::kernelCondition().wait_until(lock, wakeAt);
    }
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
    if (count == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return MsgWaitForMultipleObjects(count, handles, waitAll, ms, 0);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) { return MsgWaitForMultipleObjects(1, &handle, FALSE, ms, 0); }
