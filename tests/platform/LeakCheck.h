// A test base that fails a test which leaves platform objects alive: reference
// counted objects, handles, threads, timers, apartments. Compared with what was
// alive before the test, so state that outlives every test (a queue of the main
// thread, say) does not count.
#pragma once

#include "platform/LiveObjects.h"

#include <gtest/gtest.h>
#include <chrono>
#include <thread>

namespace platform::test {

class LeakCheckedTest : public ::testing::Test {
protected:
    void SetUp() override { before_ = liveObjects(); }
    void TearDown() override {
        // A thread signals its handle a moment before it has fully unwound; give
        // stragglers a short grace period before calling it a leak.
        LiveObjects after = liveObjects();
        for (int i = 0; i < 200 && !(after == before_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            after = liveObjects();
        }
        EXPECT_EQ(describe(after), describe(before_)) << "platform objects left alive by the test";
    }

private:
    LiveObjects before_;
};

}  // namespace platform::test
