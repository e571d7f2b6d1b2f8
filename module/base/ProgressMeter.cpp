#include "module/base/ProgressMeter.h"

#include "host/AcedStatusBar.h"

#include <algorithm>
#include <climits>

namespace tabro {

namespace {
constexpr long kMostMoves = 200;
// A step this short is over before a meter could be read: a live edit's row, a
// block of a few references.
constexpr long kLeastShown = 100;
}  // namespace

ProgressMeter::ProgressMeter(const std::string& label, long total) : total_(std::clamp(total, 0L, long{INT_MAX})) {
    if (total_ < kLeastShown) return;
    isShown_ = acedSetStatusBarProgressMeter(label.c_str(), 0, static_cast<int>(total_)) == 0;
    step_ = std::max(1L, total_ / kMostMoves);
    next_ = step_;
}

ProgressMeter::~ProgressMeter() {
    if (isShown_) acedRestoreStatusBar();
}

void ProgressMeter::move(long done) {
    acedSetStatusBarProgressMeterPos(static_cast<int>(std::min(done, total_)));
    next_ = done + step_;
}

}  // namespace tabro
