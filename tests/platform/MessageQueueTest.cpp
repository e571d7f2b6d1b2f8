// Message queues, window-less timers, events and threads.
#include "platform/MessageQueue.h"

#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "tests/platform/LeakCheck.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <atomic>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::MessageQueue;

class MessageQueueTest : public platform::test::LeakCheckedTest {};

// Timer procedures are plain functions, so what they record lives here.
std::vector<UINT_PTR> fired;
UINT_PTR killInCallback = 0;  // the callback kills this timer (its own id, or another)

void CALLBACK_record(HWND, UINT msg, UINT_PTR id, DWORD) {
    EXPECT_EQ(msg, WM_TIMER);
    fired.push_back(id);
    if (killInCallback) {
        EXPECT_TRUE(KillTimer(nullptr, killInCallback));
        killInCallback = 0;
    }
}

// Pumps the calling thread's queue until `done` or the time is up.
template <class Done>
bool pumpUntil(Done done, std::chrono::milliseconds limit = 2s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        MessageQueue::current().waitAndPump(5ms);
    }
    return true;
}

bool isReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

TEST_F(MessageQueueTest, TimersFireInDueOrderTiesInSetOrder) {
    fired.clear();
    UINT_PTR late = SetTimer(nullptr, 0, 40, CALLBACK_record);
    UINT_PTR a = SetTimer(nullptr, 0, 10, CALLBACK_record);
    UINT_PTR b = SetTimer(nullptr, 0, 10, CALLBACK_record);
    ASSERT_TRUE(late && a && b);
    EXPECT_TRUE(a != b && b != late);
    Sleep(50);  // all three are due; one pump runs each once, earliest due first
    EXPECT_EQ(MessageQueue::current().pumpPending(), 3);
    EXPECT_EQ(fired, (std::vector<UINT_PTR>{a, b, late}));
    // Ticks coalesce: a long wait does not queue up several ticks of one timer.
    fired.clear();
    Sleep(50);
    EXPECT_EQ(MessageQueue::current().pumpPending(), 3);
    for (UINT_PTR id : {late, a, b}) EXPECT_TRUE(KillTimer(nullptr, id));
    EXPECT_FALSE(KillTimer(nullptr, a));
}

TEST_F(MessageQueueTest, TimerCanBeKilledFromItsOwnCallbackOrAnother) {
    fired.clear();
    UINT_PTR self = SetTimer(nullptr, 0, 10, CALLBACK_record);
    killInCallback = self;
    ASSERT_TRUE(pumpUntil([] { return !fired.empty(); }));
    Sleep(30);
    MessageQueue::current().pumpPending();
    EXPECT_EQ(fired, std::vector<UINT_PTR>{self});
    EXPECT_EQ(MessageQueue::current().timerCount(), 0u);

    // The first callback kills the second timer, due in the same pump: it never fires.
    fired.clear();
    UINT_PTR first = SetTimer(nullptr, 0, 10, CALLBACK_record);
    UINT_PTR second = SetTimer(nullptr, 0, 10, CALLBACK_record);
    killInCallback = second;
    Sleep(20);
    MessageQueue::current().pumpPending();
    EXPECT_EQ(fired, std::vector<UINT_PTR>{first});
    EXPECT_TRUE(KillTimer(nullptr, first));
}

TEST_F(MessageQueueTest, SettingAnExistingIdResetsThatTimer) {
    UINT_PTR id = SetTimer(nullptr, 0, 1000, CALLBACK_record);
    EXPECT_EQ(SetTimer(nullptr, id, 10, CALLBACK_record), id);
    EXPECT_EQ(MessageQueue::current().timerCount(), 1u);
    auto wait = MessageQueue::current().untilNextTimer();
    ASSERT_TRUE(wait);
    EXPECT_LE(*wait, 10ms);
    EXPECT_EQ(SetTimer(nullptr, 0, 10, nullptr), 0u);  // nowhere to deliver WM_TIMER
    EXPECT_TRUE(KillTimer(nullptr, id));
    EXPECT_FALSE(MessageQueue::current().untilNextTimer());
}

TEST_F(MessageQueueTest, TasksPostedFromOtherThreadsRunInOrderOnlyWhenPumped) {
    MessageQueue& queue = MessageQueue::current();
    std::vector<int> ran;
    std::thread poster([&] {
        for (int i = 0; i < 5; ++i) EXPECT_TRUE(queue.post([&ran, i] { ran.push_back(i); }));
        EXPECT_EQ(queue.pumpPending(), 0);  // only the owner runs them
    });
    poster.join();
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(isReadable(queue.wakeFd()));
    EXPECT_EQ(queue.pumpPending(), 5);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(isReadable(queue.wakeFd()));
}

TEST_F(MessageQueueTest, APumpRunsOnlyWhatWasReadyWhenItBegan) {
    MessageQueue& queue = MessageQueue::current();
    int runs = 0;
    bool isReposting = true;
    std::function<void()> again = [&] {
        ++runs;
        if (isReposting) queue.post(again);
    };
    queue.post(again);
    EXPECT_EQ(queue.pumpPending(), 1);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(isReadable(queue.wakeFd()));  // the re-posted task is still waiting
    EXPECT_EQ(queue.pumpPending(), 1);
    // Leave nothing behind: drain with a task that does not post again.
    isReposting = false;
    queue.pumpPending();
    EXPECT_EQ(queue.pendingTasks(), 0u);
}

TEST_F(MessageQueueTest, AQueueClosedWithItsThreadRefusesPostsAndDropsItsTasks) {
    std::shared_ptr<MessageQueue> other;
    auto released = std::make_shared<int>(0);
    std::thread owner([&] {
        other = MessageQueue::currentShared();
        other->post([keep = released] {});
        SetTimer(nullptr, 0, 1000, CALLBACK_record);
    });
    owner.join();
    EXPECT_TRUE(other->isClosed());
    EXPECT_EQ(released.use_count(), 1);  // the dropped task let go of what it held
    EXPECT_FALSE(other->post([] {}));
}

TEST_F(MessageQueueTest, EventsAutoAndManualReset) {
    platform::UniqueHandle autoEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    platform::UniqueHandle manualEvent(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    EXPECT_EQ(WaitForSingleObject(autoEvent.get(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(autoEvent.get()));
    EXPECT_EQ(WaitForSingleObject(autoEvent.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEvent.get(), 10), WAIT_TIMEOUT);  // consumed by the wait
    EXPECT_EQ(WaitForSingleObject(manualEvent.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manualEvent.get(), 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_TRUE(ResetEvent(manualEvent.get()));
    HANDLE both[] = {autoEvent.get(), manualEvent.get()};
    SetEvent(manualEvent.get());
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);

    HANDLE stale = autoEvent.release();
    EXPECT_TRUE(CloseHandle(stale));
    EXPECT_FALSE(CloseHandle(stale));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(stale, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(stale));
}

struct ThreadArgs {
    HANDLE started;
    HANDLE stop;
    std::atomic<DWORD> id{0};
};

DWORD threadMain(void* p) {
    auto* args = static_cast<ThreadArgs*>(p);
    args->id = GetCurrentThreadId();
    SetEvent(args->started);
    return WaitForSingleObject(args->stop, 5000) == WAIT_OBJECT_0 ? 7 : 1;
}

TEST_F(MessageQueueTest, ThreadHandleIsSignalledWhenTheThreadEnds) {
    ThreadArgs args;
    platform::UniqueHandle started(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    platform::UniqueHandle stop(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    args.started = started.get();
    args.stop = stop.get();
    DWORD id = 0;
    platform::UniqueHandle thread(CreateThread(nullptr, 0, threadMain, &args, CREATE_SUSPENDED, &id));
    ASSERT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(started.get(), 30), WAIT_TIMEOUT);  // held until resumed
    EXPECT_EQ(ResumeThread(thread.get()), 1u);
    ASSERT_EQ(WaitForSingleObject(started.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(args.id.load(), id);
    EXPECT_NE(id, GetCurrentThreadId());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 20), WAIT_TIMEOUT);
    SetEvent(stop.get());
    ASSERT_EQ(WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(platform::liveThreads(), 0u);
}

TEST_F(MessageQueueTest, MsgWaitWakesForAPostedTask) {
    platform::UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE h = never.get();
    MessageQueue& queue = MessageQueue::current();
    std::thread poster([&] {
        Sleep(20);
        queue.post([] {});
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &h, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    poster.join();
    EXPECT_EQ(queue.pumpPending(), 1);
    // With no wake mask a posted task does not end the wait.
    queue.post([] {});
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &h, FALSE, 10, 0), WAIT_TIMEOUT);
    queue.pumpPending();
}

}  // namespace
