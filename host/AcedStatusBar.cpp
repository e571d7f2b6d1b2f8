// The status bar's progress meter, handed to the presenter the program installed.
#include "host/AcedStatusBar.h"

#include <algorithm>
#include <utility>

namespace {

host::ProgressPresenter presenter;

struct Meter {
    bool isShown = false;
    int minPos = 0;
    int maxPos = 0;
};
Meter meter;

bool hasPresenter() { return presenter.show || presenter.position || presenter.restore; }

}  // namespace

int acedSetStatusBarProgressMeter(const char* label, int minPos, int maxPos) {
    if (!hasPresenter() || maxPos <= minPos) return -1;
    meter = Meter{true, minPos, maxPos};
    if (presenter.show) presenter.show(label ? label : "", minPos, maxPos);
    return 0;
}

int acedSetStatusBarProgressMeterPos(int pos) {
    if (!meter.isShown) return -1;
    if (presenter.position) presenter.position(std::clamp(pos, meter.minPos, meter.maxPos));
    return 0;
}

void acedRestoreStatusBar() {
    if (!std::exchange(meter.isShown, false)) return;
    if (presenter.restore) presenter.restore();
}

namespace host {

ProgressPresenter setProgressPresenter(ProgressPresenter next) {
    acedRestoreStatusBar();
    return std::exchange(presenter, std::move(next));
}

}  // namespace host
