// The status bar's progress meter: a module shows how far a long operation has got
// (rows written, rows read) through these calls; the program decides whether and
// how a meter is shown by installing a presenter. Main thread only.
#pragma once

#include <functional>
#include <string>

// Shows a meter with `label` going from minPos to maxPos (the position starts at
// minPos). 0 when the meter is shown; -1 when the program shows none (no presenter)
// or the range is empty (maxPos <= minPos).
int acedSetStatusBarProgressMeter(const char* label, int minPos, int maxPos);
// Moves the meter to `pos`, clamped to its range. 0, or -1 when no meter is shown.
int acedSetStatusBarProgressMeterPos(int pos);
// Takes the meter away, the status bar showing what it did before.
void acedRestoreStatusBar();

namespace host {

// What a program does with the meter. Each member may be empty.
struct ProgressPresenter {
    std::function<void(const std::string& label, int minPos, int maxPos)> show;
    std::function<void(int pos)> position;
    std::function<void()> restore;
};

// Installs `presenter` (an empty one, the default, shows no meter) and returns the
// previous one. A meter shown when the presenter changes is restored first.
ProgressPresenter setProgressPresenter(ProgressPresenter presenter);

}  // namespace host
