// Layer 2, command input: the current source, the queue lookup and line reading.
#include "host/CommandInput.h"

#include "host/CommandOutput.h"

#include <utility>

namespace host {
namespace {

InputSource*& sourceSlot() {
    static InputSource* source = nullptr;
    return source;
}

InputQueueLookup& lookupSlot() {
    static InputQueueLookup lookup = nullptr;
    return lookup;
}

bool hasQueuedLines() {
    InputQueue* queue = currentInputQueue();
    return queue && !queue->lines.empty();
}

void echo(const InputLine& line) {
    if (line.echo && line.kind == InputLine::Kind::Text) writeOutput(line.text);
}

}  // namespace

InputSource* setInputSource(InputSource* source) { return std::exchange(sourceSlot(), source); }
InputSource* inputSource() { return sourceSlot(); }

void setInputQueueLookup(InputQueueLookup lookup) { lookupSlot() = lookup; }

InputQueue* currentInputQueue() { return lookupSlot() ? lookupSlot()() : nullptr; }

InputLine readInputLine(const char* prompt) { return readInputLine(prompt, true, nullptr); }

InputLine readInputLine(const char* prompt, bool showPrompt, const std::function<bool()>& interrupted) {
    if (showPrompt) writeOutput(prompt);
    for (;;) {
        // Looked up again each time round: serving timers may change what is current.
        InputQueue* queue = currentInputQueue();
        if (queue && !queue->lines.empty()) {
            InputLine line = std::move(queue->lines.front());
            queue->lines.pop_front();
            echo(line);
            if (line.kind == InputLine::Kind::Cancel) writeOutput("*Cancel*");
            return line;
        }
        if (queue && queue->answersOnly > 0) {
            writeOutput("*Cancel*");
            return InputLine{InputLine::Kind::Cancel, {}, false};
        }
        InputSource* source = sourceSlot();
        if (!source) return InputLine{InputLine::Kind::End, {}, false};
        InputLine line = source->next([&] { return hasQueuedLines() || (interrupted && interrupted()); });
        if (line.kind == InputLine::Kind::Interrupted) {
            if (hasQueuedLines()) continue;
            return line;
        }
        echo(line);
        if (line.kind == InputLine::Kind::Cancel) writeOutput("*Cancel*");
        return line;
    }
}

}  // namespace host
