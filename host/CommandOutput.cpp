// Layer 1, command output: the sink, muting and capture.
#include "host/CommandOutput.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace host {
namespace {

std::mutex& outputMutex() {
    static std::mutex m;
    return m;
}

OutputSink& sinkSlot() {
    static OutputSink sink;
    return sink;
}

// Both guarded by outputMutex().
bool cursorAtLineStart = false;
int muted = 0;

}  // namespace

OutputSink setOutputSink(OutputSink sink) {
    std::lock_guard lock(outputMutex());
    return std::exchange(sinkSlot(), std::move(sink));
}

OutputMute::OutputMute() {
    std::lock_guard lock(outputMutex());
    ++muted;
}

OutputMute::~OutputMute() {
    std::lock_guard lock(outputMutex());
    --muted;
}

void noteCursorAtLineStart() {
    std::lock_guard lock(outputMutex());
    cursorAtLineStart = true;
}

void writeOutput(std::string_view text) {
    std::lock_guard lock(outputMutex());
    if (text.empty() || muted > 0) return;
    if (std::exchange(cursorAtLineStart, false) && text.front() == '\n') text.remove_prefix(1);
    if (OutputSink& sink = sinkSlot()) {
        sink(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

struct OutputCapture::State {
    std::mutex mutex;
    std::string text;
};

OutputCapture::OutputCapture() : state_(std::make_shared<State>()) {
    previous_ = setOutputSink([state = state_](std::string_view text) {
        std::lock_guard lock(state->mutex);
        state->text.append(text);
    });
}

OutputCapture::~OutputCapture() { setOutputSink(std::move(previous_)); }

std::string OutputCapture::text() const {
    std::lock_guard lock(state_->mutex);
    return state_->text;
}

void OutputCapture::clear() {
    std::lock_guard lock(state_->mutex);
    state_->text.clear();
}

}  // namespace host
