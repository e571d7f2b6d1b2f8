// The text of tablora's progress line: a bar, how many drawings are done, what the
// current drawing is at (a phase, the module's meter) and an estimate of the time
// left. Pure formatting, the clock passed in; the terminal side is StatusLine.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tablora {

class ProgressBar {
public:
    using Clock = std::chrono::steady_clock;
    // Redrawing more often than this shows nothing a reader could follow and costs
    // terminal writes.
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    ProgressBar(std::size_t total, Clock::time_point start, std::string unit = "drawings");

    // Item `index` (from 0) named `name` begins with `phase` ("reading").
    void beginItem(std::size_t index, std::string name, std::string phase);
    void setPhase(std::string phase);
    // The module's meter within the current item: `label` from minPos to maxPos.
    void showMeter(std::string label, int minPos, int maxPos);
    void setMeterPosition(int pos);
    void hideMeter();
    // The current item is over (done or failed).
    void finishItem();

    // How much of the whole is done, 0 to 1: the items done, and of the current one
    // what its meter says.
    double fraction() const;
    // The time left at the rate so far; none before a second has passed or anything
    // is done, when the rate says nothing yet.
    std::optional<std::chrono::seconds> estimateLeft(Clock::time_point now) const;
    // The line for a terminal `width` columns wide: never longer than width - 1, so
    // that the cursor stays on the line; the detail is cut first, the bar shrunk next.
    std::string line(std::size_t width, Clock::time_point now) const;

    // Whether a redraw is due: something changed and the last one is at least
    // kRedrawInterval old, or a second has passed (the estimate moves on).
    bool isRedrawDue(Clock::time_point now) const;
    void markDrawn(Clock::time_point now);

    // "1:12", "12:05:09".
    static std::string formatDuration(std::chrono::seconds duration);

private:
    std::size_t total_;
    std::size_t done_ = 0;
    Clock::time_point start_;
    std::string unit_;
    std::string name_;
    std::string phase_;
    bool hasMeter_ = false;
    std::string meterLabel_;
    int meterMin_ = 0;
    int meterMax_ = 0;
    int meterPos_ = 0;
    bool isChanged_ = true;
    std::optional<Clock::time_point> drawnAt_;
};

}  // namespace tablora
