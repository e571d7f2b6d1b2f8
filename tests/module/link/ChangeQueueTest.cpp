// The change queue: newest first, the pool's growth and release, and one thread
// appending while another counts and takes (run under ThreadSanitizer too).
#include "module/link/ChangeQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

using tabro::ChangedCell;
using tabro::ChangeQueue;

ChangedCell cell(std::int32_t column, std::int32_t row, const char16_t* sheet = u"Sheet1",
                 const char16_t* book = u"Book1.xlsx") {
    return ChangedCell{column, row, std::make_shared<const std::u16string>(sheet),
                       std::make_shared<const std::u16string>(book)};
}

TEST(ChangeQueueTest, TakesNewestFirstAndKeepsFields) {
    ChangeQueue queue;
    EXPECT_FALSE(queue.takeNewest().has_value());
    queue.append(cell(2, 5, u"A", u"X.xlsx"));
    queue.append(cell(3, 6, u"B", u"Y.xlsx"));
    queue.append(cell(4, 7, u"C", u"Z.xlsx"));
    ASSERT_EQ(queue.count(), 3u);

    const struct {
        std::int32_t column, row;
        std::u16string sheet, book;
    } expected[] = {{4, 7, u"C", u"Z.xlsx"}, {3, 6, u"B", u"Y.xlsx"}, {2, 5, u"A", u"X.xlsx"}};
    for (const auto& want : expected) {
        auto got = queue.takeNewest();
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->column, want.column);
        EXPECT_EQ(got->row, want.row);
        EXPECT_EQ(*got->sheetName, want.sheet);
        EXPECT_EQ(*got->workbookName, want.book);
    }
    EXPECT_EQ(queue.count(), 0u);
    EXPECT_FALSE(queue.takeNewest().has_value());
}

TEST(ChangeQueueTest, InterleavedAppendAndTakeStayNewestFirst) {
    ChangeQueue queue;
    queue.append(cell(1, 1));
    queue.append(cell(1, 2));
    EXPECT_EQ(queue.takeNewest()->row, 2);
    queue.append(cell(1, 3));
    EXPECT_EQ(queue.takeNewest()->row, 3);
    EXPECT_EQ(queue.takeNewest()->row, 1);
    EXPECT_EQ(queue.count(), 0u);
}

TEST(ChangeQueueTest, PoolGrowsInBlocksAndIsFreedWhenEmpty) {
    ChangeQueue queue;
    EXPECT_EQ(queue.poolNodes(), 0u);
    const struct {
        int records;
        std::size_t nodes;
    } cases[] = {{1, 10}, {10, 10}, {11, 20}, {25, 30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.records);
        for (int i = 0; i < c.records; ++i) queue.append(cell(1, i + 1));
        EXPECT_EQ(queue.poolNodes(), c.nodes);
        EXPECT_EQ(queue.count(), static_cast<std::size_t>(c.records));
        // Taking all but one keeps the pool: nodes go back to its free list.
        for (int i = 1; i < c.records; ++i) queue.takeNewest();
        EXPECT_EQ(queue.poolNodes(), c.nodes);
        // Reusing freed nodes does not grow it.
        for (int i = 1; i < c.records; ++i) queue.append(cell(2, i));
        EXPECT_EQ(queue.poolNodes(), c.nodes);
        while (queue.takeNewest()) {
        }
        EXPECT_EQ(queue.poolNodes(), 0u);
    }
}

TEST(ChangeQueueTest, RecordsShareTheirNames) {
    ChangeQueue queue;
    auto sheet = std::make_shared<const std::u16string>(u"Doors");
    for (int i = 0; i < 3; ++i) queue.append(ChangedCell{1, i, sheet, sheet});
    EXPECT_EQ(sheet.use_count(), 7);
    queue.clear();
    // The names are let go with the records.
    EXPECT_EQ(sheet.use_count(), 1);
    EXPECT_EQ(queue.count(), 0u);
    EXPECT_EQ(queue.poolNodes(), 0u);
}

// One appender, one drainer that also counts, as the link thread and the timer
// with Import2 do. Every record must come out exactly once, and a record taken
// after another is older than it unless it was appended after that take (and so
// is newer than everything seen so far).
TEST(ChangeQueueTest, ConcurrentAppendAndDrainLoseNothing) {
    ChangeQueue queue;
    constexpr int kRecords = 20000;
    std::atomic<bool> done{false};
    std::thread appender([&] {
        auto sheet = std::make_shared<const std::u16string>(u"S");
        for (int i = 1; i <= kRecords; ++i) queue.append(ChangedCell{1, i, sheet, sheet});
        done = true;
    });
    std::vector<bool> seen(kRecords + 1, false);
    int taken = 0, duplicates = 0, orderFaults = 0, maxSeen = 0, last = 0;
    for (;;) {
        bool finished = done.load();
        if (queue.count() == 0) {
            if (finished) break;
            std::this_thread::yield();
            continue;
        }
        while (auto record = queue.takeNewest()) {
            int row = record->row;
            ASSERT_GE(row, 1);
            ASSERT_LE(row, kRecords);
            if (seen[row]) ++duplicates;
            seen[row] = true;
            ++taken;
            if (row > last && row <= maxSeen) ++orderFaults;
            maxSeen = std::max(maxSeen, row);
            last = row;
        }
    }
    appender.join();
    EXPECT_EQ(duplicates, 0);
    EXPECT_EQ(orderFaults, 0);
    EXPECT_EQ(taken, kRecords);
    EXPECT_EQ(queue.count(), 0u);
    EXPECT_EQ(queue.poolNodes(), 0u);
}

}  // namespace
