// The progress line's text.
#include "host/tablora/ProgressBar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace tablora {

ProgressBar::ProgressBar(std::size_t total, Clock::time_point start, std::string unit)
    : total_(total), start_(start), unit_(std::move(unit)) {}

void ProgressBar::beginItem(std::size_t index, std::string name, std::string phase) {
    done_ = std::min(index, total_);
    name_ = std::move(name);
    phase_ = std::move(phase);
    hasMeter_ = false;
    isChanged_ = true;
}

void ProgressBar::setPhase(std::string phase) {
    phase_ = std::move(phase);
    hasMeter_ = false;
    isChanged_ = true;
}

void ProgressBar::showMeter(std::string label, int minPos, int maxPos) {
    hasMeter_ = maxPos > minPos;
    meterLabel_ = std::move(label);
    meterMin_ = minPos;
    meterMax_ = maxPos;
    meterPos_ = minPos;
    isChanged_ = true;
}

void ProgressBar::setMeterPosition(int pos) {
    if (!hasMeter_) return;
    pos = std::clamp(pos, meterMin_, meterMax_);
    isChanged_ = isChanged_ || pos != meterPos_;
    meterPos_ = pos;
}

void ProgressBar::hideMeter() {
    isChanged_ = isChanged_ || hasMeter_;
    hasMeter_ = false;
}

void ProgressBar::finishItem() {
    done_ = std::min(done_ + 1, total_);
    hasMeter_ = false;
    phase_.clear();
    isChanged_ = true;
}

double ProgressBar::fraction() const {
    if (total_ == 0) return 1.0;
    double within = 0.0;
    if (hasMeter_ && done_ < total_)
        within = static_cast<double>(meterPos_ - meterMin_) / static_cast<double>(meterMax_ - meterMin_);
    return std::clamp((static_cast<double>(done_) + within) / static_cast<double>(total_), 0.0, 1.0);
}

std::optional<std::chrono::seconds> ProgressBar::estimateLeft(Clock::time_point now) const {
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double done = fraction();
    if (elapsed < 1.0 || done <= 0.0) return std::nullopt;
    const double left = elapsed * (1.0 - done) / done;
    return std::chrono::seconds(static_cast<long long>(std::lround(left)));
}

std::string ProgressBar::formatDuration(std::chrono::seconds duration) {
    const long long total = std::max<long long>(0, duration.count());
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string ProgressBar::line(std::size_t width, Clock::time_point now) const {
    if (width < 2) return {};
    const std::size_t room = width - 1;

    std::string counts = std::to_string(done_) + "/" + std::to_string(total_) + " " + unit_;
    std::string detail = name_;
    std::string doing = hasMeter_ ? meterLabel_ : phase_;
    if (hasMeter_) doing += " " + std::to_string(meterPos_ - meterMin_) + "/" + std::to_string(meterMax_ - meterMin_);
    if (!doing.empty()) detail += (detail.empty() ? "" : ": ") + doing;
    std::string left;
    if (auto estimate = estimateLeft(now)) left = formatDuration(*estimate) + " left";

    // The parts in the order they give way: the detail is cut, then the bar
    // shrinks to its least, then goes; the counts and the estimate stay longest.
    constexpr std::size_t kBarCells = 20;
    constexpr std::size_t kLeastBarCells = 5;
    auto fixedLength = [&](std::size_t barCells) {
        std::size_t length = counts.size();
        if (barCells > 0) length += barCells + 3;  // "[", "]", " "
        if (!left.empty()) length += 2 + left.size();
        return length;
    };
    // The detail is cut down to this much (with its separator) before the bar gives way.
    constexpr std::size_t kLeastDetail = 18;
    std::size_t barCells = kBarCells;
    const std::size_t detailRoom = detail.empty() ? 0 : std::min(detail.size() + 2, kLeastDetail);
    while (barCells > kLeastBarCells && fixedLength(barCells) + detailRoom > room) --barCells;
    if (fixedLength(barCells) > room) barCells = 0;
    if (!detail.empty()) {
        const std::size_t fixed = fixedLength(barCells);
        const std::size_t available = fixed + 2 < room ? room - fixed - 2 : 0;
        if (available < detail.size()) {
            // A detail cut to a few characters says nothing; "..." shows the cut.
            detail = available > 6 ? detail.substr(0, available - 3) + "..." : std::string();
        }
    }

    std::string text;
    if (barCells > 0) {
        const auto filled = static_cast<std::size_t>(std::floor(fraction() * static_cast<double>(barCells)));
        text += "[" + std::string(filled, '#') + std::string(barCells - filled, '.') + "] ";
    }
    text += counts;
    if (!detail.empty()) text += "  " + detail;
    if (!left.empty()) text += "  " + left;
    if (text.size() > room) text.resize(room);
    return text;
}

bool ProgressBar::isRedrawDue(Clock::time_point now) const {
    if (!drawnAt_) return true;
    // The estimate moves on with the clock alone: once a second is enough for it.
    const auto since = now - *drawnAt_;
    return (isChanged_ && since >= kRedrawInterval) || since >= std::chrono::seconds(1);
}

void ProgressBar::markDrawn(Clock::time_point now) {
    drawnAt_ = now;
    isChanged_ = false;
}

}  // namespace tablora
