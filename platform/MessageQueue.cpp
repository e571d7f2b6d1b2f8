// Per-thread message queues, their thread messages and their timers.
#include "platform/MessageQueue.h"

#include "platform/KernelObject.h"
#include "platform/Messages.h"
#include "platform/Thread.h"
#include "platform/ThreadState.h"
#include "platform/Timer.h"

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
// Tickets are process-wide, so a message taken on one thread redeems nothing when
// it is dispatched on another.
std::atomic<LPARAM> nextTicket{1};

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

// Which queue a thread id names, for PostThreadMessageA.
struct ThreadQueues {
    std::mutex mutex;
    std::map<DWORD, std::weak_ptr<MessageQueue>> queues;
};
ThreadQueues& threadQueues() {
    static ThreadQueues* queues = new ThreadQueues;
    return *queues;
}

bool inFilter(UINT message, UINT filterMin, UINT filterMax) {
    // WM_QUIT is taken whatever the filter, as on the platform, so that a filtered
    // loop still ends.
    if (message == WM_QUIT || (filterMin == 0 && filterMax == 0)) return true;
    return message >= filterMin && message <= filterMax;
}

}  // namespace

struct MessageQueue::Impl {
    struct Timer {
        UINT intervalMs;
        std::shared_ptr<TimerCallback> callback;  // shared so a reset during the callback is safe
        Clock::time_point due;
        std::uint64_t order;
    };
    // Tasks and thread messages share one sequence, so peek hands them out in the
    // order they were posted although the pumps see only the tasks.
    struct Task {
        std::uint64_t sequence;
        DWORD time;
        std::function<void()> run;
    };
    struct Posted {
        std::uint64_t sequence;
        QueuedMessage message;
    };
    // What a message taken by peek carries until it is dispatched: a task, or the
    // id of the timer whose callback the dispatch runs.
    struct Taken {
        std::function<void()> task;
        UINT_PTR timerId = 0;
    };

    std::thread::id owner;
    DWORD ownerThreadId = 0;
    int eventFd = -1;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Task> tasks;
    std::deque<Posted> messages;
    std::optional<int> quitCode;
    std::map<LPARAM, Taken> taken;
    std::map<UINT_PTR, Timer> timers;
    std::uint64_t nextOrder = 0;
    std::uint64_t nextSequence = 0;
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
    // The timer a pump would run first at `now`: earliest due, ties in set order.
    std::map<UINT_PTR, Timer>::iterator firstDue(Clock::time_point now) {
        auto first = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it) {
            if (it->second.due > now) continue;
            if (first == timers.end() ||
                std::pair(it->second.due, it->second.order) < std::pair(first->second.due, first->second.order))
                first = it;
        }
        return first;
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
        auto queue = std::shared_ptr<MessageQueue>(new MessageQueue(std::this_thread::get_id()));
        queue->impl_->ownerThreadId = GetCurrentThreadId();
        auto& registry = threadQueues();
        std::lock_guard lock(registry.mutex);
        registry.queues[queue->impl_->ownerThreadId] = queue;
        return queue;
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
        impl_->tasks.push_back(Impl::Task{impl_->nextSequence++, GetTickCount(), std::move(task)});
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
            task = std::move(impl_->tasks.front().run);
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

bool MessageQueue::hasMessages() const {
    std::lock_guard lock(impl_->mutex);
    return !impl_->messages.empty() || impl_->quitCode.has_value();
}

std::shared_ptr<MessageQueue> MessageQueue::ofThread(DWORD threadId) {
    auto& registry = threadQueues();
    std::lock_guard lock(registry.mutex);
    auto it = registry.queues.find(threadId);
    return it == registry.queues.end() ? nullptr : it->second.lock();
}

DWORD MessageQueue::ownerThreadId() const noexcept { return impl_->ownerThreadId; }

MessageQueue::PostStatus MessageQueue::postMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->isClosed) return PostStatus::closed;
        if (impl_->messages.size() >= MAX_POSTED_MESSAGES) return PostStatus::full;
        impl_->messages.push_back(Impl::Posted{impl_->nextSequence++, {message, wParam, lParam, GetTickCount()}});
    }
    detail::notifyKernel();
    return PostStatus::posted;
}

void MessageQueue::postQuit(int exitCode) {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->isClosed) return;
        impl_->quitCode = exitCode;
    }
    detail::notifyKernel();
}

std::optional<QueuedMessage> MessageQueue::peek(UINT filterMin, UINT filterMax, bool remove) {
    if (!isOwnerThread()) return std::nullopt;
    std::lock_guard lock(impl_->mutex);
    Impl& q = *impl_;
    auto posted = std::find_if(q.messages.begin(), q.messages.end(), [&](const Impl::Posted& p) {
        return inFilter(p.message.message, filterMin, filterMax);
    });
    const bool isTaskWanted = !q.tasks.empty() && inFilter(WM_PLATFORM_TASK, filterMin, filterMax);
    if (isTaskWanted && (posted == q.messages.end() || q.tasks.front().sequence < posted->sequence)) {
        QueuedMessage m{WM_PLATFORM_TASK, 0, 0, q.tasks.front().time};
        if (remove) {
            m.lParam = nextTicket++;
            q.taken.emplace(m.lParam, Impl::Taken{std::move(q.tasks.front().run), 0});
            q.tasks.pop_front();
            if (q.tasks.empty()) q.drainFd();
        }
        return m;
    }
    if (posted != q.messages.end()) {
        QueuedMessage m = posted->message;
        if (remove) q.messages.erase(posted);
        return m;
    }
    if (inFilter(WM_TIMER, filterMin, filterMax)) {
        const Clock::time_point now = Clock::now();
        if (auto due = q.firstDue(now); due != q.timers.end()) {
            QueuedMessage m{WM_TIMER, due->first, 0, GetTickCount()};
            if (remove) {
                due->second.due = now + std::chrono::milliseconds(due->second.intervalMs);
                m.lParam = nextTicket++;
                q.taken.emplace(m.lParam, Impl::Taken{{}, due->first});
            }
            return m;
        }
    }
    if (q.quitCode) {
        QueuedMessage m{WM_QUIT, static_cast<WPARAM>(static_cast<LPARAM>(*q.quitCode)), 0, GetTickCount()};
        if (remove) q.quitCode.reset();
        return m;
    }
    return std::nullopt;
}

bool MessageQueue::dispatchTaken(const QueuedMessage& message) {
    if (!isOwnerThread() || message.lParam == 0) return false;
    if (message.message != WM_PLATFORM_TASK && message.message != WM_TIMER) return false;
    std::function<void()> task;
    std::shared_ptr<TimerCallback> callback;
    UINT_PTR timerId = 0;
    {
        std::lock_guard lock(impl_->mutex);
        auto it = impl_->taken.find(message.lParam);
        if (it == impl_->taken.end()) return false;
        // A ticket redeems only under the message it was handed out with.
        const bool isTimerTicket = !it->second.task;
        if (isTimerTicket != (message.message == WM_TIMER)) return false;
        if (isTimerTicket && it->second.timerId != message.wParam) return false;
        task = std::move(it->second.task);
        timerId = it->second.timerId;
        impl_->taken.erase(it);
        if (isTimerTicket) {
            auto timer = impl_->timers.find(timerId);
            if (timer == impl_->timers.end()) return false;  // killed since it was taken
            callback = timer->second.callback;
        }
    }
    // The ticket is gone before the call, so a dispatch of the same message from
    // inside the task runs nothing.
    if (task) {
        task();
    } else {
        (*callback)(timerId);
    }
    return true;
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
    std::deque<Impl::Task> tasks;
    std::deque<Impl::Posted> messages;
    std::map<LPARAM, Impl::Taken> taken;
    std::map<UINT_PTR, Impl::Timer> timers;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->isClosed) return;
        impl_->isClosed = true;
        tasks.swap(impl_->tasks);
        messages.swap(impl_->messages);
        taken.swap(impl_->taken);
        timers.swap(impl_->timers);
        impl_->quitCode.reset();
        impl_->drainFd();
    }
    {
        auto& registry = threadQueues();
        std::lock_guard registryLock(registry.mutex);
        auto it = registry.queues.find(impl_->ownerThreadId);
        // Expired when the last owner let go before the thread ended.
        if (it != registry.queues.end() && (it->second.expired() || it->second.lock().get() == this))
            registry.queues.erase(it);
    }
    timersAlive -= timers.size();
    {
        auto& owners = timerOwners();
        std::lock_guard ownersLock(owners.mutex);
        for (auto& [id, t] : timers) owners.owners.erase(id);
    }
    // Tasks (taken or not), timers and what they captured go here, outside every lock.
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
