// The status bar's progress meter: what a module's calls do with and without a
// presenter the program installed.
#include "host/AcedStatusBar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Installs a presenter that records the calls, and takes it away again.
class RecordedMeter {
public:
    RecordedMeter() {
        host::ProgressPresenter presenter;
        presenter.show = [this](const std::string& label, int minPos, int maxPos) {
            calls.push_back("show " + label + " " + std::to_string(minPos) + ".." + std::to_string(maxPos));
        };
        presenter.position = [this](int pos) { calls.push_back("pos " + std::to_string(pos)); };
        presenter.restore = [this] { calls.push_back("restore"); };
        host::setProgressPresenter(std::move(presenter));
    }
    ~RecordedMeter() { host::setProgressPresenter({}); }
    std::vector<std::string> calls;
};

TEST(AcedStatusBar, WithoutAPresenterNoMeterIsShown) {
    host::setProgressPresenter({});
    EXPECT_EQ(acedSetStatusBarProgressMeter("Exporting", 0, 100), -1);
    EXPECT_EQ(acedSetStatusBarProgressMeterPos(10), -1);
    acedRestoreStatusBar();  // harmless with nothing shown
}

TEST(AcedStatusBar, CallsReachThePresenterWithinTheMetersRange) {
    RecordedMeter meter;
    EXPECT_EQ(acedSetStatusBarProgressMeterPos(1), -1) << "no meter shown yet";
    EXPECT_EQ(acedSetStatusBarProgressMeter("Exporting DOOR", 10, 20), 0);
    EXPECT_EQ(acedSetStatusBarProgressMeterPos(15), 0);
    EXPECT_EQ(acedSetStatusBarProgressMeterPos(99), 0);
    EXPECT_EQ(acedSetStatusBarProgressMeterPos(-5), 0);
    acedRestoreStatusBar();
    acedRestoreStatusBar();  // a second restore has nothing to take away
    EXPECT_EQ(acedSetStatusBarProgressMeterPos(12), -1) << "the meter is gone";
    EXPECT_EQ(acedSetStatusBarProgressMeter("empty range", 5, 5), -1);
    EXPECT_EQ(acedSetStatusBarProgressMeter(nullptr, 0, 1), 0);
    const std::vector<std::string> expected = {
        "show Exporting DOOR 10..20", "pos 15", "pos 20", "pos 10", "restore", "show  0..1"};
    EXPECT_EQ(meter.calls, expected);
}

TEST(AcedStatusBar, AMeterShownWhenThePresenterChangesIsRestored) {
    std::vector<std::string> calls;
    {
        RecordedMeter meter;
        ASSERT_EQ(acedSetStatusBarProgressMeter("Importing", 0, 3), 0);
        host::setProgressPresenter({});
        calls = meter.calls;
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"show Importing 0..3", "restore"}));
    EXPECT_EQ(acedSetStatusBarProgressMeterPos(1), -1);
}

}  // namespace
