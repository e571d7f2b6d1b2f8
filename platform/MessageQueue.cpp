// Per-thread message queues and their timers.
#include "platform/MessageQueue.h"

#include "platform/KernelObject.h"
#include "platform/ThreadState.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<UINT_PTR> nextTimerId{1};
std::atomic<std::size_t> timersAlive{0};

struct MainQueue {
    std::mutex mutex;
    std::shared_ptr<MessageQueue> queue;
};
MainQueue& mainQueueSlot() {
    static MainQueue* slot = new MainQueue;  // never destroyed: threads may ask at exit
    return *slot;
}

// Which queue owns a timer id, so that KillTimer works from any thread.
struct TimerOwners {
    std::mutex mutex;
    std::map<UINT_PTR, std::weak_ptr<MessageQueue>> owners;
};
TimerOwners& timerOwners() {
    static TimerOwners* owners = new TimerOwners;
    return *owners;
}

}  // namespace

struct MessageQueue::Impl {
    struct Timer {
        UINT intervalMs;
        std::shared_ptr<TimerCallback> callback;  // shared so a reset during the callback is safe
        Clock::time_point due;
        std::uint64_t order;
    };

    std::thread::id owner;
    int eventFd = -1;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> tasks;
    std::map<UINT_PTR, Timer> timers;
    std::uint64_t nextOrder = 0;
    bool isFdSignalled = false;
    bool isClosed = false;

    // Under mutex.
    void signalFd() {
        if (isFdSignalled || eventFd < 0) return;
        std::uint64_t one = 1;
        ssize_t n;
        do n = ::write(eventFd, &one, sizeof one);
        while (n < 0 && errno == EINTR);
        isFdSignalled = true;
    }
    void drainFd() {
        if (!isFdSignalled || eventFd < 0) return;
        std::uint64_t value;
        ssize_t n;
        do n = ::read(eventFd, &value, sizeof value);
        while (n < 0 && errno == EINTR);
        isFdSignalled = false;
    }
    std::optional<Clock::time_point> earliestDue() const {
        std::optional<Clock::time_point> earliest;
        for (auto& [id, t] : timers)
            if (!earliest || t.due < *earliest) earliest = t.due;
        return earliest;
    }
};

MessageQueue::MessageQueue(std::thread::id owner) : impl_(std::make_unique<Impl>()) {
    impl_->owner = owner;
    impl_->eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

MessageQueue::~MessageQueue() {
    close();
    if (impl_->eventFd >= 0) ::close(impl_->eventFd);
}

// The thread's own queue lives in a thread-local holder that closes it at thread end.
class MessageQueueState {
public:
    struct Holder {
        std::shared_ptr<MessageQueue> queue;
        ~Holder() {
            if (queue) queue->close();
        }
    };
    static Holder& holder() {
        thread_local Holder h;
        return h;
    }
    static std::shared_ptr<MessageQueue> make() {
        return std::shared_ptr<MessageQueue>(new MessageQueue(std::this_thread::get_id()));
    }
    static void close(MessageQueue& q) { q.close(); }
};

MessageQueue& MessageQueue::current() { return *currentShared(); }

std::shared_ptr<MessageQueue> MessageQueue::currentShared() {
    auto& h = MessageQueueState::holder();
    if (!h.queue) h.queue = MessageQueueState::make();
    return h.queue;
}

MessageQueue& MessageQueue::main() { return *mainShared(); }

std::shared_ptr<MessageQueue> MessageQueue::mainShared() {
    auto& slot = mainQueueSlot();
    std::lock_guard lock(slot.mutex);
    if (!slot.queue) slot.queue = currentShared();
    return slot.queue;
}

void markMainThread() {
    auto& slot = mainQueueSlot();
    std::lock_guard lock(slot.mutex);
    if (!slot.queue) slot.queue = MessageQueue::currentShared();
}

bool isMainThread() {
    auto& slot = mainQueueSlot();
    std::lock_guard lock(slot.mutex);
    return slot.queue && slot.queue->isOwnerThread();
}

bool MessageQueue::post(std::function<void()> task) {
    if (!task) return false;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->isClosed) return false;  // task is destroyed by our caller's frame, unlocked
        impl_->tasks.push_back(std::move(task));
        impl_->signalFd();
    }
    impl_->changed.notify_all();
    detail::notifyKernel();
    return true;
}

int MessageQueue::pumpTasks() {
    if (!isOwnerThread()) return 0;
    std::size_t ready;
    {
        std::lock_guard lock(impl_->mutex);
        ready = impl_->tasks.size();
        impl_->drainFd();
    }
    // Whatever is left (a task threw, or tasks posted meanwhile) keeps the fd readable.
    struct Resignal {
        Impl& impl;
        ~Resignal() {
            std::lock_guard lock(impl.mutex);
            if (!impl.tasks.empty()) impl.signalFd();
        }
    } resignal{*impl_};
    int ran = 0;
    for (std::size_t i = 0; i < ready; ++i) {
        std::function<void()> task;
        {
            std::lock_guard lock(impl_->mutex);
            if (impl_->tasks.empty()) break;
            task = std::move(impl_->tasks.front());
            impl_->tasks.pop_front();
        }
        ++ran;
        task();
    }
    return ran;
}

int MessageQueue::pumpPending() {
    if (!isOwnerThread()) return 0;
    int ran = pumpTasks();
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<std::pair<Clock::time_point, std::uint64_t>, UINT_PTR>> due;
    {
        std::lock_guard lock(impl_->mutex);
        for (auto& [id, t] : impl_->timers)
            if (t.due <= now) due.push_back({{t.due, t.order}, id});
    }
    std::sort(due.begin(), due.end());
    for (auto& [key, id] : due) {
        std::shared_ptr<TimerCallback> callback;
        {
            std::lock_guard lock(impl_->mutex);
            auto it = impl_->timers.find(id);
            // Killed or reset by an earlier callback of this pump.
            if (it == impl_->timers.end() || it->second.due > now) continue;
            it->second.due = Clock::now() + std::chrono::milliseconds(it->second.intervalMs);
            callback = it->second.callback;
        }
        ++ran;
        (*callback)(id);
    }
    return ran;
}

bool MessageQueue::waitAndPump(std::chrono::milliseconds timeout) {
    if (!isOwnerThread()) return false;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        {
            std::unique_lock lock(impl_->mutex);
            for (;;) {
                Clock::time_point now = Clock::now();
                auto earliest = impl_->earliestDue();
                if (!impl_->tasks.empty() || (earliest && *earliest <= now)) break;
                if (now >= deadline) return false;
                impl_->changed.wait_until(lock, earliest ? std::min(*earliest, deadline) : deadline);
            }
        }
        if (pumpPending() > 0) return true;
        if (Clock::now() >= deadline) return false;
    }
}

int MessageQueue::wakeFd() const { return impl_->eventFd; }

std::optional<std::chrono::milliseconds> MessageQueue::untilNextTimer() const {
    std::lock_guard lock(impl_->mutex);
    auto earliest = impl_->earliestDue();
    if (!earliest) return std::nullopt;
    auto left = *earliest - Clock::now();
    if (left <= Clock::duration::zero()) return std::chrono::milliseconds(0);
    // Rounded up, so that a poll with this timeout wakes when the timer is due.
    return std::chrono::ceil<std::chrono::milliseconds>(left);
}

bool MessageQueue::hasReady() const {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->tasks.empty()) return true;
    auto earliest = impl_->earliestDue();
    return earliest && *earliest <= Clock::now();
}

std::size_t MessageQueue::pendingTasks() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->tasks.size();
}

bool MessageQueue::isOwnerThread() const noexcept { return std::this_thread::get_id() == impl_->owner; }
std::thread::id MessageQueue::ownerThread() const noexcept { return impl_->owner; }

bool MessageQueue::isClosed() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->isClosed;
}

UINT_PTR MessageQueue::setTimer(UINT_PTR id, UINT intervalMs, TimerCallback callback) {
    if (!callback) return 0;
    intervalMs = std::max(intervalMs, 10u);
    auto shared = std::make_shared<TimerCallback>(std::move(callback));
    std::lock_guard lock(impl_->mutex);
    if (impl_->isClosed) return 0;
    auto due = Clock::now() + std::chrono::milliseconds(intervalMs);
    if (id != 0) {
        auto it = impl_->timers.find(id);
        if (it != impl_->timers.end()) {
            it->second = Impl::Timer{intervalMs, std::move(shared), due, impl_->nextOrder++};
            impl_->changed.notify_all();
            return id;
        }
    }
    UINT_PTR newId = nextTimerId++;
    impl_->timers.emplace(newId, Impl::Timer{intervalMs, std::move(shared), due, impl_->nextOrder++});
    ++timersAlive;
    {
        auto& owners = timerOwners();
        std::lock_guard ownersLock(owners.mutex);
        owners.owners[newId] = weak_from_this();
    }
    impl_->changed.notify_all();
    return newId;
}

bool MessageQueue::killTimer(UINT_PTR id) {
    std::shared_ptr<TimerCallback> callback;  // destroyed after the lock is released
    {
        std::lock_guard lock(impl_->mutex);
        auto it = impl_->timers.find(id);
        if (it == impl_->timers.end()) return false;
        callback = std::move(it->second.callback);
        impl_->timers.erase(it);
    }
    --timersAlive;
    auto& owners = timerOwners();
    std::lock_guard ownersLock(owners.mutex);
    owners.owners.erase(id);
    return true;
}

std::size_t MessageQueue::timerCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->timers.size();
}

void MessageQueue::close() {
    std::deque<std::function<void()>> tasks;
    std::map<UINT_PTR, Impl::Timer> timers;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->isClosed) return;
        impl_->isClosed = true;
        tasks.swap(impl_->tasks);
        timers.swap(impl_->timers);
        impl_->drainFd();
    }
    timersAlive -= timers.size();
    {
        auto& owners = timerOwners();
        std::lock_guard ownersLock(owners.mutex);
        for (auto& [id, t] : timers) owners.owners.erase(id);
    }
    // tasks and timers (with what they captured) go here, outside every lock.
}

std::size_t liveTimers() noexcept { return timersAlive.load(); }

namespace detail {

std::shared_ptr<MessageQueue> timerOwner(UINT_PTR id) {
    auto& owners = timerOwners();
    std::lock_guard lock(owners.mutex);
    auto it = owners.owners.find(id);
    return it == owners.owners.end() ? nullptr : it->second.lock();
}

void closeCurrentQueue() noexcept {
    auto& h = MessageQueueState::holder();
    if (h.queue) MessageQueueState::close(*h.queue);
}

}  // namespace detail
}  // namespace platform
