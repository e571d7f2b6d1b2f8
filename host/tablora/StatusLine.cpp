// The progress line on a terminal.
#include "host/tablora/StatusLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tablora {

StatusLine::StatusLine(std::FILE* stream) : stream_(stream), isTerminal_(::isatty(::fileno(stream)) != 0) {}

StatusLine::~StatusLine() { clear(); }

void StatusLine::start(std::size_t total) {
    bar_.emplace(total, ProgressBar::Clock::now());
    update(true);
}

std::size_t StatusLine::width() const {
    winsize size{};
    if (::ioctl(::fileno(stream_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void StatusLine::update(bool force) {
    if (!isTerminal_ || !bar_) return;
    const auto now = ProgressBar::Clock::now();
    if (!force && !bar_->isRedrawDue(now)) return;
    // "\r" to the line's start, the text, then erase what a longer text left.
    std::fprintf(stream_, "\r%s\x1b[K", bar_->line(width(), now).c_str());
    std::fflush(stream_);
    bar_->markDrawn(now);
    isDrawn_ = true;
}

void StatusLine::clear() {
    if (!isDrawn_) return;
    std::fputs("\r\x1b[K", stream_);
    std::fflush(stream_);
    isDrawn_ = false;
}

namespace {
StatusLine* statusLine = nullptr;
}

void setStatusLine(StatusLine* line) { statusLine = line; }

void message(const std::string& text) {
    if (statusLine) statusLine->clear();
    std::fflush(stdout);
    std::fprintf(stderr, "tablora: %s\n", text.c_str());
}

void report(const std::string& text) {
    if (statusLine) statusLine->clear();
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace tablora
