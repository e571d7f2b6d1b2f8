// Thread messages: what PeekMessageA hands out and in which order, what
// DispatchMessageA runs, posting to other threads, and how waits and the older pumps
// see thread messages.
#include "platform/Messages.h"

#include "platform/Event.h"
#include "platform/MessageQueue.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "tests/platform/LeakCheck.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::MessageQueue;
using platform::WM_PLATFORM_TASK;

class MessagesTest : public platform::test::LeakCheckedTest {
protected:
    // A thread receives thread messages once it has a queue; looking makes one.
    void SetUp() override {
        LeakCheckedTest::SetUp();
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    }
    // The test thread's queue outlives the test: leave nothing in it for the next one.
    void TearDown() override {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        LeakCheckedTest::TearDown();
    }
};

std::vector<UINT_PTR> ticks;
void CALLBACK_tick(HWND, UINT, UINT_PTR id, DWORD) { ticks.push_back(id); }

MSG take(UINT filterMin = 0, UINT filterMax = 0) {
    MSG msg{};
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, filterMin, filterMax, PM_REMOVE));
    return msg;
}

bool isEmpty() {
    MSG msg;
    return !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

TEST_F(MessagesTest, TasksAndThreadMessagesComeOutInTheOrderPosted) {
    MessageQueue& queue = MessageQueue::current();
    std::vector<int> ran;
    const DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(queue.post([&] { ran.push_back(1); }));
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 1, 11, -11));
    ASSERT_TRUE(queue.post([&] { ran.push_back(2); }));
    ASSERT_TRUE(PostThreadMessageA(self, WM_APP, 22, 0));

    MSG first = take();
    EXPECT_EQ(first.message, WM_PLATFORM_TASK);
    EXPECT_EQ(first.hwnd, nullptr);
    EXPECT_TRUE(ran.empty()) << "taking a task does not run it";
    EXPECT_EQ(DispatchMessageA(&first), 0);
    EXPECT_EQ(ran, std::vector<int>{1});

    MSG second = take();
    EXPECT_EQ(second.message, WM_USER + 1);
    EXPECT_EQ(second.wParam, 11u);
    EXPECT_EQ(second.lParam, -11);
    EXPECT_EQ(DispatchMessageA(&second), 0);

    MSG third = take();
    EXPECT_EQ(third.message, WM_PLATFORM_TASK);
    DispatchMessageA(&third);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(take().message, WM_APP);
    EXPECT_TRUE(isEmpty());
}

TEST_F(MessagesTest, ATaskRunsOnceHoweverItsMessageIsDispatched) {
    MessageQueue& queue = MessageQueue::current();
    int runs = 0;
    queue.post([&] { ++runs; });

    // Looking leaves the task queued; dispatching what was only looked at runs nothing.
    MSG looked{};
    ASSERT_TRUE(PeekMessageA(&looked, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&looked, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(looked.message, WM_PLATFORM_TASK);
    DispatchMessageA(&looked);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(queue.pendingTasks(), 1u);

    MSG taken = take();
    EXPECT_EQ(queue.pendingTasks(), 0u);
    DispatchMessageA(&taken);
    DispatchMessageA(&taken);
    MSG copy = taken;
    DispatchMessageA(&copy);
    EXPECT_EQ(runs, 1);

    // A message made up with the task number carries nothing.
    MSG madeUp{nullptr, WM_PLATFORM_TASK, 0, taken.lParam + 1000, 0};
    DispatchMessageA(&madeUp);
    EXPECT_EQ(runs, 1);

    // A task that dispatches its own message again does not run twice either.
    MSG self{};
    queue.post([&] {
        ++runs;
        DispatchMessageA(&self);
    });
    self = take();
    DispatchMessageA(&self);
    EXPECT_EQ(runs, 2);
}

TEST_F(MessagesTest, FiltersSelectByNumberAndWindowButQuitAlwaysMatches) {
    const DWORD self = GetCurrentThreadId();
    PostThreadMessageA(self, WM_USER, 1, 0);
    PostThreadMessageA(self, WM_APP, 2, 0);
    MessageQueue::current().post([] {});
    MSG msg{};
    struct Case {
        const char* name;
        HWND hwnd;
        UINT min, max;
    };
    const Case none[] = {
        {"above every message", nullptr, WM_APP + 1, WM_APP + 100},
        {"min above max", nullptr, WM_APP, WM_USER},
        {"a window", reinterpret_cast<HWND>(0x1234), 0, 0},
    };
    for (const Case& c : none) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(PeekMessageA(&msg, c.hwnd, c.min, c.max, PM_REMOVE));
    }
    EXPECT_EQ(take(WM_APP, WM_APP).wParam, 2u) << "skips the earlier WM_USER";
    EXPECT_EQ(take(WM_PLATFORM_TASK, WM_PLATFORM_TASK).message, WM_PLATFORM_TASK);
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) << "(HWND)-1: thread messages";
    EXPECT_EQ(msg.message, WM_USER);

    PostQuitMessage(5);
    EXPECT_EQ(take(WM_APP + 1, WM_APP + 100).message, WM_QUIT);
    EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(MessagesTest, QuitWaitsUntilNothingElseIsLeft) {
    const DWORD self = GetCurrentThreadId();
    PostQuitMessage(3);
    PostThreadMessageA(self, WM_USER + 7, 0, 0);
    MessageQueue::current().post([] {});
    UINT_PTR timer = SetTimer(nullptr, 0, 10, CALLBACK_tick);
    Sleep(20);

    EXPECT_EQ(take().message, WM_USER + 7);
    EXPECT_EQ(take().message, WM_PLATFORM_TASK);
    EXPECT_EQ(take().message, WM_TIMER);
    MSG looked{};
    ASSERT_TRUE(PeekMessageA(&looked, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(looked.message, WM_QUIT);
    MSG quit = take();
    EXPECT_EQ(quit.message, WM_QUIT);
    EXPECT_EQ(quit.wParam, 3u);
    EXPECT_TRUE(isEmpty()) << "WM_QUIT comes once";
    EXPECT_TRUE(KillTimer(nullptr, timer));

    // The later request wins while the first is still waiting.
    PostQuitMessage(1);
    PostQuitMessage(2);
    EXPECT_EQ(take().wParam, 2u);
    EXPECT_TRUE(isEmpty());
}

TEST_F(MessagesTest, TimersComeAsWmTimerAndRunTheirCallbackWhenDispatched) {
    ticks.clear();
    UINT_PTR id = SetTimer(nullptr, 0, 10, CALLBACK_tick);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(isEmpty()) << "not due yet";
    Sleep(20);
    MSG looked{};
    ASSERT_TRUE(PeekMessageA(&looked, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(looked.message, WM_TIMER);
    EXPECT_EQ(looked.wParam, id);
    DispatchMessageA(&looked);
    EXPECT_TRUE(ticks.empty()) << "a tick only looked at runs nothing";

    MSG tick = take(WM_TIMER, WM_TIMER);
    EXPECT_EQ(tick.wParam, id);
    EXPECT_TRUE(isEmpty()) << "taking the tick reschedules the timer";
    DispatchMessageA(&tick);
    DispatchMessageA(&tick);
    EXPECT_EQ(ticks, std::vector<UINT_PTR>{id});
    auto wait = MessageQueue::current().untilNextTimer();
    ASSERT_TRUE(wait);
    EXPECT_GT(*wait, 0ms);

    // A tick taken before its timer is killed runs nothing afterwards.
    Sleep(20);
    MSG late = take();
    EXPECT_EQ(late.message, WM_TIMER);
    EXPECT_TRUE(KillTimer(nullptr, id));
    DispatchMessageA(&late);
    EXPECT_EQ(ticks.size(), 1u);
    Sleep(20);
    EXPECT_TRUE(isEmpty());
}

// A worker with a message loop of the platform's kind: makes its queue, tells the
// test its id, records what it takes until WM_QUIT and ends with the quit code.
struct LoopWorker {
    HANDLE ready = nullptr;
    std::atomic<DWORD> id{0};
    std::vector<MSG> seen;  // read only after the thread has ended
    std::chrono::milliseconds firstWake{0};

    static DWORD run(void* p) {
        auto* self = static_cast<LoopWorker*>(p);
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
        self->id = GetCurrentThreadId();
        platform::UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        HANDLE waitOn = never.get();
        SetEvent(self->ready);
        auto start = std::chrono::steady_clock::now();
        for (;;) {
            DWORD woke = MsgWaitForMultipleObjects(1, &waitOn, FALSE, 5000, QS_ALLINPUT);
            if (woke != WAIT_OBJECT_0 + 1) return 1000 + woke;
            if (self->seen.empty())
                self->firstWake =
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) return static_cast<DWORD>(msg.wParam);
                self->seen.push_back(msg);
                DispatchMessageA(&msg);
            }
        }
    }
};

TEST_F(MessagesTest, PostThreadMessageReachesAnotherThreadsLoopAndWakesItsWait) {
    LoopWorker worker;
    platform::UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    worker.ready = ready.get();
    DWORD id = 0;
    platform::UniqueHandle thread(CreateThread(nullptr, 0, LoopWorker::run, &worker, 0, &id));
    ASSERT_TRUE(thread);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(worker.id.load(), id);

    Sleep(30);  // the worker is waiting by now
    ASSERT_TRUE(PostThreadMessageA(id, WM_USER + 5, 1, 2));
    ASSERT_TRUE(PostThreadMessageA(id, WM_APP + 1, 3, 4));
    ASSERT_TRUE(PostThreadMessageA(id, WM_QUIT, 9, 0));
    PostThreadMessageA(id, WM_USER + 6, 0, 0);  // after WM_QUIT: never taken
    ASSERT_EQ(WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(code, 9u) << "the loop ended on the posted WM_QUIT, in its turn";
    ASSERT_EQ(worker.seen.size(), 2u);
    EXPECT_EQ(worker.seen[0].message, WM_USER + 5);
    EXPECT_EQ(worker.seen[0].wParam, 1u);
    EXPECT_EQ(worker.seen[0].lParam, 2);
    EXPECT_EQ(worker.seen[1].message, WM_APP + 1);
    EXPECT_LT(worker.firstWake, 2s) << "the wait woke for the message, not by its timeout";

    // A thread that has ended, one that never made a queue, and id 0 have no queue.
    EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    std::atomic<DWORD> queueless{0};
    std::thread([&] { queueless = GetCurrentThreadId(); }).join();
    for (DWORD nobody : {queueless.load(), DWORD{0}}) {
        SetLastError(0);
        EXPECT_FALSE(PostThreadMessageA(nobody, WM_USER, 0, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    }
}

TEST_F(MessagesTest, AThreadMessageWakesAMessageWaitButNotThePumps) {
    platform::UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE h = never.get();
    const DWORD self = GetCurrentThreadId();
    std::thread poster([self] {
        Sleep(20);
        PostThreadMessageA(self, WM_USER + 2, 0, 0);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &h, FALSE, 5000, QS_POSTMESSAGE), WAIT_OBJECT_0 + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    poster.join();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &h, FALSE, 10, 0), WAIT_TIMEOUT) << "no wake mask, no wake";

    // The pumps run tasks and timers only: the message stays for PeekMessageA, and a
    // loop that only pumps is neither woken nor spun by it.
    MessageQueue& queue = MessageQueue::current();
    pollfd p{queue.wakeFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    EXPECT_FALSE(queue.waitAndPump(20ms));
    int ran = 0;
    queue.post([&] { ++ran; });
    PostThreadMessageA(self, WM_USER + 3, 0, 0);
    EXPECT_EQ(queue.pumpPending(), 1);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(take().message, WM_USER + 2);
    EXPECT_EQ(take().message, WM_USER + 3);

    PostQuitMessage(0);
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0) << "a quit request wakes";
}

TEST_F(MessagesTest, ATaskNeverDispatchedIsReleasedWhenItsThreadEnds) {
    auto held = std::make_shared<int>(0);
    MSG carried{};
    std::thread owner([&] {
        MessageQueue::current().post([keep = held] {});
        carried = take();
        EXPECT_EQ(held.use_count(), 2) << "the taken message owns the task";
    });
    owner.join();
    EXPECT_EQ(held.use_count(), 1);

    // Dispatched on another thread, a taken message runs nothing either.
    int runs = 0;
    MSG elsewhere{};
    MessageQueue::current().post([&] { ++runs; });
    std::thread other([&] {
        MessageQueue::current().post([] {});
        elsewhere = take();
    });
    other.join();
    DispatchMessageA(&elsewhere);
    MSG mine = take();
    std::thread([&] { DispatchMessageA(&mine); }).join();
    EXPECT_EQ(runs, 0);
    DispatchMessageA(&mine);
    EXPECT_EQ(runs, 1);
}

TEST_F(MessagesTest, AQueueHoldsAtMostTenThousandThreadMessages) {
    const DWORD self = GetCurrentThreadId();
    for (std::size_t i = 0; i < platform::MAX_POSTED_MESSAGES; ++i)
        ASSERT_TRUE(PostThreadMessageA(self, WM_USER, i, 0)) << i;
    EXPECT_FALSE(PostThreadMessageA(self, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_TRUE(MessageQueue::current().post([] {})) << "tasks are not counted against the quota";
    EXPECT_EQ(take(WM_USER, WM_USER).wParam, 0u);
    EXPECT_TRUE(PostThreadMessageA(self, WM_USER, 0, 0)) << "room again once one is taken";
}

}  // namespace
