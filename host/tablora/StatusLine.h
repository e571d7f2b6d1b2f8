// tablora's progress line on a terminal: one line at the bottom of stderr, redrawn
// in place, and cleared before any other line is written so that the two never
// mix. Shown only when stderr is a terminal. Main thread only.
#pragma once

#include "host/tablora/ProgressBar.h"

#include <cstdio>
#include <optional>
#include <string>

namespace tablora {

class StatusLine {
public:
    // Shows nothing unless `stream` is a terminal.
    explicit StatusLine(std::FILE* stream);
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    bool isShown() const { return isTerminal_; }
    // Begins a bar over `total` items (replacing any bar before).
    void start(std::size_t total);
    // The bar, or null before start.
    ProgressBar* bar() { return bar_ ? &*bar_ : nullptr; }
    // Redraws when it is due (force: now).
    void update(bool force = false);
    // Takes the line away; the next update draws it again.
    void clear();

private:
    std::size_t width() const;

    std::FILE* stream_;
    bool isTerminal_;
    bool isDrawn_ = false;
    std::optional<ProgressBar> bar_;
};

// The lines tablora writes, each after the progress line is cleared: messages on
// stderr ("tablora: ...") and reports on stdout.
void setStatusLine(StatusLine* line);
void message(const std::string& text);
void report(const std::string& text);

}  // namespace tablora
