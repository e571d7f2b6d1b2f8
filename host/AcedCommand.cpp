// Layer 7, the command line: acedCommand, with every change it makes to run the
// command undone by a scope.
#include "host/AcedCommand.h"

#include "host/CommandLine.h"
#include "host/Editor.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <optional>

namespace {

// For the scope's lifetime the document's prompts read only the given answers and are
// cancelled when they run out; what the document had queued waits and is back
// afterwards. Answers the command did not read are dropped.
class GivenAnswersScope {
public:
    GivenAnswersScope(AcApDocument* document, std::deque<host::InputLine> answers) : document_(document) {
        host::InputQueue& queue = host::inputQueueOf(document_);
        saved_.swap(queue.lines);
        queue.lines = std::move(answers);
        ++queue.answersOnly;
    }
    ~GivenAnswersScope() {
        // The command may have closed the document, and its queue with it.
        if (!acDocManager->isOpen(document_)) return;
        host::InputQueue& queue = host::inputQueueOf(document_);
        --queue.answersOnly;
        queue.lines.swap(saved_);
    }
    GivenAnswersScope(const GivenAnswersScope&) = delete;
    GivenAnswersScope& operator=(const GivenAnswersScope&) = delete;

private:
    AcApDocument* document_;
    std::deque<host::InputLine> saved_;
};

host::InputLine answer(std::string text) { return host::InputLine{host::InputLine::Kind::Text, std::move(text), true}; }

}  // namespace

int acedCommand(int type, ...) {
    AcApDocument* document = acDocManager->curDocument();
    std::deque<host::InputLine> answers;
    bool wellFormed = true;
    va_list args;
    va_start(args, type);
    for (int t = type; t != 0; t = va_arg(args, int)) {
        char number[64];
        switch (t) {
        case RTSTR: {
            const char* value = va_arg(args, const char*);
            answers.push_back(answer(value ? value : ""));
            break;
        }
        case RTSHORT:
            std::snprintf(number, sizeof number, "%d", va_arg(args, int));
            answers.push_back(answer(number));
            break;
        case RTREAL:
            std::snprintf(number, sizeof number, "%.17g", va_arg(args, double));
            answers.push_back(answer(number));
            break;
        case RTNONE:
            answers.push_back(answer(""));
            break;
        default:
            wellFormed = false;
        }
        // The rest cannot be read: an unknown type says nothing of its value's size.
        if (!wellFormed) break;
    }
    va_end(args);
    if (!wellFormed || !document || answers.empty() || answers.front().text.empty()) return RTERROR;

    std::string name = std::move(answers.front().text);
    answers.pop_front();
    resbuf echo{};
    bool quiet = acedGetVar("CMDECHO", &echo) == RTNORM && echo.resval.rint == 0;
    std::optional<host::OutputMute> mute;
    if (quiet) mute.emplace();
    GivenAnswersScope given(document, std::move(answers));
    return host::executeCommand(name) ? RTNORM : RTERROR;
}
