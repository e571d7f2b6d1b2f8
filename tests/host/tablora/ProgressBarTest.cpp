// The text of tablora's progress line: bar, counts, detail, estimate and width.
#include "host/tablora/ProgressBar.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::chrono_literals;
using tablora::ProgressBar;
const ProgressBar::Clock::time_point t0{};

TEST(TabloraProgressBar, LineShowsBarCountsDetailAndEstimate) {
    ProgressBar bar(200, t0);
    bar.beginItem(37, "A-101.dxf", "reading");
    bar.showMeter("exporting TITLE", 0, 500);
    bar.setMeterPosition(340);
    // 37.68 of 200 in 60 s: 258.5 s left.
    const std::string line = bar.line(120, t0 + 60s);
    EXPECT_EQ(line, "[###.................] 37/200 drawings  A-101.dxf: exporting TITLE 340/500  4:18 left");
}

TEST(TabloraProgressBar, FractionCountsItemsAndTheMeter) {
    ProgressBar bar(4, t0);
    EXPECT_DOUBLE_EQ(bar.fraction(), 0.0);
    bar.beginItem(1, "b.dxf", "reading");
    EXPECT_DOUBLE_EQ(bar.fraction(), 0.25);
    bar.showMeter("rows", 100, 300);
    bar.setMeterPosition(200);
    EXPECT_DOUBLE_EQ(bar.fraction(), 0.375);
    bar.setMeterPosition(1000);  // clamped to the meter's range
    EXPECT_DOUBLE_EQ(bar.fraction(), 0.5);
    bar.hideMeter();
    EXPECT_DOUBLE_EQ(bar.fraction(), 0.25);
    for (int i = 0; i < 10; ++i) bar.finishItem();
    EXPECT_DOUBLE_EQ(bar.fraction(), 1.0);
    EXPECT_DOUBLE_EQ(ProgressBar(0, t0).fraction(), 1.0);
}

TEST(TabloraProgressBar, EstimateAtTheRateSoFar) {
    ProgressBar bar(10, t0);
    EXPECT_FALSE(bar.estimateLeft(t0 + 30s)) << "nothing done yet";
    bar.finishItem();
    EXPECT_FALSE(bar.estimateLeft(t0 + 500ms)) << "under a second says nothing of the rate";
    ASSERT_TRUE(bar.estimateLeft(t0 + 20s));
    EXPECT_EQ(*bar.estimateLeft(t0 + 20s), 180s);
    for (int i = 0; i < 9; ++i) bar.finishItem();
    EXPECT_EQ(*bar.estimateLeft(t0 + 200s), 0s);

    EXPECT_EQ(ProgressBar::formatDuration(0s), "0:00");
    EXPECT_EQ(ProgressBar::formatDuration(72s), "1:12");
    EXPECT_EQ(ProgressBar::formatDuration(3599s), "59:59");
    EXPECT_EQ(ProgressBar::formatDuration(3600s + 125s), "1:02:05");
}

TEST(TabloraProgressBar, LineFitsEveryWidth) {
    ProgressBar bar(1200, t0);
    bar.beginItem(512, "a rather long drawing name for a narrow terminal.dxf", "reading");
    bar.showMeter("importing", 0, 12000);
    bar.setMeterPosition(6000);
    for (std::size_t width = 0; width <= 160; ++width) {
        SCOPED_TRACE(width);
        const std::string line = bar.line(width, t0 + 90s);
        EXPECT_LE(line.size(), width == 0 ? 0 : width - 1);
        // The counts give way last: they are there whenever the line has room for them.
        if (width > 20) {
            EXPECT_NE(line.find("512/1200 drawings"), std::string::npos) << line;
        }
        if (width > 40) {
            EXPECT_NE(line.find("left"), std::string::npos) << line;
        }
    }
    // A wide line shows the whole detail and the full bar; a narrower one cuts the
    // detail, marking the cut, before the bar shrinks.
    EXPECT_NE(bar.line(160, t0 + 90s).find("narrow terminal.dxf: importing 6000/12000"), std::string::npos);
    const std::string cut = bar.line(80, t0 + 90s);
    EXPECT_EQ(cut.rfind("[", 0), 0u);
    EXPECT_NE(cut.find("...  "), std::string::npos) << cut;
    EXPECT_EQ(cut.find(']'), 21u) << cut;
}

TEST(TabloraProgressBar, RedrawsAtMostTenTimesASecond) {
    ProgressBar bar(3, t0);
    EXPECT_TRUE(bar.isRedrawDue(t0));
    bar.markDrawn(t0);
    EXPECT_FALSE(bar.isRedrawDue(t0 + 50ms)) << "nothing changed";
    bar.beginItem(0, "a.dxf", "reading");
    EXPECT_FALSE(bar.isRedrawDue(t0 + 50ms)) << "changed, but drawn 50 ms ago";
    EXPECT_TRUE(bar.isRedrawDue(t0 + 100ms));
    bar.markDrawn(t0 + 100ms);
    EXPECT_FALSE(bar.isRedrawDue(t0 + 900ms));
    EXPECT_TRUE(bar.isRedrawDue(t0 + 1100ms)) << "the estimate moves on with the clock";
}

}  // namespace
