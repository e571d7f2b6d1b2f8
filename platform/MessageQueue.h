// Per-thread message queue: tasks posted from any thread, thread messages and
// window-less timers, run only on the owning thread when it pumps. A pollable
// descriptor lets a command loop wait for terminal input and the queue together.
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

// The message number under which PeekMessageA hands out a posted task (a marshalled
// call, an event); DispatchMessageA runs it. Taken from the registered-message range
// (0xC000..0xFFFF), which applications never post by number and which this platform
// hands out to nobody else.
constexpr UINT WM_PLATFORM_TASK = 0xC000;
// Thread messages that may wait in one queue at once, as the platform's quota.
constexpr std::size_t MAX_POSTED_MESSAGES = 10000;

// A message as PeekMessageA hands it out (platform/Messages.h has the MSG around it).
// For a task or a timer tick taken off the queue, lParam is a ticket that
// dispatchTaken redeems once; 0 for one only looked at.
struct QueuedMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
};

// Owned by one thread (the one it was created for); post, postMessage, wakeFd and
// the counts may be used from any thread, pumping and peeking only from the owner.
// Order: tasks run in the order they were posted; due timers run after the tasks,
// earliest due first, ties in the order the timers were set. A pump runs only what
// was ready when it began, so a task that posts a task, or a timer of period shorter
// than its callback, can never keep a pump from returning.
//
// Thread messages (postMessage, postQuit) wait only for peek: the pumps below run
// tasks and timers and leave them where they are, and neither the descriptor nor
// waitAndPump wakes for them, so a loop that pumps without peeking is not spun by a
// message nobody takes.
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

    // Readable while a posted task waits (level-triggered until the next pump or
    // until peek has taken the tasks).
    // Timers do not make it readable: poll with untilNextTimer() as the timeout.
    int wakeFd() const;
    // Time until the earliest timer is due (zero when one is due already); no value
    // without timers.
    std::optional<std::chrono::milliseconds> untilNextTimer() const;
    // A posted task or a due timer is waiting.
    bool hasReady() const;
    std::size_t pendingTasks() const;
    // A thread message or a quit request waits for peek.
    bool hasMessages() const;

    // The queue of the thread GetCurrentThreadId names (platform/Thread.h), or null
    // when that thread has no queue (never asked for one, or has ended).
    static std::shared_ptr<MessageQueue> ofThread(DWORD threadId);
    DWORD ownerThreadId() const noexcept;

    // Queues a thread message (any thread), in order among the posted tasks.
    enum class PostStatus { posted, closed, full };
    PostStatus postMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Asks for WM_QUIT with exitCode once nothing else waits; a second call before it
    // is taken replaces the code.
    void postQuit(int exitCode);
    // Owner thread only (elsewhere nothing). The first message in the filter range
    // (0, 0 for all; WM_QUIT always matches) in this order: posted tasks and thread
    // messages as they were posted, then due timers (WM_TIMER, wParam the id,
    // earliest due first), then the quit request once nothing else waits. With
    // remove, the message is taken: a task is kept until dispatchTaken runs it (or
    // the queue closes), a timer is rescheduled as a pump does.
    std::optional<QueuedMessage> peek(UINT filterMin, UINT filterMax, bool remove);
    // Owner thread only. Runs the task or the timer callback a message taken by peek
    // carries, once; true when something ran. A message only looked at, redeemed
    // already or made up redeems nothing. An exception from the task propagates.
    bool dispatchTaken(const QueuedMessage& message);

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
