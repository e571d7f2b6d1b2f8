// The status bar's progress meter over a long step (rows written, rows read),
// moved a few hundred times at most however long the step, and taken away on every
// way out. A program that shows no meter, or a step of under a hundred, makes it do
// nothing.
#pragma once

#include <string>

namespace tabro {

class ProgressMeter {
public:
    ProgressMeter(const std::string& label, long total);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void at(long done) {
        if (isShown_ && done >= next_) move(done);
    }

private:
    void move(long done);

    bool isShown_ = false;
    long total_ = 0, step_ = 1, next_ = 0;
};

}  // namespace tabro
