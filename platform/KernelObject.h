// Internal to the platform library: the objects behind HANDLE values and the one
// lock and condition under which every signal state changes. One process-wide
// condition is plenty for the handful of waits this program makes, and lets a wait
// cover several objects (and a message queue) without a wait list per object.
#pragma once

#include "platform/WinTypes.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform::detail {

struct KernelObject {
    enum class Kind { event, thread };
    explicit KernelObject(Kind k, bool manual) : kind(k), manualReset(manual) {}
    virtual ~KernelObject() = default;
    const Kind kind;
    const bool manualReset;
    bool signaled = false;  // under kernelMutex()
};

std::mutex& kernelMutex();
std::condition_variable& kernelCondition();
// Wakes every wait (after a signal changed or a queue received a task).
void notifyKernel();

HANDLE addHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> findHandle(HANDLE handle);

}  // namespace platform::detail
