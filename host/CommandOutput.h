// Layer 1, command output: where everything the command line shows goes, and the
// scopes that hide or collect it. Calls nothing of the host above it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace host {

// Where command-line output goes; by default stdout. Returns the previous sink.
using OutputSink = std::function<void(std::string_view)>;
OutputSink setOutputSink(OutputSink sink);
// Writes through the sink (thread-safe).
void writeOutput(std::string_view text);
// The terminal's cursor is at the start of a line (the user just pressed Enter): the
// next output's leading line break is dropped so that prompts do not double-space.
void noteCursorAtLineStart();

// Hides command-line output for the scope's lifetime (commands run with CMDECHO 0).
class OutputMute {
public:
    OutputMute();
    ~OutputMute();
    OutputMute(const OutputMute&) = delete;
    OutputMute& operator=(const OutputMute&) = delete;
};

// Collects command-line output for its lifetime (tests).
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    std::string text() const;
    void clear();

private:
    struct State;
    std::shared_ptr<State> state_;
    OutputSink previous_;
};

}  // namespace host
