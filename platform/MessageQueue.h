// Per-thread message queue: tasks posted from any thread and window-less timers,
// run only on the owning thread when it pumps. A pollable descriptor lets a command
// loop wait for terminal input and the queue together.
#pragma once

#include "platform/WinTypes.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace platform {

class MessageQueueState;

// Owned by one thread (the one it was created for); post, wakeFd and the counts may
// be used from any thread, pumping only from the owner. Order: tasks run in the
// order they were posted; due timers run after the tasks, earliest due first, ties
// in the order the timers were set. A pump runs only what was ready when it began,
// so a task that posts a task, or a timer of period shorter than its callback, can
// never keep a pump from returning.
class MessageQueue : public std::enable_shared_from_this<MessageQueue> {
public:
    // The calling thread's queue, created on first use; it is closed when the thread
    // ends (tasks still waiting are then destroyed without running).
    static MessageQueue& current();
    static std::shared_ptr<MessageQueue> currentShared();
    // The main thread's queue: the thread that called markMainThread() first, else
    // the first thread that asked for main().
    static MessageQueue& main();
    static std::shared_ptr<MessageQueue> mainShared();

    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;
    ~MessageQueue();

    // Queues task to run on the owner thread. False (and the task is destroyed on the
    // calling thread) when the queue is closed because its thread has ended.
    bool post(std::function<void()> task);

    // Owner thread only (elsewhere it runs nothing and returns 0). Runs the tasks
    // and the due timers ready now; returns how many ran. An exception thrown by a
    // task or a timer callback propagates to the caller of pumpPending; what was not
    // run yet stays queued.
    int pumpPending();
    // Runs only posted tasks, never timers: what a thread does while it waits for a
    // marshalled call to return, so that calls into it are served but timer callbacks
    // are not re-entered.
    int pumpTasks();
    // Pumps when something is ready; otherwise waits up to timeout for a post or a
    // due timer and pumps then. True when anything ran.
    bool waitAndPump(std::chrono::milliseconds timeout);

    // Readable while a posted task waits (level-triggered until the next pump).
    // Timers do not make it readable: poll with untilNextTimer() as the timeout.
    int wakeFd() const;
    // Time until the earliest timer is due (zero when one is due already); no value
    // without timers.
    std::optional<std::chrono::milliseconds> untilNextTimer() const;
    // A posted task or a due timer is waiting.
    bool hasReady() const;
    std::size_t pendingTasks() const;

    bool isOwnerThread() const noexcept;
    std::thread::id ownerThread() const noexcept;
    bool isClosed() const;

    // Timers of this queue (used by SetTimer/KillTimer). Ids are process-wide and
    // never 0. setTimer with an id this queue already has replaces that timer's
    // interval and callback and keeps its id. intervalMs is at least 10.
    using TimerCallback = std::function<void(UINT_PTR id)>;
    UINT_PTR setTimer(UINT_PTR id, UINT intervalMs, TimerCallback callback);
    bool killTimer(UINT_PTR id);
    std::size_t timerCount() const;

private:
    friend class MessageQueueState;
    explicit MessageQueue(std::thread::id owner);
    void close();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Names the calling thread as the main thread (the first call wins).
void markMainThread();
bool isMainThread();

}  // namespace platform
